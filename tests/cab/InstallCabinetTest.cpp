// Installation CABs made here unpack through Debian's cabextract byte for
// byte and read back whole; damaged or incomplete ones are refused with the
// member, the offset and the reason.
#include "tests/support/HandWrittenDescriptor.h"
#include "formats/cab/DescriptorWriter.h"
#include "formats/cab/InstallCabinet.h"
#include "tests/velmark/Subprocess.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace cabtest;
using velmark::testing::ScratchDir;

std::vector<uint8_t> pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(i * 7 + seed + (i >> 9));
    return bytes;
}

// demo.exe spans three data blocks; VELMARK.dll is small.
const std::map<uint16_t, cab::FileContent> kContents = {{1, {pattern(70000, 1), 1700000000}}, {2, {pattern(3, 2), 0}}};

cab::InstallCabinet read(const std::vector<uint8_t>& cabinet) { return cab::readInstallCabinet(cabinet.data(), cabinet.size()); }

TEST(InstallCabinet, MadeCabinetUnpacksThroughCabextractByteForByte) {
    const std::vector<uint8_t> cabinet = cab::writeInstallCabinet(handWrittenContent(), kContents);
    ScratchDir dir;
    velmark::testing::writeBytes(dir.path("demo.cab"), cabinet);
    velmark::testing::RunResult listing = velmark::testing::runProgram({"cabextract", "-l", dir.path("demo.cab")});
    ASSERT_EQ(listing.exitCode, 0) << listing.err;
    const size_t descriptor = listing.out.find("0000Demo.000"), dll = listing.out.find("0VELMARK.002"),
                 program = listing.out.find("0000demo.001");
    EXPECT_TRUE(descriptor < dll && dll < program && program != std::string::npos) << "descriptor first, then by falling id\n"
                                                                                   << listing.out;
    ASSERT_EQ(velmark::testing::runProgram({"cabextract", "-q", "-d", dir.path("out"), dir.path("demo.cab")}).exitCode, 0);
    EXPECT_EQ(velmark::testing::readBytes(dir.path("out/0000Demo.000")), cab::writeInstallDescriptor(handWrittenContent()));
    EXPECT_EQ(velmark::testing::readBytes(dir.path("out/0000demo.001")), kContents.at(1).bytes);
    EXPECT_EQ(velmark::testing::readBytes(dir.path("out/0VELMARK.002")), kContents.at(2).bytes);

    const cab::InstallCabinet back = read(cabinet);
    EXPECT_EQ(back.descriptorMember, "0000Demo.000");
    EXPECT_EQ(fields(back.descriptor), fields(handWrittenContent()));
    ASSERT_EQ(back.files.size(), 2u);
    EXPECT_EQ(back.files.at(1).bytes, kContents.at(1).bytes);
    EXPECT_EQ(back.files.at(2).name, "0VELMARK.002");
    EXPECT_FALSE(back.setupDll);
}

TEST(InstallCabinet, DamagedOrIncompleteCabinetsAreRefusedWithMemberOffsetAndReason) {
    const std::vector<uint8_t> made = cab::writeInstallCabinet(handWrittenContent(), kContents);
    const std::vector<uint8_t> descriptor = handWrittenDescriptor().bytes;
    auto members = [&](std::vector<std::string> names) {
        std::vector<cab::CabinetMember> list;
        for (const std::string& name : names) list.push_back({name, name.find(".000") != std::string::npos ? descriptor : pattern(5, 0)});
        return cab::writeCabinet(list);
    };
    auto damaged = [&](std::function<void(std::vector<uint8_t>&)> damage) {
        std::vector<uint8_t> bytes = made;
        damage(bytes);
        return bytes;
    };
    constexpr size_t kFirstFileEntry = 44;  // after the 36-byte header and one folder entry
    const size_t dataOffset = made[36] | made[37] << 8;
    struct Case {
        const char* what;
        std::vector<uint8_t> cabinet;
        std::string member;
        size_t offset;
        const char* reason;
    } cases[] = {
        {"cut inside the header", damaged([](auto& b) { b.resize(20); }), "", 0, "runs past the end"},
        {"no signature", damaged([](auto& b) { b[0] = 'X'; }), "", 0, "not a cabinet"},
        {"size field", damaged([](auto& b) { b.push_back(0); }), "", 8, "the file has"},
        {"one of a set", damaged([](auto& b) { b[30] = 2; }), "", 30, "set spanning several files"},
        {"file in a second folder", damaged([](auto& b) { b[kFirstFileEntry + 8] = 1; }), "", kFirstFileEntry + 8,
         "in folder 1 of 1"},
        {"file larger than its folder", damaged([](auto& b) { b[kFirstFileEntry + 3] = 0x10; }), "", kFirstFileEntry,
         "data blocks can hold"},
        {"a data block's checksum", damaged([](auto& b) { b[b.size() - 10] ^= 0xFF; }), "", dataOffset, "checksum"},
        {"data past the end", damaged([](auto& b) { b[36] = 0xFF, b[37] = 0xFF, b[38] = 0xFF; }), "", 36,
         "data starts past the end"},
        {"no descriptor", members({"0000demo.001", "0VELMARK.002"}), "", 0, "no member ends in .000"},
        {"a file without its member", members({"0000Demo.000", "0000demo.001"}), "0000Demo.000",
         handWrittenDescriptor().files + 21, "no cabinet member with the extension .002"},
        {"a member of no file", members({"0000Demo.000", "0000demo.001", "0VELMARK.002", "EXTRA.003"}), "",
         kFirstFileEntry + 3 * 16 + 13 + 13 + 13, "EXTRA.003 is no file"},
        {"a member without digits", members({"0000Demo.000", "README.TXT"}), "", kFirstFileEntry + 16 + 13,
         "does not end in a point and three digits"},
        {"two members with one id", members({"0000Demo.000", "A.001", "B.001"}), "", kFirstFileEntry + 2 * 16 + 13 + 6,
         "the same extension"},
    };
    for (const Case& c : cases) {
        try {
            read(c.cabinet);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const cab::FormatError& e) {
            EXPECT_EQ(e.member(), c.member) << c.what << ": " << e.what();
            EXPECT_EQ(e.offset(), c.offset) << c.what << ": " << e.what();
            EXPECT_NE(e.reason().find(c.reason), std::string::npos) << c.what << ": " << e.what();
        }
    }
}

}  // namespace
