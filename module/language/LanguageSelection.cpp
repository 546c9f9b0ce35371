#include "module/language/LanguageSelection.h"

#include "module/frame/ModuleState.h"
#include "module/frame/coredll.h"
#include "module/language/languageModuleName.h"

namespace {

constexpr DWORD KEY_ALL_ACCESS = 0xF003F;
constexpr DWORD kEnableBytes = 4;
constexpr DWORD kSysLangBytes = kSysLangCapacity * sizeof(WCHAR);

bool languageModulesEnabled(HKEY key) {
    // Zero-filled first, so a value shorter than 4 bytes reads as zero-extended.
    uint8_t enable[kEnableBytes] = {};
    DWORD size = kEnableBytes;
    if (coredll::RegQueryValueExW(key, L"Enable", nullptr, nullptr, enable, &size) != 0)
        return false;
    return enable[0] == 1 && enable[1] == 0 && enable[2] == 0 && enable[3] == 0;
}

// The SysLang text, or "409" when the value is absent or too long. One unit
// more than the query may fill, so a value without terminator still ends.
void readSysLang(HKEY key, WCHAR (&sysLang)[kSysLangBytes / 2 + 1]) {
    DWORD size = kSysLangBytes;
    if (coredll::RegQueryValueExW(key, L"SysLang", nullptr, nullptr, sysLang, &size) == 0) return;
    for (unsigned i = 0; i < sizeof kDefaultSysLang / sizeof kDefaultSysLang[0]; ++i)
        sysLang[i] = kDefaultSysLang[i];
}

// A frame of its own for the name: beside the path and the SysLang text it
// would make a frame too large for the single stack adjustment that the
// exception table can describe.
__attribute__((noinline)) HMODULE loadNamedModule(const WCHAR* hostPath, LONG number) {
    WCHAR name[kPathCapacity];
    coredll::wsprintfW(name, L"%s.%04d.mui", hostPath, number);
    return coredll::LoadLibraryW(name);
}

HMODULE loadLanguageModule(HKEY key) {
    WCHAR sysLang[kSysLangBytes / 2 + 1] = {};
    readSysLang(key, sysLang);

    WCHAR hostPath[kPathCapacity] = {};
    // A failed read (zero) leaves the buffer's contents undefined, whatever
    // was written into it: no name can be made from it.
    if (coredll::GetModuleFileNameW(nullptr, hostPath, kPathCapacity) == 0) return nullptr;
    unsigned pathLength = boundedLength(hostPath, kPathCapacity);

    LONG number = coredll::_wtol(sysLang);
    // An unreadable path or a name that would overrun the buffer names no module.
    if (!languageModuleNameFits(pathLength, number)) return nullptr;

    return loadNamedModule(hostPath, number);
}

}  // namespace

void selectLanguageModule() {
    HKEY key = nullptr;
    if (coredll::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"MUI", 0, KEY_ALL_ACCESS, &key) != 0) return;
    if (languageModulesEnabled(key)) moduleState.languageModule = loadLanguageModule(key);
    coredll::RegCloseKey(key);
}

void releaseLanguageModule() {
    if (moduleState.languageModule) coredll::FreeLibrary(moduleState.languageModule);
}
