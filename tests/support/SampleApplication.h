// A made-up application of realistic size for the language-module tools:
// string tables, dialogs and menus in the numbers asked for, plus raw data
// and a bitmap that stay untranslated.
#pragma once

#include "tests/support/ResourceImage.h"

#include <cstdint>
#include <vector>

namespace bench {

struct SampleShape {
    uint32_t strings = 1000;
    uint32_t dialogs = 20;
    uint32_t menus = 5;
};

std::vector<mui::ResourceData> sampleResources(const SampleShape& shape = {});
// The application image (.text and .idata below its .rsrc, as a linker lays
// them out), importing from COREDLL the functions that load its resources.
std::vector<uint8_t> sampleApplication(const SampleShape& shape = {});

}  // namespace bench
