// The install descriptor against bytes written by hand from the format's
// public description: the reader takes every field from them, the writer
// produces them, and each damaged structure is refused at its offset.
#include "tests/support/HandWrittenDescriptor.h"
#include "formats/cab/DescriptorReader.h"
#include "formats/cab/DescriptorWriter.h"
#include "formats/cab/DevicePaths.h"
#include "formats/cab/MemberNames.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace cabtest;

cab::InstallDescriptor read(const std::vector<uint8_t>& bytes) {
    return cab::readInstallDescriptor(bytes.data(), bytes.size(), "DEMO.000");
}

TEST(InstallDescriptor, HandWrittenBytesReadAndWriteAsTheFormatDescribes) {
    const std::string expected = fields(handWrittenContent());
    EXPECT_EQ(fields(read(handWrittenDescriptor().bytes)), expected);
    EXPECT_EQ(fields(read(handWrittenDescriptor(true).bytes)), expected) << "as real installers lay it out";
    EXPECT_EQ(cab::writeInstallDescriptor(handWrittenContent()), handWrittenDescriptor().bytes);

    cab::InstallDescriptor unwritable = handWrittenContent();
    unwritable.directories[0].path = {"Program Files\\Demo"};
    EXPECT_THROW(cab::writeInstallDescriptor(unwritable), cab::UnwritableContent);
    unwritable = handWrittenContent();
    unwritable.appName = "D\xC3\xA9mo";
    EXPECT_THROW(cab::writeInstallDescriptor(unwritable), cab::UnwritableContent);
}

TEST(InstallDescriptor, EachDamagedStructureIsRefusedAtItsOffset) {
    const HandWritten h = handWrittenDescriptor();
    struct Case {
        const char* damage;
        std::function<void(std::vector<uint8_t>&)> apply;
        size_t offset;
        const char* reason;
    };
    auto set16 = [](size_t at, uint16_t v) {
        return [=](std::vector<uint8_t>& b) {
            b[at] = uint8_t(v);
            b[at + 1] = uint8_t(v >> 8);
        };
    };
    const Case cases[] = {
        {"cut inside the header", [](auto& b) { b.resize(60); }, 0, "runs past the end"},
        {"no signature", [](auto& b) { b[3] = 'X'; }, 0, "no \"MSCE\" signature"},
        {"length field", [](auto& b) { b.push_back(0); }, 8, "the file has 291"},
        {"application name past the end", set16(84, 400), 400, "the application name"},
        {"provider without NUL", set16(90, 4), 105, "no terminating NUL"},
        {"bytes after a string's NUL", [&](auto& b) { b[h.strings + 15] = 0; }, h.strings + 16,
         "string 2 has bytes after its terminating NUL"},
        {"string id 0", set16(h.strings, 0), h.strings, "string id 0"},
        {"folder naming a missing string", set16(h.folders + 6, 9), h.folders + 6, "names string 9"},
        {"folder path with an odd length", set16(h.folders + 2, 5), h.folders + 2, "odd length"},
        {"file in a missing folder", set16(h.files + 2, 7), h.files + 2, "goes to folder 7"},
        {"file id given twice", set16(h.files + 21, 1), h.files + 21, "file id 1 is given twice (first at offset"},
        {"file id 999", set16(h.files, 999), h.files, "from 001 to 998"},
        {"registry root 5", set16(h.keys + 2, 5), h.keys + 2, "root 5"},
        {"value in a missing key", set16(h.values + 2, 3), h.values + 2, "key 3, which is not"},
        {"string value without NUL", set16(h.values + 23 + 10, 8), h.values + 23 + 12 + 8, "no terminating NUL"},
        {"DWORD of 3 bytes", set16(h.values + 10, 10), h.values + 12 + 7, "DWORD of 3 bytes"},
        {"shortcut to a missing file", set16(h.shortcuts + 6, 4), h.shortcuts + 6, "points at file 4"},
        {"shortcut in %CE18%", set16(h.shortcuts + 4, 18), h.shortcuts + 4, "1 to 17"},
        {"one file more than written", set16(52, 3), h.files + 45, "file id 1 is given twice"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = h.bytes;
        c.apply(bytes);
        try {
            read(bytes);
            ADD_FAILURE() << c.damage << ": accepted";
        } catch (const cab::FormatError& e) {
            EXPECT_EQ(e.member(), "DEMO.000");
            EXPECT_EQ(e.offset(), c.offset) << c.damage << ": " << e.what();
            EXPECT_NE(e.reason().find(c.reason), std::string::npos) << c.damage << ": " << e.what();
        }
    }
}

TEST(InstallDescriptor, MemberNamesAndDevicePaths) {
    EXPECT_EQ(cab::memberName("app.exe", 5), "00000app.005");
    EXPECT_EQ(cab::memberName("Blackjack Help.htp", 1), "BLACKJ~1.001");
    EXPECT_EQ(cab::memberName("app.exe.0407.mui", 12), "APPEXE~1.012");
    EXPECT_EQ(cab::memberId("BLACKJ~1.999"), 999);
    EXPECT_EQ(cab::memberId("README.TXT"), std::nullopt);

    EXPECT_EQ(cab::folderPath("\\Program Files\\App"), (cab::Path{"%CE1%", "App"}));
    EXPECT_EQ(cab::folderPath("\\windows\\"), (cab::Path{"%CE2%"}));
    EXPECT_EQ(cab::folderPath("\\Storage Card\\App"), (cab::Path{"Storage Card", "App"}));
    EXPECT_EQ(cab::devicePath({"%CE1%", "App"}), "\\Program Files\\App");
    EXPECT_EQ(cab::devicePath({"Storage Card", "App"}), "\\Storage Card\\App");
    EXPECT_EQ(cab::shortcutBase(11), "%CE11%");
}

}  // namespace
