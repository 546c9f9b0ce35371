#include "module/language/languageModuleName.h"

const Utf16 kDefaultSysLang[4] = {'4', '0', '9', 0};

namespace {

const Utf16 kSuffix[] = {'.', 'm', 'u', 'i'};

// Digits "%04d" prints for the number, its sign included.
unsigned printedWidth(int32_t number) {
    uint32_t magnitude = number < 0 ? 0u - uint32_t(number) : uint32_t(number);
    unsigned digits = 1;
    while (magnitude >= 10) {
        magnitude /= 10;
        ++digits;
    }
    unsigned width = digits + (number < 0 ? 1 : 0);
    return width < 4 ? 4 : width;
}

}  // namespace

unsigned languageModuleNameLength(unsigned hostPathLength, int32_t number) {
    return hostPathLength + 1 + printedWidth(number) + sizeof kSuffix / sizeof kSuffix[0];
}

bool languageModuleNameFits(unsigned hostPathLength, int32_t number) {
    return hostPathLength > 0 && hostPathLength < kPathCapacity &&
           languageModuleNameLength(hostPathLength, number) < kPathCapacity;
}
