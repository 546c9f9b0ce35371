// The COREDLL functions the module's own code calls. Each is reached through
// the module's import slot for COREDLL's ordinal, so an override that calls
// coredll::LoadStringW reaches COREDLL and never the module's own export.
#pragma once

#include "platform.h"

#define COREDLL_FUNCTION(ordinal, result, name, params)      \
    extern "C" result(*coredll_iat_##ordinal) params;         \
    namespace coredll {                                       \
    inline constexpr auto& name = coredll_iat_##ordinal;      \
    }

// Registry
COREDLL_FUNCTION(461, LONG, RegOpenKeyExW, (HKEY, const WCHAR*, DWORD, DWORD, HKEY*))
COREDLL_FUNCTION(463, LONG, RegQueryValueExW, (HKEY, const WCHAR*, DWORD*, DWORD*, void*, DWORD*))
COREDLL_FUNCTION(455, LONG, RegCloseKey, (HKEY))

// Modules
COREDLL_FUNCTION(1177, HMODULE, GetModuleHandleW, (const WCHAR*))
COREDLL_FUNCTION(537, DWORD, GetModuleFileNameW, (HMODULE, WCHAR*, DWORD))
COREDLL_FUNCTION(528, HMODULE, LoadLibraryW, (const WCHAR*))
COREDLL_FUNCTION(529, BOOL, FreeLibrary, (HMODULE))

// Text and memory
COREDLL_FUNCTION(78, LONG, _wtol, (const WCHAR*))
COREDLL_FUNCTION(56, int, wsprintfW, (WCHAR*, const WCHAR*, ...))
COREDLL_FUNCTION(1044, void*, memcpy, (void*, const void*, unsigned))
COREDLL_FUNCTION(1047, void*, memset, (void*, int, unsigned))
COREDLL_FUNCTION(1492, LONG, InterlockedCompareExchange, (LONG volatile*, LONG, LONG))

// Resources (the functions the module overrides under the same names)
COREDLL_FUNCTION(874, int, LoadStringW, (HINSTANCE, UINT, WCHAR*, int))
COREDLL_FUNCTION(846, HMENU, LoadMenuW, (HINSTANCE, const WCHAR*))
COREDLL_FUNCTION(873, HBITMAP, LoadBitmapW, (HINSTANCE, const WCHAR*))
COREDLL_FUNCTION(533, HGLOBAL, LoadResource, (HMODULE, HRSRC))
COREDLL_FUNCTION(688, HWND, CreateDialogIndirectParamW, (HINSTANCE, const void*, HWND, void*, LPARAM))
COREDLL_FUNCTION(690, INT_PTR, DialogBoxIndirectParamW, (HINSTANCE, const void*, HWND, void*, LPARAM))

// Drawing
COREDLL_FUNCTION(262, HDC, GetDC, (HWND))
COREDLL_FUNCTION(263, int, ReleaseDC, (HWND, HDC))
COREDLL_FUNCTION(910, HDC, CreateCompatibleDC, (HDC))
COREDLL_FUNCTION(911, BOOL, DeleteDC, (HDC))
COREDLL_FUNCTION(902, HBITMAP, CreateCompatibleBitmap, (HDC, int, int))
COREDLL_FUNCTION(921, HGDIOBJ, SelectObject, (HDC, HGDIOBJ))
COREDLL_FUNCTION(918, int, GetObjectW, (HGDIOBJ, int, void*))
COREDLL_FUNCTION(919, HGDIOBJ, GetStockObject, (int))
COREDLL_FUNCTION(935, int, FillRect, (HDC, const void*, HBRUSH))
COREDLL_FUNCTION(905, BOOL, StretchBlt, (HDC, int, int, int, int, HDC, int, int, int, int, DWORD))
COREDLL_FUNCTION(1667, int, StretchDIBits,
                 (HDC, int, int, int, int, int, int, int, int, const void*, const void*, UINT, DWORD))
COREDLL_FUNCTION(912, BOOL, DeleteObject, (HGDIOBJ))

// Files
COREDLL_FUNCTION(1167, HANDLE, CreateFileForMappingW,
                 (const WCHAR*, DWORD, DWORD, void*, DWORD, DWORD, HANDLE))
COREDLL_FUNCTION(172, DWORD, GetFileSize, (HANDLE, DWORD*))
COREDLL_FUNCTION(548, HANDLE, CreateFileMappingW, (HANDLE, void*, DWORD, DWORD, DWORD, const WCHAR*))
COREDLL_FUNCTION(549, void*, MapViewOfFile, (HANDLE, DWORD, DWORD, DWORD, DWORD))
COREDLL_FUNCTION(550, BOOL, UnmapViewOfFile, (const void*))
COREDLL_FUNCTION(553, BOOL, CloseHandle, (HANDLE))

// Audio
COREDLL_FUNCTION(413, MMRESULT, waveInOpen, (HWAVEIN*, UINT, void*, DWORD, DWORD, DWORD))
COREDLL_FUNCTION(403, MMRESULT, waveInClose, (HWAVEIN))
COREDLL_FUNCTION(404, MMRESULT, waveInPrepareHeader, (HWAVEIN, void*, UINT))
COREDLL_FUNCTION(406, MMRESULT, waveInAddBuffer, (HWAVEIN, void*, UINT))
COREDLL_FUNCTION(409, MMRESULT, waveInReset, (HWAVEIN))
COREDLL_FUNCTION(390, MMRESULT, waveOutReset, (HWAVEOUT))
COREDLL_FUNCTION(384, MMRESULT, waveOutClose, (HWAVEOUT))
COREDLL_FUNCTION(378, BOOL, PlaySoundW, (const WCHAR*, HMODULE, DWORD))

// Shell
COREDLL_FUNCTION(488, BOOL, GetOpenFileNameW, (void*))
COREDLL_FUNCTION(489, BOOL, GetSaveFileNameW, (void*))
COREDLL_FUNCTION(295, BOOL, SHGetSpecialFolderPath, (HWND, WCHAR*, int, BOOL))
COREDLL_FUNCTION(848, DWORD, CheckMenuItem, (HMENU, UINT, UINT))

// Errors
COREDLL_FUNCTION(516, DWORD, GetLastError, ())
COREDLL_FUNCTION(517, void, SetLastError, (DWORD))
