// The COREDLL functions the module's own code calls. Each is reached through
// the module's import slot for that function, found by name in the index the
// build generates from the export table, so an override that calls
// coredll::LoadStringW reaches COREDLL and never the module's own export. A
// name the table does not import is a compile error naming it. All slots are
// reached from the one address of the IAT: one relocated word per function
// that calls COREDLL, not one per slot it uses.
#pragma once

#include "module/exports/coredllSlots.h"
#include "module/frame/platform.h"

extern "C" void* coredll_iat[];

#define COREDLL_FUNCTION(result, name, params)                                         \
    namespace coredll {                                                                \
    using name##Function = result(*) params;                                           \
    inline const name##Function& name =                                                \
        reinterpret_cast<const name##Function&>(coredll_iat[coredll_slots::name]);     \
    }

// Registry
COREDLL_FUNCTION(LONG, RegOpenKeyExW, (HKEY, const WCHAR*, DWORD, DWORD, HKEY*))
COREDLL_FUNCTION(LONG, RegQueryValueExW, (HKEY, const WCHAR*, DWORD*, DWORD*, void*, DWORD*))
COREDLL_FUNCTION(LONG, RegCloseKey, (HKEY))

// Modules
COREDLL_FUNCTION(HMODULE, GetModuleHandleW, (const WCHAR*))
COREDLL_FUNCTION(DWORD, GetModuleFileNameW, (HMODULE, WCHAR*, DWORD))
COREDLL_FUNCTION(HMODULE, LoadLibraryW, (const WCHAR*))
COREDLL_FUNCTION(BOOL, FreeLibrary, (HMODULE))

// Text and memory
COREDLL_FUNCTION(LONG, _wtol, (const WCHAR*))
COREDLL_FUNCTION(int, wsprintfW, (WCHAR*, const WCHAR*, ...))
COREDLL_FUNCTION(void*, memcpy, (void*, const void*, unsigned))
COREDLL_FUNCTION(void*, memset, (void*, int, unsigned))
COREDLL_FUNCTION(LONG, InterlockedCompareExchange, (LONG volatile*, LONG, LONG))

// Resources (the functions the module overrides under the same names)
COREDLL_FUNCTION(int, LoadStringW, (HINSTANCE, UINT, WCHAR*, int))
COREDLL_FUNCTION(HMENU, LoadMenuW, (HINSTANCE, const WCHAR*))
COREDLL_FUNCTION(HBITMAP, LoadBitmapW, (HINSTANCE, const WCHAR*))
COREDLL_FUNCTION(HGLOBAL, LoadResource, (HMODULE, HRSRC))
COREDLL_FUNCTION(HWND, CreateDialogIndirectParamW, (HINSTANCE, const void*, HWND, void*, LPARAM))
COREDLL_FUNCTION(INT_PTR, DialogBoxIndirectParamW, (HINSTANCE, const void*, HWND, void*, LPARAM))

// Drawing
COREDLL_FUNCTION(HDC, GetDC, (HWND))
COREDLL_FUNCTION(int, ReleaseDC, (HWND, HDC))
COREDLL_FUNCTION(HDC, CreateCompatibleDC, (HDC))
COREDLL_FUNCTION(BOOL, DeleteDC, (HDC))
COREDLL_FUNCTION(HBITMAP, CreateCompatibleBitmap, (HDC, int, int))
COREDLL_FUNCTION(HGDIOBJ, SelectObject, (HDC, HGDIOBJ))
COREDLL_FUNCTION(int, GetObjectW, (HGDIOBJ, int, void*))
COREDLL_FUNCTION(HGDIOBJ, GetStockObject, (int))
COREDLL_FUNCTION(int, FillRect, (HDC, const void*, HBRUSH))
COREDLL_FUNCTION(BOOL, StretchBlt, (HDC, int, int, int, int, HDC, int, int, int, int, DWORD))
COREDLL_FUNCTION(int, StretchDIBits,
                 (HDC, int, int, int, int, int, int, int, int, const void*, const void*, UINT, DWORD))
COREDLL_FUNCTION(BOOL, DeleteObject, (HGDIOBJ))

// Files
COREDLL_FUNCTION(HANDLE, CreateFileForMappingW,
                 (const WCHAR*, DWORD, DWORD, void*, DWORD, DWORD, HANDLE))
COREDLL_FUNCTION(DWORD, GetFileSize, (HANDLE, DWORD*))
COREDLL_FUNCTION(HANDLE, CreateFileMappingW, (HANDLE, void*, DWORD, DWORD, DWORD, const WCHAR*))
COREDLL_FUNCTION(void*, MapViewOfFile, (HANDLE, DWORD, DWORD, DWORD, DWORD))
COREDLL_FUNCTION(BOOL, UnmapViewOfFile, (const void*))
COREDLL_FUNCTION(BOOL, CloseHandle, (HANDLE))

// Audio
COREDLL_FUNCTION(MMRESULT, waveInOpen, (HWAVEIN*, UINT, void*, DWORD, DWORD, DWORD))
COREDLL_FUNCTION(MMRESULT, waveInClose, (HWAVEIN))
COREDLL_FUNCTION(MMRESULT, waveInPrepareHeader, (HWAVEIN, void*, UINT))
COREDLL_FUNCTION(MMRESULT, waveInAddBuffer, (HWAVEIN, void*, UINT))
COREDLL_FUNCTION(MMRESULT, waveInReset, (HWAVEIN))
COREDLL_FUNCTION(MMRESULT, waveOutReset, (HWAVEOUT))
COREDLL_FUNCTION(MMRESULT, waveOutClose, (HWAVEOUT))
COREDLL_FUNCTION(BOOL, PlaySoundW, (const WCHAR*, HMODULE, DWORD))

// Shell
COREDLL_FUNCTION(BOOL, GetOpenFileNameW, (void*))
COREDLL_FUNCTION(BOOL, GetSaveFileNameW, (void*))
COREDLL_FUNCTION(BOOL, SHGetSpecialFolderPath, (HWND, WCHAR*, int, BOOL))
COREDLL_FUNCTION(DWORD, CheckMenuItem, (HMENU, UINT, UINT))

// Errors
COREDLL_FUNCTION(DWORD, GetLastError, ())
COREDLL_FUNCTION(void, SetLastError, (DWORD))
