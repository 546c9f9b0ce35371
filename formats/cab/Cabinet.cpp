#include "formats/cab/Cabinet.h"

#include "formats/common/Hex.h"
#include "formats/pe/ByteOrder.h"

#include <libgcab.h>

#include <map>
#include <memory>

namespace cab {
namespace {

using velmark::hex;

// Header fields (CFHEADER).
constexpr uint32_t kCabinetSignature = 0x4643534D;  // "MSCF"
constexpr size_t kHeaderSize = 36;
constexpr size_t kCabinetSize = 8;
constexpr size_t kFilesOffset = 16;
constexpr size_t kVersion = 24;
constexpr size_t kFolderCount = 26;
constexpr size_t kFileCount = 28;
constexpr size_t kFlags = 30;
constexpr uint16_t kFlagPrevious = 0x1, kFlagNext = 0x2, kFlagReserve = 0x4;
constexpr size_t kFolderEntrySize = 8;  // CFFOLDER without its reserved bytes
constexpr size_t kFileEntrySize = 16;   // CFFILE without its name
constexpr uint16_t kFirstContinuedFolder = 0xFFFD;  // iFolder values for files spanning cabinets
constexpr uint32_t kMaxBlockData = 32768;  // uncompressed bytes a data block holds at most
constexpr size_t kMaxNameBytes = 256;      // name and NUL

struct FolderEntry {
    size_t dataOffset = 0;
    uint32_t blocks = 0;
};

struct FileEntry {
    size_t offset = 0;
    std::string name;
    uint32_t size = 0;
    uint16_t folder = 0;
};

struct Layout {
    std::vector<FolderEntry> folders;
    std::vector<FileEntry> files;
};

[[noreturn]] void fail(size_t offset, const std::string& reason) { throw FormatError("", offset, reason); }

void need(size_t size, size_t offset, size_t n, const std::string& what) {
    if (offset > size || n > size - offset)
        fail(offset, what + " runs past the end of the cabinet (" + std::to_string(size) + " bytes)");
}

// The header, folder entries and file entries, each checked against the file.
Layout readLayout(const uint8_t* data, size_t size) {
    need(size, 0, kHeaderSize, "the 36-byte cabinet header");
    if (pe::loadLe32(data) != kCabinetSignature) fail(0, "no \"MSCF\" signature: not a cabinet");
    if (pe::loadLe32(data + kCabinetSize) != size)
        fail(kCabinetSize, "the header gives the cabinet's size as " + std::to_string(pe::loadLe32(data + kCabinetSize)) +
                               " bytes, the file has " + std::to_string(size));
    if (data[kVersion] != 3 || data[kVersion + 1] != 1)
        fail(kVersion, "cabinet format version " + std::to_string(data[kVersion + 1]) + "." +
                           std::to_string(data[kVersion]) + ", not 1.3");
    const uint16_t flags = pe::loadLe16(data + kFlags);
    if (flags & (kFlagPrevious | kFlagNext)) fail(kFlags, "one cabinet of a set spanning several files");
    if (flags & ~kFlagReserve) fail(kFlags, "unknown header flags " + hex(flags));
    const uint16_t folderCount = pe::loadLe16(data + kFolderCount), fileCount = pe::loadLe16(data + kFileCount);
    if (folderCount == 0 || fileCount == 0) fail(kFolderCount, "a cabinet without folders or files");

    size_t pos = kHeaderSize;
    size_t folderReserve = 0;
    if (flags & kFlagReserve) {
        need(size, pos, 4, "the reserved-space sizes");
        folderReserve = data[pos + 2];
        pos += 4 + pe::loadLe16(data + pos);
    }
    Layout layout;
    for (uint16_t i = 0; i < folderCount; ++i) {
        need(size, pos, kFolderEntrySize + folderReserve, "folder entry " + std::to_string(i));
        FolderEntry folder{pe::loadLe32(data + pos), pe::loadLe16(data + pos + 4)};
        if (folder.dataOffset >= size) fail(pos, "folder " + std::to_string(i) + "'s data starts past the end");
        layout.folders.push_back(folder);
        pos += kFolderEntrySize + folderReserve;
    }

    pos = pe::loadLe32(data + kFilesOffset);
    std::map<std::string, size_t> firstEntry;
    for (uint16_t i = 0; i < fileCount; ++i) {
        const std::string what = "file entry " + std::to_string(i);
        need(size, pos, kFileEntrySize + 1, what);
        FileEntry file{pos, "", pe::loadLe32(data + pos), pe::loadLe16(data + pos + 8)};
        const uint32_t folderOffset = pe::loadLe32(data + pos + 4);
        const uint8_t* name = data + pos + kFileEntrySize;
        size_t length = 0;
        while (pos + kFileEntrySize + length < size && length < kMaxNameBytes && name[length] != 0) ++length;
        if (pos + kFileEntrySize + length == size || length == kMaxNameBytes)
            fail(pos + kFileEntrySize, what + "'s name has no NUL within 256 bytes or the cabinet");
        if (length == 0) fail(pos + kFileEntrySize, what + " has an empty name");
        file.name.assign(reinterpret_cast<const char*>(name), length);
        if (file.folder >= kFirstContinuedFolder)
            fail(pos + 8, what + " continues from or into another cabinet of a set");
        if (file.folder >= folderCount)
            fail(pos + 8, what + " is in folder " + std::to_string(file.folder) + " of " + std::to_string(folderCount));
        if (uint64_t(folderOffset) + file.size > uint64_t(layout.folders[file.folder].blocks) * kMaxBlockData)
            fail(pos, what + " ends past what its folder's " + std::to_string(layout.folders[file.folder].blocks) +
                          " data blocks can hold");
        auto [it, added] = firstEntry.try_emplace(file.name, pos);
        if (!added) fail(pos, what + " repeats the name of the file entry at offset " + hex(it->second));
        layout.files.push_back(std::move(file));
        pos += kFileEntrySize + length + 1;
    }
    return layout;
}

template <typename T>
struct GObjectDeleter {
    void operator()(T* object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectDeleter<T>>;

struct ErrorDeleter {
    void operator()(GError* e) const { g_error_free(e); }
};

// What libgcab said, taken from `error`.
std::string takeMessage(GError*& error) {
    std::unique_ptr<GError, ErrorDeleter> owned(error);
    error = nullptr;
    return owned ? owned->message : "libgcab failed without saying why";
}

// Keeps the name of the member libgcab is decompressing, for its errors.
gboolean noteMember(GCabFile* file, gpointer current) {
    *static_cast<std::string*>(current) = gcab_file_get_name(file);
    return TRUE;
}

}  // namespace

std::vector<uint8_t> writeCabinet(const std::vector<CabinetMember>& members) {
    GObjectPtr<GCabCabinet> cabinet(gcab_cabinet_new());
    GObjectPtr<GCabFolder> folder(gcab_folder_new(GCAB_COMPRESSION_NONE));
    GError* error = nullptr;
    for (const CabinetMember& member : members) {
        GBytes* bytes = g_bytes_new(member.bytes.data(), member.bytes.size());
        GObjectPtr<GCabFile> file(gcab_file_new_with_bytes(member.name.c_str(), bytes));
        g_bytes_unref(bytes);
        GDateTime* when = g_date_time_new_from_unix_utc(member.modified);
        gcab_file_set_date_time(file.get(), when);
        g_date_time_unref(when);
        if (!gcab_folder_add_file(folder.get(), file.get(), FALSE, nullptr, &error))
            throw UnwritableContent("cabinet member " + member.name + ": " + takeMessage(error));
    }
    if (!gcab_cabinet_add_folder(cabinet.get(), folder.get(), &error))
        throw UnwritableContent("cabinet: " + takeMessage(error));
    GObjectPtr<GOutputStream> stream(g_memory_output_stream_new_resizable());
    if (!gcab_cabinet_write_simple(cabinet.get(), stream.get(), nullptr, nullptr, nullptr, &error) ||
        !g_output_stream_close(stream.get(), nullptr, &error))
        throw UnwritableContent("cabinet: " + takeMessage(error));
    auto* memory = G_MEMORY_OUTPUT_STREAM(stream.get());
    const auto* start = static_cast<const uint8_t*>(g_memory_output_stream_get_data(memory));
    return std::vector<uint8_t>(start, start + g_memory_output_stream_get_data_size(memory));
}

std::vector<CabinetMember> readCabinet(const uint8_t* data, size_t size) {
    const Layout layout = readLayout(data, size);
    GObjectPtr<GInputStream> stream(g_memory_input_stream_new_from_data(data, gssize(size), nullptr));
    GObjectPtr<GCabCabinet> cabinet(gcab_cabinet_new());
    GError* error = nullptr;
    if (!gcab_cabinet_load(cabinet.get(), stream.get(), nullptr, &error))
        fail(pe::loadLe32(data + kFilesOffset), "the file entries: " + takeMessage(error));
    std::string current;
    if (!gcab_cabinet_extract(cabinet.get(), nullptr, noteMember, nullptr, &current, nullptr, &error)) {
        const std::string message = takeMessage(error);
        for (const FileEntry& file : layout.files)
            if (file.name == current)
                fail(layout.folders[file.folder].dataOffset,
                     "folder " + std::to_string(file.folder) + "'s data, decompressing " + file.name + ": " + message);
        fail(layout.folders[0].dataOffset, "the data blocks: " + message);
    }

    std::vector<CabinetMember> members;
    GPtrArray* folders = gcab_cabinet_get_folders(cabinet.get());
    for (const FileEntry& entry : layout.files) {
        GCabFolder* folder = entry.folder < folders->len ? GCAB_FOLDER(g_ptr_array_index(folders, entry.folder)) : nullptr;
        GCabFile* file = folder ? gcab_folder_get_file_by_name(folder, entry.name.c_str()) : nullptr;
        GBytes* bytes = file ? gcab_file_get_bytes(file) : nullptr;
        if (!bytes) fail(entry.offset, "file entry " + entry.name + " was not extracted");
        gsize length = 0;
        const auto* start = static_cast<const uint8_t*>(g_bytes_get_data(bytes, &length));
        if (length != entry.size)
            fail(entry.offset, entry.name + " decompresses to " + std::to_string(length) + " bytes, its entry gives " +
                                   std::to_string(entry.size));
        members.push_back({entry.name, std::vector<uint8_t>(start, start + length), 0, entry.offset});
    }
    return members;
}

}  // namespace cab
