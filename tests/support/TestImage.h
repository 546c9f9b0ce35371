// Small PE32 application and library images built in the tests: headers, a
// .text section with one instruction and an .idata section with the import
// directory the test asks for, and the resources it asks for. Laid out as a Windows CE linker would: 512-byte file
// alignment, 4 KB section alignment, the lookup tables, then the IATs, then
// hint/name entries and DLL names.
#pragma once

#include "tests/support/ResourceImage.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmark::testing {

struct TestImport {
    bool byName = false;
    uint16_t ordinal = 0;  // when by ordinal
    std::string name;      // when by name
    uint32_t repeat = 1;   // lookup entries made of this one; by name, all share one hint/name entry

    static TestImport ordinalOf(uint16_t o) { return {false, o, {}}; }
    static TestImport named(std::string n, uint32_t repeat = 1) { return {true, 0, std::move(n), repeat}; }
};

struct TestLibrary {
    std::string dllName;
    std::vector<TestImport> imports;
    uint32_t timeDateStamp = 0;  // non-zero: a bound import
};

struct TestImagePlan {
    uint16_t machine = 0x1C0;  // ARM; 0x1C2 for ARMV4I
    uint16_t subsystem = 9;    // Windows CE GUI
    std::vector<TestLibrary> libraries;
    bool validChecksum = false;  // otherwise CheckSum is 0, as CE linkers leave it
    // When not empty, a .rsrc section holds this as bitmap resource 284
    // (a BMP file's bytes without its 14-byte file header).
    std::vector<uint8_t> bitmap284;
    std::vector<mui::ResourceData> resources;  // also in .rsrc
    // A DLL (relocatable, no entry point) exporting, under this name, one
    // function per by-name import: a tail jump through that import's slot.
    std::string exportsThunksAs;
};

std::vector<uint8_t> buildTestImage(const TestImagePlan& plan);

// The usual application: COREDLL imports by ordinal and by name, and a
// second library that retargeting must leave alone.
TestImagePlan typicalApplication(const std::string& coredllName = "COREDLL.dll");

}  // namespace velmark::testing
