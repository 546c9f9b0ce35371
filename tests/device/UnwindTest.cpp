// Exception transparency: an access violation raised inside COREDLL under
// any override, or inside the capture callback's doubling, is unwound by the
// platform's rules (the image's exception table, reverse-executed prologs,
// the leaf rule) back to the caller with exactly the caller's pc, sp and
// r4-r11, as if the module were not there.
#include "emulator/Bench.h"
#include "emulator/Unwinder.h"
#include "formats/pe/ArmFrames.h"
#include "formats/pe/ByteOrder.h"
#include "formats/pe/PeImage.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using bench::Bench;

const std::u16string kHost = bench::Modules::kDefaultHostPath;
const std::u16string kLanguage = kHost + u".0409.mui";

// A process whose language module is loaded, so that the redirected loads
// call COREDLL twice.
void prepare(Bench& bench, const pe::Image& image) {
    bench.fake().registry().setDword(u"MUI", u"Enable", 1);
    bench.fake().files().add(kLanguage, {0x4D, 0x5A});
    bench.fake().resources().of(kHost).string(2, u"host");
    bench.load(image, Bench::kDefaultBase);
}

using Args = std::vector<uint32_t>;
uint32_t host(Bench& b) { return b.fake().modules().hostHandle(); }
Args header(Bench& b) {
    uint32_t h = b.allocate(bench::kWaveHeaderSize, bench::Placement::atEnd(1));
    b.memory().write32(h, b.allocate(320));
    return {0x51, h, bench::kWaveHeaderSize};
}
Args fileDialog(Bench& b) {
    uint32_t record = b.allocate(88);
    b.memory().write32(record, 88);
    return {record};
}
// A device opened by the application itself, so that a reset succeeds and the close follows.
Args opened(Bench& b, const char* open) {
    uint32_t out = b.allocate(4);
    b.callCoredll(open, {out, 0, b.placeBytes(bench::pcm16000Format()), 0, 0, 0});
    return {b.memory().read32(out)};
}

const std::vector<std::pair<const char*, Args (*)(Bench&)>> kScenarios = {
    {"LoadStringW", [](Bench& b) { return Args{host(b), 2, b.allocate(128), 64}; }},
    {"LoadMenuW", [](Bench& b) { return Args{host(b), 5}; }},
    {"LoadBitmapW", [](Bench& b) { return Args{host(b), 7}; }},
    {"LoadBitmapW", [](Bench& b) { return Args{host(b), 284}; }},
    {"LoadResource", [](Bench& b) { return Args{host(b), 0x1234}; }},
    {"CreateDialogIndirectParamW", [](Bench& b) { return Args{host(b), b.allocate(64), 0, 0, 0}; }},
    {"DialogBoxIndirectParamW", [](Bench& b) { return Args{host(b), b.allocate(64), 0, 0, 0}; }},
    {"waveInOpen", [](Bench& b) { return Args{b.allocate(4), 0, b.placeBytes(bench::pcm16000Format()), 0, 0, 0}; }},
    {"waveInPrepareHeader", header},
    {"waveInAddBuffer", header},
    {"waveInReset", [](Bench& b) { return opened(b, "waveInOpen"); }},
    {"waveOutReset", [](Bench& b) { return opened(b, "waveOutOpen"); }},
    {"PlaySoundW", [](Bench& b) { return Args{b.placeWString(u"ding"), 0, 0}; }},
    {"GetOpenFileNameW", fileDialog},
    {"GetSaveFileNameW", fileDialog},
    {"SHGetSpecialFolderPath", [](Bench& b) { return Args{0, b.allocate(520), 5, 0}; }},
    {"CheckMenuItem", [](Bench&) { return Args{1, 2, 8}; }},
};

// Empty when unwinding the faulted call lands on its caller with the
// caller's pc, sp and r4-r11; otherwise what differs.
std::string unwindMismatch(Bench& bench, const bench::CallResult& r, int* frames = nullptr) {
    if (r.faultRegisters.size() != 16) return "no fault registers (" + r.describe() + ")";
    bench::Registers context;
    std::copy(r.faultRegisters.begin(), r.faultRegisters.end(), context.begin());
    bench::Registers caller;
    try {
        caller = bench::Unwinder(bench.memory(), bench.image()).unwindThroughImage(context, frames);
    } catch (const std::exception& e) {
        return e.what();
    }
    std::string wrong;
    if (caller[15] != bench::Cpu::sentinel(0)) wrong += " pc " + bench::hex(caller[15]);
    if (caller[13] != r.entrySp) wrong += " sp " + bench::hex(caller[13]) + " for " + bench::hex(r.entrySp);
    for (int reg = 4; reg <= 11; ++reg)
        if (caller[reg] != bench::Cpu::canary(0, reg)) wrong += " r" + std::to_string(reg) + " " + bench::hex(caller[reg]);
    return wrong;
}

const pe::Image& builtImage() {
    static const pe::Image image = pe::readImageFile(VELMARK_DLL_PATH);
    return image;
}

// Every COREDLL call every override makes raises in turn; each unwinds to
// the override's caller.
TEST(Unwind, AccessViolationInsideEveryCoredllCallOfEveryOverrideUnwindsToTheCaller) {
    size_t raised = 0;
    for (auto [name, args] : kScenarios) {
        std::vector<std::string> made;  // COREDLL functions the override calls, in order
        {
            Bench bench;
            prepare(bench, builtImage());
            Args a = args(bench);
            bench.fake().clearLog();
            bench.tryCall(name, a);
            for (const bench::LoggedCall& c : bench.fake().calls())
                if (c.depth == 1) made.push_back(c.name);
        }
        ASSERT_FALSE(made.empty()) << name << " called no COREDLL function";
        std::map<std::string, unsigned> seen;
        for (const std::string& callee : made) {
            Bench bench;
            prepare(bench, builtImage());
            Args a = args(bench);
            bench.fake().raiseOnCall(callee, ++seen[callee]);
            bench::CallResult r = bench.tryCall(name, a);
            ASSERT_TRUE(r.fault && r.fault->kind == bench::FaultKind::Exception) << name << ": " << r.describe();
            EXPECT_EQ(unwindMismatch(bench, r), "") << name << ", raised in call " << seen[callee] << " to " << callee;
            ++raised;
        }
    }
    EXPECT_GE(raised, 40u);
}

// The callback's doubling faults on an unmapped buffer and unwinds to the
// dispatcher that called it. A table whose LoadStringW entry gives the
// wrong prolog length makes the unwinding land elsewhere.
TEST(Unwind, CaptureCallbackFaultUnwindsToTheDispatcherAndAWrongPrologLengthIsCaught) {
    {
        Bench bench;
        prepare(bench, builtImage());
        uint32_t handle = bench.allocate(4);
        ASSERT_EQ(bench.call("waveInOpen", {handle, 0, bench.placeBytes(bench::pcm16000Format()), 0, 0, 0}), 0u);
        uint32_t callback = bench.fake().audio().opens().back().callback;
        uint32_t header = bench.allocate(bench::kWaveHeaderSize);
        uint32_t buffer = bench.allocate(320);
        bench.release(buffer);
        bench.memory().write32(header, buffer);
        bench.memory().write32(header + 4, 320);
        bench.memory().write32(header + 8, 160);
        bench::CallResult r = bench.callAddress(callback, {bench.memory().read32(handle), bench::WIM_DATA, 0, header, 0});
        ASSERT_TRUE(r.fault && r.fault->kind == bench::FaultKind::Unmapped) << r.describe();
        EXPECT_EQ(unwindMismatch(bench, r), "");
    }

    // The first of LoadStringW's two calls, made with its frame in place.
    auto raiseInLoadString = [](const pe::Image& image, int* frames) {
        Bench bench;
        prepare(bench, image);
        bench.fake().raiseOnCall("LoadStringW", 1);
        return unwindMismatch(bench, bench.tryCall("LoadStringW", {host(bench), 2, bench.allocate(128), 64}), frames);
    };
    pe::Image image = pe::readImage(builtImage().file);
    int frames = 0;
    ASSERT_EQ(raiseInLoadString(image, &frames), "");
    ASSERT_GE(frames, 2) << "LoadStringW keeps no frame around its call to COREDLL";
    uint32_t loadString = image.imageBase + image.exportAddresses[Bench::coredllOrdinal("LoadStringW") - image.ordinalBase];
    const pe::DataDirectory table = image.directories[pe::kDirException];
    uint32_t offset = image.sectionAt(table.rva)->rawOffset + (table.rva - image.sectionAt(table.rva)->virtualAddress);
    bool changed = false;
    for (uint32_t at = offset; at < offset + table.size; at += 8) {
        if (pe::loadLe32(image.file.data() + at) != loadString) continue;
        uint8_t& prolog = image.file[at + 4];
        prolog = prolog > 1 ? prolog - 1 : prolog + 1;
        changed = true;
    }
    ASSERT_TRUE(changed) << "no exception-table entry for LoadStringW";
    EXPECT_NE(raiseInLoadString(pe::readImage(image.file), nullptr), "");
}

}  // namespace
