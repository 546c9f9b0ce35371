// Whether the language module's name fits the path buffer; the names
// themselves are checked on the emulated device (tests/velmark/MuiNameTest).
#include "module/language/languageModuleName.h"

#include <gtest/gtest.h>

namespace {

TEST(LanguageModuleName, NameMustFitThePathBufferWithItsTerminator) {
    // ".0409.mui" is 9 units: a 250-unit path makes 259, the largest that fits.
    EXPECT_EQ(languageModuleNameLength(250, 409), 259u);
    EXPECT_TRUE(languageModuleNameFits(250, 409));
    EXPECT_FALSE(languageModuleNameFits(251, 409));
    EXPECT_FALSE(languageModuleNameFits(245, 1234567890));
    EXPECT_FALSE(languageModuleNameFits(0, 409));
    EXPECT_FALSE(languageModuleNameFits(300, 0));
    // "%04d" widens to the sign and every digit: "a.-007.mui", "a.123456.mui".
    EXPECT_EQ(languageModuleNameLength(1, -7), 10u);
    EXPECT_EQ(languageModuleNameLength(1, 123456), 12u);
}

}  // namespace
