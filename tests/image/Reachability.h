// Which functions of a linked module nothing can run: a function counts as
// reached from the roots through the link's references (branches and
// absolute words, kept by ld -q) and the branch instructions in the code,
// through functions and data objects alike.
#pragma once

#include "toolchain/imagewriter/ElfFile.h"

#include <set>
#include <string>
#include <vector>

namespace testsupport {

// `keptTogether` lists groups of functions the link can only keep or drop
// together (the members of one library object): reaching one reaches all.
// Returns "name at address" for each function not reached.
std::vector<std::string> unreachedFunctions(const imagewriter::ElfFile& elf, const std::vector<std::string>& roots,
                                            const std::vector<std::set<std::string>>& keptTogether = {});

}  // namespace testsupport
