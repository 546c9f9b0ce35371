#include "velmark/lib/RoomLayout.h"

#include "formats/common/Align.h"
#include "formats/common/Hex.h"
#include "formats/pe/ByteOrder.h"
#include "formats/pe/PeFormat.h"
#include "formats/pe/Resources.h"
#include "formats/resources/ResourceDirectory.h"
#include "formats/resources/ResourceFormats.h"
#include "velmark/lib/DialogBudget.h"
#include "velmark/lib/ImageOffsets.h"
#include "velmark/lib/Retarget.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace velmark::cli {
namespace {

using namespace pe::format;
using velmark::hex;

// The record right after the room section's directory: a signature, then
// what the layout changed, as it was.
constexpr char kSignature[16] = "VELMARK room 1";
struct Record {
    uint32_t fileSize = 0, sizeOfImage = 0, sizeOfInitializedData = 0, checkSum = 0, resourceRva = 0,
             resourceSize = 0;
};
constexpr uint32_t kRecordSize = sizeof(kSignature) + 6 * 4;

// File offsets of the header fields the layout changes.
struct HeaderFields {
    uint32_t sectionCount, initializedData, imageSize, checkSum, resourceDirectory, sectionTable;
};

HeaderFields headerFields(const pe::Image& image) {
    uint32_t fileHeader = pe::loadLe32(image.file.data() + kDosNewHeaderField) + kPeSignatureSize;
    uint32_t optional = fileHeader + kFileHeaderSize;
    return {fileHeader + kFhNumberOfSections,
            optional + kOhSizeOfInitializedData,
            optional + kOhSizeOfImage,
            optional + kOhCheckSum,
            optional + kOhDataDirectories + pe::kDirResource * kDataDirectorySize,
            optional + image.sizeOfOptionalHeader};
}

bool checksumValid(const std::vector<uint8_t>& file, uint32_t at) {
    uint32_t stored = pe::loadLe32(file.data() + at);
    return stored != 0 && stored == peChecksum(file, at);
}

std::vector<uint8_t> recordBytes(const Record& r) {
    std::vector<uint8_t> out(kSignature, kSignature + sizeof(kSignature));
    for (uint32_t v : {r.fileSize, r.sizeOfImage, r.sizeOfInitializedData, r.checkSum, r.resourceRva, r.resourceSize}) {
        out.resize(out.size() + 4);
        pe::storeLe32(out.data() + out.size() - 4, v);
    }
    return out;
}

// The record of the image's room section, if its resources lie in one.
std::optional<Record> recordOf(const pe::Image& image) {
    if (image.sections.empty()) return std::nullopt;
    const pe::Section& last = image.sections.back();
    const pe::DataDirectory& dir = image.directories[pe::kDirResource];
    if (last.name != kRoomSectionName || dir.rva != last.virtualAddress) return std::nullopt;
    const uint32_t within = velmark::alignUp(dir.size, 4);
    if (within > last.fileBackedSize() || last.fileBackedSize() - within < kRecordSize) return std::nullopt;
    const uint8_t* at = image.file.data() + last.rawOffset + within;
    if (std::memcmp(at, kSignature, sizeof(kSignature)) != 0) return std::nullopt;
    at += sizeof(kSignature);
    Record r;
    for (uint32_t* field : {&r.fileSize, &r.sizeOfImage, &r.sizeOfInitializedData, &r.checkSum, &r.resourceRva,
                            &r.resourceSize}) {
        *field = pe::loadLe32(at);
        at += 4;
    }
    return r;
}

// Where the section header of one more section goes; refused when the
// headers have no free room for it.
uint32_t freeHeaderSlot(const pe::Image& image, const HeaderFields& fields) {
    uint32_t slot = fields.sectionTable + uint32_t(image.sections.size()) * kSectionHeaderSize;
    uint32_t limit = image.sizeOfHeaders;
    for (const pe::Section& s : image.sections)
        if (s.rawSize) limit = std::min(limit, s.rawOffset);
    const std::string why = "no room for one more section header: ";
    if (uint64_t(slot) + kSectionHeaderSize > limit)
        throw RetargetRefused(why + "the section table ends at file offset " + hex(slot) +
                              " and the headers end at " + hex(limit) + ", " + std::to_string(limit - std::min(limit, slot)) +
                              " bytes later; a section header takes " + std::to_string(kSectionHeaderSize));
    for (uint32_t i = 0; i < kSectionHeaderSize; ++i)
        if (image.file[slot + i])
            throw RetargetRefused(why + "the " + std::to_string(kSectionHeaderSize) +
                                  " bytes after the section table (file offset " + hex(slot) + ") are in use");
    return slot;
}

}  // namespace

bool hasDialogRoom(const pe::Image& image) { return recordOf(image).has_value(); }

RoomLayout layOutWithRoom(const pe::Image& image, unsigned percent) {
    if (hasDialogRoom(image))
        throw RetargetRefused(std::string("already laid out with room (section ") + kRoomSectionName +
                              "); velmark retarget --undo gives back the original first");
    std::vector<pe::Resource> leaves;
    try {
        leaves = pe::readResources(image);
    } catch (const pe::PeFormatError& e) {
        throw RetargetRefused(std::string("its resources cannot be read: ") + e.what());
    }
    if (leaves.empty()) throw RetargetRefused("it has no resources, so no dialog to give room to");
    if (!image.sectionAlignment || !image.fileAlignment)
        throw RetargetRefused("its section alignment " + hex(image.sectionAlignment) + " or file alignment " +
                              hex(image.fileAlignment) + " is zero: no place for another section follows from it");
    const HeaderFields fields = headerFields(image);
    const uint32_t slot = freeHeaderSlot(image, fields);

    RoomLayout layout;
    // Each distinct data range once (templates may be shared), in the host's order.
    std::map<std::pair<uint32_t, uint32_t>, uint32_t> placeOf;  // (rva, size) -> bytes with room
    for (const pe::Resource& r : leaves) {
        uint32_t place = r.size;
        if (r.type.isId() && r.type.id == mui::kRtDialog) {
            try {
                place = std::max(place, placeWithRoom(mui::parseDialog(pe::resourceBytes(image, r)), percent));
                ++layout.dialogs;
            } catch (const mui::ResourceFormatError& e) {
                layout.notes.push_back("dialog " + pe::describe(r.name) + " gets no room: " + e.what());
            }
        }
        uint32_t& known = placeOf[{r.dataRva, r.size}];
        known = std::max(known, place);
    }
    layout.resources = leaves.size();

    // Directory first, as every reader expects, then the record, then the data.
    const uint32_t dataStart = uint32_t(mui::writeResourceDirectory(leaves).size()) + kRecordSize;
    // After every section and SizeOfImage, on the section alignment.
    uint64_t end = image.sizeOfImage;
    for (const pe::Section& s : image.sections) end = std::max<uint64_t>(end, uint64_t(s.virtualAddress) + s.span());
    const uint64_t alignedEnd = (end + image.sectionAlignment - 1) / image.sectionAlignment * image.sectionAlignment;
    const uint32_t sectionRva = uint32_t(alignedEnd);
    std::map<std::pair<uint32_t, uint32_t>, uint32_t> newRva;
    std::vector<uint8_t> data;
    for (const auto& [range, place] : placeOf) {
        if (alignedEnd + dataStart + data.size() + place + image.sectionAlignment > UINT32_MAX)
            throw RetargetRefused("a section after its last would lie beyond the 4 GB an image can span");
        newRva[range] = sectionRva + dataStart + uint32_t(data.size());
        std::vector<uint8_t> bytes = image.bytesAt(range.first, range.second);
        data.insert(data.end(), bytes.begin(), bytes.end());
        data.resize(velmark::alignUp(uint32_t(data.size()) + (place - range.second), 4), 0);
    }
    for (pe::Resource& r : leaves) r.dataRva = newRva.at({r.dataRva, r.size});
    std::vector<uint8_t> section = mui::writeResourceDirectory(leaves);
    const uint32_t directorySize = uint32_t(section.size());

    std::vector<uint8_t>& file = layout.file;
    file = image.file;
    Record record;
    record.fileSize = uint32_t(file.size());
    record.sizeOfImage = pe::loadLe32(file.data() + fields.imageSize);
    record.sizeOfInitializedData = pe::loadLe32(file.data() + fields.initializedData);
    record.checkSum = pe::loadLe32(file.data() + fields.checkSum);
    record.resourceRva = image.directories[pe::kDirResource].rva;
    record.resourceSize = image.directories[pe::kDirResource].size;
    std::vector<uint8_t> recordData = recordBytes(record);
    section.insert(section.end(), recordData.begin(), recordData.end());
    section.insert(section.end(), data.begin(), data.end());

    const bool keepChecksum = checksumValid(file, fields.checkSum);
    const uint32_t rawOffset = velmark::alignUp(uint32_t(file.size()), image.fileAlignment);
    const uint32_t rawSize = velmark::alignUp(uint32_t(section.size()), image.fileAlignment);
    file.resize(rawOffset, 0);
    file.insert(file.end(), section.begin(), section.end());
    file.resize(rawOffset + rawSize, 0);

    uint8_t* header = file.data() + slot;
    std::memcpy(header + kShName, kRoomSectionName, std::strlen(kRoomSectionName));
    pe::storeLe32(header + kShVirtualSize, uint32_t(section.size()));
    pe::storeLe32(header + kShVirtualAddress, sectionRva);
    pe::storeLe32(header + kShSizeOfRawData, rawSize);
    pe::storeLe32(header + kShPointerToRawData, rawOffset);
    pe::storeLe32(header + kShCharacteristics, pe::kSectionInitializedData | pe::kSectionRead);
    pe::storeLe16(file.data() + fields.sectionCount, uint16_t(image.sections.size() + 1));
    pe::storeLe32(file.data() + fields.imageSize,
                  sectionRva + velmark::alignUp(uint32_t(section.size()), image.sectionAlignment));
    pe::storeLe32(file.data() + fields.initializedData, record.sizeOfInitializedData + rawSize);
    pe::storeLe32(file.data() + fields.resourceDirectory, sectionRva);
    pe::storeLe32(file.data() + fields.resourceDirectory + 4, directorySize);
    if (keepChecksum) pe::storeLe32(file.data() + fields.checkSum, peChecksum(file, fields.checkSum));
    layout.sectionRva = sectionRva;
    layout.sectionSize = uint32_t(section.size());
    return layout;
}

std::optional<std::vector<uint8_t>> withoutDialogRoom(const pe::Image& image) {
    std::optional<Record> record = recordOf(image);
    if (!record) return std::nullopt;
    const pe::Section& room = image.sections.back();
    if (record->fileSize > room.rawOffset || record->fileSize > image.file.size())
        throw RetargetRefused(std::string("its section ") + kRoomSectionName + " records a file of " +
                              std::to_string(record->fileSize) + " bytes, which its data does not follow");
    const HeaderFields fields = headerFields(image);
    const uint32_t slot = fields.sectionTable + uint32_t(image.sections.size() - 1) * kSectionHeaderSize;
    if (record->fileSize < uint64_t(slot) + kSectionHeaderSize)
        throw RetargetRefused(std::string("its section ") + kRoomSectionName + " records a file of " +
                              std::to_string(record->fileSize) + " bytes, shorter than its headers");
    std::vector<uint8_t> file(image.file.begin(), image.file.begin() + record->fileSize);
    std::fill(file.begin() + slot, file.begin() + slot + kSectionHeaderSize, 0);
    pe::storeLe16(file.data() + fields.sectionCount, uint16_t(image.sections.size() - 1));
    pe::storeLe32(file.data() + fields.imageSize, record->sizeOfImage);
    pe::storeLe32(file.data() + fields.initializedData, record->sizeOfInitializedData);
    pe::storeLe32(file.data() + fields.checkSum, record->checkSum);
    pe::storeLe32(file.data() + fields.resourceDirectory, record->resourceRva);
    pe::storeLe32(file.data() + fields.resourceDirectory + 4, record->resourceSize);
    return file;
}

}  // namespace velmark::cli
