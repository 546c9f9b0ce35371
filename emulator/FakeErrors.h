// Errors: the thread's last-error value (GetLastError, SetLastError).
#pragma once

#include <cstdint>
#include <map>

namespace bench {

class FakeCoredll;

// Windows error codes the fake sets.
constexpr uint32_t ERROR_SUCCESS = 0;
constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_ACCESS_DENIED = 5;
constexpr uint32_t ERROR_INVALID_HANDLE = 6;
constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
constexpr uint32_t ERROR_MOD_NOT_FOUND = 126;
constexpr uint32_t ERROR_BAD_EXE_FORMAT = 193;
constexpr uint32_t ERROR_MORE_DATA = 234;
constexpr uint32_t ERROR_INVALID_ADDRESS = 487;
constexpr uint32_t ERROR_FILE_INVALID = 1006;
constexpr uint32_t ERROR_MAPPED_ALIGNMENT = 1132;
constexpr uint32_t ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

// One value per emulated thread, 0 until set.
class ThreadErrors {
public:
    uint32_t get(uint32_t thread) const {
        auto it = values_.find(thread);
        return it == values_.end() ? 0 : it->second;
    }
    void set(uint32_t thread, uint32_t value) { values_[thread] = value; }

private:
    std::map<uint32_t, uint32_t> values_;
};

void defineErrors(FakeCoredll& fake);

}  // namespace bench
