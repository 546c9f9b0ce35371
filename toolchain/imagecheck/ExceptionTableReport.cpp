#include "toolchain/imagecheck/ExceptionTableReport.h"

#include "formats/common/Hex.h"
#include "formats/pe/ArmFrames.h"
#include "formats/pe/ByteOrder.h"

namespace velmark::imagecheck {
namespace {

std::string hexWord(uint32_t value) { return velmark::hex(value, 8); }

}  // namespace

std::vector<std::string> writeExceptionTable(std::ostream& out, const pe::Image& image) {
    std::vector<std::string> problems;
    const pe::DataDirectory& directory = image.directories[pe::kDirException];
    if (!directory.rva) {
        out << "  exception table: none\n";
        return problems;
    }
    if (directory.size % pe::arm::kRuntimeFunctionSize)
        problems.push_back("exception table size " + std::to_string(directory.size) + " is not a multiple of 8");
    std::vector<uint8_t> bytes;
    try {
        bytes = image.bytesAt(directory.rva, directory.size - directory.size % pe::arm::kRuntimeFunctionSize);
    } catch (const pe::PeFormatError& e) {
        problems.push_back(std::string("exception table: ") + e.what());
        return problems;
    }
    size_t count = bytes.size() / pe::arm::kRuntimeFunctionSize;
    out << "  exception table: " << count << " entries, " << directory.size << " bytes at RVA "
        << hexWord(directory.rva) << "\n";
    uint64_t previousEnd = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* entry = bytes.data() + pe::arm::kRuntimeFunctionSize * i;
        auto f = pe::arm::RuntimeFunction::unpack(pe::loadLe32(entry), pe::loadLe32(entry + 4));
        uint32_t rva = f.start - image.imageBase;
        uint64_t end = uint64_t(f.start) + 4ull * f.functionLength;
        std::string label = "entry " + std::to_string(i) + " (" + hexWord(f.start) + ")";
        std::string prolog;
        const pe::Section* section = image.sectionAt(rva);
        if (f.start < previousEnd)
            problems.push_back(label + " is out of order or overlaps the entry before it");
        previousEnd = end;
        if (!section || !(section->characteristics & pe::kSectionExecute) ||
            end - image.imageBase > uint64_t(section->virtualAddress) + section->virtualSize) {
            problems.push_back(label + " does not lie inside an executable section");
        } else if (f.prologLength > f.functionLength) {
            problems.push_back(label + ": prolog of " + std::to_string(f.prologLength) + " instructions in a function of " +
                               std::to_string(f.functionLength));
        } else if (f.prologLength) {
            std::vector<uint32_t> code;
            try {
                for (uint32_t k = 0; k < f.functionLength; ++k) code.push_back(image.read32(rva + 4 * k));
            } catch (const pe::PeFormatError&) {
            }
            pe::arm::FrameShape shape = pe::arm::decodeProlog(code);
            prolog = shape.prolog;
            if (shape.prologLength != f.prologLength)
                problems.push_back(label + ": a prolog of " + std::to_string(f.prologLength) +
                                   " instructions, but the function starts with " +
                                   (shape.prologLength ? std::to_string(shape.prologLength) + " (" + shape.prolog + ")"
                                                       : std::string("no prolog of a documented form")));
        }
        if (image.machine == pe::kMachineArm && !f.is32Bit)
            problems.push_back(label + " lacks the 32-bit flag of ARM code");
        out << "    " << hexWord(f.start) << "  prolog " << f.prologLength << "  length " << f.functionLength
            << (f.is32Bit ? "  32-bit" : "") << (f.hasHandler ? "  handler" : "")
            << (prolog.empty() ? "" : "  " + prolog) << "\n";
    }
    return problems;
}

}  // namespace velmark::imagecheck
