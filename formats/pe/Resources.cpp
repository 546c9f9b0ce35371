#include "formats/pe/Resources.h"

#include "formats/common/Hex.h"
#include "formats/pe/ByteOrder.h"
#include "formats/pe/PeFormat.h"

#include <set>

namespace pe {
namespace {

using namespace format;

constexpr int kLevels = 3;  // type, name, language
const char* const kLevelNames[kLevels] = {"type", "name", "language"};

using velmark::hex;

// The directory's bytes in the file, walked by offsets relative to its start.
class DirectoryReader {
public:
    explicit DirectoryReader(const Image& image) : image_(image) {
        const DataDirectory& dir = image.directories[kDirResource];
        const Section* section = image.sectionAt(dir.rva);
        if (!section)
            throw PeFormatError("resource directory (RVA " + hex(dir.rva) + ") points outside the image's sections");
        uint32_t within = dir.rva - section->virtualAddress;
        uint32_t backed = section->fileBackedSize();
        if (within >= backed)
            throw PeFormatError("resource directory (RVA " + hex(dir.rva) + ") lies outside the file data of section " +
                                section->name);
        // Offsets in the tree may reach past the stated size (linkers differ
        // on what it covers) but never past the section's file data.
        base_ = image.file.data() + section->rawOffset + within;
        size_ = backed - within;
        nameBudget_ = 16 * size_ + (1u << 20);
    }

    const uint8_t* at(uint64_t offset, uint64_t length, const std::string& what) const {
        if (offset > size_ || length > size_ - offset)
            throw PeFormatError(what + " at resource directory offset " + hex(offset) + " (" +
                                std::to_string(length) + " bytes) runs past the " + std::to_string(size_) +
                                " bytes of the resource section");
        return base_ + offset;
    }

    ResourceName name(uint32_t field, uint32_t entryOffset) const {
        ResourceName result;
        if (!(field & kResHighBit)) {
            if (field > 0xFFFF)
                throw PeFormatError("resource entry at directory offset " + hex(entryOffset) + " has identifier " +
                                    hex(field) + ", beyond 16 bits");
            result.id = uint16_t(field);
            return result;
        }
        uint32_t offset = field & ~kResHighBit;
        uint16_t length = loadLe16(at(offset, 2, "resource name"));
        if (length == 0)
            throw PeFormatError("resource name at resource directory offset " + hex(offset) + " is empty");
        const uint8_t* chars = at(offset + 2ull, 2ull * length, "resource name");
        for (uint16_t i = 0; i < length; ++i) result.name.push_back(char16_t(loadLe16(chars + 2 * i)));
        return result;
    }

    void walk(uint32_t offset, int level, Resource& path, std::vector<Resource>& out) {
        if (!visited_.insert(offset).second)
            throw PeFormatError("resource " + std::string(kLevelNames[level]) + " table at directory offset " +
                                hex(offset) + " is reached twice");
        const uint8_t* table = at(offset, kResTableHeaderSize, std::string("resource ") + kLevelNames[level] + " table");
        uint32_t count = uint32_t(loadLe16(table + kResTableNamedCount)) + loadLe16(table + kResTableIdCount);
        const uint8_t* entries = at(uint64_t(offset) + kResTableHeaderSize, uint64_t(count) * kResEntrySize,
                                    std::string("entries of the resource ") + kLevelNames[level] + " table");
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t entryOffset = offset + kResTableHeaderSize + i * kResEntrySize;
            uint32_t nameField = loadLe32(entries + i * kResEntrySize);
            uint32_t target = loadLe32(entries + i * kResEntrySize + 4);
            ResourceName name = this->name(nameField, entryOffset);
            bool isTable = target & kResHighBit;
            if (level < kLevels - 1 && !isTable)
                throw PeFormatError(std::string("resource ") + kLevelNames[level] + " entry at directory offset " +
                                    hex(entryOffset) + " points at data, not at a " + kLevelNames[level + 1] +
                                    " table");
            if (level == kLevels - 1 && isTable)
                throw PeFormatError("resource language entry at directory offset " + hex(entryOffset) +
                                    " points at a fourth level of tables");
            if (level == 0) path.type = name;
            else if (level == 1) path.name = name;
            else {
                if (!name.isId())
                    throw PeFormatError("resource language entry at directory offset " + hex(entryOffset) +
                                        " is named, not numbered");
                path.language = name.id;
            }
            if (isTable) {
                walk(target & ~kResHighBit, level + 1, path, out);
                continue;
            }
            if (!visited_.insert(target).second)
                throw PeFormatError("resource data entry at directory offset " + hex(target) + " is reached twice");
            const uint8_t* data = at(target, kResDataEntrySize, "resource data entry");
            path.dataRva = loadLe32(data);
            path.size = loadLe32(data + 4);
            path.codePage = loadLe32(data + 8);
            checkData(path, target);
            // Entries may share one long name; the copies the leaves carry
            // are held to a multiple of the section's size (and a megabyte).
            uint64_t nameBytes = 2 * (path.type.name.size() + path.name.name.size());
            if (nameBytes > nameBudget_)
                throw PeFormatError("resource names of the leaf at directory offset " + hex(target) +
                                    " exceed what a resource section of " + std::to_string(size_) +
                                    " bytes can name");
            nameBudget_ -= nameBytes;
            out.push_back(path);
        }
    }

private:
    void checkData(const Resource& r, uint32_t entryOffset) const {
        const Section* section = image_.sectionAt(r.dataRva);
        std::string what = "resource " + describe(r.type) + "/" + describe(r.name) + " (data entry at directory offset " +
                           hex(entryOffset) + ", RVA " + hex(r.dataRva) + ", " + std::to_string(r.size) + " bytes)";
        if (!section) throw PeFormatError(what + " points outside the image's sections");
        uint64_t within = r.dataRva - section->virtualAddress;
        uint64_t backed = section->fileBackedSize();
        if (within > backed || r.size > backed - within)
            throw PeFormatError(what + " runs past the file data of section " + section->name);
    }

    const Image& image_;
    const uint8_t* base_ = nullptr;
    uint64_t size_ = 0;
    uint64_t nameBudget_ = 0;
    std::set<uint32_t> visited_;
};

}  // namespace

std::string describe(const ResourceName& name) {
    if (name.isId()) return "#" + std::to_string(name.id);
    std::string out;
    for (char16_t c : name.name) out.push_back(c >= 0x20 && c < 0x7F ? char(c) : '?');
    return out;
}

std::vector<Resource> readResources(const Image& image) {
    std::vector<Resource> out;
    if (image.directories.size() <= kDirResource || image.directories[kDirResource].rva == 0) return out;
    DirectoryReader reader(image);
    Resource path;
    reader.walk(0, 0, path, out);
    return out;
}

std::vector<uint8_t> resourceBytes(const Image& image, const Resource& resource) {
    if (resource.size == 0) return {};
    return image.bytesAt(resource.dataRva, resource.size);
}

}  // namespace pe
