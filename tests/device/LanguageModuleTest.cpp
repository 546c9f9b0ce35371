// The language module from end to end on the real image: an application's
// resources compiled by llvm-rc, its texts extracted to a template, a
// translation written here, the module built by velmark, then the device
// with MUI switched on loading it at attach and serving the translated
// string, menu and dialog through the module's overrides.
#include "emulator/Bench.h"
#include "emulator/Utf16.h"
#include "formats/resources/ResourceFormats.h"
#include "tests/support/ResourceImage.h"
#include "velmark/lib/FileIo.h"
#include "velmark/lib/MuiFiles.h"

#include <gtest/gtest.h>

#include <unistd.h>

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

TEST(LanguageModuleDevice, ExtractTranslateBuildThenTheDeviceServesTheTranslation) {
    fs::path dir = fs::temp_directory_path() / ("velmark-mui-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::string res = (dir / "app.res").string(), exe = (dir / "app.exe").string();
    std::string rc = APP_RC;
    // llvm-rc also takes "/x" options, so a source path such as /check/... would
    // read as its /c option: "--" ends the options.
    std::string command = std::string(LLVM_RC) + " -no-preprocess -I " + rc.substr(0, rc.rfind('/')) + " -fo " + res + " -- " + rc;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::vector<uint8_t> app = mui::writeApplicationImage(mui::parseResFile(velmark::cli::readWholeFile(res)));
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

}  // namespace
}  // namespace devicetest
