// Windows CE types and constants the module uses. The module is 32-bit ARM:
// handles and pointers are 32 bits, wchar_t is a UTF-16 unit (-fshort-wchar).
#pragma once

#include <stdint.h>

using BOOL = int;
using UINT = unsigned int;
using DWORD = uint32_t;
using LONG = int32_t;
using WCHAR = wchar_t;
using MMRESULT = unsigned int;
using LRESULT = long;
using WPARAM = unsigned int;
using LPARAM = long;
using INT_PTR = int;

struct HandleTag;
using HANDLE = HandleTag*;
using HINSTANCE = HANDLE;
using HMODULE = HANDLE;
using HKEY = HANDLE;
using HDC = HANDLE;
using HGDIOBJ = HANDLE;
using HBITMAP = HANDLE;
using HBRUSH = HANDLE;
using HMENU = HANDLE;
using HWND = HANDLE;
using HRSRC = HANDLE;
using HGLOBAL = HANDLE;
using HWAVEIN = HANDLE;
using HWAVEOUT = HANDLE;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(0x80000002u))
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(-1))

constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;

constexpr int MAX_PATH = 260;
