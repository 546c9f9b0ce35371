#include "module/banner/DrawBannerFile.h"

#include "module/banner/bannerFile.h"
#include "module/banner/bannerLayout.h"
#include "module/frame/coredll.h"
#include "module/frame/utf16.h"

namespace {

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD PAGE_READWRITE = 0x04;
constexpr DWORD FILE_MAP_WRITE = 0x2;
constexpr DWORD FILE_MAP_READ = 0x4;
constexpr UINT DIB_RGB_COLORS = 0;
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr int GDI_ERROR = -1;

// The host path with its last three characters replaced by "bmp", whatever
// they were. False when the path is too short to hold them.
bool bannerFilePath(WCHAR (&path)[MAX_PATH]) {
    coredll::memset(path, 0, sizeof path);
    coredll::GetModuleFileNameW(nullptr, path, MAX_PATH);
    unsigned length = boundedLength(path, MAX_PATH);
    if (length < 3 || length >= unsigned(MAX_PATH)) return false;
    coredll::memcpy(path + length - 3, L"bmp", 3 * sizeof(WCHAR));
    return true;
}

// Pixels are handed to the draw in place, inside the view.
int drawMappedFile(HDC target, const uint8_t* view, uint32_t size) {
    BannerFile file;
    if (!readBannerFile(view, size, file)) return GDI_ERROR;
    return coredll::StretchDIBits(target, 0, 0, kBannerWidth, kBannerHeight, 0, 0, file.width,
                                  file.height, view + file.pixelOffset, file.bitmapInfo,
                                  DIB_RGB_COLORS, SRCCOPY);
}

}  // namespace

BOOL drawBannerFile(HDC target) {
    WCHAR path[MAX_PATH];
    if (!bannerFilePath(path)) return FALSE;

    // Opened for writing too: a read-only banner file is not used.
    HANDLE file = coredll::CreateFileForMappingW(path, GENERIC_READ | GENERIC_WRITE,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FALSE;
    DWORD sizeHigh = 0;
    DWORD size = coredll::GetFileSize(file, &sizeHigh);
    HANDLE mapping = coredll::CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, size, nullptr);
    if (!mapping) {
        coredll::CloseHandle(file);
        return FALSE;
    }
    void* view = coredll::MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0);
    if (!view) {
        coredll::CloseHandle(mapping);
        coredll::CloseHandle(file);
        return FALSE;
    }
    int lines = drawMappedFile(target, static_cast<const uint8_t*>(view), size);
    coredll::UnmapViewOfFile(view);
    coredll::CloseHandle(mapping);
    coredll::CloseHandle(file);
    return lines != GDI_ERROR;
}
