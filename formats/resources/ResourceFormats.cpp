#include "formats/resources/ResourceFormats.h"

#include "formats/common/Hex.h"
#include "formats/pe/ByteOrder.h"

#include <algorithm>

namespace mui {
namespace {

constexpr uint16_t kMfPopup = 0x10;
constexpr uint16_t kMfEnd = 0x80;
constexpr uint16_t kMfrPopup = 0x01;
constexpr uint16_t kMfrEnd = 0x80;
constexpr int kMaxMenuDepth = 16;

using velmark::hex;

class Reader {
public:
    Reader(const std::vector<uint8_t>& bytes, const char* what) : bytes_(bytes), what_(what) {}

    size_t pos() const { return pos_; }
    bool atEnd() const { return pos_ >= bytes_.size(); }
    void need(size_t n, const char* field) const {
        if (n > bytes_.size() - pos_)
            throw ResourceFormatError(std::string(what_) + ": " + field + " at offset " + hex(pos_) +
                                      " runs past the " + std::to_string(bytes_.size()) + "-byte resource");
    }
    uint8_t u8(const char* field) {
        need(1, field);
        return bytes_[pos_++];
    }
    uint16_t u16(const char* field) {
        need(2, field);
        uint16_t v = pe::loadLe16(&bytes_[pos_]);
        pos_ += 2;
        return v;
    }
    uint32_t u32(const char* field) {
        uint32_t low = u16(field);
        return low | uint32_t(u16(field)) << 16;
    }
    std::u16string counted(const char* field) {
        uint16_t length = u16(field);
        need(2ull * length, field);
        std::u16string s;
        for (uint16_t i = 0; i < length; ++i) s.push_back(char16_t(u16(field)));
        return s;
    }
    std::u16string terminated(const char* field) {
        std::u16string s;
        for (char16_t c; (c = char16_t(u16(field))) != 0;) s.push_back(c);
        return s;
    }
    NameOrOrdinal nameOrOrdinal(const char* field) {
        NameOrOrdinal n;
        need(2, field);
        uint16_t first = pe::loadLe16(&bytes_[pos_]);
        if (first == 0) {
            pos_ += 2;
        } else if (first == 0xFFFF) {
            pos_ += 2;
            n.ordinal = u16(field);
        } else {
            n.text = terminated(field);
        }
        return n;
    }
    std::vector<uint8_t> take(size_t n, const char* field) {
        need(n, field);
        std::vector<uint8_t> out(bytes_.begin() + long(pos_), bytes_.begin() + long(pos_ + n));
        pos_ += n;
        return out;
    }
    void alignTo4() { pos_ = std::min(bytes_.size(), (pos_ + 3) & ~size_t(3)); }
    [[noreturn]] void fail(const std::string& why) const {
        throw ResourceFormatError(std::string(what_) + ": " + why + " at offset " + hex(pos_));
    }

private:
    const std::vector<uint8_t>& bytes_;
    const char* what_;
    size_t pos_ = 0;
};

class Writer {
public:
    void u8(uint8_t v) { out.push_back(v); }
    void u16(uint16_t v) {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
    }
    void u32(uint32_t v) {
        u16(uint16_t(v));
        u16(uint16_t(v >> 16));
    }
    void terminated(const std::u16string& s) {
        for (char16_t c : s) u16(c);
        u16(0);
    }
    void nameOrOrdinal(const NameOrOrdinal& n) {
        if (n.ordinal) {
            u16(0xFFFF);
            u16(*n.ordinal);
        } else {
            terminated(n.text);
        }
    }
    void alignTo4() {
        while (out.size() % 4) out.push_back(0);
    }
    std::vector<uint8_t> out;
};

void readStandardItems(Reader& r, std::vector<MenuItem>& items, int depth) {
    if (depth > kMaxMenuDepth) r.fail("menu nests deeper than " + std::to_string(kMaxMenuDepth) + " levels");
    for (;;) {
        MenuItem item;
        item.flags = r.u16("menu item flags");
        if (!(item.flags & kMfPopup)) item.id = r.u16("menu item id");
        item.text = r.terminated("menu item text");
        if (item.flags & kMfPopup) readStandardItems(r, item.children, depth + 1);
        bool last = item.flags & kMfEnd;
        items.push_back(std::move(item));
        if (last) return;
        if (r.atEnd()) return;  // some compilers leave the last item unmarked
    }
}

void readExtendedItems(Reader& r, std::vector<MenuItem>& items, int depth) {
    if (depth > kMaxMenuDepth) r.fail("menu nests deeper than " + std::to_string(kMaxMenuDepth) + " levels");
    for (;;) {
        MenuItem item;
        item.type = r.u32("menu item type");
        item.state = r.u32("menu item state");
        item.id = r.u32("menu item id");
        item.flags = r.u16("menu item flags");
        item.text = r.terminated("menu item text");
        r.alignTo4();
        if (item.flags & kMfrPopup) {
            item.helpId = r.u32("popup help id");
            readExtendedItems(r, item.children, depth + 1);
        }
        bool last = item.flags & kMfrEnd;
        items.push_back(std::move(item));
        if (last || r.atEnd()) return;
    }
}

void writeStandardItems(Writer& w, const std::vector<MenuItem>& items) {
    for (size_t i = 0; i < items.size(); ++i) {
        const MenuItem& item = items[i];
        uint16_t flags = uint16_t((item.flags & ~kMfEnd) | (i + 1 == items.size() ? kMfEnd : 0));
        w.u16(flags);
        if (!(flags & kMfPopup)) w.u16(uint16_t(item.id));
        w.terminated(item.text);
        if (flags & kMfPopup) writeStandardItems(w, item.children);
    }
}

void writeExtendedItems(Writer& w, const std::vector<MenuItem>& items) {
    for (size_t i = 0; i < items.size(); ++i) {
        const MenuItem& item = items[i];
        uint16_t flags = uint16_t((item.flags & ~kMfrEnd) | (i + 1 == items.size() ? kMfrEnd : 0));
        w.u32(item.type);
        w.u32(item.state);
        w.u32(item.id);
        w.u16(flags);
        w.terminated(item.text);
        w.alignTo4();
        if (flags & kMfrPopup) {
            w.u32(item.helpId);
            writeExtendedItems(w, item.children);
        }
    }
}

}  // namespace

StringBlock parseStringBlock(const std::vector<uint8_t>& bytes) {
    Reader r(bytes, "string table block");
    StringBlock block;
    // A block may end early: the strings it leaves out are absent.
    for (uint32_t i = 0; i < kStringsPerBlock; ++i) block.push_back(r.atEnd() ? u"" : r.counted("string"));
    return block;
}

std::vector<uint8_t> writeStringBlock(const StringBlock& block) {
    Writer w;
    for (uint32_t i = 0; i < kStringsPerBlock; ++i) {
        const std::u16string text = i < block.size() ? block[i] : u"";
        if (text.size() > kMaxStringLength) throw ResourceFormatError("string of " + std::to_string(text.size()) + " characters is longer than a string table holds");
        w.u16(uint16_t(text.size()));
        for (char16_t c : text) w.u16(c);
    }
    return w.out;
}

Menu parseMenu(const std::vector<uint8_t>& bytes) {
    Reader r(bytes, "menu");
    Menu menu;
    uint16_t version = r.u16("menu version");
    if (version == 0) {
        uint16_t headerSize = r.u16("menu header size");
        r.take(headerSize, "menu header");
        readStandardItems(r, menu.items, 0);
    } else if (version == 1) {
        menu.extended = true;
        menu.headerOffset = r.u16("menu items offset");
        if (menu.headerOffset < 4) r.fail("extended menu items offset " + std::to_string(menu.headerOffset) + " is below 4");
        menu.helpId = r.u32("menu help id");
        r.take(menu.headerOffset - 4u, "menu header");
        readExtendedItems(r, menu.items, 0);
    } else {
        r.fail("menu template version " + std::to_string(version) + " is neither 0 nor 1");
    }
    return menu;
}

std::vector<uint8_t> writeMenu(const Menu& menu) {
    Writer w;
    if (!menu.extended) {
        w.u16(0);
        w.u16(0);
        writeStandardItems(w, menu.items);
    } else {
        w.u16(1);
        w.u16(menu.headerOffset);
        w.u32(menu.helpId);
        for (uint32_t i = 4; i < menu.headerOffset; ++i) w.u8(0);
        writeExtendedItems(w, menu.items);
    }
    return w.out;
}

Dialog parseDialog(const std::vector<uint8_t>& bytes) {
    Reader r(bytes, "dialog");
    Dialog d;
    r.need(4, "dialog header");
    d.extended = bytes[0] == 1 && bytes[1] == 0 && bytes[2] == 0xFF && bytes[3] == 0xFF;
    uint16_t count = 0;
    if (d.extended) {
        d.version = r.u16("dialog version");
        r.u16("dialog signature");
        d.helpId = r.u32("dialog help id");
        d.exStyle = r.u32("dialog extended style");
        d.style = r.u32("dialog style");
    } else {
        d.style = r.u32("dialog style");
        d.exStyle = r.u32("dialog extended style");
    }
    count = r.u16("dialog item count");
    d.x = int16_t(r.u16("dialog x"));
    d.y = int16_t(r.u16("dialog y"));
    d.cx = int16_t(r.u16("dialog width"));
    d.cy = int16_t(r.u16("dialog height"));
    d.menu = r.nameOrOrdinal("dialog menu");
    d.windowClass = r.nameOrOrdinal("dialog class");
    d.caption = r.terminated("dialog caption");
    if (d.hasFont()) {
        d.pointSize = r.u16("dialog font size");
        if (d.extended) {
            d.weight = r.u16("dialog font weight");
            d.italic = r.u8("dialog font italic");
            d.charset = r.u8("dialog font charset");
        }
        d.typeface = r.terminated("dialog typeface");
    }
    for (uint16_t i = 0; i < count; ++i) {
        r.alignTo4();
        DialogItem item;
        if (d.extended) {
            item.helpId = r.u32("item help id");
            item.exStyle = r.u32("item extended style");
            item.style = r.u32("item style");
        } else {
            item.style = r.u32("item style");
            item.exStyle = r.u32("item extended style");
        }
        item.x = int16_t(r.u16("item x"));
        item.y = int16_t(r.u16("item y"));
        item.cx = int16_t(r.u16("item width"));
        item.cy = int16_t(r.u16("item height"));
        item.id = d.extended ? r.u32("item id") : r.u16("item id");
        item.windowClass = r.nameOrOrdinal("item class");
        item.title = r.nameOrOrdinal("item text");
        uint16_t extra = r.u16("item creation data size");
        item.creationData = r.take(extra, "item creation data");
        d.items.push_back(std::move(item));
    }
    return d;
}

std::vector<uint8_t> writeDialog(const Dialog& d) {
    if (d.items.size() > 0xFFFF) throw ResourceFormatError("dialog has more than 65535 items");
    Writer w;
    if (d.extended) {
        w.u16(d.version);
        w.u16(0xFFFF);
        w.u32(d.helpId);
        w.u32(d.exStyle);
        w.u32(d.style);
    } else {
        w.u32(d.style);
        w.u32(d.exStyle);
    }
    w.u16(uint16_t(d.items.size()));
    for (int16_t v : {d.x, d.y, d.cx, d.cy}) w.u16(uint16_t(v));
    w.nameOrOrdinal(d.menu);
    w.nameOrOrdinal(d.windowClass);
    w.terminated(d.caption);
    if (d.hasFont()) {
        w.u16(d.pointSize);
        if (d.extended) {
            w.u16(d.weight);
            w.u8(d.italic);
            w.u8(d.charset);
        }
        w.terminated(d.typeface);
    }
    for (const DialogItem& item : d.items) {
        w.alignTo4();
        if (d.extended) {
            w.u32(item.helpId);
            w.u32(item.exStyle);
            w.u32(item.style);
        } else {
            w.u32(item.style);
            w.u32(item.exStyle);
        }
        for (int16_t v : {item.x, item.y, item.cx, item.cy}) w.u16(uint16_t(v));
        if (d.extended) w.u32(item.id);
        else w.u16(uint16_t(item.id));
        w.nameOrOrdinal(item.windowClass);
        w.nameOrOrdinal(item.title);
        w.u16(uint16_t(item.creationData.size()));
        for (uint8_t b : item.creationData) w.u8(b);
    }
    return w.out;
}

}  // namespace mui
