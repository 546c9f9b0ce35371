// Language resources on the emulated device, real image: which language
// module the entry routine loads at process attach (from the registry and
// the host executable's path), its release at detach, and the six resource
// overrides that serve the host executable's requests from it first.
#include "emulator/Bench.h"
#include "emulator/Utf16.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace devicetest {
namespace {

using namespace bench;

constexpr uint32_t kAllAccess = 0xF003F;
constexpr uint32_t kMainThread = FakeCoredll::kMainThread;
const std::u16string kHostPath = u"\\Windows\\app.exe";
const std::u16string kPluginPath = u"\\Windows\\plugin.dll";

// ---------------------------------------------------------------------------
// Registry values, stored as the device would hold them.

RegistryValue rawBytes(std::vector<uint8_t> bytes) { return {REG_BINARY, std::move(bytes)}; }

// ---------------------------------------------------------------------------
// The device as it stands when the application starts.

struct Device {
    bool key = true;                                  // HKLM\MUI exists
    std::optional<RegistryValue> enable = dwordValue(1);
    std::optional<RegistryValue> sysLang;             // absent
    std::u16string hostPath = kHostPath;
    std::vector<std::u16string> files;                // language module files present
};

// Every stack word the module could leave uninitialised reads as the
// units "77": a buffer the module forgets to clear shows up as digits
// rather than as a lucky zero.
void fillStackWithDigits(Bench& bench) {
    constexpr uint32_t kBytes = 0x10000;
    std::vector<uint8_t> pattern(kBytes);
    for (uint32_t i = 0; i < kBytes; i += 2) {
        pattern[i] = '7';
        pattern[i + 1] = 0;
    }
    bench.memory().poke(kStackTop - kBytes, pattern.data(), kBytes);
}

void prepare(Bench& bench, const Device& device) {
    Registry& registry = bench.fake().registry();
    if (device.key) registry.addKey(u"MUI");
    if (device.key && device.enable) registry.setValue(u"MUI", u"Enable", *device.enable);
    if (device.key && device.sysLang) registry.setValue(u"MUI", u"SysLang", *device.sysLang);
    bench.fake().modules().setHost(device.hostPath);
    bench.fake().files().add(device.hostPath, {0x4D, 0x5A});
    for (const std::u16string& file : device.files) bench.fake().files().add(file, {0x4D, 0x5A});
    fillStackWithDigits(bench);
}

void loadOn(Bench& bench, const Device& device) {
    prepare(bench, device);
    bench.load(VELMARK_DLL_PATH);
}

// What every attach must leave behind, whatever the registry says: the key
// opened once as asked, closed exactly once if it was opened, and no handle
// open afterwards but the language module's.
void expectCleanAttach(Bench& bench, const Device& device) {
    const std::vector<RegistryOpen>& opens = bench.fake().registry().opens();
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(narrow(opens[0].path), "MUI");
    EXPECT_EQ(opens[0].access, kAllAccess);
    EXPECT_EQ(opens[0].options, 0u);
    std::vector<LoggedCall> openCalls = bench.fake().callsTo("RegOpenKeyExW");
    ASSERT_EQ(openCalls.size(), 1u);
    EXPECT_EQ(openCalls[0].args[0], HKEY_LOCAL_MACHINE);

    std::vector<LoggedCall> closes = bench.fake().callsTo("RegCloseKey");
    if (device.key) {
        ASSERT_EQ(closes.size(), 1u) << "the key is closed exactly once";
        EXPECT_EQ(closes[0].args[0], opens[0].handle);
        EXPECT_EQ(closes[0].result, 0u);
    } else {
        EXPECT_TRUE(closes.empty()) << "nothing was opened, so nothing may be closed";
    }

    std::vector<OpenHandle> left = bench.handles().open();
    for (const auto& [handle, library] : bench.fake().modules().loaded()) {
        (void)library;
        left.erase(std::remove_if(left.begin(), left.end(),
                                  [handle = handle](const OpenHandle& h) { return h.value == handle; }),
                   left.end());
    }
    EXPECT_TRUE(left.empty()) << "left open after attach: " << HandleLedger::describe(left);
}

// The paths LoadLibraryW was asked for.
std::vector<std::string> libraryRequests(Bench& bench) {
    std::vector<std::string> paths;
    for (const LibraryLoad& load : bench.fake().modules().loads()) paths.push_back(narrow(load.path));
    return paths;
}

// ---------------------------------------------------------------------------
// Selection at process attach

struct SysLangRow {
    const char* label;
    std::optional<RegistryValue> sysLang;
    std::u16string languagePart;
};

TEST(LanguageSelection, EachSysLangTextNamesItsLanguageModule) {
    const std::vector<SysLangRow> rows = {
        {"absent", std::nullopt, u".0409.mui"},
        {"409", stringValue(u"409"), u".0409.mui"},
        {"407", stringValue(u"407"), u".0407.mui"},
        {"0411", stringValue(u"0411"), u".0411.mui"},
        {"1033", stringValue(u"1033"), u".1033.mui"},
        {"40C stops at the letter", stringValue(u"40C"), u".0040.mui"},
        {"empty", stringValue(u""), u".0000.mui"},
        {"five digits keep all five", stringValue(u"12345"), u".12345.mui"},
        {"16 characters do not fit 32 bytes", stringValue(u"0000000000000407"), u".0409.mui"},
        {"type ignored: binary digits", RegistryValue{REG_BINARY, stringValue(u"0411").data}, u".0411.mui"},
    };
    for (const SysLangRow& row : rows) {
        SCOPED_TRACE(row.label);
        Bench bench;
        Device device;
        device.sysLang = row.sysLang;
        const std::u16string expected = kHostPath + row.languagePart;
        device.files = {expected};
        loadOn(bench, device);

        EXPECT_EQ(libraryRequests(bench), std::vector<std::string>{narrow(expected)});
        ASSERT_EQ(bench.fake().modules().loaded().size(), 1u);
        expectCleanAttach(bench, device);

        const std::vector<RegistryQuery>& queries = bench.fake().registry().queries();
        ASSERT_EQ(queries.size(), 2u);
        EXPECT_EQ(narrow(queries[0].valueName), "Enable");
        EXPECT_EQ(queries[0].capacity, std::optional<uint32_t>(4));
        EXPECT_EQ(narrow(queries[1].valueName), "SysLang");
        EXPECT_EQ(queries[1].capacity, std::optional<uint32_t>(32));

        std::vector<LoggedCall> names = bench.fake().callsTo("GetModuleFileNameW");
        ASSERT_EQ(names.size(), 1u);
        EXPECT_EQ(names[0].args[0], 0u) << "the host executable's path, not the module's";
        EXPECT_EQ(names[0].args[2], 260u);
    }
}

// A SysLang value that fills all 32 bytes has no terminator of its own: the
// module reads exactly those 16 units, and nothing of what lies after them.
TEST(LanguageSelection, SysLangFillingAll32BytesIsReadAsExactlySixteenUnits) {
    Bench bench;
    Device device;
    device.sysLang = stringValue(u"0000000000000407", /*terminated=*/false);
    device.files = {kHostPath + u".0407.mui"};
    loadOn(bench, device);

    EXPECT_EQ(libraryRequests(bench), std::vector<std::string>{narrow(kHostPath + u".0407.mui")});
    std::vector<LoggedCall> parses = bench.fake().callsTo("_wtol");
    ASSERT_EQ(parses.size(), 1u);
    // The text _wtol was handed, as it still lies on the stack after the attach.
    std::vector<uint8_t> seen = bench.memory().readBytes(parses[0].args[0], 34);
    std::vector<uint8_t> expected = device.sysLang->data;
    expected.push_back(0);
    expected.push_back(0);
    EXPECT_EQ(seen, expected);
    expectCleanAttach(bench, device);
}

struct EnableRow {
    const char* label;
    std::optional<RegistryValue> enable;
    bool switchesOn;
};

TEST(LanguageSelection, OnlyTheNumberOneSwitchesLanguageModulesOn) {
    const std::vector<EnableRow> rows = {
        {"DWORD 1", dwordValue(1), true},
        {"binary 01 00 00 00, type ignored", rawBytes({1, 0, 0, 0}), true},
        {"one byte 01 reads as 1, zero-filled", rawBytes({1}), true},
        {"text \"1\"", stringValue(u"1"), false},
        {"DWORD 2", dwordValue(2), false},
        {"DWORD 0", dwordValue(0), false},
        {"DWORD 0x101", dwordValue(0x101), false},
        {"DWORD 0x01000001", dwordValue(0x01000001), false},
        {"two bytes 01 01 read as 0x0101", rawBytes({1, 1}), false},
        {"five bytes do not fit the 4-byte query", rawBytes({1, 0, 0, 0, 0}), false},
        {"empty value", rawBytes({}), false},
        {"absent", std::nullopt, false},
    };
    for (const EnableRow& row : rows) {
        SCOPED_TRACE(row.label);
        Bench bench;
        Device device;
        device.enable = row.enable;
        device.files = {kHostPath + u".0409.mui"};
        loadOn(bench, device);

        if (row.switchesOn) {
            EXPECT_EQ(libraryRequests(bench), std::vector<std::string>{narrow(kHostPath + u".0409.mui")});
        } else {
            EXPECT_TRUE(libraryRequests(bench).empty());
            EXPECT_EQ(bench.fake().registry().queries().size(), 1u) << "SysLang is not read when switched off";
        }
        expectCleanAttach(bench, device);

        bench.fake().clearLog();
        bench.unload();
        EXPECT_EQ(bench.fake().countOf("FreeLibrary"), row.switchesOn ? 1u : 0u);
    }
}

TEST(LanguageSelection, WithoutTheKeyNothingIsReadOrClosed) {
    Bench bench;
    Device device;
    device.key = false;
    device.files = {kHostPath + u".0409.mui"};
    loadOn(bench, device);

    EXPECT_EQ(bench.fake().countOf("RegQueryValueExW"), 0u);
    EXPECT_EQ(bench.fake().countOf("GetModuleFileNameW"), 0u);
    EXPECT_TRUE(libraryRequests(bench).empty());
    expectCleanAttach(bench, device);
}

TEST(LanguageSelection, KeyThatCannotBeOpenedIsNotClosed) {
    Bench bench;
    Device device;
    device.files = {kHostPath + u".0409.mui"};
    prepare(bench, device);
    bench.fake().scriptNext("RegOpenKeyExW", Outcome::returns(ERROR_ACCESS_DENIED));
    bench.load(VELMARK_DLL_PATH);

    EXPECT_EQ(bench.fake().countOf("RegQueryValueExW"), 0u);
    EXPECT_EQ(bench.fake().countOf("RegCloseKey"), 0u);
    EXPECT_TRUE(libraryRequests(bench).empty());
}

struct HostPathRow {
    const char* label;
    std::u16string hostPath;
    std::optional<RegistryValue> sysLang;
    std::optional<Outcome> fileName;  // scripted GetModuleFileNameW, if any
    std::optional<std::u16string> requested;
};

std::u16string pathOfLength(size_t units) {
    std::u16string path = u"\\Windows\\";
    while (path.size() + 4 < units) path += u'd';
    return path + u".exe";
}

TEST(LanguageSelection, NoLanguageModuleWithoutAHostPathOrRoomForTheName) {
    const std::u16string fits = pathOfLength(250);           // + ".0409.mui" = 259 units
    const std::u16string tooLong = pathOfLength(251);        // 260: no room for the terminator
    const std::u16string fitsFive = pathOfLength(249);       // + ".12345.mui" = 259 units
    const std::u16string tooLongFive = pathOfLength(250);
    const std::vector<HostPathRow> rows = {
        {"name of 259 units", fits, std::nullopt, std::nullopt, fits + u".0409.mui"},
        {"name of 260 units", tooLong, std::nullopt, std::nullopt, std::nullopt},
        {"five-digit name of 259 units", fitsFive, stringValue(u"12345"), std::nullopt, fitsFive + u".12345.mui"},
        {"five-digit name of 260 units", tooLongFive, stringValue(u"12345"), std::nullopt, std::nullopt},
        {"host path cut to 259 units", pathOfLength(300), std::nullopt, std::nullopt, std::nullopt},
        {"empty host path", u"", std::nullopt, std::nullopt, std::nullopt},
        {"GetModuleFileNameW fails", kHostPath, std::nullopt,
         Outcome::returns(0).withLastError(ERROR_MOD_NOT_FOUND), std::nullopt},
        {"GetModuleFileNameW fails after writing a path", kHostPath, std::nullopt,
         Outcome::returns(0).withLastError(ERROR_INSUFFICIENT_BUFFER).afterRunning(), std::nullopt},
    };
    for (const HostPathRow& row : rows) {
        SCOPED_TRACE(row.label);
        Bench bench;
        Device device;
        device.hostPath = row.hostPath;
        device.sysLang = row.sysLang;
        if (row.requested) device.files = {*row.requested};
        prepare(bench, device);
        if (row.fileName) bench.fake().scriptNext("GetModuleFileNameW", *row.fileName);
        bench.load(VELMARK_DLL_PATH);

        if (row.requested) {
            EXPECT_EQ(libraryRequests(bench), std::vector<std::string>{narrow(*row.requested)});
            EXPECT_EQ(bench.fake().modules().loaded().size(), 1u);
        } else {
            EXPECT_TRUE(libraryRequests(bench).empty());
            EXPECT_EQ(bench.fake().countOf("wsprintfW"), 0u) << "no name is composed";
        }
        EXPECT_EQ(bench.fake().countOf("GetModuleFileNameW"), 1u);
        expectCleanAttach(bench, device);
    }
}

// ---------------------------------------------------------------------------
// Lifecycle: release at detach

TEST(LanguageSelection, LoadedModuleIsFreedOnceAtDetachAndKeptUntilThen) {
    Bench bench;
    Device device;
    device.files = {kHostPath + u".0409.mui"};
    loadOn(bench, device);
    ASSERT_EQ(bench.fake().modules().loads().size(), 1u);
    uint32_t language = bench.fake().modules().loads()[0].handle;
    ASSERT_NE(language, 0u);

    bench.fake().clearLog();
    bench.threadAttach();
    bench.threadDetach();
    EXPECT_TRUE(bench.fake().calls().empty()) << "thread attach and detach leave the language module alone";

    EXPECT_EQ(bench.unload(), 1u);
    std::vector<LoggedCall> frees = bench.fake().callsTo("FreeLibrary");
    ASSERT_EQ(frees.size(), 1u);
    EXPECT_EQ(frees[0].args[0], language);
    EXPECT_EQ(frees[0].result, 1u);
    EXPECT_TRUE(bench.fake().modules().loaded().empty());
    EXPECT_TRUE(bench.handles().open().empty()) << HandleLedger::describe(bench.handles().open());
}

TEST(LanguageSelection, NothingIsFreedWhenNoModuleWasLoaded) {
    struct Row {
        const char* label;
        Device device;
    };
    Device noKey;
    noKey.key = false;
    Device off;
    off.enable = dwordValue(0);
    Device fileAbsent;  // enabled, but no .mui file on the device
    for (const Row& row : {Row{"key absent", noKey}, Row{"switched off", off}, Row{"file absent", fileAbsent}}) {
        SCOPED_TRACE(row.label);
        Bench bench;
        loadOn(bench, row.device);
        EXPECT_EQ(bench.unload(), 1u);
        EXPECT_EQ(bench.fake().countOf("FreeLibrary"), 0u);
    }
}

// ---------------------------------------------------------------------------
// The six resource overrides

constexpr uint32_t kStringId = 7;
constexpr uint32_t kMenuId = 12;
constexpr uint32_t kBitmapId = 101;  // any name but the banner's 284
constexpr uint32_t kRawType = 10;    // RT_RCDATA
constexpr uint32_t kRawId = 33;
constexpr uint32_t kParentWindow = 0x0C00F004;
constexpr uint32_t kInitParam = 0xA11CE5ED;
constexpr uint32_t kLastErrorBefore = 0x5EED;

// One override: how a module is given the resource the call asks for (each
// module's copy tells itself apart through `variant`) and the arguments
// after the instance.
struct Override {
    const char* name;
    uint32_t failure;
    std::function<void(ModuleResources&, int variant)> provide;
    std::function<std::vector<uint32_t>(Bench&)> arguments;
};

// Names the row in gtest's messages.
void PrintTo(const Override& o, std::ostream* out) { *out << o.name; }

std::vector<Override> overrides() {
    auto dialogArgs = [](Bench& bench) {
        uint32_t dialogTemplate = bench.placeBytes({0xC0, 0x00, 0xC8, 0x80, 0, 0, 0, 0});
        uint32_t procedure = bench.allocateCode({0xE3A00000, 0xE12FFF1E});  // mov r0, #0; bx lr
        return std::vector<uint32_t>{dialogTemplate, kParentWindow, procedure, kInitParam};
    };
    return {
        {"LoadStringW", 0,
         [](ModuleResources& m, int variant) { m.string(kStringId, variant == 1 ? u"Sprache" : u"Host text"); },
         [](Bench& bench) {
             return std::vector<uint32_t>{kStringId, bench.allocate(2 * 64, Placement::atEnd(2)), 64};
         }},
        {"LoadMenuW", 0, [](ModuleResources& m, int) { m.menu(kMenuId); },
         [](Bench&) { return std::vector<uint32_t>{kMenuId}; }},
        {"LoadBitmapW", 0,
         [](ModuleResources& m, int variant) { m.bitmap(kBitmapId, Surface::filled(4 + variant, 3, 0x00FF0000)); },
         [](Bench&) { return std::vector<uint32_t>{kBitmapId}; }},
        {"LoadResource", 0,
         [](ModuleResources& m, int variant) {
             m.rawResource(kRawType, kRawId, {uint8_t(variant), 0xAB, 0xCD});
         },
         // A handle found in the host executable with the unredirected
         // FindResourceW, as the application gets it.
         [](Bench& bench) {
             ModuleResources& host = bench.fake().resources().of(bench.fake().modules().hostPath());
             auto key = std::make_pair(resourceKey(kRawType), resourceKey(kRawId));
             bool hostHasIt = host.raw.count(key) != 0;
             if (!hostHasIt) host.rawResource(kRawType, kRawId, {0});
             CallResult found = bench.callCoredll("FindResourceW", {0, kRawId, kRawType});
             if (!hostHasIt) host.raw.erase(key);
             EXPECT_NE(found.r0, 0u);
             return std::vector<uint32_t>{found.r0};
         }},
        {"CreateDialogIndirectParamW", 0,
         [](ModuleResources& m, int) { m.acceptAnyDialog = 0; }, dialogArgs},
        {"DialogBoxIndirectParamW", 0xFFFFFFFF,
         [](ModuleResources& m, int variant) { m.acceptAnyDialog = 40 + variant; }, dialogArgs},
    };
}

// Who holds the resource the call asks for.
struct Holders {
    bool host = false;
    bool language = false;
    bool plugin = false;
};

// A process with the host, a loaded plugin library and, when `withLanguage`,
// a language module, each holding the resource as `holders` says.
struct Process {
    Bench bench;
    uint32_t host = 0;
    uint32_t language = 0;
    uint32_t plugin = 0;

    Process(const Override& o, bool withLanguage, Holders holders) {
        const std::u16string languagePath = kHostPath + u".0409.mui";
        Device device;
        if (withLanguage) device.files = {languagePath};
        else device.enable = dwordValue(0);
        loadOn(bench, device);
        Resources& resources = bench.fake().resources();
        if (holders.host) o.provide(resources.of(kHostPath), 2);
        if (holders.language) o.provide(resources.of(languagePath), 1);
        if (holders.plugin) o.provide(resources.of(kPluginPath), 3);
        bench.fake().files().add(kPluginPath, {0x4D, 0x5A});
        plugin = bench.fake().modules().load(kPluginPath);
        host = bench.fake().modules().hostHandle();
        for (const LibraryLoad& load : bench.fake().modules().loads())
            if (load.path == languagePath) language = load.handle;
        if (withLanguage) {
            EXPECT_NE(language, 0u);
        }
    }

    // Calls the override as the application would, with a known last-error
    // value beforehand; returns its result and the arguments after the instance.
    std::pair<uint32_t, std::vector<uint32_t>> call(const Override& o, uint32_t instance) {
        std::vector<uint32_t> rest = o.arguments(bench);
        std::vector<uint32_t> args{instance};
        args.insert(args.end(), rest.begin(), rest.end());
        bench.fake().errors().set(kMainThread, kLastErrorBefore);
        bench.fake().clearLog();
        CallResult result = bench.tryCall(o.name, args);
        EXPECT_TRUE(result.ok()) << result.describe();
        return {result.r0, rest};
    }
};

// The override reached COREDLL's function once per instance in `instances`,
// in that order, with the caller's other arguments exactly; it returned what
// the last of those calls returned and left the last-error value as that
// call left it.
void expectCoredllCalls(Bench& bench, const Override& o, const std::vector<uint32_t>& instances,
                        const std::vector<uint32_t>& rest, uint32_t returned) {
    std::vector<LoggedCall> calls = bench.fake().callsTo(o.name);
    ASSERT_EQ(calls.size(), instances.size());
    for (size_t i = 0; i < calls.size(); ++i) {
        std::vector<uint32_t> expected{instances[i]};
        expected.insert(expected.end(), rest.begin(), rest.end());
        EXPECT_EQ(calls[i].args, expected) << "call " << i + 1;
        EXPECT_EQ(calls[i].depth, 1) << "made by the override itself";
    }
    EXPECT_EQ(returned, calls.back().result);
    EXPECT_EQ(bench.fake().errors().get(kMainThread), calls.back().lastError);
    EXPECT_EQ(bench.fake().countOf("SetLastError"), 0u);
}

class LanguageRedirection : public ::testing::TestWithParam<Override> {};

TEST_P(LanguageRedirection, WithoutLanguageModuleEachCallReachesCoredllOnceUnchanged) {
    const Override& o = GetParam();
    for (bool hostHasIt : {true, false}) {
        SCOPED_TRACE(hostHasIt ? "host has it" : "host lacks it");
        Process p(o, /*withLanguage=*/false, {hostHasIt, false, false});
        auto [returned, rest] = p.call(o, p.host);
        expectCoredllCalls(p.bench, o, {p.host}, rest, returned);
        EXPECT_EQ(returned == o.failure, !hostHasIt);
    }
}

TEST_P(LanguageRedirection, AnotherModulesRequestIsNeverRedirected) {
    const Override& o = GetParam();
    for (bool pluginHasIt : {true, false}) {
        SCOPED_TRACE(pluginHasIt ? "plugin has it" : "plugin lacks it");
        Process p(o, /*withLanguage=*/true, {true, true, pluginHasIt});
        auto [returned, rest] = p.call(o, p.plugin);
        expectCoredllCalls(p.bench, o, {p.plugin}, rest, returned);
        EXPECT_EQ(returned == o.failure, !pluginHasIt) << "the host's copy is not offered";
        EXPECT_EQ(p.bench.fake().countOf("GetModuleHandleW"), 1u);
    }
}

TEST_P(LanguageRedirection, LanguageModulesResultIsFinalAndTheHostIsNotAsked) {
    const Override& o = GetParam();
    Process p(o, /*withLanguage=*/true, {true, true, false});
    auto [returned, rest] = p.call(o, p.host);
    expectCoredllCalls(p.bench, o, {p.language}, rest, returned);
    EXPECT_NE(returned, o.failure);
    std::vector<LoggedCall> askedHost = p.bench.fake().callsTo("GetModuleHandleW");
    ASSERT_EQ(askedHost.size(), 1u);
    EXPECT_EQ(askedHost[0].args[0], 0u);
}

TEST_P(LanguageRedirection, FailureInTheLanguageModuleFallsBackToTheHost) {
    const Override& o = GetParam();
    for (bool hostHasIt : {true, false}) {
        SCOPED_TRACE(hostHasIt ? "host has it" : "host lacks it too");
        Process p(o, /*withLanguage=*/true, {hostHasIt, false, false});
        auto [returned, rest] = p.call(o, p.host);
        expectCoredllCalls(p.bench, o, {p.language, p.host}, rest, returned);
        EXPECT_EQ(p.bench.fake().callsTo(o.name)[0].result, o.failure);
        EXPECT_EQ(returned == o.failure, !hostHasIt);
    }
}

// The host's handle is asked for on every call, never remembered: when
// GetModuleHandleW(NULL) names another module, the same instance is no
// longer the host's.
TEST_P(LanguageRedirection, HostHandleIsAskedAfreshOnEveryCall) {
    const Override& o = GetParam();
    Process p(o, /*withLanguage=*/true, {true, true, false});
    for (int round = 0; round < 2; ++round) {
        auto [returned, rest] = p.call(o, p.host);
        expectCoredllCalls(p.bench, o, {p.language}, rest, returned);
        EXPECT_EQ(p.bench.fake().countOf("GetModuleHandleW"), 1u) << "round " << round;
    }
    p.bench.fake().scriptNext("GetModuleHandleW", Outcome::returns(p.plugin));
    auto [asHost, rest] = p.call(o, p.host);
    expectCoredllCalls(p.bench, o, {p.host}, rest, asHost);
    p.bench.fake().scriptNext("GetModuleHandleW", Outcome::returns(p.plugin));
    auto [asPlugin, pluginRest] = p.call(o, p.plugin);
    expectCoredllCalls(p.bench, o, {p.language}, pluginRest, asPlugin);
}

INSTANTIATE_TEST_SUITE_P(SixOverrides, LanguageRedirection, ::testing::ValuesIn(overrides()),
                         [](const ::testing::TestParamInfo<Override>& info) { return info.param.name; });

TEST(LanguageRedirection, FileAbsentSendsEveryRequestToTheHostOnce) {
    for (const Override& o : overrides()) {
        SCOPED_TRACE(o.name);
        Bench bench;
        Device device;  // enabled, SysLang absent, no .mui file
        loadOn(bench, device);
        EXPECT_EQ(libraryRequests(bench), std::vector<std::string>{narrow(kHostPath + u".0409.mui")});
        o.provide(bench.fake().resources().of(kHostPath), 2);
        uint32_t host = bench.fake().modules().hostHandle();
        std::vector<uint32_t> rest = o.arguments(bench);
        std::vector<uint32_t> args{host};
        args.insert(args.end(), rest.begin(), rest.end());
        bench.fake().clearLog();
        uint32_t returned = bench.call(o.name, args);
        expectCoredllCalls(bench, o, {host}, rest, returned);
        EXPECT_NE(returned, o.failure);
    }
}

TEST(LanguageRedirection, LoadStringWPutsTheLanguageModulesTextInTheCallersBuffer) {
    const Override loadString = overrides()[0];
    ASSERT_STREQ(loadString.name, "LoadStringW");
    struct Row {
        const char* label;
        std::optional<std::u16string> language;  // the language module's string
        std::u16string expected;
    };
    const std::vector<Row> rows = {
        {"present in both", u"Sprache", u"Sprache"},
        {"empty in the language module", u"", u"Host text"},
        {"absent from the language module", std::nullopt, u"Host text"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        Process p(loadString, /*withLanguage=*/true, {true, false, false});
        if (row.language) p.bench.fake().resources().of(kHostPath + u".0409.mui").string(kStringId, *row.language);
        auto [returned, rest] = p.call(loadString, p.host);
        EXPECT_EQ(returned, row.expected.size());
        EXPECT_EQ(narrow(p.bench.memory().readWString(rest[1], 64)), narrow(row.expected));
    }
}

// A modal dialog's own result is final unless it is -1, even 0; -1 (the
// dialog could not be made, or its procedure ended it so) runs it again
// with the host's instance.
TEST(LanguageRedirection, DialogBoxRunsAgainOnlyAfterMinusOne) {
    const Override dialogBox = overrides()[5];
    ASSERT_STREQ(dialogBox.name, "DialogBoxIndirectParamW");
    struct Row {
        const char* label;
        int32_t languageResult;
        bool runsAgain;
    };
    for (const Row& row : {Row{"0 is final", 0, false}, Row{"1 is final", 1, false},
                           Row{"-2 is final", -2, false}, Row{"-1 runs on the host", -1, true}}) {
        SCOPED_TRACE(row.label);
        Process p(dialogBox, /*withLanguage=*/true, {true, false, false});
        p.bench.fake().resources().of(kHostPath + u".0409.mui").acceptAnyDialog = row.languageResult;
        auto [returned, rest] = p.call(dialogBox, p.host);
        if (row.runsAgain) {
            expectCoredllCalls(p.bench, dialogBox, {p.language, p.host}, rest, returned);
            EXPECT_EQ(returned, 42u);
        } else {
            expectCoredllCalls(p.bench, dialogBox, {p.language}, rest, returned);
            EXPECT_EQ(returned, uint32_t(row.languageResult));
        }
        EXPECT_EQ(p.bench.fake().resources().dialogRuns().size(), row.runsAgain ? 2u : 1u);
    }
}

// What the application's thread reads from GetLastError after the call is
// what COREDLL's last call left, also when that value is not the one the
// fake would set by itself.
TEST(LanguageRedirection, LastErrorIsWhatCoredllLeft) {
    for (const Override& o : overrides()) {
        SCOPED_TRACE(o.name);
        Process p(o, /*withLanguage=*/true, {true, false, false});
        p.bench.fake().scriptNext(o.name, Outcome::returns(o.failure).withLastError(0x1111));
        p.bench.fake().scriptNext(o.name, Outcome::returns(0x2468).withLastError(0x2222));
        auto [returned, rest] = p.call(o, p.host);
        expectCoredllCalls(p.bench, o, {p.language, p.host}, rest, returned);
        EXPECT_EQ(returned, 0x2468u);
        EXPECT_EQ(p.bench.fake().errors().get(kMainThread), 0x2222u);

        p.bench.fake().scriptNext(o.name, Outcome::returns(0x1357).withLastError(0x3333));
        auto [hit, hitRest] = p.call(o, p.host);
        expectCoredllCalls(p.bench, o, {p.language}, hitRest, hit);
        EXPECT_EQ(p.bench.fake().errors().get(kMainThread), 0x3333u);
    }
}

}  // namespace
}  // namespace devicetest
