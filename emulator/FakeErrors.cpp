#include "emulator/FakeErrors.h"

#include "emulator/Fake.h"

namespace bench {

void defineErrors(FakeCoredll& fake) {
    ThreadErrors& errors = fake.errors();
    // The value belongs to the calling thread: a callback thread's
    // SetLastError does not change what the application's thread reads.
    fake.define("GetLastError", 0, Outcome::returns(0),
                [&errors](CallContext& call) { return errors.get(call.thread()); });
    fake.define("SetLastError", 1, Outcome::returns(0), [&errors](CallContext& call) {
        errors.set(call.thread(), call.arg(0));
        return 0u;
    });
}

}  // namespace bench
