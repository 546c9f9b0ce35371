// VELMARK.dll read by two independent PE readers, llvm-readobj and Python's
// pefile, row for row against our own reader: a layout mistake shared by our
// writer and our reader would show up here.
#include "formats/pe/ArmFrames.h"
#include "tests/image/BuiltModule.h"
#include "tests/image/Command.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>

namespace {

using testsupport::BuiltModule;
using testsupport::runCommand;
using testsupport::shellQuote;

std::string readobj(const std::string& options) {
    testsupport::CommandResult r = runCommand(std::string(LLVM_READOBJ) + " " + options + " " + shellQuote(VELMARK_DLL));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return r.output;
}

// "Key: value" lines inside each "Kind {" block of llvm-readobj's output.
std::vector<std::map<std::string, std::string>> blocks(const std::string& text, const std::string& kind) {
    std::vector<std::map<std::string, std::string>> found;
    std::istringstream in(text);
    bool inside = false;
    static const std::regex field(R"(^\s*(\w+): ?(.*)$)");
    for (std::string line; std::getline(in, line);) {
        if (line.find(kind + " {") != std::string::npos) {
            found.emplace_back();
            inside = true;
        } else if (inside && line.find('}') != std::string::npos) {
            inside = false;
        } else if (std::smatch m; inside && std::regex_match(line, m, field)) {
            found.back()[m[1]] = m[2];
        }
    }
    return found;
}

std::string hexRva(uint32_t rva) {
    std::ostringstream out;
    out << "0x" << std::hex << std::uppercase << rva;
    return out.str();
}

TEST(ReadobjAgrees, OnExports) {
    const pe::Image& image = BuiltModule::get().image;
    std::map<uint16_t, std::string> names;
    for (const pe::NamedExport& e : image.namedExports) names[e.ordinal] = e.name;
    auto exports = blocks(readobj("--coff-exports"), "Export");
    ASSERT_EQ(exports.size(), image.exportAddresses.size());
    for (size_t i = 0; i < exports.size(); ++i) {
        uint16_t ordinal = uint16_t(image.ordinalBase + i);
        EXPECT_EQ(exports[i]["Ordinal"], std::to_string(ordinal));
        EXPECT_EQ(exports[i]["Name"], names.count(ordinal) ? names[ordinal] : "") << "ordinal " << ordinal;
        EXPECT_EQ(exports[i]["RVA"], hexRva(image.exportAddresses[i])) << "ordinal " << ordinal;
    }
}

TEST(ReadobjAgrees, OnImports) {
    const pe::Image& image = BuiltModule::get().image;
    std::string text = readobj("--coff-imports");
    auto libraries = blocks(text, "Import");
    ASSERT_EQ(libraries.size(), 1u);
    const pe::ImportedLibrary& lib = image.imports.at(0);
    EXPECT_EQ(libraries[0]["Name"], lib.dllName);
    EXPECT_EQ(libraries[0]["ImportLookupTableRVA"], hexRva(lib.lookupTableRva));
    EXPECT_EQ(libraries[0]["ImportAddressTableRVA"], hexRva(lib.iatRva));

    // "Symbol: NAME (HINT)" for by-name imports, "Symbol:  (ORDINAL)" for the rest.
    static const std::regex symbol(R"(^\s*Symbol: (\S*) \((\d+)\)$)");
    std::vector<std::pair<std::string, std::string>> listed;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (std::smatch m; std::regex_match(line, m, symbol)) listed.push_back({m[1], m[2]});
    ASSERT_EQ(listed.size(), lib.entries.size());
    for (size_t i = 0; i < listed.size(); ++i) {
        const pe::Import& e = lib.entries[i];
        EXPECT_EQ(listed[i].first, e.byOrdinal ? "" : e.name) << "entry " << i;
        EXPECT_EQ(listed[i].second, std::to_string(e.byOrdinal ? e.ordinal : e.hint)) << "entry " << i;
    }
}

TEST(ReadobjAgrees, OnBaseRelocations) {
    const pe::Image& image = BuiltModule::get().image;
    auto entries = blocks(readobj("--coff-basereloc"), "Entry");
    std::vector<std::string> relocations;
    size_t padding = 0;
    for (auto& e : entries) {
        if (e["Type"] == "ABSOLUTE")
            ++padding;
        else
            relocations.push_back(e["Type"] + " " + e["Address"]);
    }
    ASSERT_EQ(relocations.size(), image.relocations.size());
    for (size_t i = 0; i < relocations.size(); ++i) {
        ASSERT_EQ(image.relocations[i].type, 3);
        EXPECT_EQ(relocations[i], "HIGHLOW " + hexRva(image.relocations[i].rva)) << "entry " << i;
    }
    size_t ourPadding = 0;
    for (const pe::RelocationBlock& b : image.relocationBlocks) ourPadding += b.absoluteCount;
    EXPECT_EQ(padding, ourPadding);
}

// llvm-readobj reads the exception table's directory, though it decodes
// unwind data of other machines only.
TEST(ReadobjAgrees, OnTheExceptionTableDirectory) {
    const pe::DataDirectory& table = BuiltModule::get().image.directories[pe::kDirException];
    ASSERT_NE(table.size, 0u);
    std::string text = readobj("--file-headers");
    EXPECT_NE(text.find("ExceptionTableRVA: " + hexRva(table.rva) + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("ExceptionTableSize: " + hexRva(table.size) + "\n"), std::string::npos) << text;
}

// pefile prints one line per fact; ours are printed the same way and compared.
const char* const kPefileScript = R"(
import sys, pefile
pe = pefile.PE(sys.argv[1])
o, f = pe.OPTIONAL_HEADER, pe.FILE_HEADER
print('H', f.Machine, f.Characteristics, f.SizeOfOptionalHeader, o.Magic, o.ImageBase, o.SectionAlignment,
      o.FileAlignment, o.Subsystem, o.MajorSubsystemVersion, o.MinorSubsystemVersion, o.AddressOfEntryPoint,
      o.SizeOfImage, o.SizeOfHeaders, o.NumberOfRvaAndSizes)
for s in pe.sections:
    print('S', s.Name.rstrip(b'\0').decode(), s.VirtualAddress, s.Misc_VirtualSize, s.SizeOfRawData,
          s.PointerToRawData, s.Characteristics)
e = pe.DIRECTORY_ENTRY_EXPORT
print('X', e.name.decode(), e.struct.Base, e.struct.NumberOfFunctions, e.struct.NumberOfNames)
for sym in e.symbols:
    if sym.name is not None:
        print('E', sym.ordinal, sym.name.decode(), sym.address)
for d in pe.DIRECTORY_ENTRY_IMPORT:
    for i in d.imports:
        print('I', d.dll.decode(), i.ordinal if i.import_by_ordinal else '-', (i.name or b'-').decode(),
              i.address - o.ImageBase)
for b in pe.DIRECTORY_ENTRY_BASERELOC:
    for r in b.entries:
        if r.type != 0:
            print('R', r.type, r.rva)
# pefile decodes exception tables of x64 images only: the directory's raw
# entries, read through it, are compared instead.
import struct
d = o.DATA_DIRECTORY[3]
data = pe.get_data(d.VirtualAddress, d.Size)
for at in range(0, len(data), 8):
    print('P', *struct.unpack_from('<II', data, at))
for w in pe.get_warnings():
    print('W', w)
)";

std::vector<std::string> ourFacts(const pe::Image& image) {
    std::vector<std::string> lines;
    auto join = [](std::initializer_list<std::string> parts) {
        std::string line;
        for (const std::string& p : parts) line += (line.empty() ? "" : " ") + p;
        return line;
    };
    using std::to_string;
    lines.push_back(join({"H", to_string(image.machine), to_string(image.fileCharacteristics),
                          to_string(image.sizeOfOptionalHeader), to_string(image.optionalMagic),
                          to_string(image.imageBase), to_string(image.sectionAlignment), to_string(image.fileAlignment),
                          to_string(image.subsystem), to_string(image.subsystemMajor), to_string(image.subsystemMinor),
                          to_string(image.entryPointRva), to_string(image.sizeOfImage), to_string(image.sizeOfHeaders),
                          to_string(image.numberOfRvaAndSizes)}));
    for (const pe::Section& s : image.sections)
        lines.push_back(join({"S", s.name, to_string(s.virtualAddress), to_string(s.virtualSize), to_string(s.rawSize),
                              to_string(s.rawOffset), to_string(s.characteristics)}));
    lines.push_back(join({"X", image.exportDllName, to_string(image.ordinalBase), to_string(image.exportAddresses.size()),
                          to_string(image.namedExports.size())}));
    // pefile lists named exports in name-table order, as our reader does.
    for (const pe::NamedExport& e : image.namedExports)
        lines.push_back(join({"E", to_string(e.ordinal), std::string(e.name),
                              to_string(image.exportAddresses[e.ordinal - image.ordinalBase])}));
    for (const pe::ImportedLibrary& lib : image.imports)
        for (const pe::Import& i : lib.entries)
            lines.push_back(join({"I", std::string(lib.dllName), i.byOrdinal ? to_string(i.ordinal) : "-",
                                  i.byOrdinal ? "-" : std::string(i.name), to_string(i.slotRva)}));
    for (const pe::BaseRelocation& r : image.relocations)
        lines.push_back(join({"R", to_string(r.type), to_string(r.rva)}));
    const pe::DataDirectory& table = image.directories[pe::kDirException];
    for (uint32_t at = 0; at < table.size; at += 8)
        lines.push_back(join({"P", to_string(image.read32(table.rva + at)), to_string(image.read32(table.rva + at + 4))}));
    return lines;
}

TEST(PefileAgrees, OnHeadersSectionsExportsImportsRelocationsAndExceptionTable) {
    const pe::Image& image = BuiltModule::get().image;
    testsupport::CommandResult r =
        runCommand(std::string(SYSTEM_PYTHON) + " -c " + shellQuote(kPefileScript) + " " + shellQuote(VELMARK_DLL) + " 2>&1");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    std::vector<std::string> theirs;
    std::istringstream in(r.output);
    for (std::string line; std::getline(in, line);) {
        EXPECT_NE(line.rfind("W ", 0), 0u) << "pefile warns: " << line;
        theirs.push_back(line);
    }
    std::vector<std::string> ours = ourFacts(image);
    ASSERT_EQ(theirs.size(), ours.size());
    for (size_t i = 0; i < ours.size(); ++i) EXPECT_EQ(theirs[i], ours[i]) << "line " << i;
}

}  // namespace
