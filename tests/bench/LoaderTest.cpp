// The loader: relocation at two bases, import binding by ordinal and by
// name, the entry routine's notifications, and what the CE loader refuses.
#include "emulator/Bench.h"
#include "tests/bench/TinyImage.h"

#include <gtest/gtest.h>

namespace benchtest {
namespace {

using bench::Bench;

const uint16_t kGetLastError = Bench::coredllOrdinal("GetLastError");
const uint16_t kLoadLibraryW = Bench::coredllOrdinal("LoadLibraryW");
constexpr uint32_t kRecordSize = 12;  // reason, instance, count

struct Recording {
    TinyImage image;
    uint32_t record = 0;    // RVA of the DllMain record
    uint32_t pointer = 0;   // RVA of a data word holding record's address
    uint32_t byOrdinal = 0; // slot RVAs
    uint32_t byName = 0;

    Recording() {
        record = image.addData(0);
        image.addData(0);
        image.addData(0);
        pointer = image.addData(TinyImage::va(record));
        image.extraRelocations.push_back({pointer, pe::kRelocHighLow});
        image.setEntry(image.addCode(arm::recordingDllMain(TinyImage::va(record)), {8}));
        byOrdinal = image.importOrdinal(kGetLastError);
        byName = image.importName("LoadLibraryW");
        image.exportFunction("add3", 7, image.addCode(arm::add3()));
        image.exportFunction("getLastError", 9, image.addForwarder(byOrdinal));
    }
};

uint32_t reason(Bench& bench, const Recording& r) { return bench.memory().read32(bench.instance() + r.record); }
uint32_t instanceSeen(Bench& bench, const Recording& r) { return bench.memory().read32(bench.instance() + r.record + 4); }
uint32_t entries(Bench& bench, const Recording& r) { return bench.memory().read32(bench.instance() + r.record + 8); }

TEST(Loader, RelocatesBindsAndAttachesAtEitherBase) {
    for (uint32_t base : {Bench::kDefaultBase, Bench::kOtherBase}) {
        SCOPED_TRACE(bench::hex(base));
        Recording r;
        Bench bench;
        const bench::LoadedImage& loaded = bench.load(r.image.build(), base);
        EXPECT_EQ(loaded.base, base);
        // DllMain's own stores went through a relocated literal.
        EXPECT_EQ(reason(bench, r), 1u);
        EXPECT_EQ(instanceSeen(bench, r), base);
        EXPECT_EQ(entries(bench, r), 1u);
        EXPECT_EQ(bench.memory().read32(base + r.pointer), base + r.record);
        EXPECT_EQ(bench.memory().read32(base + r.byOrdinal), bench::Cpu::trapAddress(kGetLastError));
        EXPECT_EQ(bench.memory().read32(base + r.byName), bench::Cpu::trapAddress(kLoadLibraryW));
        EXPECT_EQ(bench.exportAddress("add3"), bench.exportAddressOrdinal(7));
        EXPECT_EQ(bench.exportAddress("add3"), base + TinyImage::kTextRva + 4 * 9);
        bench.fake().errors().set(bench::FakeCoredll::kMainThread, 0x1234);
        EXPECT_EQ(bench.call("getLastError"), 0x1234u);
    }
}

TEST(Loader, EntryRoutineSeesEveryReason) {
    Recording r;
    Bench bench;
    bench.load(r.image.build());
    EXPECT_EQ(bench.threadAttach(), 1u);
    EXPECT_EQ(reason(bench, r), 2u);
    EXPECT_EQ(bench.threadDetach(), 1u);
    EXPECT_EQ(reason(bench, r), 3u);
    uint32_t base = bench.instance();
    uint32_t recordAddress = base + r.record;
    EXPECT_EQ(bench.unload(), 1u);
    EXPECT_FALSE(bench.isLoaded());
    EXPECT_FALSE(bench.memory().isMapped(recordAddress));
    EXPECT_FALSE(bench.memory().isMapped(base));
}

TEST(Loader, UnknownExportsAreRefusedByName) {
    Recording r;
    Bench bench;
    bench.load(r.image.build());
    EXPECT_THROW(bench.exportAddress("add4"), bench::BenchMisuse);
    EXPECT_THROW(bench.exportAddressOrdinal(8), bench::BenchMisuse);  // an empty address slot
}

void expectRefused(const pe::Image& image, const std::string& reasonPart, uint32_t base = Bench::kDefaultBase) {
    Bench bench;
    try {
        bench.load(image, base);
        ADD_FAILURE() << "loaded, expected a refusal mentioning '" << reasonPart << "'";
    } catch (const bench::LoadRefused& e) {
        EXPECT_NE(std::string(e.what()).find(reasonPart), std::string::npos) << e.what();
        EXPECT_FALSE(bench.isLoaded());
        EXPECT_FALSE(bench.memory().isMapped(base)) << "a refused image stays mapped";
    }
}

TEST(Loader, RefusesWhatTheCeLoaderRefuses) {
    {
        Recording r;
        r.image.importOrdinal(554);  // a gap in COREDLL's ordinals
        expectRefused(r.image.build(), "ordinal 554");
    }
    {
        Recording r;
        r.image.importName("NoSuchFunction");
        expectRefused(r.image.build(), "NoSuchFunction");
    }
    {
        Recording r;
        r.image.withLookupTable = false;
        expectRefused(r.image.build(), "lookup table");
    }
    {
        Recording r;
        r.image.importedDll = "USER32.dll";
        expectRefused(r.image.build(), "USER32.dll");
    }
    {
        Recording r;
        r.image.extraRelocations.push_back({TinyImage::kDataRva, 5});
        expectRefused(r.image.build(), "type 5");
    }
    {
        Recording r;
        expectRefused(r.image.build(), "preferred base", TinyImage::kPreferredBase);
    }
    {
        Recording r;
        r.image.setEntry(r.image.addCode(arm::returnFalse()));
        expectRefused(r.image.build(), "FALSE");
    }
}

TEST(Loader, AFunctionTheFakeWithdrewCannotBeImported) {
    Recording r;
    Bench bench;
    bench.fake().withdraw(kGetLastError);
    EXPECT_THROW(bench.load(r.image.build()), bench::LoadRefused);
}

TEST(Loader, DiscardableSectionsAreFreedAfterTheLoad) {
    Recording r;
    r.image.withDiscardableSection = true;
    Bench bench;
    bench.load(r.image.build());
    EXPECT_FALSE(bench.memory().isMapped(bench.instance() + TinyImage::kDiscardableRva));
    EXPECT_TRUE(bench.memory().isMapped(bench.instance() + TinyImage::kDataRva));
}

TEST(Loader, TwoProcessesHaveTheirOwnModuleState) {
    Recording r;
    pe::Image image = r.image.build();
    Bench first, second;
    first.load(image);
    second.load(image);
    first.threadAttach();
    first.threadAttach();
    EXPECT_EQ(entries(first, r), 3u);
    EXPECT_EQ(entries(second, r), 1u);
    first.fake().errors().set(bench::FakeCoredll::kMainThread, 5);
    EXPECT_EQ(first.call("getLastError"), 5u);
    EXPECT_EQ(second.call("getLastError"), 0u);
    EXPECT_EQ(second.fake().countOf(kGetLastError), 1u);
}

}  // namespace
}  // namespace benchtest
