// The resource directory reader on a small tree laid by hand into the test
// image's spare .rdata bytes, then corrupted: loops, a fourth level, counts
// and offsets past the section, data outside the file.
#include "formats/pe/PeImage.h"
#include "formats/pe/Resources.h"
#include "tests/image/TestImage.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace testimage;

// At RVA 0x2240 (directory offset 0): root with one named type "AB" and the
// id type 6; each leads to a name table with id 7, then a language table
// with 0x407, then a data entry.
constexpr uint32_t kRsrcRva = 0x2240;
constexpr uint32_t kTypeName = 0xA8;   // "AB": length 2
constexpr uint32_t kData = 0xB0;       // 8 bytes of resource data, RVA 0x22F0

std::vector<uint8_t> withResources() {
    std::vector<uint8_t> f = build();
    put32(f, kOptionalHeader + 96 + 2 * 8, kRsrcRva);
    put32(f, kOptionalHeader + 96 + 2 * 8 + 4, 0xB8);
    uint32_t at = rdata(kRsrcRva);
    auto table = [&](uint32_t offset, uint16_t named, uint16_t ids) {
        put16(f, at + offset + 12, named);
        put16(f, at + offset + 14, ids);
    };
    table(0x00, 1, 1);
    put32(f, at + 0x10, 0x80000000 | kTypeName);
    put32(f, at + 0x14, 0x80000000 | 0x20);
    put32(f, at + 0x18, 6);
    put32(f, at + 0x1C, 0x80000000 | 0x38);
    for (uint32_t names : {0x20u, 0x38u}) {
        uint32_t languages = names + 0x30;  // 0x50, 0x68
        table(names, 0, 1);
        put32(f, at + names + 0x10, 7);
        put32(f, at + names + 0x14, 0x80000000 | languages);
        table(languages, 0, 1);
        put32(f, at + languages + 0x10, 0x407);
        put32(f, at + languages + 0x14, 0x88 + (names == 0x20 ? 0 : 0x10));
    }
    for (uint32_t entry : {0x88u, 0x98u}) {
        put32(f, at + entry, kRsrcRva + kData);
        put32(f, at + entry + 4, entry == 0x88 ? 8 : 4);
        put32(f, at + entry + 8, 1252);
    }
    put16(f, at + kTypeName, 2);
    put16(f, at + kTypeName + 2, 'A');
    put16(f, at + kTypeName + 4, 'B');
    put32(f, at + kData, 0x64636261);
    return f;
}

TEST(ResourceReader, ReadsEveryLeafInDirectoryOrder) {
    pe::Image image = pe::readImage(withResources());
    std::vector<pe::Resource> all = pe::readResources(image);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].type.name, u"AB");
    EXPECT_FALSE(all[0].type.isId());
    EXPECT_EQ(all[1].type.id, 6);
    EXPECT_TRUE(all[1].type.isId());
    EXPECT_EQ(all[0].name.id, 7);
    EXPECT_EQ(all[0].language, 0x407);
    EXPECT_EQ(all[0].dataRva, kRsrcRva + kData);
    EXPECT_EQ(all[0].size, 8u);
    EXPECT_EQ(all[1].size, 4u);
    EXPECT_EQ(all[1].codePage, 1252u);
    EXPECT_EQ(pe::resourceBytes(image, all[1]), (std::vector<uint8_t>{'a', 'b', 'c', 'd'}));
    EXPECT_TRUE(pe::readResources(pe::readImage(build())).empty());
}

TEST(ResourceReader, RefusesMalformedTreesNamingTheOffset) {
    const uint32_t at = rdata(kRsrcRva);
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> corrupt;
        const char* message;
    };
    const Case cases[] = {
        {"a name table pointing back at the root", [&](auto& f) { put32(f, at + 0x34, 0x80000000); },
         "offset 0x0 is reached twice"},
        {"two types sharing one name table", [&](auto& f) { put32(f, at + 0x1C, 0x80000000 | 0x20); },
         "offset 0x20 is reached twice"},
        {"a language entry leading to a fourth level", [&](auto& f) { put32(f, at + 0x64, 0x80000000 | 0x50); },
         "fourth level"},
        {"a type entry pointing at data", [&](auto& f) { put32(f, at + 0x14, 0x88); }, "points at data"},
        {"a count running past the section", [&](auto& f) { put16(f, at + 0x0E, 0xFFFF); },
         "offset 0x10 (524288 bytes) runs past"},
        {"a name past the section", [&](auto& f) { put32(f, at + 0x10, 0x80000000 | 0x7FFFFFF0); },
         "offset 0x7FFFFFF0"},
        {"a name longer than the section", [&](auto& f) { put16(f, at + kTypeName, 0xFFFF); }, "offset 0xAA"},
        {"data past the section's file data", [&](auto& f) { put32(f, at + 0x88 + 4, 0x1000); },
         "runs past the file data of section"},
        {"data outside every section", [&](auto& f) { put32(f, at + 0x98, 0x9000); }, "outside the image's sections"},
        {"a directory outside the sections", [&](auto& f) { put32(f, kOptionalHeader + 96 + 16, 0x9000); },
         "RVA 0x9000"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> file = withResources();
        c.corrupt(file);
        pe::Image image = pe::readImage(file);
        try {
            pe::readResources(image);
            ADD_FAILURE() << c.what << " was accepted";
        } catch (const pe::PeFormatError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.what << ": " << e.what();
        }
    }
}

}  // namespace
