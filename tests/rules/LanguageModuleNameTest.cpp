#include "language/languageModuleName.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The composed name, or "none" when the rule names no module.
std::u16string nameFor(const std::u16string& path, const char16_t* sysLang) {
    char16_t name[kPathCapacity + 8];
    std::fill(std::begin(name), std::end(name), u'#');
    if (!composeLanguageModuleName(path.c_str(), sysLang, name)) return u"none";
    return name;
}

TEST(LanguageModuleName, SysLangTextsGiveTheirLanguagePart) {
    const std::u16string app = u"\\Windows\\app.exe";
    EXPECT_EQ(nameFor(app, nullptr), app + u".0409.mui");
    EXPECT_EQ(nameFor(app, u"409"), app + u".0409.mui");
    EXPECT_EQ(nameFor(app, u"407"), app + u".0407.mui");
    EXPECT_EQ(nameFor(app, u"0411"), app + u".0411.mui");
    EXPECT_EQ(nameFor(app, u"1033"), app + u".1033.mui");
    EXPECT_EQ(nameFor(app, u"40C"), app + u".0040.mui");
    EXPECT_EQ(nameFor(app, u""), app + u".0000.mui");
    EXPECT_EQ(nameFor(app, u"123456"), app + u".123456.mui");
}

TEST(LanguageModuleName, NumberIsReadLikeWtol) {
    EXPECT_EQ(languageNumber(u"  \t42x"), 42);
    EXPECT_EQ(languageNumber(u"+7"), 7);
    EXPECT_EQ(languageNumber(u"-7"), -7);
    EXPECT_EQ(languageNumber(u"x7"), 0);
    EXPECT_EQ(nameFor(u"a", u"-7"), u"a.-007.mui");
}

TEST(LanguageModuleName, NameMustFitThePathBufferWithItsTerminator) {
    // ".0409.mui" is 9 units: a 250-unit path makes 259, the largest that fits.
    std::u16string fits(250, u'p'), tooLong(251, u'p');
    EXPECT_EQ(nameFor(fits, nullptr).size(), 259u);
    EXPECT_EQ(nameFor(tooLong, nullptr), u"none");
    EXPECT_EQ(nameFor(std::u16string(245, u'p'), u"1234567890"), u"none");
    EXPECT_EQ(nameFor(u"", nullptr), u"none");
}

TEST(LanguageModuleName, WritesNothingWhenNoNameIsMade) {
    char16_t name[4] = {u'#', u'#', u'#', u'#'};
    std::u16string tooLong(300, u'p');
    EXPECT_FALSE(composeLanguageModuleName(tooLong.c_str(), nullptr, name));
    EXPECT_EQ(name[0], u'#');
}

}  // namespace
