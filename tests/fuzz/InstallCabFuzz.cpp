// Fuzz target for the installation CAB reader. Each input is read as a whole
// CAB and as a bare install descriptor, so that mutations reach the
// descriptor reader without having to pass the cabinet's checksums. Either
// reader may only refuse with FormatError; a descriptor it accepts must
// write and read back. The address sanitizer flags a read past the
// exact-size copy of the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "formats/cab/DescriptorReader.h"
#include "formats/cab/DescriptorWriter.h"
#include "formats/cab/InstallCabinet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A cabinet's data blocks hold up to 4096 times their size once
    // decompressed; small inputs keep that within the fuzzer's memory.
    if (size > 1 << 14) return 0;
    std::unique_ptr<uint8_t[]> view(new uint8_t[size ? size : 1]);
    std::memcpy(view.get(), data, size);
    try {
        cab::readInstallCabinet(view.get(), size);
    } catch (const cab::FormatError&) {
    }
    cab::InstallDescriptor descriptor;
    try {
        descriptor = cab::readInstallDescriptor(view.get(), size, "FUZZ.000");
    } catch (const cab::FormatError&) {
        return 0;
    }
    std::vector<uint8_t> written;
    try {
        written = cab::writeInstallDescriptor(descriptor);
    } catch (const cab::UnwritableContent&) {
        return 0;  // text the reader takes as bytes but the writer only as ASCII
    }
    try {
        cab::readInstallDescriptor(written.data(), written.size(), "FUZZ.000");
    } catch (const cab::FormatError&) {
        std::abort();
    }
    return 0;
}
