// Calling the fake COREDLL directly, as the module would through its imports.
#pragma once

#include <gtest/gtest.h>

#include "emulator/Bench.h"

namespace benchtest {

// COREDLL's function called straight through its trap; the call must succeed.
inline uint32_t callOk(bench::Bench& bench, const char* fn, const std::vector<uint32_t>& args) {
    bench::CallResult result = bench.callCoredll(fn, args);
    EXPECT_TRUE(result.ok()) << fn << ": " << result.describe();
    return result.r0;
}

}  // namespace benchtest
