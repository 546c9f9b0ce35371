#include "emulator/FakeFiles.h"

#include "emulator/Fake.h"
#include "emulator/Utf16.h"

namespace bench {
namespace {

constexpr uint32_t ERROR_SHARING_VIOLATION = 32;
constexpr uint32_t ERROR_FILE_EXISTS = 80;
constexpr uint32_t kAllocationGranularity = 0x10000;  // view offsets must be multiples of it
constexpr uint32_t ERROR_DISK_FULL = 112;
constexpr uint32_t kFreeStorage = 32u << 20;  // how far a mapping may extend a file

bool wantsWrite(uint32_t access) { return access & (GENERIC_WRITE | 0x2 /*FILE_WRITE_DATA*/); }
bool wantsRead(uint32_t access) { return access & (GENERIC_READ | 0x1 /*FILE_READ_DATA*/); }

}  // namespace

void FileSystem::add(const std::u16string& path, std::vector<uint8_t> bytes, bool readOnly) {
    files_[fold(path)] = VirtualFile{std::move(bytes), readOnly};
}

void FileSystem::remove(const std::u16string& path) { files_.erase(fold(path)); }

const VirtualFile* FileSystem::find(const std::u16string& path) const {
    auto it = files_.find(fold(path));
    return it == files_.end() ? nullptr : &it->second;
}

VirtualFile* FileSystem::find(const std::u16string& path) {
    auto it = files_.find(fold(path));
    return it == files_.end() ? nullptr : &it->second;
}

void FileSystem::holdOpen(const std::u16string& path, uint32_t access, uint32_t share) {
    held_.push_back(OpenFile{path, access, share});
}

uint32_t FileSystem::sharingConflict(const std::u16string& path, uint32_t access, uint32_t share) const {
    auto clashes = [&](const OpenFile& other) {
        if (fold(other.path) != fold(path)) return false;
        if (wantsRead(access) && !(other.share & FILE_SHARE_READ)) return true;
        if (wantsWrite(access) && !(other.share & FILE_SHARE_WRITE)) return true;
        if (wantsRead(other.access) && !(share & FILE_SHARE_READ)) return true;
        if (wantsWrite(other.access) && !(share & FILE_SHARE_WRITE)) return true;
        return false;
    };
    for (const OpenFile& other : held_)
        if (clashes(other)) return ERROR_SHARING_VIOLATION;
    for (const auto& entry : openFiles_)
        if (clashes(entry.second)) return ERROR_SHARING_VIOLATION;
    return 0;
}

void defineFiles(FakeCoredll& fake) {
    FileSystem& fs = fake.files();
    Memory& memory = fake.memory();

    // CreateFileForMappingW(lpFileName, dwDesiredAccess, dwShareMode,
    //   lpSecurityAttributes, dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile)
    fake.define("CreateFileForMappingW", 7, Outcome::returns(INVALID_HANDLE_VALUE).withLastError(ERROR_FILE_NOT_FOUND),
                [&fs, &memory](CallContext& call) -> uint32_t {
        FileOpen open{memory.readWString(call.arg(0)), call.arg(1), call.arg(2), call.arg(4)};
        VirtualFile* file = fs.find(open.path);
        bool creates = open.disposition == CREATE_NEW || open.disposition == CREATE_ALWAYS ||
                       open.disposition == OPEN_ALWAYS;
        if (!file && !creates) open.error = ERROR_FILE_NOT_FOUND;
        else if (file && open.disposition == CREATE_NEW) open.error = ERROR_FILE_EXISTS;
        else if (file && file->readOnly && wantsWrite(open.access)) open.error = ERROR_ACCESS_DENIED;
        else open.error = fs.sharingConflict(open.path, open.access, open.share);
        if (open.error) {
            call.setLastError(open.error);
            fs.noteOpen(open);
            return INVALID_HANDLE_VALUE;
        }
        if (!file) {
            fs.add(open.path, {});
        } else if (open.disposition == CREATE_ALWAYS || open.disposition == TRUNCATE_EXISTING) {
            file->bytes.clear();
        }
        open.handle = fs.handles().acquire(HandleKind::File, narrow(open.path));
        fs.openFiles()[open.handle] = FileSystem::OpenFile{open.path, open.access, open.share};
        fs.noteOpen(open);
        return open.handle;
    });

    // GetFileSize(hFile, lpFileSizeHigh)
    fake.define("GetFileSize", 2, Outcome::returns(0xFFFFFFFF).withLastError(ERROR_INVALID_HANDLE),
                [&fs, &memory](CallContext& call) -> uint32_t {
        auto it = fs.openFiles().find(call.arg(0));
        const VirtualFile* file = it == fs.openFiles().end() ? nullptr : fs.find(it->second.path);
        if (!file) {
            call.setLastError(ERROR_INVALID_HANDLE);
            return 0xFFFFFFFF;
        }
        if (call.arg(1)) memory.write32(call.arg(1), 0);
        return uint32_t(file->bytes.size());
    });

    // CreateFileMappingW(hFile, lpAttributes, flProtect, dwMaximumSizeHigh,
    //   dwMaximumSizeLow, lpName)
    fake.define("CreateFileMappingW", 6, Outcome::returns(0).withLastError(ERROR_NOT_ENOUGH_MEMORY),
                [&fs](CallContext& call) -> uint32_t {
        auto fail = [&call](uint32_t error) {
            call.setLastError(error);
            return 0u;
        };
        auto it = fs.openFiles().find(call.arg(0));
        if (it == fs.openFiles().end()) return fail(ERROR_INVALID_HANDLE);
        VirtualFile* file = fs.find(it->second.path);
        if (!file) return fail(ERROR_FILE_NOT_FOUND);
        bool writable = call.arg(2) == PAGE_READWRITE;
        if (call.arg(2) != PAGE_READONLY && !writable) return fail(ERROR_INVALID_PARAMETER);
        if (writable && (!wantsWrite(it->second.access) || file->readOnly)) return fail(ERROR_ACCESS_DENIED);
        if (call.arg(3) != 0) return fail(ERROR_NOT_ENOUGH_MEMORY);
        uint32_t size = call.arg(4) ? call.arg(4) : uint32_t(file->bytes.size());
        if (size == 0) return fail(ERROR_FILE_INVALID);
        if (size > file->bytes.size()) {
            // A mapping larger than the file extends it, which needs write access.
            if (!writable) return fail(ERROR_ACCESS_DENIED);
            // The device has only so much room (a size of 0xFFFFFFFF, GetFileSize's
            // failure value, never fits).
            if (size - file->bytes.size() > kFreeStorage) return fail(ERROR_DISK_FULL);
            file->bytes.resize(size, 0);
        }
        uint32_t handle = fs.handles().acquire(HandleKind::Mapping, narrow(it->second.path));
        fs.mappings()[handle] = FileSystem::Mapping{it->second.path, size, writable};
        return handle;
    });

    // MapViewOfFile(hFileMappingObject, dwDesiredAccess, dwFileOffsetHigh,
    //   dwFileOffsetLow, dwNumberOfBytesToMap)
    fake.define("MapViewOfFile", 5, Outcome::returns(0).withLastError(ERROR_NOT_ENOUGH_MEMORY),
                [&fs](CallContext& call) -> uint32_t {
        auto fail = [&call](uint32_t error) {
            call.setLastError(error);
            return 0u;
        };
        auto it = fs.mappings().find(call.arg(0));
        if (it == fs.mappings().end()) return fail(ERROR_INVALID_HANDLE);
        const FileSystem::Mapping& mapping = it->second;
        bool writable = call.arg(1) & FILE_MAP_WRITE;
        if (writable && !mapping.writable) return fail(ERROR_ACCESS_DENIED);
        uint32_t offset = call.arg(3);
        if (call.arg(2) != 0 || offset % kAllocationGranularity) return fail(ERROR_MAPPED_ALIGNMENT);
        if (offset >= mapping.size) return fail(ERROR_INVALID_PARAMETER);
        uint32_t length = call.arg(4) ? call.arg(4) : mapping.size - offset;
        if (uint64_t(offset) + length > mapping.size) return fail(ERROR_INVALID_PARAMETER);
        const VirtualFile* file = fs.find(mapping.path);
        if (!file) return fail(ERROR_FILE_NOT_FOUND);

        Placement placement = fs.placement() == FileSystem::ViewPlacement::EndAtGuard
                                  ? Placement::exactEnd()
                                  : Placement::atStart(0);
        std::string label = "view of " + narrow(mapping.path);
        uint32_t view = fs.memory().allocate(Owner::Platform, length, placement,
                                             writable ? kRead | kWrite : kRead, label);
        std::vector<uint8_t> bytes(length, 0);
        uint32_t available = uint32_t(std::min<uint64_t>(length, file->bytes.size() - std::min<uint64_t>(offset, file->bytes.size())));
        std::copy_n(file->bytes.begin() + offset, available, bytes.begin());
        fs.memory().poke(view, bytes.data(), length);
        fs.handles().acquire(HandleKind::View, label, view);
        fs.viewTable()[view] = ViewRecord{view, length, call.arg(0), mapping.path, offset, writable};
        return view;
    });

    // UnmapViewOfFile(lpBaseAddress)
    fake.define("UnmapViewOfFile", 1, Outcome::returns(0).withLastError(ERROR_INVALID_ADDRESS),
                [&fs](CallContext& call) -> uint32_t {
        auto it = fs.viewTable().find(call.arg(0));
        if (it == fs.viewTable().end()) {
            call.setLastError(ERROR_INVALID_ADDRESS);
            return 0;
        }
        const ViewRecord& view = it->second;
        if (view.writable) {
            // What the program wrote through the view reaches the file.
            if (VirtualFile* file = fs.find(view.path)) {
                std::vector<uint8_t> bytes = fs.memory().readBytes(view.address, view.length);
                if (file->bytes.size() < view.offset + bytes.size()) file->bytes.resize(view.offset + bytes.size());
                std::copy(bytes.begin(), bytes.end(), file->bytes.begin() + view.offset);
            }
        }
        fs.memory().release(view.address);
        fs.handles().release(view.address, HandleKind::View);
        fs.viewTable().erase(it);
        return 1;
    });

    // CloseHandle(hObject): files and mappings; a view stays valid after its
    // mapping is closed, as on the device.
    fake.define("CloseHandle", 1, Outcome::returns(0).withLastError(ERROR_INVALID_HANDLE),
                [&fs](CallContext& call) -> uint32_t {
        uint32_t handle = call.arg(0);
        if (fs.handles().release(handle, HandleKind::File)) {
            fs.openFiles().erase(handle);
            return 1;
        }
        if (fs.handles().release(handle, HandleKind::Mapping)) {
            fs.mappings().erase(handle);
            return 1;
        }
        call.setLastError(ERROR_INVALID_HANDLE);
        return 0;
    });
}

}  // namespace bench
