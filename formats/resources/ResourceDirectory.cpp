#include "formats/resources/ResourceDirectory.h"

#include "formats/pe/ByteOrder.h"
#include "formats/pe/PeFormat.h"

#include <algorithm>
#include <map>

namespace mui {
namespace {

using namespace pe::format;

char16_t upper(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; }

std::u16string folded(const std::u16string& s) {
    std::u16string out = s;
    for (char16_t& c : out) c = upper(c);
    return out;
}

struct Table {
    std::vector<std::pair<pe::ResourceName, size_t>> entries;  // name, child table or leaf index
};

}  // namespace

bool resourceNameLess(const pe::ResourceName& a, const pe::ResourceName& b) {
    if (a.isId() != b.isId()) return !a.isId();  // names before identifiers
    if (a.isId()) return a.id < b.id;
    return folded(a.name) < folded(b.name);
}

bool sameResourceName(const pe::ResourceName& a, const pe::ResourceName& b) {
    return a.isId() == b.isId() && (a.isId() ? a.id == b.id : folded(a.name) == folded(b.name));
}

std::vector<uint8_t> writeResourceDirectory(std::vector<pe::Resource> leaves) {
    std::stable_sort(leaves.begin(), leaves.end(), [](const pe::Resource& a, const pe::Resource& b) {
        if (!sameResourceName(a.type, b.type)) return resourceNameLess(a.type, b.type);
        if (!sameResourceName(a.name, b.name)) return resourceNameLess(a.name, b.name);
        return a.language < b.language;
    });
    // Tables in breadth-first order: the root, every name table, every language table.
    std::vector<Table> roots(1), names, languages;
    for (size_t i = 0; i < leaves.size(); ++i) {
        const pe::Resource& r = leaves[i];
        Table& root = roots[0];
        if (root.entries.empty() || !sameResourceName(root.entries.back().first, r.type)) {
            root.entries.push_back({r.type, names.size()});
            names.emplace_back();
        }
        Table& nameTable = names[root.entries.back().second];
        if (nameTable.entries.empty() || !sameResourceName(nameTable.entries.back().first, r.name)) {
            nameTable.entries.push_back({r.name, languages.size()});
            languages.emplace_back();
        }
        pe::ResourceName language;
        language.id = r.language;
        languages[nameTable.entries.back().second].entries.push_back({language, i});
    }
    auto tableSize = [](const Table& t) { return kResTableHeaderSize + uint32_t(t.entries.size()) * kResEntrySize; };
    uint32_t offset = tableSize(roots[0]);
    std::vector<uint32_t> nameOffsets, languageOffsets;
    for (const Table& t : names) { nameOffsets.push_back(offset); offset += tableSize(t); }
    for (const Table& t : languages) { languageOffsets.push_back(offset); offset += tableSize(t); }
    uint32_t dataEntries = offset;
    offset += uint32_t(leaves.size()) * kResDataEntrySize;

    std::vector<uint8_t> out(offset);
    std::map<std::u16string, uint32_t> stringOffsets;
    auto nameField = [&](const pe::ResourceName& name) -> uint32_t {
        if (name.isId()) return name.id;
        auto it = stringOffsets.find(name.name);
        if (it != stringOffsets.end()) return kResHighBit | it->second;
        uint32_t at = uint32_t(out.size());
        out.resize(at + 2 + 2 * name.name.size());
        pe::storeLe16(out.data() + at, uint16_t(name.name.size()));
        for (size_t i = 0; i < name.name.size(); ++i) pe::storeLe16(out.data() + at + 2 + 2 * i, name.name[i]);
        stringOffsets[name.name] = at;
        return kResHighBit | at;
    };
    auto writeTable = [&](uint32_t at, const Table& t, auto target) {
        uint16_t named = uint16_t(std::count_if(t.entries.begin(), t.entries.end(), [](auto& e) { return !e.first.isId(); }));
        pe::storeLe16(out.data() + at + kResTableNamedCount, named);
        pe::storeLe16(out.data() + at + kResTableIdCount, uint16_t(t.entries.size() - named));
        for (size_t i = 0; i < t.entries.size(); ++i) {
            uint32_t field = nameField(t.entries[i].first);
            pe::storeLe32(out.data() + at + kResTableHeaderSize + kResEntrySize * i, field);
            pe::storeLe32(out.data() + at + kResTableHeaderSize + kResEntrySize * i + 4, target(t.entries[i].second));
        }
    };
    writeTable(0, roots[0], [&](size_t n) { return kResHighBit | nameOffsets[n]; });
    for (size_t i = 0; i < names.size(); ++i)
        writeTable(nameOffsets[i], names[i], [&](size_t n) { return kResHighBit | languageOffsets[n]; });
    for (size_t i = 0; i < languages.size(); ++i)
        writeTable(languageOffsets[i], languages[i], [&](size_t n) { return dataEntries + uint32_t(n) * kResDataEntrySize; });
    for (size_t i = 0; i < leaves.size(); ++i) {
        uint8_t* entry = out.data() + dataEntries + i * kResDataEntrySize;
        pe::storeLe32(entry, leaves[i].dataRva);
        pe::storeLe32(entry + 4, leaves[i].size);
        pe::storeLe32(entry + 8, leaves[i].codePage);
    }
    while (out.size() % 4) out.push_back(0);
    return out;
}

}  // namespace mui
