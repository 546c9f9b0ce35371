#include "ImageHeaders.h"

#include "ByteOrder.h"
#include "PeFormat.h"

#include <algorithm>
#include <cstring>

namespace imagewriter {
namespace {

using namespace pe::format;

// The PE signature follows right after the DOS header: the image needs no
// DOS stub program.
constexpr uint32_t kPeHeaderOffset = kDosHeaderSize;

// Windows CE 4.10: the subsystem version is the oldest CE release the module
// runs on (a newer one than the kernel's is refused); the OS version says the same.
constexpr uint16_t kCeMajor = 4;
constexpr uint16_t kCeMinor = 10;
// The image version of this first release of the module.
constexpr uint16_t kImageMajor = 1;
constexpr uint16_t kImageMinor = 0;
// Microsoft's CE linker defaults; a DLL runs on its caller's threads, so
// these only matter if a tool copies them.
constexpr uint32_t kStackReserve = 0x10000;
constexpr uint32_t kStackCommit = 0x1000;
constexpr uint32_t kHeapReserve = 0x100000;
constexpr uint32_t kHeapCommit = 0x1000;
// Zero keeps the output a function of its inputs alone (reproducible builds);
// nothing on CE reads it for a DLL.
constexpr uint32_t kTimeDateStamp = 0;
// The CE loader does not verify the checksum.
constexpr uint32_t kCheckSum = 0;

void writeFileHeader(uint8_t* fh, const ImageLayout& layout) {
    pe::storeLe16(fh + kFhMachine, pe::kMachineArm);
    pe::storeLe16(fh + kFhNumberOfSections, uint16_t(layout.sections().size()));
    pe::storeLe32(fh + kFhTimeDateStamp, kTimeDateStamp);
    pe::storeLe16(fh + kFhSizeOfOptionalHeader, kOptionalHeaderSize);
    // Never RELOCS_STRIPPED: the CE loader chooses the DLL's address itself.
    pe::storeLe16(fh + kFhCharacteristics, kFileExecutableImage | kFile32BitMachine | kFileDll);
}

void writeSizes(uint8_t* oh, const ImageLayout& layout) {
    uint32_t code = 0, initialized = 0, uninitialized = 0, baseOfCode = 0, baseOfData = 0;
    for (const OutputSection& s : layout.sections()) {
        if (s.characteristics & pe::kSectionCode) {
            code += s.rawSize;
            if (!baseOfCode) baseOfCode = s.rva;
            continue;
        }
        if (!baseOfData) baseOfData = s.rva;
        if (s.characteristics & pe::kSectionInitializedData) initialized += s.rawSize;
        if (s.characteristics & pe::kSectionUninitializedData) uninitialized += alignUp(s.virtualSize, kFileAlignment);
    }
    pe::storeLe32(oh + kOhSizeOfCode, code);
    pe::storeLe32(oh + kOhSizeOfInitializedData, initialized);
    pe::storeLe32(oh + kOhSizeOfUninitializedData, uninitialized);
    pe::storeLe32(oh + kOhBaseOfCode, baseOfCode);
    pe::storeLe32(oh + kOhBaseOfData, baseOfData);
}

void writeOptionalHeader(uint8_t* oh, const ImageLayout& layout, uint32_t entryRva,
                         const DataDirectories& directories) {
    pe::storeLe16(oh + kOhMagic, kOptionalMagicPe32);
    writeSizes(oh, layout);
    pe::storeLe32(oh + kOhAddressOfEntryPoint, entryRva);
    pe::storeLe32(oh + kOhImageBase, kImageBase);
    pe::storeLe32(oh + kOhSectionAlignment, kSectionAlignment);
    pe::storeLe32(oh + kOhFileAlignment, kFileAlignment);
    pe::storeLe16(oh + kOhMajorOperatingSystemVersion, kCeMajor);
    pe::storeLe16(oh + kOhMinorOperatingSystemVersion, kCeMinor);
    pe::storeLe16(oh + kOhMajorImageVersion, kImageMajor);
    pe::storeLe16(oh + kOhMinorImageVersion, kImageMinor);
    pe::storeLe16(oh + kOhMajorSubsystemVersion, kCeMajor);
    pe::storeLe16(oh + kOhMinorSubsystemVersion, kCeMinor);
    pe::storeLe32(oh + kOhSizeOfImage, layout.imageSize());
    pe::storeLe32(oh + kOhSizeOfHeaders, layout.headersSize());
    pe::storeLe32(oh + kOhCheckSum, kCheckSum);
    pe::storeLe16(oh + kOhSubsystem, pe::kSubsystemWindowsCeGui);
    pe::storeLe32(oh + kOhSizeOfStackReserve, kStackReserve);
    pe::storeLe32(oh + kOhSizeOfStackCommit, kStackCommit);
    pe::storeLe32(oh + kOhSizeOfHeapReserve, kHeapReserve);
    pe::storeLe32(oh + kOhSizeOfHeapCommit, kHeapCommit);
    pe::storeLe32(oh + kOhNumberOfRvaAndSizes, kDataDirectoryCount);
    for (uint32_t i = 0; i < kDataDirectoryCount; ++i) {
        uint8_t* d = oh + kOhDataDirectories + i * kDataDirectorySize;
        pe::storeLe32(d, directories[i].rva);
        pe::storeLe32(d + 4, directories[i].size);
    }
}

void writeSectionHeader(uint8_t* sh, const OutputSection& s) {
    std::memcpy(sh + kShName, s.name.data(), std::min<size_t>(s.name.size(), kShNameSize));
    pe::storeLe32(sh + kShVirtualSize, s.virtualSize);
    pe::storeLe32(sh + kShVirtualAddress, s.rva);
    pe::storeLe32(sh + kShSizeOfRawData, s.rawSize);
    pe::storeLe32(sh + kShPointerToRawData, s.fileOffset);
    pe::storeLe32(sh + kShCharacteristics, s.characteristics);
}

}  // namespace

std::vector<uint8_t> buildHeaders(const ImageLayout& layout, uint32_t entryRva, const DataDirectories& directories) {
    std::vector<uint8_t> out(layout.headersSize());
    uint8_t* p = out.data();
    pe::storeLe16(p, kDosMagic);
    pe::storeLe32(p + kDosNewHeaderField, kPeHeaderOffset);
    pe::storeLe32(p + kPeHeaderOffset, kPeSignature);
    uint8_t* fh = p + kPeHeaderOffset + kPeSignatureSize;
    writeFileHeader(fh, layout);
    uint8_t* oh = fh + kFileHeaderSize;
    writeOptionalHeader(oh, layout, entryRva, directories);
    uint8_t* table = oh + kOptionalHeaderSize;
    for (size_t i = 0; i < layout.sections().size(); ++i)
        writeSectionHeader(table + i * kSectionHeaderSize, layout.sections()[i]);
    return out;
}

}  // namespace imagewriter
