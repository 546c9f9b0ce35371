// The language module from end to end on the real image: an application's
// resources compiled by llvm-rc, its texts extracted to a template, a
// translation written here, the module built by velmark, then the device
// with MUI switched on loading it at attach and serving the translated
// string, menu and dialog through the module's overrides: to the
// application itself, and to a library of the application routed through
// VELMARK into an application laid out with room for longer dialogs.
#include "emulator/Bench.h"
#include "emulator/Utf16.h"
#include "formats/resources/ResourceFormats.h"
#include "tests/support/ResourceImage.h"
#include "tests/support/TestImage.h"
#include "velmark/lib/ApplicationRetarget.h"
#include "velmark/lib/FileIo.h"
#include "velmark/lib/MuiFiles.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace devicetest {
namespace {

using namespace bench;
namespace fs = std::filesystem;

// A German translation as a translator's tool would save it: string 17 left
// empty, string 2 still fuzzy; "Ready" twice, translated apart.
const char* const kGermanPo = R"(msgid ""
msgstr ""
"Content-Type: text/plain; charset=UTF-8\n"

msgctxt "string 1"
msgid "Ready"
msgstr "Bereit"

#, fuzzy
msgctxt "string 2"
msgid "Save changes?"
msgstr "Änderungen speichern?"

msgctxt "string 17"
msgid "Untranslated"
msgstr ""

msgctxt "string 40"
msgid "Ready"
msgstr "Fertig"

msgctxt "menu #200 item 1"
msgid "&File"
msgstr "&Datei"

msgctxt "menu #200 item 1.1"
msgid "&Open"
msgstr "Ö&ffnen"

msgctxt "dialog #300 caption"
msgid "About"
msgstr "Über"

msgctxt "dialog #300 item 2"
msgid "OK"
msgstr "Gut"
)";

// mui/app.rc compiled by llvm-rc into `dir`.
std::vector<mui::ResourceData> compiledResources(const fs::path& dir) {
    std::string res = (dir / "app.res").string(), rc = APP_RC;
    // llvm-rc also takes "/x" options, so a source path such as /check/... would
    // read as its /c option: "--" ends the options.
    std::string command = std::string(LLVM_RC) + " -no-preprocess -I " + rc.substr(0, rc.rfind('/')) + " -fo " + res + " -- " + rc;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return mui::parseResFile(velmark::cli::readWholeFile(res));
}

TEST(LanguageModuleDevice, ExtractTranslateBuildThenTheDeviceServesTheTranslation) {
    fs::path dir = fs::temp_directory_path() / ("velmark-mui-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::string exe = (dir / "app.exe").string();
    std::vector<uint8_t> app = mui::writeApplicationImage(compiledResources(dir));
    velmark::cli::writeWholeFile(exe, app);

    // Extract: every place its own entry, equal texts included.
    std::string pot = (dir / "app.pot").string();
    EXPECT_EQ(velmark::cli::extractTexts(exe, pot), 16u);
    std::vector<uint8_t> potBytes = velmark::cli::readWholeFile(pot);
    std::string potText(potBytes.begin(), potBytes.end());
    for (const char* context : {"string 1", "string 40", "menu #200 item 1.3", "menu #201 item 1.1",
                                "dialog #301 caption", "dialog #301 item 2"})
        EXPECT_NE(potText.find("msgctxt \"" + std::string(context) + "\""), std::string::npos) << context;
    EXPECT_EQ(potText.find("item 1.2\""), std::string::npos) << "a separator has no text to translate";

    std::string po = (dir / "de.po").string();
    std::ofstream(po) << kGermanPo;
    velmark::cli::BuiltModule built = velmark::cli::buildModule(exe, po, "407", std::nullopt, VELMARK_DLL_PATH);
    EXPECT_EQ(built.path, exe + ".0407.mui");
    EXPECT_EQ(built.module.stringsTranslated, 2u);
    EXPECT_TRUE(velmark::cli::checkModule(exe, built.path).problems.empty());

    // The device: MUI on with SysLang 407, the application and its module in \Windows.
    Bench bench;
    FakeCoredll& fake = bench.fake();
    fake.registry().addKey(u"MUI");
    fake.registry().setDword(u"MUI", u"Enable", 1);
    fake.registry().setString(u"MUI", u"SysLang", u"407");
    fake.files().add(u"\\Windows\\app.exe", app);
    fake.files().add(u"\\Windows\\app.exe.0407.mui", velmark::cli::readWholeFile(built.path));
    fake.resources().mapHostImage(pe::readImage(app));
    bench.load(VELMARK_DLL_PATH);
    ASSERT_EQ(fake.modules().loads().size(), 1u);
    uint32_t languageModule = fake.modules().loads()[0].handle;
    const ImageResources* moduleImage = fake.resources().imageOf(languageModule);
    ASSERT_NE(moduleImage, nullptr) << "the language module was not loaded as an image";
    const uint32_t host = fake.modules().hostHandle();

    uint32_t buffer = bench.allocate(128);
    auto loadString = [&](uint32_t id) {
        uint32_t length = bench.call("LoadStringW", {host, id, buffer, 64});
        return length ? bench.memory().readWString(buffer) : u"";
    };
    EXPECT_EQ(loadString(1), u"Bereit");
    EXPECT_EQ(loadString(40), u"Fertig");
    EXPECT_EQ(loadString(17), u"Untranslated");  // empty in the module: the host's text
    EXPECT_EQ(loadString(2), u"Save changes?");  // fuzzy: not used

    uint32_t menu = bench.call("LoadMenuW", {host, 200});
    const mui::Menu* loaded = fake.resources().loadedMenu(menu);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->items[0].text, u"&Datei");
    EXPECT_EQ(loaded->items[0].children[0].text, u"Ö&ffnen");
    EXPECT_EQ(loaded->items[0].children[2].text, u"E&xit");  // untranslated item keeps its text

    // The dialog: found in the host, loaded through the module at the host's offset.
    uint32_t found = bench.call("FindResourceW", {host, 300, mui::kRtDialog});
    ASSERT_NE(found, 0u);
    uint32_t templ = bench.call("LoadResource", {host, found});
    ASSERT_GE(templ, moduleImage->base);
    EXPECT_LT(templ, moduleImage->base + moduleImage->loaded->size);
    bench.call("CreateDialogIndirectParamW", {host, templ, 0, 0, 0});
    const DialogRun& run = fake.resources().dialogRuns().back();
    EXPECT_EQ(run.instance, languageModule);
    EXPECT_EQ(run.templateAddress, templ);
    mui::Dialog dialog = mui::parseDialog(bench.memory().readBytes(templ, 256));
    EXPECT_EQ(dialog.caption, u"Über");
    EXPECT_EQ(dialog.items[1].title.text, u"Gut");
    EXPECT_EQ(dialog.items[0].title.text, u"Version 1.0");

    // The untranslated bitmap, from the module's image (its copy of the host's).
    uint32_t bitmap = bench.call("LoadBitmapW", {host, 400});
    ASSERT_NE(fake.gdi().surfaceOf(bitmap), nullptr);
    EXPECT_EQ(fake.gdi().surfaceOf(bitmap)->at(1, 0), 0x00FF00u);
    EXPECT_EQ(fake.gdi().surfaceOf(bitmap)->at(0, 1), 0xFF0000u);
    EXPECT_EQ(fake.callsTo("LoadBitmapW").at(0).args[0], languageModule);

    // Raw data reached the same way reads the host's bytes in the module.
    uint32_t raw = bench.call("LoadResource", {host, bench.call("FindResourceW", {host, 7, 10})});
    EXPECT_EQ(bench.memory().readAString(raw), "raw bytes");
    fs::remove_all(dir);
}

// Every text 60 % longer, as translations often are.
std::u16string longer(const std::u16string& text) { return text + std::u16string((text.size() * 3 + 4) / 5, u'+'); }

TEST(LanguageModuleDevice, ARoutedLibraryGetsTranslationsLongerThanTheHostsDialogs) {
    using namespace velmark::cli;
    using velmark::testing::TestImport;
    fs::path dir = fs::temp_directory_path() / ("velmark-routed-" + std::to_string(::getpid()));
    fs::create_directories(dir / "lib");
    // The application's own library loads its resources with the application's instance.
    velmark::testing::TestImagePlan library, app;
    library.exportsThunksAs = "APPLIB.dll";
    library.libraries.push_back({"COREDLL.dll", {}});
    for (const char* f : {"FindResourceW", "LoadResource", "CreateDialogIndirectParamW", "LoadStringW", "LoadMenuW"})
        library.libraries[0].imports.push_back(TestImport::named(f));
    app.libraries = {{"COREDLL.dll", {TestImport::ordinalOf(33)}}, {"APPLIB.dll", {TestImport::named("LoadStringW")}}};
    app.resources = compiledResources(dir);
    const std::vector<uint8_t> original = velmark::testing::buildTestImage(app), libraryFile = buildTestImage(library);
    const std::string exe = (dir / "app.exe").string(), libraryPath = (dir / "lib" / "APPLIB.dll").string();
    writeWholeFile(exe, original);
    writeWholeFile(libraryPath, libraryFile);

    ApplicationRetarget routed = retargetApplication({exe, original, {{"APPLIB.dll", libraryPath}}, 100, false},
                                                     bench::Bench::coredllTable());
    ASSERT_EQ(routed.copies.size(), 1u);
    EXPECT_EQ(routed.copies[0].privateName, "NCCYVO.dll");
    fs::create_directories(dir / "retargeted");
    const std::string target = (dir / "retargeted" / "app.exe").string();
    writeWholeFile(target, routed.application.file);
    writeWholeFile((dir / "retargeted" / "NCCYVO.dll").string(), routed.copies[0].file);
    EXPECT_EQ(retargetApplication({target, routed.application.file, {}, std::nullopt, true},
                                  bench::Bench::coredllTable()).application.file, original);

    const std::string pot = (dir / "app.pot").string(), po = (dir / "de.po").string();
    extractTexts(target, pot);
    std::vector<uint8_t> potBytes = readWholeFile(pot);
    const std::string potText(potBytes.begin(), potBytes.end());
    EXPECT_NE(potText.find("#. dialog #300: all its texts together at most 36 characters (UTF-16 units; now 18)"), std::string::npos) << potText;
    std::ofstream out(po);
    out << "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n";
    pe::Image host = pe::readImage(routed.application.file);
    for (const CatalogText& t : catalogTexts(readApplicationResources(host, target)))
        out << "\nmsgctxt \"" << t.context << "\"\nmsgid \"" << narrow(t.text) << "\"\nmsgstr \""
            << narrow(longer(t.text)) << "\"\n";
    out.close();
    BuiltModule built = buildModule(target, po, "407", std::nullopt, VELMARK_DLL_PATH);
    EXPECT_EQ(built.warnings, std::vector<std::string>{});
    EXPECT_EQ(built.module.dialogsTranslated, 2u);
    ModuleCheck check = checkModule(target, built.path);
    EXPECT_TRUE(check.problems.empty() && !check.changesNothing);
    EXPECT_NE(std::find(check.lines.begin(), check.lines.end(),
                        "translated and reached: 4 strings, 2 menus (#200, #201), 2 dialogs (#300, #301)"),
              check.lines.end());

    Bench bench;
    FakeCoredll& fake = bench.fake();
    fake.registry().setDword(u"MUI", u"Enable", 1);
    fake.registry().setString(u"MUI", u"SysLang", u"407");
    fake.files().add(u"\\Windows\\app.exe.0407.mui", readWholeFile(built.path));
    fake.resources().mapHostImage(host);
    bench.load(VELMARK_DLL_PATH);
    const uint32_t languageModule = fake.modules().loads().at(0).handle, hostHandle = fake.modules().hostHandle();
    uint32_t buffer = bench.allocate(128);
    // Through the private copy, the translations; through the system's library, the host's texts.
    for (auto [file, translated] : {std::pair{routed.copies[0].file, true}, std::pair{libraryFile, false}}) {
        const LoadedImage& loaded = bench.loadLibrary(pe::readImage(file), translated ? 0x04000000 : 0x05000000);
        std::map<std::string, uint32_t> calls = exportsByName(bench.memory(), loaded);
        auto call = [&](const char* name, const std::vector<uint32_t>& args) {
            CallResult result = bench.callAddress(calls.at(name), args);
            EXPECT_TRUE(result.ok()) << name;
            return result.r0;
        };
        auto shown = [&](const std::u16string& text) { return translated ? longer(text) : text; };
        ASSERT_NE(call("LoadStringW", {hostHandle, 40, buffer, 64}), 0u);
        EXPECT_EQ(bench.memory().readWString(buffer), shown(u"Ready"));
        const mui::Menu* menu = fake.resources().loadedMenu(call("LoadMenuW", {hostHandle, 200}));
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->items[0].children[2].text, shown(u"E&xit"));
        for (uint32_t id : {300u, 301u}) {
            uint32_t templ = call("LoadResource", {hostHandle, call("FindResourceW", {hostHandle, id, mui::kRtDialog})});
            call("CreateDialogIndirectParamW", {hostHandle, templ, 0, 0, 0});
            EXPECT_EQ(fake.resources().dialogRuns().back().instance, translated ? languageModule : hostHandle);
            mui::Dialog dialog = mui::parseDialog(bench.memory().readBytes(templ, 512));
            EXPECT_EQ(dialog.caption, shown(id == 300 ? u"About" : u"Options"));
            EXPECT_EQ(dialog.items[1].title.text, shown(id == 300 ? u"OK" : u"Cancel"));
        }
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace devicetest
