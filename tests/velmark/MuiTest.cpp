// velmark mui on the rules that are easy to get wrong (string-block ids,
// template alignment, the offsets rule, PO errors) and on a real-sized
// application whose module must read back cleanly in llvm-readobj and pefile.
#include "formats/pe/Resources.h"
#include "formats/resources/ResourceFormats.h"
#include "tests/support/SampleApplication.h"
#include "tests/support/TestImage.h"
#include "tests/velmark/Subprocess.h"
#include "velmark/lib/MuiCatalog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include <unistd.h>

namespace {

using namespace velmark::testing;

TEST(MuiFormats, BlockIdsAndTemplateAlignment) {
    EXPECT_EQ(mui::stringBlockId(0), 1);
    EXPECT_EQ(mui::stringBlockId(15), 1);
    EXPECT_EQ(mui::stringBlockId(16), 2);
    EXPECT_EQ(mui::stringBlockId(65535), 4096);
    EXPECT_EQ(mui::firstStringOf(2), 16u);

    // Extended menu: an item's text ends at an odd halfword, so the popup's
    // help id and the children start on the next 4-byte boundary.
    mui::Menu menu;
    menu.extended = true;
    mui::MenuItem popup, child;
    popup.flags = 0x01;
    popup.text = u"Abc";  // 14 bytes of fields + 8 of text: padded to 24
    popup.helpId = 0x11223344;
    child.id = 7;
    child.text = u"x";
    popup.children = {child};
    menu.items = {popup};
    std::vector<uint8_t> bytes = mui::writeMenu(menu);
    ASSERT_EQ(bytes.size(), 8u + 24 + 4 + 20);
    EXPECT_EQ(bytes[8 + 24], 0x44);
    mui::Menu back = mui::parseMenu(bytes);
    ASSERT_EQ(back.items.size(), 1u);
    EXPECT_EQ(back.items[0].helpId, 0x11223344u);
    EXPECT_EQ(back.items[0].children.at(0).text, u"x");
    EXPECT_EQ(back.items[0].children.at(0).flags, 0x80);  // the last item is marked

    // Dialog items start on 4-byte boundaries after odd-length captions.
    for (bool extended : {false, true}) {
        mui::Dialog d;
        d.extended = extended;
        d.style = 0x40;
        d.caption = u"Odd";
        d.typeface = u"Tahoma";
        d.pointSize = 8;
        mui::DialogItem a, b;
        a.title.text = u"A";
        a.windowClass.ordinal = 0x80;
        a.creationData = {1, 2, 3};
        b.windowClass.text = u"EDIT";
        d.items = {a, b};
        std::vector<uint8_t> dialog = mui::writeDialog(d);
        mui::Dialog parsed = mui::parseDialog(dialog);
        EXPECT_EQ(mui::writeDialog(parsed), dialog);
        ASSERT_EQ(parsed.items.size(), 2u);
        EXPECT_EQ(parsed.items[0].creationData, (std::vector<uint8_t>{1, 2, 3}));
        EXPECT_EQ(parsed.items[1].windowClass.text, u"EDIT");
        dialog.resize(dialog.size() - 1);
        EXPECT_THROW(mui::parseDialog(dialog), mui::ResourceFormatError);
    }
}

void writeText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// A translation of every text of the sample: the text in capitals (as long as
// the original, so that dialogs fit their places), `grow` characters longer.
std::string translationOf(const std::string& exe, size_t grow) {
    pe::Image image = pe::readImage(readBytes(exe));
    velmark::cli::ApplicationResources app = velmark::cli::readApplicationResources(image, exe);
    std::string po = "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n";
    for (const velmark::cli::CatalogText& t : velmark::cli::catalogTexts(app)) {
        std::string text(t.text.begin(), t.text.end());  // the sample is ASCII without quotes
        std::string translated = text;
        for (char& c : translated) c = char(std::toupper(uint8_t(c)));
        auto quoted = [](std::string q) {
            for (size_t tab; (tab = q.find('\t')) != std::string::npos;) q.replace(tab, 1, "\\t");
            return q;
        };
        po += "\nmsgctxt \"" + t.context + "\"\nmsgid \"" + quoted(text) + "\"\nmsgstr \"" + quoted(translated) +
              std::string(grow, '+') + "\"\n";
    }
    return po;
}

TEST(MuiCommand, RealSizedApplicationRoundTripsThroughPoAndReadsBackInOtherTools) {
    ScratchDir dir;
    std::string exe = dir.path("APP.exe"), pot = dir.path("app.pot"), po = dir.path("de.po");
    writeBytes(exe, bench::sampleApplication());

    RunResult extract = runVelmark({"mui", "extract", exe, "-o", pot});
    ASSERT_EQ(extract.exitCode, 0) << extract.err;
    EXPECT_EQ(extract.out, pot + ": " + std::to_string(1000 + 5 * 3 * 6 + 20 * 11) + " texts\n");
    // The template is well-formed for gettext's own tools: it reads back.
    writeText(po, translationOf(exe, 0));
    RunResult build = runVelmark({"mui", "build", exe, po, "--syslang", "407"});
    ASSERT_EQ(build.exitCode, 0) << build.err;
    std::string module = exe + ".0407.mui";
    EXPECT_EQ(build.out, module + ": 1000 of 1000 strings, 5 menus and 20 dialogs translated\n");

    RunResult check = runVelmark({"mui", "check", exe, module});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    EXPECT_NE(check.out.find("strings: 1000 of 1000 translated\n"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("dialogs: 20 of 20 translated"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("all 91 resources of the host lie at their offsets"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("translated and reached: 1000 strings, 4 menus (#201, #202, #203, #204), 20 dialogs"),
              std::string::npos) << check.out;
    EXPECT_NE(check.out.find("translated but not reached: menu #200, because it is menu bar SHMENUBAR #200"),
              std::string::npos) << check.out;
    // The same resources in an application that loads none of them itself.
    TestImagePlan silent;
    silent.libraries.push_back({"COREDLL.dll", {TestImport::ordinalOf(33)}});
    silent.resources = bench::sampleResources();
    writeBytes(dir.path("silent.exe"), buildTestImage(silent));
    RunResult nothing = runVelmark({"mui", "check", dir.path("silent.exe"), module});
    EXPECT_EQ(nothing.exitCode, 1) << nothing.out << nothing.err;
    EXPECT_NE(nothing.out.find("the module changes nothing silent.exe shows"), std::string::npos) << nothing.out;
    writeBytes(dir.path("other.exe"), bench::sampleApplication({40, 2, 1}));
    RunResult other = runVelmark({"mui", "check", dir.path("other.exe"), module});
    EXPECT_EQ(other.exitCode, 1);
    EXPECT_NE(other.out.find(module + " was built for another application"), std::string::npos) << other.out;
    RunResult notModule = runVelmark({"mui", "check", exe, exe});
    EXPECT_EQ(notModule.exitCode, 2);
    EXPECT_NE(notModule.err.find(exe + ": not a language module: it is not a DLL"), std::string::npos) << notModule.err;

    RunResult readobj = runProgram({LLVM_READOBJ, "--coff-resources", module});
    EXPECT_EQ(readobj.exitCode, 0) << readobj.err;
    EXPECT_EQ(readobj.err, "");
    EXPECT_NE(readobj.out.find("Type: STRINGTABLE (ID 6)"), std::string::npos);
    // It starts at the section named .rsrc: the module's directory, every leaf in German, none of the host's.
    size_t german = 0;
    for (size_t at = 0; (at = readobj.out.find("Language: (ID 1031)", at)) != std::string::npos; ++at) ++german;
    EXPECT_EQ(german, 91u);
    EXPECT_FALSE(contains(readobj.out, "(ID 1033)"));
    const std::string script =
        "import pefile,sys\n"
        "pe = pefile.PE(sys.argv[1])\n"
        // A DLL without an entry point draws pefile's entry-point remarks, and
        // string tables its remark on zero bytes; nothing else may be said.
        "w = [x for x in pe.get_warnings() if 'AddressOfEntryPoint' not in x and not x.startswith('Byte 0x00')]\n"
        "assert not w, w\n"
        "n = 0\n"
        "for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:\n"
        "    for r in t.directory.entries:\n"
        "        for l in r.directory.entries:\n"
        "            pe.get_data(l.data.struct.OffsetToData, l.data.struct.Size); n += 1; assert l.id == 0x407\n"
        "print(n, hex(pe.FILE_HEADER.Machine), hex(pe.FILE_HEADER.Characteristics), pe.OPTIONAL_HEADER.AddressOfEntryPoint,\n"
        "      pe.OPTIONAL_HEADER.Subsystem, [s.Name.rstrip(b'\\0').decode() for s in pe.sections])\n";
    RunResult pefile = runProgram({PYTHON3, "-c", script, module});
    EXPECT_EQ(pefile.exitCode, 0) << pefile.err;
    EXPECT_EQ(pefile.out, "91 0x1c0 0x210e 0 9 ['.bss', '.rdata', '.rsrc']\n");

    // LoadResource's offsets: a module whose raw data moved is reported.
    std::vector<uint8_t> broken = readBytes(module);
    uint32_t rcdata = 0;
    for (const pe::Resource& r : pe::readResources(pe::readImage(readBytes(exe))))
        if (r.type.isId() && r.type.id == 10) rcdata = r.dataRva;
    const pe::Section& rsrc = pe::readImage(broken).sections.at(1);
    broken.at(rsrc.rawOffset + (rcdata - rsrc.virtualAddress) + 5) ^= 0xFF;
    writeBytes(dir.path("broken.mui"), broken);
    RunResult brokenCheck = runVelmark({"mui", "check", exe, dir.path("broken.mui")});
    EXPECT_EQ(brokenCheck.exitCode, 1);
    EXPECT_NE(brokenCheck.out.find("RCDATA #7 (RVA "), std::string::npos) << brokenCheck.out;
    EXPECT_NE(brokenCheck.out.find("the module holds other bytes there"), std::string::npos) << brokenCheck.out;
}

TEST(MuiCommand, RefusesWhatCannotBeBuiltNamingFileAndPlace) {
    ScratchDir dir;
    std::string exe = dir.path("APP.exe"), po = dir.path("de.po");
    writeBytes(exe, bench::sampleApplication({40, 2, 1}));

    // A dialog translated longer than its place in the host stays untranslated,
    // with a warning; --strict makes it an error.
    writeText(po, translationOf(exe, 40));
    RunResult big = runVelmark({"mui", "build", exe, po, "--syslang", "407", "-o", dir.path("x.mui"), "--strict"});
    EXPECT_EQ(big.exitCode, 1);
    EXPECT_NE(big.err.find("2 translated dialogs outgrow their places (--strict); nothing written"), std::string::npos) << big.err;
    EXPECT_FALSE(fileExists(dir.path("x.mui")));
    big = runVelmark({"mui", "build", exe, po, "--syslang", "407", "-o", dir.path("x.mui")});
    EXPECT_EQ(big.exitCode, 0);
    EXPECT_NE(big.err.find("warning: dialog #300 stays untranslated: its texts hold 708 characters (UTF-16 units), "
                           "its place of 856 bytes at most 268; cut 440 from dialog #300 caption, dialog #300 item 1"),
              std::string::npos) << big.err;
    EXPECT_NE(big.err.find(exe + " was not laid out with room: its dialogs cannot grow"), std::string::npos) << big.err;
    EXPECT_NE(big.out.find("40 of 40 strings, 1 menus and 0 dialogs translated"), std::string::npos) << big.out;

    writeText(po, "msgid \"\"\nmsgstr \"\"\n\nmsgctxt \"string 100\"\nmsgid \"a\nmsgstr \"b\"\n");
    RunResult syntax = runVelmark({"mui", "build", exe, po, "--syslang", "407"});
    EXPECT_EQ(syntax.exitCode, 2);
    EXPECT_NE(syntax.err.find(po + ":6: end-of-line within string"), std::string::npos) << syntax.err;  // as msgfmt says

    RunResult usage = runVelmark({"mui", "build", exe, po, "--syslang", "german"});
    EXPECT_EQ(usage.exitCode, 2) << usage.err;
    RunResult noImage = runVelmark({"mui", "extract", po, "-o", dir.path("x.pot")});
    EXPECT_EQ(noImage.exitCode, 2);
    EXPECT_NE(noImage.err.find(po + ": DOS header"), std::string::npos) << noImage.err;
}

// The sample with two traps a real application holds: a wsprintf template
// (string 100) and a dialog (#301) whose data entry shares #300's template.
std::vector<uint8_t> applicationWithTraps() {
    std::vector<mui::ResourceData> resources = bench::sampleResources({40, 2, 1});
    for (mui::ResourceData& r : resources)
        if (r.type.id == mui::kRtString && r.name.id == mui::stringBlockId(100)) {
            mui::StringBlock block = mui::parseStringBlock(r.bytes);
            block[100 % mui::kStringsPerBlock] = u"%d/%s done";
            r.bytes = mui::writeStringBlock(block);
        }
    std::vector<uint8_t> image = mui::writeApplicationImage(resources);
    std::map<uint16_t, pe::Resource> dialogs;
    for (const pe::Resource& r : pe::readResources(pe::readImage(image)))
        if (r.type.id == mui::kRtDialog) dialogs[r.name.id] = r;
    const uint32_t entry[2] = {dialogs[301].dataRva, dialogs[301].size};
    auto at = std::search(image.begin(), image.end(), (const uint8_t*)entry, (const uint8_t*)entry + 8);
    std::memcpy(&*at, &dialogs[300].dataRva, 4);
    std::memcpy(&*at + 4, &dialogs[300].size, 4);
    return image;
}

std::string po(const std::string& entries, const std::string& charset = "UTF-8") {
    return "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=" + charset + "\\n\"\n" + entries;
}

// Its msgctxt on the fourth line of the entries after the header, its msgstr on the sixth.
std::string entry(const std::string& context, const std::string& msgid, const std::string& msgstr) {
    return "\nmsgctxt \"" + context + "\"\nmsgid \"" + msgid + "\"\nmsgstr \"" + msgstr + "\"\n";
}

TEST(MuiCommand, HostileTranslationsGetTheirSoundOutcome) {
    ScratchDir dir;
    const std::string exe = dir.path("APP.exe"), de = dir.path("de.po"), out = dir.path("x.mui");
    const std::vector<uint8_t> original = applicationWithTraps();
    writeBytes(exe, original);
    writeText(de, "");
    ASSERT_EQ(::link(de.c_str(), dir.path("linked.po").c_str()), 0);
    const std::string text101 = "Message number 101 of the sample", good = entry("string 101", text101, "Nachricht 101");
    const std::vector<std::string> toOut = {"--syslang", "407", "-o", out};
    struct Case {
        const char* what;
        std::string po;
        std::vector<std::string> options;
        int exitCode;
        std::string said;
        std::string poFile = "de.po";
    };
    const Case cases[] = {
        {"a stale msgid", po(entry("string 102", "Totally different source text", "X") + good), toOut, 0,
         "de.po: warning: 1 entry not used, stale (the msgid is no longer the text in " + exe +
             "): \"string 102\" (line 4)"},
        {"unknown places", po(entry("string 99999", "a", "b") + "\nmsgid \"Message number 103 of the sample\"\nmsgstr \"c\"\n" + good),
         toOut, 0, "2 entries not used, naming no place in " + exe + ": \"string 99999\" (line 4), line 8 (no msgctxt)"},
        {"nothing matched", po(entry("string 99999", "a", "b")), toOut, 1, "de.po: translates nothing of " + exe},
        {"a repeated msgctxt", po(good + entry("string 101", "Other", "Y")), toOut, 2,
         "de.po:8: msgctxt \"string 101\" repeats the context of line 4"},
        {"a broken directive", po(entry("string 100", "%d/%s done", "%D/%S fertig") + good), toOut, 0,
         "de.po:4: warning: \"string 100\" left untranslated: 'msgstr' is not a valid C format string"},
        {"swapped directives", po(entry("string 100", "%d/%s done", "%s/%d fertig") + good), toOut, 0,
         "for argument 1 are not the same"},
        {"positional directives", po(entry("string 100", "%d/%s done", "%2$s/%1$d fertig") + good), toOut, 0,
         "as wsprintfW reads them (none) differ from the source's (%d %s)"},
        {"a byte-order mark", "\xEF\xBB\xBF" + po(good), toOut, 0, ""},
        {"bytes not of the charset", po(entry("string 101", text101, "Gr\xFC\xDF" "e")), toOut, 2,
         "de.po:6: invalid multibyte sequence"},
        {"a NUL", po(entry("string 101", text101, "Nach\\0richt")), toOut, 2,
         "de.po:6: the translation of \"string 101\" holds a NUL character"},
        {"a terminal control", po(entry("string 101", text101, "\\x1b[31mrot")), toOut, 2,
         "de.po:6: the translation of \"string 101\" holds the control character U+001B, which its source text"},
        {"a string too long", po(entry("string 101", text101, std::string(70000, 'x'))), toOut, 2,
         "de.po:4: the translation of \"string 101\" has 70000 characters; its place holds at most 65535"},
        {"one template, two translations", po(entry("dialog #300 caption", "Dialog 0", "A") + entry("dialog #301 caption", "Dialog 0", "B")),
         toOut, 2, "de.po:8: \"dialog #301 caption\" and \"dialog #300 caption\" (line 4) are one template in " + exe},
        {"SysLang de", po(good), {"--syslang", "de", "-o", out}, 2, "SysLang is the language number"},
        {"SysLang ffff", po(good), {"--syslang", "ffff", "-o", out}, 2, "in decimal digits"},
        {"SysLang 0x407", po(good), {"--syslang", "0x407", "-o", out}, 2, "in decimal digits"},
        {"SysLang 10000", po(good), {"--syslang", "10000", "-o", out}, 2, "at most four digits"},
        {"the application as output", po(good), {"--syslang", "407", "-o", exe}, 2,
         exe + ": is the same file as the input " + exe},
        {"the translation as output", po(good), {"--syslang", "407", "-o", dir.path("linked.po")}, 2,
         dir.path("linked.po") + ": is the same file as the input " + de},
        {"a PO that is not there", po(good), toOut, 2, "nothere.po: cannot be read: No such file or directory", "nothere.po"},
    };
    for (const Case& c : cases) {
        writeText(de, c.po);
        std::vector<std::string> args = {"mui", "build", exe, dir.path(c.poFile)};
        args.insert(args.end(), c.options.begin(), c.options.end());
        RunResult r = runVelmark(args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.what << ": " << r.err;
        EXPECT_TRUE(contains(r.err, c.said)) << c.what << ": " << r.err;
        EXPECT_EQ(fileExists(out), c.exitCode == 0) << c.what;
        std::filesystem::remove(out);
    }
    std::filesystem::create_symlink(exe, dir.path("link.exe"));
    EXPECT_EQ(runVelmark({"mui", "extract", exe, "-o", dir.path("link.exe")}).exitCode, 2);
    EXPECT_EQ(readBytes(exe), original);

    // SysLang 0 is what an empty registry text reads as: the module the device then looks for.
    writeText(de, po(good));
    RunResult zero = runVelmark({"mui", "build", exe, de, "--syslang", "0"});
    EXPECT_EQ(zero.exitCode, 0) << zero.err;
    EXPECT_TRUE(fileExists(exe + ".0000.mui"));

    // ISO-8859-1 and UTF-8 give the same module.
    const std::string umlauts = entry("string 101", text101, "Grüße");
    writeText(de, po(umlauts));
    ASSERT_EQ(runVelmark({"mui", "build", exe, de, "--syslang", "407", "-o", dir.path("utf8.mui")}).exitCode, 0);
    writeText(de, po(entry("string 101", text101, "Gr\xFC\xDF" "e"), "ISO-8859-1"));
    RunResult latin1 = runVelmark({"mui", "build", exe, de, "--syslang", "407", "-o", out});
    ASSERT_EQ(latin1.exitCode, 0) << latin1.err;
    EXPECT_EQ(readBytes(out), readBytes(dir.path("utf8.mui")));

    // The template marks the wsprintf text c-format, so msgfmt -c catches its broken translation.
    ASSERT_EQ(runVelmark({"mui", "extract", exe, "-o", dir.path("app.pot")}).exitCode, 0);
    std::vector<uint8_t> pot = readBytes(dir.path("app.pot"));
    std::string translated(pot.begin(), pot.end());
    size_t at = translated.find("#, c-format\nmsgctxt \"string 100\"\nmsgid \"%d/%s done\"\nmsgstr \"\"");
    ASSERT_NE(at, std::string::npos) << translated.substr(0, 2000);
    translated.replace(translated.find("msgstr \"\"", at), 9, "msgstr \"%D/%S fertig\"");
    writeText(de, translated);
    RunResult msgfmt = runProgram({MSGFMT, "-c", "-o", "/dev/null", de});
    EXPECT_NE(msgfmt.exitCode, 0);
    EXPECT_TRUE(contains(msgfmt.err, "'msgstr' is not a valid C format string")) << msgfmt.err;
    EXPECT_TRUE(contains(translated, "#. dialog #300, caption; also dialog #301 (one template)")) << translated.substr(0, 3000);
    EXPECT_FALSE(contains(translated, "msgctxt \"dialog #301"));
}

}  // namespace
