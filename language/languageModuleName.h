// The language module's file name: the host executable's full path, a point,
// the language number printed with at least four digits, and ".mui"
// ("\Windows\app.exe" with SysLang "407" gives "\Windows\app.exe.0407.mui").
#pragma once

#include <stdint.h>

#include "frame/utf16.h"

constexpr unsigned kPathCapacity = 260;  // UTF-16 units, terminator included
// UTF-16 units of the SysLang value that are read, terminator included: a
// longer value fails to read and counts as absent.
constexpr unsigned kSysLangCapacity = 16;

// The SysLang text used when the registry has none.
extern const Utf16 kDefaultSysLang[4];

// Decimal value of the text as the platform's _wtol reads it: leading white
// space, an optional sign, digits up to the first unit that is not one.
int32_t languageNumber(const Utf16* sysLang);

// Units of the composed name without its terminator, for a host path of
// `hostPathLength` units and the given language number ("%04d" widening).
unsigned languageModuleNameLength(unsigned hostPathLength, int32_t number);

// Whether a name for this path length and number fits the path buffer with
// its terminator. An empty host path names no language module either.
bool languageModuleNameFits(unsigned hostPathLength, int32_t number);

// The whole rule: writes the name into `name` (kPathCapacity units) and
// returns true, or returns false and writes nothing when no name can be made.
// `sysLang` may be null (no SysLang value: "409").
bool composeLanguageModuleName(const Utf16* hostPath, const Utf16* sysLang, Utf16* name);
