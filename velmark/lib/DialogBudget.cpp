#include "velmark/lib/DialogBudget.h"

#include "formats/common/Align.h"

#include <algorithm>

namespace velmark::cli {
namespace {

bool translatable(const mui::DialogItem& item) { return !item.title.ordinal && !item.title.text.empty(); }

// The template's bytes apart from its translatable texts and the padding
// that aligns each control, plus two bytes for each control's padding at its
// worst: whatever the texts' lengths, the template is no longer than this
// and two bytes per UTF-16 unit of text.
uint32_t bytesBesideTexts(const mui::Dialog& dialog) {
    mui::Dialog bare = dialog;
    bare.caption.clear();
    bare.items.clear();
    const size_t header = mui::writeDialog(bare).size(), aligned = velmark::alignUp(uint32_t(header), 4);
    size_t bytes = header + 2 * dialog.items.size();
    for (const mui::DialogItem& item : dialog.items) {
        bare.items = {item};
        if (translatable(item)) bare.items[0].title.text.clear();
        bytes += mui::writeDialog(bare).size() - aligned;
    }
    return uint32_t(bytes);
}

}  // namespace

uint32_t placeOf(const pe::Image& host, const std::vector<pe::Resource>& leaves, const pe::Resource& resource) {
    const pe::Section* section = host.sectionAt(resource.dataRva);
    uint64_t end = section ? uint64_t(section->virtualAddress) + section->span() : uint64_t(resource.dataRva) + resource.size;
    for (const pe::Resource& other : leaves)
        if (other.dataRva > resource.dataRva) end = std::min<uint64_t>(end, other.dataRva);
    return uint32_t(std::max<uint64_t>(end - resource.dataRva, resource.size));
}

size_t translatableUnits(const mui::Dialog& dialog) {
    size_t units = dialog.caption.size();
    for (const mui::DialogItem& item : dialog.items)
        if (translatable(item)) units += item.title.text.size();
    return units;
}

size_t dialogBudget(const mui::Dialog& dialog, uint32_t placeBytes) {
    uint32_t beside = bytesBesideTexts(dialog);
    return placeBytes > beside ? (placeBytes - beside) / 2 : 0;
}

uint32_t placeWithRoom(const mui::Dialog& dialog, unsigned percent) {
    uint64_t units = translatableUnits(dialog);
    uint64_t grown = units + (units * percent + 99) / 100;
    uint64_t place = bytesBesideTexts(dialog) + 2 * grown;
    place = std::max<uint64_t>(place, mui::writeDialog(dialog).size());
    return velmark::alignUp(uint32_t(std::min<uint64_t>(place, UINT32_MAX - 3)), 4);
}

std::string budgetComment(const pe::Resource& resource, const mui::Dialog& dialog, uint32_t placeBytes) {
    return "dialog " + pe::describe(resource.name) + ": all its texts together at most " +
           std::to_string(dialogBudget(dialog, placeBytes)) + " characters (UTF-16 units; now " +
           std::to_string(translatableUnits(dialog)) + ")";
}

std::string overlongDialog(const pe::Resource& resource, const mui::Dialog& translated, uint32_t placeBytes,
                           const Translations& translations) {
    std::string entries;
    auto note = [&](const std::string& part) {
        std::string context = dialogContext(resource, part);
        if (translations.count(context)) entries += (entries.empty() ? "" : ", ") + context;
    };
    if (!translated.caption.empty()) note("caption");
    for (size_t i = 0; i < translated.items.size(); ++i)
        if (translatable(translated.items[i])) note("item " + std::to_string(i + 1));
    const size_t units = translatableUnits(translated), budget = dialogBudget(translated, placeBytes);
    return "dialog " + pe::describe(resource.name) + " stays untranslated: its texts hold " + std::to_string(units) +
           " characters (UTF-16 units), its place of " + std::to_string(placeBytes) + " bytes at most " +
           std::to_string(budget) + "; cut " + std::to_string(units - std::min(units, budget)) + " from " +
           (entries.empty() ? "its texts" : entries);
}

}  // namespace velmark::cli
