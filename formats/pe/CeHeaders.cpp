#include "formats/pe/CeHeaders.h"

#include "formats/common/Align.h"
#include "formats/pe/ByteOrder.h"
#include "formats/pe/PeFormat.h"

#include <algorithm>
#include <cstring>

namespace pe {
namespace {

using namespace format;

// The PE signature follows right after the DOS header: the image needs no
// DOS stub program.
constexpr uint32_t kPeHeaderOffset = kDosHeaderSize;

// Windows CE 4.10: the subsystem version is the oldest CE release the image
// runs on (a newer one than the kernel's is refused); the OS version says the same.
constexpr uint16_t kCeMajor = 4;
constexpr uint16_t kCeMinor = 10;
// Microsoft's CE linker defaults; a DLL runs on its caller's threads, so
// these only matter if a tool copies them.
constexpr uint32_t kStackReserve = 0x10000;
constexpr uint32_t kStackCommit = 0x1000;
constexpr uint32_t kHeapReserve = 0x100000;
constexpr uint32_t kHeapCommit = 0x1000;
// Zero keeps the output a function of its inputs alone (reproducible builds);
// nothing on CE reads it for a DLL. The CE loader does not verify the checksum.
constexpr uint32_t kTimeDateStamp = 0;
constexpr uint32_t kCheckSum = 0;

void writeFileHeader(uint8_t* fh, const CeImageHeaders& h) {
    storeLe16(fh + kFhMachine, kMachineArm);
    storeLe16(fh + kFhNumberOfSections, uint16_t(h.sections.size()));
    storeLe32(fh + kFhTimeDateStamp, kTimeDateStamp);
    storeLe16(fh + kFhSizeOfOptionalHeader, kOptionalHeaderSize);
    storeLe16(fh + kFhCharacteristics, h.fileCharacteristics);
}

void writeSizes(uint8_t* oh, const CeImageHeaders& h) {
    uint32_t code = 0, initialized = 0, uninitialized = 0, baseOfCode = 0, baseOfData = 0;
    for (const Section& s : h.sections) {
        if (s.characteristics & kSectionCode) {
            code += s.rawSize;
            if (!baseOfCode) baseOfCode = s.virtualAddress;
            continue;
        }
        if (!baseOfData) baseOfData = s.virtualAddress;
        if (s.characteristics & kSectionInitializedData) initialized += s.rawSize;
        if (s.characteristics & kSectionUninitializedData) uninitialized += velmark::alignUp(s.virtualSize, kCeFileAlignment);
    }
    storeLe32(oh + kOhSizeOfCode, code);
    storeLe32(oh + kOhSizeOfInitializedData, initialized);
    storeLe32(oh + kOhSizeOfUninitializedData, uninitialized);
    storeLe32(oh + kOhBaseOfCode, baseOfCode);
    storeLe32(oh + kOhBaseOfData, baseOfData);
}

void writeOptionalHeader(uint8_t* oh, const CeImageHeaders& h) {
    storeLe16(oh + kOhMagic, kOptionalMagicPe32);
    writeSizes(oh, h);
    storeLe32(oh + kOhAddressOfEntryPoint, h.entryRva);
    storeLe32(oh + kOhImageBase, h.imageBase);
    storeLe32(oh + kOhSectionAlignment, kCeSectionAlignment);
    storeLe32(oh + kOhFileAlignment, kCeFileAlignment);
    storeLe16(oh + kOhMajorOperatingSystemVersion, kCeMajor);
    storeLe16(oh + kOhMinorOperatingSystemVersion, kCeMinor);
    storeLe16(oh + kOhMajorImageVersion, h.imageMajor);
    storeLe16(oh + kOhMinorImageVersion, h.imageMinor);
    storeLe16(oh + kOhMajorSubsystemVersion, kCeMajor);
    storeLe16(oh + kOhMinorSubsystemVersion, kCeMinor);
    storeLe32(oh + kOhSizeOfImage, h.imageSize);
    storeLe32(oh + kOhSizeOfHeaders, ceHeadersSize(h.sections.size()));
    storeLe32(oh + kOhCheckSum, kCheckSum);
    storeLe16(oh + kOhSubsystem, kSubsystemWindowsCeGui);
    storeLe32(oh + kOhSizeOfStackReserve, kStackReserve);
    storeLe32(oh + kOhSizeOfStackCommit, kStackCommit);
    storeLe32(oh + kOhSizeOfHeapReserve, kHeapReserve);
    storeLe32(oh + kOhSizeOfHeapCommit, kHeapCommit);
    storeLe32(oh + kOhNumberOfRvaAndSizes, kDataDirectoryCount);
    for (uint32_t i = 0; i < kDataDirectoryCount; ++i) {
        uint8_t* d = oh + kOhDataDirectories + i * kDataDirectorySize;
        storeLe32(d, h.directories[i].rva);
        storeLe32(d + 4, h.directories[i].size);
    }
}

void writeSectionHeader(uint8_t* sh, const Section& s) {
    std::memcpy(sh + kShName, s.name.data(), std::min<size_t>(s.name.size(), kShNameSize));
    storeLe32(sh + kShVirtualSize, s.virtualSize);
    storeLe32(sh + kShVirtualAddress, s.virtualAddress);
    storeLe32(sh + kShSizeOfRawData, s.rawSize);
    storeLe32(sh + kShPointerToRawData, s.rawOffset);
    storeLe32(sh + kShCharacteristics, s.characteristics);
}

}  // namespace

uint32_t ceHeadersSize(size_t sectionCount) {
    return velmark::alignUp(kPeHeaderOffset + kPeSignatureSize + kFileHeaderSize + kOptionalHeaderSize +
                       uint32_t(sectionCount) * kSectionHeaderSize,
                   kCeFileAlignment);
}

std::vector<uint8_t> writeCeHeaders(const CeImageHeaders& h) {
    std::vector<uint8_t> out(ceHeadersSize(h.sections.size()));
    uint8_t* p = out.data();
    storeLe16(p, kDosMagic);
    storeLe32(p + kDosNewHeaderField, kPeHeaderOffset);
    storeLe32(p + kPeHeaderOffset, kPeSignature);
    uint8_t* fh = p + kPeHeaderOffset + kPeSignatureSize;
    writeFileHeader(fh, h);
    uint8_t* oh = fh + kFileHeaderSize;
    writeOptionalHeader(oh, h);
    uint8_t* table = oh + kOptionalHeaderSize;
    for (size_t i = 0; i < h.sections.size(); ++i) writeSectionHeader(table + i * kSectionHeaderSize, h.sections[i]);
    return out;
}

}  // namespace pe
