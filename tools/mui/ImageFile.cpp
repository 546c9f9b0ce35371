#include "ImageFile.h"

#include "ByteOrder.h"
#include "PeFormat.h"
#include "PeImage.h"

#include <algorithm>
#include <cstring>

namespace mui {

std::vector<uint8_t> writeImageFile(const ImageSpec& spec) {
    using namespace pe::format;
    const uint32_t peOffset = 0x80;
    const uint32_t fileHeader = peOffset + kPeSignatureSize;
    const uint32_t optionalHeader = fileHeader + kFileHeaderSize;
    const uint32_t sectionTable = optionalHeader + kOptionalHeaderSize;
    const uint32_t headersSize = roundUp(sectionTable + uint32_t(spec.sections.size()) * kSectionHeaderSize, kFileAlignment);

    uint32_t fileSize = headersSize, imageSize = kPage, codeSize = 0, initialised = 0, uninitialised = 0;
    uint32_t baseOfCode = 0, baseOfData = 0;
    std::vector<uint32_t> rawOffsets;
    for (const ImageSection& s : spec.sections) {
        uint32_t raw = roundUp(uint32_t(s.data.size()), kFileAlignment);
        rawOffsets.push_back(raw ? fileSize : 0);
        fileSize += raw;
        imageSize = std::max(imageSize, roundUp(s.rva + std::max<uint32_t>(s.virtualSize, 1), kPage));
        if (s.characteristics & pe::kSectionCode) {
            codeSize += raw;
            if (!baseOfCode) baseOfCode = s.rva;
        } else if (!baseOfData) {
            baseOfData = s.rva;
        }
        if (s.characteristics & pe::kSectionInitializedData) initialised += raw;
        if (s.characteristics & pe::kSectionUninitializedData) uninitialised += roundUp(s.virtualSize, kFileAlignment);
    }

    std::vector<uint8_t> f(fileSize);
    uint8_t* p = f.data();
    pe::storeLe16(p, kDosMagic);
    pe::storeLe32(p + kDosNewHeaderField, peOffset);
    pe::storeLe32(p + peOffset, kPeSignature);
    uint8_t* fh = p + fileHeader;
    pe::storeLe16(fh + kFhMachine, pe::kMachineArm);
    pe::storeLe16(fh + kFhNumberOfSections, uint16_t(spec.sections.size()));
    pe::storeLe16(fh + kFhSizeOfOptionalHeader, kOptionalHeaderSize);
    pe::storeLe16(fh + kFhCharacteristics, spec.characteristics);
    uint8_t* oh = p + optionalHeader;
    pe::storeLe16(oh + kOhMagic, kOptionalMagicPe32);
    oh[kOhMajorLinkerVersion] = 6;
    pe::storeLe32(oh + kOhSizeOfCode, codeSize);
    pe::storeLe32(oh + kOhSizeOfInitializedData, initialised);
    pe::storeLe32(oh + kOhSizeOfUninitializedData, uninitialised);
    pe::storeLe32(oh + kOhAddressOfEntryPoint, spec.entryPoint);
    pe::storeLe32(oh + kOhBaseOfCode, baseOfCode);
    pe::storeLe32(oh + kOhBaseOfData, baseOfData);
    pe::storeLe32(oh + kOhImageBase, spec.imageBase);
    pe::storeLe32(oh + kOhSectionAlignment, kPage);
    pe::storeLe32(oh + kOhFileAlignment, kFileAlignment);
    pe::storeLe16(oh + kOhMajorOperatingSystemVersion, 4);
    pe::storeLe16(oh + kOhMinorOperatingSystemVersion, 10);
    pe::storeLe16(oh + kOhMajorSubsystemVersion, spec.subsystemMajor);
    pe::storeLe16(oh + kOhMinorSubsystemVersion, spec.subsystemMinor);
    pe::storeLe32(oh + kOhSizeOfImage, imageSize);
    pe::storeLe32(oh + kOhSizeOfHeaders, headersSize);
    pe::storeLe16(oh + kOhSubsystem, pe::kSubsystemWindowsCeGui);
    pe::storeLe32(oh + kOhSizeOfStackReserve, 0x10000);
    pe::storeLe32(oh + kOhSizeOfStackCommit, 0x1000);
    pe::storeLe32(oh + kOhSizeOfHeapReserve, 0x100000);
    pe::storeLe32(oh + kOhSizeOfHeapCommit, 0x1000);
    pe::storeLe32(oh + kOhNumberOfRvaAndSizes, kDataDirectoryCount);
    for (uint32_t i = 0; i < kDataDirectoryCount; ++i) {
        pe::storeLe32(oh + kOhDataDirectories + 8 * i, spec.directories[i][0]);
        pe::storeLe32(oh + kOhDataDirectories + 8 * i + 4, spec.directories[i][1]);
    }
    for (size_t i = 0; i < spec.sections.size(); ++i) {
        const ImageSection& s = spec.sections[i];
        uint8_t* sh = p + sectionTable + i * kSectionHeaderSize;
        std::memcpy(sh + kShName, s.name.data(), std::min<size_t>(s.name.size(), kShNameSize));
        pe::storeLe32(sh + kShVirtualSize, s.virtualSize);
        pe::storeLe32(sh + kShVirtualAddress, s.rva);
        pe::storeLe32(sh + kShSizeOfRawData, roundUp(uint32_t(s.data.size()), kFileAlignment));
        pe::storeLe32(sh + kShPointerToRawData, rawOffsets[i]);
        pe::storeLe32(sh + kShCharacteristics, s.characteristics);
        std::copy(s.data.begin(), s.data.end(), f.begin() + rawOffsets[i]);
    }
    return f;
}

}  // namespace mui
