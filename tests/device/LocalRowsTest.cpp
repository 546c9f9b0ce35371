// Every Local row of the export table is served by the module's own code:
// its export is no forwarder, the rows answered alone make no COREDLL call,
// the wrapping rows call COREDLL's function of their own ordinal, and each
// row whose behaviour is not a pass-through is seen to act differently from
// the application calling COREDLL directly with the same arguments.
#include "emulator/Bench.h"

#include "formats/exporttable/ExportTable.h"
#include "formats/pe/Forwarder.h"
#include "formats/pe/PeImage.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <sstream>

namespace devicetest {
namespace {

using bench::Bench;
using bench::CallResult;
using bench::Outcome;
using bench::Placement;
using velmark::Disposition;
using velmark::Reach;

bool looksLikeForwarder(Bench& bench, uint32_t address) {
    const bench::Memory& memory = bench.memory();
    return pe::decodeForwarder(address, memory.read32(address), memory.read32(address + 4)).has_value();
}

// What one call leaves behind, as the application and the platform see it.
struct Observation {
    uint32_t result = 0;
    uint32_t lastError = 0;
    std::vector<std::pair<uint16_t, std::vector<uint32_t>>> coredllCalls;
    std::vector<std::vector<uint8_t>> watched;  // the caller's blocks afterwards

    bool operator==(const Observation& o) const {
        return result == o.result && lastError == o.lastError && coredllCalls == o.coredllCalls &&
               watched == o.watched;
    }
    std::string describe() const {
        std::ostringstream s;
        s << "result " << bench::hex(result) << ", last-error " << lastError << ", COREDLL calls:";
        for (const auto& [ordinal, args] : coredllCalls) {
            s << " " << ordinal << "(";
            for (size_t i = 0; i < args.size(); ++i) s << (i ? "," : "") << bench::hex(args[i]);
            s << ")";
        }
        return s.str();
    }
};

// The arguments of a probe call and the caller's blocks worth comparing.
struct ProbeCall {
    std::vector<uint32_t> args;
    std::vector<std::pair<uint32_t, uint32_t>> watched;  // (address, size)
};

struct Probe {
    const char* name;  // the export table's row
    // Places the caller's data and scripts the platform; the same in both processes.
    std::function<ProbeCall(Bench&)> prepare;
    bool passThrough = false;  // the row's behaviour is to pass the call on unchanged

    uint16_t ordinal() const { return Bench::coredllOrdinal(name); }
};

constexpr uint32_t kSomeDevice = 0x0C00ABC0;
constexpr uint32_t kNoSuchResource = 0x0D0000F0;

std::vector<uint8_t> dialogRecordAllFlags() {
    std::vector<uint8_t> r(76, 0x5C);
    r[0] = 76, r[1] = r[2] = r[3] = 0;
    for (int i = 52; i < 56; ++i) r[i] = 0xFF;
    return r;
}

std::vector<uint8_t> waveHeader320() {
    std::vector<uint8_t> h(32, 0);
    h[4] = 0x40, h[5] = 0x01;  // dwBufferLength 320
    return h;
}

ProbeCall withBlock(Bench& bench, const std::vector<uint8_t>& bytes, std::vector<uint32_t> args, size_t argIndex,
                    uint32_t misalign = 1) {
    uint32_t block = bench.placeBytes(bytes, Placement::atEnd(misalign));
    args[argIndex] = block;
    return {args, {{block, uint32_t(bytes.size())}}};
}

ProbeCall plain(std::vector<uint32_t> args) { return {std::move(args), {}}; }

uint32_t host(Bench& bench) { return bench.fake().modules().hostHandle(); }

std::vector<Probe> probes() {
    auto sip = [](const char* name) {
        return Probe{name, [](Bench& b) { return withBlock(b, std::vector<uint8_t>(48, 0x77), {0, 0, 0, 0}, 0); }};
    };
    auto resetSucceeds = [](const char* name) {
        return Probe{name, [name](Bench& b) {
                         b.fake().scriptNext(name, Outcome::returns(0).withLastError(0x21));
                         b.fake().scriptNext("waveInClose", Outcome::returns(0).withLastError(0x99));
                         b.fake().scriptNext("waveOutClose", Outcome::returns(0).withLastError(0x99));
                         return plain({kSomeDevice});
                     }};
    };
    auto header = [](const char* name) {
        return Probe{name, [](Bench& b) { return withBlock(b, waveHeader320(), {kSomeDevice, 0, 32}, 1); }};
    };
    auto dialog = [](const char* name) {
        return Probe{name, [](Bench& b) { return withBlock(b, dialogRecordAllFlags(), {0}, 0, 3); }};
    };
    auto dialogTemplate = [](const char* name) {
        return Probe{name, [](Bench& b) {
                         uint32_t tmpl = b.placeBytes(std::vector<uint8_t>(24, 0));
                         return plain({host(b), tmpl, 0, 0, 0});
                     }};
    };
    return {
        {"SHGetSpecialFolderPath", [](Bench& b) { return withBlock(b, {'s', 0, 't', 0, 'a', 0, 0, 0}, {0, 0, 0x77, 0}, 1); }},
        {"PlaySoundW", [](Bench& b) { return plain({b.placeWString(u"\\Windows\\alarm.wav"), 0, 0x00020001}); }},
        resetSucceeds("waveOutReset"),
        header("waveInPrepareHeader"),
        header("waveInAddBuffer"),
        resetSucceeds("waveInReset"),
        {"waveInOpen", [](Bench& b) {
             uint32_t out = b.allocate(4);
             return withBlock(b, bench::pcm16000Format(), {out, 0, 0, 0, 0x1D, 0}, 2);
         }},
        dialog("GetOpenFileNameW"),
        dialog("GetSaveFileNameW"),
        {"LoadResource", [](Bench& b) { return plain({host(b), kNoSuchResource}); }},
        dialogTemplate("CreateDialogIndirectParamW"),
        dialogTemplate("DialogBoxIndirectParamW"),
        {"LoadMenuW", [](Bench& b) { return plain({host(b), 5}); }},
        {"CheckMenuItem", [](Bench&) { return plain({0x0C0DEAD0, 1, 8}); }, true},
        {"LoadBitmapW", [](Bench& b) { return plain({host(b), 7}); }},
        {"LoadStringW", [](Bench& b) { return withBlock(b, std::vector<uint8_t>(32, 0xEE), {host(b), 1, 0, 16}, 2, 0); }},
        sip("SipStatus"),
        sip("SipRegisterNotification"),
        sip("SipShowIM"),
        sip("SipGetInfo"),
        sip("SipSetInfo"),
        sip("SipEnumIM"),
        {"SipGetCurrentIM", [](Bench& b) { return withBlock(b, std::vector<uint8_t>(16, 0xCC), {0}, 0); }},
        {"SipSetCurrentIM", [](Bench& b) { return withBlock(b, std::vector<uint8_t>(16, 0x3C), {0}, 0); }},
        sip("SipSetDefaultRect"),
        {"CeZeroPointer", [](Bench&) { return plain({0x80001234}); }},
    };
}

// A process with a language module in place, so that the resource rows have
// something to redirect to.
void prepareProcess(Bench& bench) {
    bench.fake().registry().addKey(u"MUI");
    bench.fake().registry().setDword(u"MUI", u"Enable", 1);
    bench.fake().files().add(u"\\Windows\\app.exe.0409.mui", std::vector<uint8_t>(64, 0));
    bench.load(VELMARK_DLL_PATH);
    ASSERT_EQ(bench.fake().modules().loaded().size(), 1u) << "the language module was not loaded";
    bench.fake().clearLog();
}

Observation observe(Bench& bench, const ProbeCall& call, const CallResult& r) {
    Observation o;
    EXPECT_TRUE(r.ok()) << r.describe();
    o.result = r.r0;
    o.lastError = bench.fake().errors().get(bench.fake().thread());
    for (const bench::LoggedCall& c : bench.fake().calls()) o.coredllCalls.push_back({c.ordinal, c.args});
    for (auto [address, size] : call.watched) o.watched.push_back(bench.memory().readBytes(address, size));
    return o;
}

class LocalRows : public ::testing::Test {
protected:
    static std::vector<const velmark::ExportEntry*> localRows() {
        std::vector<const velmark::ExportEntry*> rows;
        for (const velmark::ExportEntry& row : Bench::coredllTable().rows())
            if (row.disposition == Disposition::Local) rows.push_back(&row);
        return rows;
    }
};

TEST_F(LocalRows, TheProbesCoverExactlyTheLocalRows) {
    std::set<uint16_t> local, probed;
    for (const velmark::ExportEntry* row : localRows()) local.insert(row->ordinal);
    for (const Probe& p : probes()) EXPECT_TRUE(probed.insert(p.ordinal()).second) << p.name;
    EXPECT_EQ(local.size(), 26u);
    EXPECT_EQ(probed, local);
}

// The forwarder shape is recognised on every forwarded row, so its absence
// on a Local row means something.
TEST_F(LocalRows, NoLocalRowIsAForwarder) {
    Bench bench;
    bench.load(VELMARK_DLL_PATH);
    uint32_t forwarders = 0;
    for (const velmark::ExportEntry& row : Bench::coredllTable().rows()) {
        uint32_t address = bench.exportAddressOrdinal(row.ordinal);
        ASSERT_EQ(address, bench.exportAddress(row.name)) << row.name;
        if (row.forwarded()) {
            forwarders += looksLikeForwarder(bench, address);
        } else {
            EXPECT_FALSE(looksLikeForwarder(bench, address)) << row.name << " is exported as a forwarder";
            const bench::Region* region = bench.memory().regionAt(address);
            ASSERT_NE(region, nullptr) << row.name;
            EXPECT_TRUE(region->owner == bench::Owner::Module && (region->rights & bench::kExecute))
                << row.name << " is not in the module's code";
        }
    }
    EXPECT_EQ(forwarders, 1649u);
}

// Wrapping rows import COREDLL's function of their own ordinal; rows answered
// alone leave it out.
TEST_F(LocalRows, OnlyTheWrappingRowsImportTheirOwnOrdinal) {
    pe::Image image = pe::readImageFile(VELMARK_DLL_PATH);
    ASSERT_EQ(image.imports.size(), 1u);
    std::set<uint16_t> imported;
    for (const pe::Import& entry : image.imports[0].entries)
        if (entry.byOrdinal) imported.insert(entry.ordinal);
    for (const velmark::ExportEntry* row : localRows()) {
        ASSERT_NE(row->reach, Reach::None) << row->name;
        EXPECT_EQ(imported.count(row->ordinal), row->reach == Reach::Wraps ? 1u : 0u) << row->name;
    }
}

// Each probe runs in two identical processes: in one the application calls
// the module's export, in the other COREDLL's function directly.
class LocalRowServed : public ::testing::TestWithParam<Probe> {};

TEST_P(LocalRowServed, ByItsOwnCode) {
    const Probe& probe = GetParam();
    const velmark::ExportEntry* row = Bench::coredllTable().findOrdinal(probe.ordinal());
    ASSERT_NE(row, nullptr);

    Bench viaModule, direct;
    prepareProcess(viaModule);
    prepareProcess(direct);
    ProbeCall callModule = probe.prepare(viaModule);
    ProbeCall callDirect = probe.prepare(direct);
    ASSERT_EQ(callModule.args, callDirect.args) << "the two processes differ";

    CallResult r = viaModule.tryCall(row->name, callModule.args);
    Observation module = observe(viaModule, callModule, r);
    Observation coredll = observe(direct, callDirect, direct.callCoredll(probe.name, callDirect.args));

    if (row->reach == Reach::Alone) {
        EXPECT_TRUE(module.coredllCalls.empty()) << module.describe();
    } else {
        bool wrapped = false;
        for (const auto& [ordinal, args] : module.coredllCalls) wrapped |= ordinal == row->ordinal;
        EXPECT_TRUE(wrapped) << "COREDLL's own function was not called: " << module.describe();
    }
    if (probe.passThrough) {
        EXPECT_EQ(module, coredll) << "through the module: " << module.describe()
                                   << "\ndirectly: " << coredll.describe();
    } else {
        EXPECT_FALSE(module == coredll) << "acts as a plain pass-through: " << module.describe();
    }
}

INSTANTIATE_TEST_SUITE_P(EveryLocalRow, LocalRowServed, ::testing::ValuesIn(probes()),
                         [](const ::testing::TestParamInfo<Probe>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace devicetest
