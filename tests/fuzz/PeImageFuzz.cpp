// Fuzz target for the PE reader and its resource directory reader: any
// input is read or refused with PeFormatError, every name handed out lies
// inside the file (the address sanitizer flags a view past the exact-size
// copy), and memory stays within the fuzzer's RSS limit however many
// entries share a name.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/pe/PeImage.h"
#include "formats/pe/Resources.h"

namespace {

uint32_t touch(std::string_view name) {
    uint32_t sum = uint32_t(name.size());
    if (!name.empty()) sum += uint8_t(name.front()) + uint8_t(name.back());
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    try {
        pe::Image image = pe::readImage(std::vector<uint8_t>(data, data + size));
        uint32_t sum = 0;
        for (const pe::NamedExport& named : image.namedExports) sum += touch(named.name);
        for (const pe::ImportedLibrary& library : image.imports) {
            sum += touch(library.dllName);
            for (const pe::Import& entry : library.entries) sum += touch(entry.name);
        }
        for (const pe::Resource& resource : pe::readResources(image))
            sum += uint32_t(pe::resourceBytes(image, resource).size());
        volatile uint32_t sink = sum;
        (void)sink;
    } catch (const pe::PeFormatError&) {
    }
    return 0;
}
