// Resources of an image mapped into the emulated address space, found and
// read as the platform does: through the image's resource directory, with
// the data read from the image's memory (so a module that misplaces a
// resource is caught where the platform would misbehave).
#pragma once

#include "emulator/FakeDrawing.h"
#include "emulator/Loader.h"
#include "emulator/Memory.h"
#include "formats/pe/Resources.h"
#include "formats/resources/ResourceFormats.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bench {

struct ImageResources {
    uint32_t base = 0;
    std::vector<pe::Resource> leaves;
    std::optional<LoadedImage> loaded;  // set when LoadLibraryW mapped it

    // By keys as resourceKey() makes them ("#6", "ABOUT"); the first language.
    const pe::Resource* find(const std::u16string& typeKey, const std::u16string& nameKey) const;
    std::vector<uint8_t> bytes(const Memory& memory, const pe::Resource& resource) const;

    struct StringRef {
        uint32_t address = 0;  // of the first character, unterminated
        std::u16string text;
    };
    // String `id` of the image's string tables; nothing when its block is absent.
    std::optional<StringRef> string(const Memory& memory, uint32_t id) const;
};

// A device-independent bitmap resource (BITMAPINFOHEADER, palette, rows) as
// a surface; nothing when its format is not one the platform draws.
std::optional<Surface> surfaceOfDib(const std::vector<uint8_t>& dib);

}  // namespace bench
