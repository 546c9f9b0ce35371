#include "tests/support/SampleApplication.h"

#include "emulator/Utf16.h"
#include "formats/resources/ResourceFormats.h"
#include "tests/support/TestImage.h"

#include <map>

namespace bench {
namespace {

constexpr uint16_t kEnglish = 0x409;

pe::ResourceName id(uint16_t n) {
    pe::ResourceName name;
    name.id = n;
    return name;
}

std::u16string text(const std::string& s) { return widen(s); }

}  // namespace

std::vector<mui::ResourceData> sampleResources(const SampleShape& shape) {
    std::vector<mui::ResourceData> out;
    std::map<uint16_t, mui::StringBlock> blocks;
    for (uint32_t i = 0; i < shape.strings; ++i) {
        uint32_t stringId = 100 + i;
        mui::StringBlock& block = blocks[mui::stringBlockId(stringId)];
        block.resize(mui::kStringsPerBlock);
        block[stringId % mui::kStringsPerBlock] = text("Message number " + std::to_string(stringId) + " of the sample");
    }
    for (const auto& [blockId, block] : blocks)
        out.push_back({id(mui::kRtString), id(blockId), kEnglish, mui::writeStringBlock(block)});
    for (uint32_t m = 0; m < shape.menus; ++m) {
        mui::Menu menu;
        menu.extended = m % 2 == 1;
        for (uint32_t p = 0; p < 3; ++p) {
            mui::MenuItem popup;
            popup.flags = menu.extended ? 0x01 : 0x10;
            popup.text = text("&Menu " + std::to_string(p));
            for (uint32_t i = 0; i < 6; ++i) {
                mui::MenuItem item;
                item.id = 1000 * (m + 1) + 10 * p + i;
                item.text = i == 3 ? u"" : text("Command " + std::to_string(item.id) + "\tCtrl+" + std::to_string(i));
                if (i == 3 && menu.extended) item.type = 0x800;  // MFT_SEPARATOR
                if (i == 3 && !menu.extended) item.id = 0;
                popup.children.push_back(item);
            }
            menu.items.push_back(popup);
        }
        out.push_back({id(mui::kRtMenu), id(uint16_t(200 + m)), kEnglish, mui::writeMenu(menu)});
    }
    for (uint32_t d = 0; d < shape.dialogs; ++d) {
        mui::Dialog dialog;
        dialog.extended = d % 2 == 1;
        dialog.style = 0x80C80040;  // popup, caption, system menu, DS_SETFONT
        dialog.cx = 160;
        dialog.cy = 120;
        dialog.caption = text("Dialog " + std::to_string(d));
        dialog.pointSize = 8;
        dialog.typeface = u"Tahoma";
        for (uint32_t i = 0; i < 10; ++i) {
            mui::DialogItem item;
            item.style = 0x50000000;
            item.id = i < 3 ? 0xFFFF : 100 + i;
            item.x = 4;
            item.y = int16_t(4 + 11 * i);
            item.cx = 150;
            item.cy = 10;
            item.windowClass.ordinal = uint16_t(i % 2 ? 0x0080 : 0x0082);  // button, static
            item.title.text = text("Control text " + std::to_string(i) + " of dialog " + std::to_string(d));
            dialog.items.push_back(item);
        }
        out.push_back({id(mui::kRtDialog), id(uint16_t(300 + d)), kEnglish, mui::writeDialog(dialog)});
    }
    std::vector<uint8_t> raw(300);
    for (size_t i = 0; i < raw.size(); ++i) raw[i] = uint8_t(i * 7);
    out.push_back({id(10), id(7), kEnglish, raw});  // RT_RCDATA
    pe::ResourceName custom;
    custom.name = u"SHMENUBAR";
    out.push_back({custom, id(200), kEnglish, {200, 0, 1, 0}});  // a menu bar showing menu 200
    // A 2x2 24-bit bitmap, bottom-up: blue, green / red, white.
    std::vector<uint8_t> dib(40 + 16);
    dib[0] = 40, dib[4] = 2, dib[8] = 2, dib[12] = 1, dib[14] = 24;
    const uint8_t rows[16] = {0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0xFF, 0, 0xFF, 0, 0, 0, 0, 0};
    std::copy(rows, rows + 16, dib.begin() + 40);
    out.push_back({id(mui::kRtBitmap), id(400), kEnglish, dib});
    return out;
}

std::vector<uint8_t> sampleApplication(const SampleShape& shape) {
    using velmark::testing::TestImport;
    velmark::testing::TestImagePlan plan;
    plan.libraries.push_back({"COREDLL.dll",
                              {TestImport::named("LoadStringW"), TestImport::named("LoadMenuW"),
                               TestImport::named("LoadResource"), TestImport::named("CreateDialogIndirectParamW")}});
    plan.resources = sampleResources(shape);
    return velmark::testing::buildTestImage(plan);
}

}  // namespace bench
