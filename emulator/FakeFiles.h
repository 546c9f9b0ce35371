// Files: a virtual file system and file mapping.
// Honours: CreateFileForMappingW returns INVALID_HANDLE_VALUE (-1) when the
// file is absent or when write access is asked of a read-only file;
// CreateFileMappingW and MapViewOfFile return null on failure; a view holds
// exactly the file's bytes and ends right at an unmapped guard page, so a
// read past the file's end faults.
#pragma once

#include "emulator/Handles.h"
#include "emulator/Memory.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace bench {

class FakeCoredll;

constexpr uint32_t INVALID_HANDLE_VALUE = 0xFFFFFFFF;
constexpr uint32_t GENERIC_READ = 0x80000000;
constexpr uint32_t GENERIC_WRITE = 0x40000000;
constexpr uint32_t FILE_SHARE_READ = 1;
constexpr uint32_t FILE_SHARE_WRITE = 2;
constexpr uint32_t CREATE_NEW = 1;
constexpr uint32_t CREATE_ALWAYS = 2;
constexpr uint32_t OPEN_EXISTING = 3;
constexpr uint32_t OPEN_ALWAYS = 4;
constexpr uint32_t TRUNCATE_EXISTING = 5;
constexpr uint32_t PAGE_READONLY = 2;
constexpr uint32_t PAGE_READWRITE = 4;
constexpr uint32_t FILE_MAP_WRITE = 2;
constexpr uint32_t FILE_MAP_READ = 4;

struct VirtualFile {
    std::vector<uint8_t> bytes;
    bool readOnly = false;
};

struct FileOpen {
    std::u16string path;
    uint32_t access = 0;
    uint32_t share = 0;
    uint32_t disposition = 0;
    uint32_t handle = INVALID_HANDLE_VALUE;  // INVALID_HANDLE_VALUE when refused
    uint32_t error = 0;
};

struct ViewRecord {
    uint32_t address = 0;
    uint32_t length = 0;
    uint32_t mapping = 0;
    std::u16string path;
    uint32_t offset = 0;
    bool writable = false;
};

class FileSystem {
public:
    // Where MapViewOfFile puts a view: by default its last byte is the last
    // byte of a page (the guard page follows at once); PageAligned starts it
    // on a page, as the device does, leaving up to a page of slack after it.
    enum class ViewPlacement { EndAtGuard, PageAligned };

    FileSystem(Memory& memory, HandleLedger& handles) : memory_(memory), handles_(handles) {}

    // Paths are full, "\\"-separated and compared without regard to case.
    void add(const std::u16string& path, std::vector<uint8_t> bytes, bool readOnly = false);
    void remove(const std::u16string& path);
    bool exists(const std::u16string& path) const { return find(path) != nullptr; }
    const VirtualFile* find(const std::u16string& path) const;
    VirtualFile* find(const std::u16string& path);
    // Another process holds the file open with this access and share mode.
    void holdOpen(const std::u16string& path, uint32_t access, uint32_t share);
    void setViewPlacement(ViewPlacement placement) { placement_ = placement; }

    const std::vector<FileOpen>& opens() const { return opens_; }
    const std::map<uint32_t, ViewRecord>& views() const { return views_; }

    // For the handlers.
    struct OpenFile {
        std::u16string path;
        uint32_t access = 0;
        uint32_t share = 0;
    };
    struct Mapping {
        std::u16string path;
        uint32_t size = 0;
        bool writable = false;
    };
    Memory& memory() { return memory_; }
    HandleLedger& handles() { return handles_; }
    // 0 or the error that the sharing rules give a new open.
    uint32_t sharingConflict(const std::u16string& path, uint32_t access, uint32_t share) const;
    void noteOpen(FileOpen open) { opens_.push_back(std::move(open)); }
    std::map<uint32_t, OpenFile>& openFiles() { return openFiles_; }
    std::map<uint32_t, Mapping>& mappings() { return mappings_; }
    std::map<uint32_t, ViewRecord>& viewTable() { return views_; }
    ViewPlacement placement() const { return placement_; }

private:
    Memory& memory_;
    HandleLedger& handles_;
    std::map<std::u16string, VirtualFile> files_;  // by folded path
    std::vector<OpenFile> held_;
    std::map<uint32_t, OpenFile> openFiles_;
    std::map<uint32_t, Mapping> mappings_;
    std::map<uint32_t, ViewRecord> views_;
    std::vector<FileOpen> opens_;
    ViewPlacement placement_ = ViewPlacement::EndAtGuard;
};

void defineFiles(FakeCoredll& fake);

}  // namespace bench
