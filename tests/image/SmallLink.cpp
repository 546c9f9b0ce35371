#include "tests/image/SmallLink.h"

#include "tests/image/Command.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace testsupport {

const char* const kSmallLinkerScript = R"(
ENTRY(DllMain)
SECTIONS
{
    . = 0x10001000;
    .text : { *(.text .text.*) }
    .glue_7 : { *(.glue_7) }
    .glue_7t : { *(.glue_7t) }
    .v4_bx : { *(.v4_bx) }
    . = ALIGN(0x1000);
    .rdata : { *(.rodata .rodata.*) }
    . = ALIGN(0x1000);
    .data : { *(.coredll_iat) *(.data .data.*) }
    .bss : { *(.bss .bss.* COMMON) }
    /DISCARD/ : { *(.ARM.attributes) }
}
)";

SmallLink::SmallLink(const std::string& assembly, const std::string& linkerScript,
                     const std::string& extraLinkerArguments) {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmark-link-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary directory");
    directory_ = pattern;
    std::string source = writeFile("module.s", assembly);
    std::string script = writeFile("module.ld", linkerScript);
    std::string object = pathOf("module.o");
    elfPath_ = pathOf("module.elf");
    CommandResult as = runCommand(std::string(ARM_AS) + " -march=armv4t -mfloat-abi=soft -o " + shellQuote(object) +
                                  " " + shellQuote(source) + " 2>&1");
    log_ = as.output;
    if (as.exitCode != 0) return;
    CommandResult ld = runCommand(std::string(ARM_LD) + " -q --no-warn-rwx-segments -T " + shellQuote(script) + " " +
                                  extraLinkerArguments + " -o " + shellQuote(elfPath_) + " " + shellQuote(object) +
                                  " 2>&1");
    log_ += ld.output;
    linked_ = ld.exitCode == 0;
}

SmallLink::~SmallLink() {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

std::string SmallLink::writeFile(const std::string& name, const std::string& contents) const {
    std::string path = pathOf(name);
    std::ofstream out(path, std::ios::binary);
    out << contents;
    if (!out.flush()) throw std::runtime_error(path + ": cannot be written");
    return path;
}

}  // namespace testsupport
