// Refuses a linked module that would make a silently wrong image: undefined
// symbols (they would resolve to address 0), linker veneers and interworking
// glue (they embed absolute addresses with no relocation of their own), and
// Thumb code (the image is marked for ARM-only kernels).
#pragma once

#include "toolchain/imagewriter/ElfFile.h"

namespace imagewriter {

// Throws ImageError listing every problem found.
void checkModule(const ElfFile& elf);

}  // namespace imagewriter
