#include "language/languageModuleName.h"

const Utf16 kDefaultSysLang[4] = {'4', '0', '9', 0};

namespace {

const Utf16 kSuffix[] = {'.', 'm', 'u', 'i'};

bool isSpace(Utf16 c) { return c == ' ' || (c >= 9 && c <= 13); }

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

int32_t languageNumber(const Utf16* text) {
    while (isSpace(*text)) ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    uint32_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) value = value * 10 + uint32_t(*text - '0');
    return int32_t(negative ? 0u - value : value);
}

unsigned languageModuleNameLength(unsigned hostPathLength, int32_t number) {
    return hostPathLength + 1 + printedWidth(number) + sizeof kSuffix / sizeof kSuffix[0];
}

bool languageModuleNameFits(unsigned hostPathLength, int32_t number) {
    return hostPathLength > 0 && hostPathLength < kPathCapacity &&
           languageModuleNameLength(hostPathLength, number) < kPathCapacity;
}

bool composeLanguageModuleName(const Utf16* hostPath, const Utf16* sysLang, Utf16* name) {
    unsigned pathLength = boundedLength(hostPath, kPathCapacity);
    int32_t number = languageNumber(sysLang ? sysLang : kDefaultSysLang);
    if (!languageModuleNameFits(pathLength, number)) return false;

    unsigned at = 0;
    for (unsigned i = 0; i < pathLength; ++i) name[at++] = hostPath[i];
    name[at++] = '.';
    if (number < 0) name[at++] = '-';
    unsigned width = printedWidth(number) - (number < 0 ? 1 : 0);
    uint32_t magnitude = number < 0 ? 0u - uint32_t(number) : uint32_t(number);
    for (unsigned i = width; i-- > 0; magnitude /= 10) name[at + i] = Utf16('0' + magnitude % 10);
    at += width;
    for (Utf16 c : kSuffix) name[at++] = c;
    name[at] = 0;
    return true;
}
