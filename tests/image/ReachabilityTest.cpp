// Nothing in the module that the device never runs: every function of the
// linked module is reached from an export or the entry routine. libgcc
// objects are kept or dropped whole, so their members count together.
#include "formats/exporttable/ExportTable.h"
#include "tests/image/Command.h"
#include "tests/image/Reachability.h"
#include "tests/image/SmallLink.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace {

// Defined functions of each libgcc member, from `nm -A`.
std::vector<std::set<std::string>> libgccObjects() {
    testsupport::CommandResult r = testsupport::runCommand(std::string(ARM_NM) + " -A --defined-only " +
                                                           testsupport::shellQuote(ARM_LIBGCC));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    std::map<std::string, std::set<std::string>> members;
    std::istringstream in(r.output);
    for (std::string line; std::getline(in, line);) {
        size_t colon = line.rfind(':');
        std::istringstream fields(line.substr(colon + 1));
        std::string address, type, name;
        if (colon != std::string::npos && fields >> address >> type >> name) members[line.substr(0, colon)].insert(name);
    }
    std::vector<std::set<std::string>> groups;
    for (auto& [member, names] : members) groups.push_back(names);
    return groups;
}

TEST(Reachability, FindsWhatNoRootReaches) {
    testsupport::SmallLink link(R"(
    .arm
    .text
    .global DllMain
    .type DllMain, %function
DllMain:
    b viaBranch
    .size DllMain, .-DllMain
    .type viaBranch, %function
viaBranch:
    ldr r0, =table
    bx lr
    .ltorg
    .size viaBranch, .-viaBranch
    .type viaPointer, %function
viaPointer:
    bx lr
    .size viaPointer, .-viaPointer
    .type orphan, %function
orphan:
    bl viaPointer
    .size orphan, .-orphan
    .type partner, %function
partner:
    bx lr
    .size partner, .-partner
    .data
    .type table, %object
table:
    .word viaPointer
    .size table, 4
)");
    ASSERT_TRUE(link.linked()) << link.log();
    imagewriter::ElfFile elf = imagewriter::ElfFile::load(link.elfPath());
    std::vector<std::string> unreached = testsupport::unreachedFunctions(elf, {"DllMain"});
    ASSERT_EQ(unreached.size(), 2u) << testsupport::joined(unreached);
    EXPECT_EQ(unreached[0].rfind("orphan at ", 0), 0u) << unreached[0];
    EXPECT_EQ(unreached[1].rfind("partner at ", 0), 0u) << unreached[1];
    EXPECT_EQ(testsupport::unreachedFunctions(elf, {"DllMain"}, {{"viaBranch", "partner"}}).size(), 1u);
}

TEST(ModuleReachability, EveryFunctionRunsFromAnExportOrTheEntryRoutine) {
    imagewriter::ElfFile elf = imagewriter::ElfFile::load(VELMARK_ELF);
    std::vector<std::string> roots = {"DllMain"};
    const velmark::ExportTable table = velmark::ExportTable::load(VELMARK_TABLE);
    for (const velmark::ExportEntry& row : table.rows())
        roots.push_back(velmark::ExportTable::exportSymbol(row));
    std::vector<std::string> unreached = testsupport::unreachedFunctions(elf, roots, libgccObjects());
    EXPECT_TRUE(unreached.empty()) << unreached.size() << " functions nothing runs:\n" << testsupport::joined(unreached);
}

}  // namespace
