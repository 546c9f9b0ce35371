#include "tests/image/Reachability.h"

#include "formats/pe/ByteOrder.h"
#include "toolchain/imagewriter/ImageError.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace testsupport {
namespace {

using imagewriter::ElfFile;
using imagewriter::ElfRelocation;
using imagewriter::ElfRelocationSection;
using imagewriter::ElfSection;
using imagewriter::ElfSymbol;

// A function or data object of the link, by its address range.
struct Node {
    uint32_t start = 0;
    uint32_t end = 0;
    std::string name;
    std::vector<std::string> names;
    bool function = false;
    std::vector<uint32_t> references;  // addresses it refers to
};

class Graph {
public:
    explicit Graph(const ElfFile& elf) : elf_(elf) {
        for (const ElfSymbol& s : elf.symbols()) {
            const ElfSection* section = elf.sectionOf(s);
            if (!section || !section->allocated() || s.size == 0) continue;
            if (s.type != STT_FUNC && s.type != STT_OBJECT) continue;
            Node& node = nodes_[s.value];
            node.start = s.value;
            node.end = std::max(node.end, s.value + s.size);
            node.function = node.function || s.type == STT_FUNC;
            if (node.name.empty() || s.binding != STB_LOCAL) node.name = s.name;
            node.names.push_back(s.name);
            addresses_[s.name] = s.value;
        }
        for (const ElfRelocationSection& relocations : elf.relocationSections()) {
            const ElfSection& target = elf.sections()[relocations.targetSection];
            if (!target.allocated() || target.type == SHT_NOBITS) continue;
            for (const ElfRelocation& r : relocations.entries)
                if (auto to = referenced(target, r.offset, r.type)) addReference(r.offset, *to);
        }
        for (auto& [start, node] : nodes_) {
            const ElfSection* section = sectionAt(start);
            if (!node.function || !section || !section->executable()) continue;
            for (uint32_t at = start; at + 4 <= node.end && at + 4 <= section->end(); at += 4)
                if (auto to = branchTarget(*section, at)) node.references.push_back(*to);
        }
    }

    Node* nodeAt(uint32_t address) {
        auto it = nodes_.upper_bound(address);
        if (it == nodes_.begin()) return nullptr;
        --it;
        return address < it->second.end ? &it->second : nullptr;
    }

    std::vector<const Node*> unreached(const std::vector<uint32_t>& roots,
                                       const std::vector<std::set<std::string>>& keptTogether) {
        std::map<std::string, const std::set<std::string>*> groupOf;
        for (const std::set<std::string>& group : keptTogether)
            for (const std::string& name : group) groupOf[name] = &group;
        std::vector<uint32_t> pending = roots;
        pending.insert(pending.end(), unowned_.begin(), unowned_.end());
        std::set<uint32_t> seen;
        while (!pending.empty()) {
            uint32_t address = pending.back();
            pending.pop_back();
            Node* node = nodeAt(address);
            if (!node || !seen.insert(node->start).second) continue;
            pending.insert(pending.end(), node->references.begin(), node->references.end());
            for (const std::string& name : node->names) {
                auto group = groupOf.find(name);
                if (group == groupOf.end()) continue;
                for (const std::string& member : *group->second)
                    if (auto at = addresses_.find(member); at != addresses_.end()) pending.push_back(at->second);
            }
        }
        std::vector<const Node*> out;
        for (const auto& [start, node] : nodes_)
            if (node.function && !seen.count(start)) out.push_back(&node);
        return out;
    }

private:
    const ElfSection* sectionAt(uint32_t address) const {
        for (const ElfSection& s : elf_.sections())
            if (s.allocated() && address >= s.address && address < s.end()) return &s;
        return nullptr;
    }

    static std::optional<uint32_t> wordAt(const ElfSection& section, uint32_t address) {
        if (address < section.address || uint64_t(address) + 4 > section.end() || section.data.empty())
            return std::nullopt;
        return pe::loadLe32(section.data.data() + (address - section.address));
    }

    // b or bl (any condition): the address it goes to.
    static std::optional<uint32_t> branchTarget(const ElfSection& section, uint32_t at) {
        std::optional<uint32_t> word = wordAt(section, at);
        if (!word || (*word >> 28) == 0xF || ((*word >> 25) & 7) != 5) return std::nullopt;
        int32_t offset = int32_t(*word << 8) >> 6;
        return at + 8 + uint32_t(offset);
    }

    std::optional<uint32_t> referenced(const ElfSection& section, uint32_t at, uint32_t type) const {
        switch (type) {
        case R_ARM_ABS32: return wordAt(section, at);
        case R_ARM_CALL:
        case R_ARM_JUMP24: return branchTarget(section, at);
        default: return std::nullopt;
        }
    }

    // A reference from outside every function and object counts as a root.
    void addReference(uint32_t from, uint32_t to) {
        if (Node* node = nodeAt(from))
            node->references.push_back(to);
        else
            unowned_.push_back(to);
    }

    const ElfFile& elf_;
    std::map<uint32_t, Node> nodes_;
    std::map<std::string, uint32_t> addresses_;
    std::vector<uint32_t> unowned_;
};

}  // namespace

std::vector<std::string> unreachedFunctions(const ElfFile& elf, const std::vector<std::string>& roots,
                                            const std::vector<std::set<std::string>>& keptTogether) {
    Graph graph(elf);
    std::vector<uint32_t> rootAddresses;
    for (const std::string& name : roots)
        if (const ElfSymbol* s = elf.findGlobal(name)) rootAddresses.push_back(s->value);
    std::vector<std::string> out;
    for (const Node* node : graph.unreached(rootAddresses, keptTogether))
        out.push_back(node->name + " at " + imagewriter::hex(node->start));
    return out;
}

}  // namespace testsupport
