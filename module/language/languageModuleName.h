// The language module's file name: the host executable's full path, a point,
// the language number printed with at least four digits, and ".mui"
// ("\Windows\app.exe" with SysLang "407" gives "\Windows\app.exe.0407.mui").
// COREDLL's _wtol reads the number and its wsprintfW composes the name; these
// say whether that name fits the path buffer.
#pragma once

#include <stdint.h>

#include "module/frame/utf16.h"

constexpr unsigned kPathCapacity = 260;  // UTF-16 units, terminator included
// UTF-16 units of the SysLang value that are read, terminator included: a
// longer value fails to read and counts as absent.
constexpr unsigned kSysLangCapacity = 16;

// The SysLang text used when the registry has none.
extern const Utf16 kDefaultSysLang[4];

// Units of the composed name without its terminator, for a host path of
// `hostPathLength` units and the given language number ("%04d" widening).
unsigned languageModuleNameLength(unsigned hostPathLength, int32_t number);

// Whether a name for this path length and number fits the path buffer with
// its terminator. An empty host path names no language module either.
bool languageModuleNameFits(unsigned hostPathLength, int32_t number);
