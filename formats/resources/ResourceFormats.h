// The resource formats a language module translates: string-table blocks,
// menu templates (standard and extended) and dialog templates (DLGTEMPLATE
// and DLGTEMPLATEEX with their items). Each parser is bounds-checked and
// throws ResourceFormatError naming the offset inside the resource; each
// writer gives back the bytes the parser reads, so an untouched resource
// round-trips to the same layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace mui {

class ResourceFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr uint16_t kRtBitmap = 2;
constexpr uint16_t kRtMenu = 4;
constexpr uint16_t kRtDialog = 5;
constexpr uint16_t kRtString = 6;

// RT_STRING: block b holds the strings (b - 1) * 16 to (b - 1) * 16 + 15.
constexpr uint32_t kStringsPerBlock = 16;
constexpr size_t kMaxStringLength = 0xFFFF;  // UTF-16 units: the length is one 16-bit word
constexpr uint16_t stringBlockId(uint32_t stringId) { return uint16_t(stringId / kStringsPerBlock + 1); }
constexpr uint32_t firstStringOf(uint16_t blockId) { return uint32_t(blockId - 1) * kStringsPerBlock; }

using StringBlock = std::vector<std::u16string>;  // always 16 entries, "" for absent
StringBlock parseStringBlock(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> writeStringBlock(const StringBlock& block);

struct MenuItem {
    uint32_t type = 0, state = 0, id = 0, helpId = 0;  // extended templates; standard: id only
    uint16_t flags = 0;  // standard: MF_* option word; extended: 0x01 popup, 0x80 last
    std::u16string text;
    std::vector<MenuItem> children;
    bool isPopup(bool extended) const { return extended ? (flags & 0x01) : (flags & 0x10); }
};

struct Menu {
    bool extended = false;
    uint16_t headerOffset = 4;  // extended: bytes from after this word to the items
    uint32_t helpId = 0;        // extended
    std::vector<MenuItem> items;
};
Menu parseMenu(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> writeMenu(const Menu& menu);

// A name-or-ordinal field of a dialog template: absent, an ordinal or a text.
struct NameOrOrdinal {
    std::optional<uint16_t> ordinal;
    std::u16string text;
    bool present() const { return ordinal || !text.empty(); }
};

struct DialogItem {
    uint32_t helpId = 0, exStyle = 0, style = 0, id = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    NameOrOrdinal windowClass, title;
    std::vector<uint8_t> creationData;
};

struct Dialog {
    bool extended = false;
    uint16_t version = 1;  // extended
    uint32_t helpId = 0, exStyle = 0, style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    NameOrOrdinal menu, windowClass;
    std::u16string caption;
    bool hasFont() const { return style & (extended ? 0x48 : 0x40); }  // DS_SETFONT, DS_SHELLFONT
    uint16_t pointSize = 0, weight = 0;
    uint8_t italic = 0, charset = 0;
    std::u16string typeface;
    std::vector<DialogItem> items;
};
Dialog parseDialog(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> writeDialog(const Dialog& dialog);

}  // namespace mui
