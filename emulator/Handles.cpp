#include "emulator/Handles.h"

#include "emulator/Fault.h"

namespace bench {

const char* handleKindName(HandleKind kind) {
    switch (kind) {
    case HandleKind::RegistryKey: return "registry key";
    case HandleKind::Module: return "module";
    case HandleKind::DC: return "DC";
    case HandleKind::Bitmap: return "bitmap";
    case HandleKind::Brush: return "brush";
    case HandleKind::File: return "file";
    case HandleKind::Mapping: return "mapping";
    case HandleKind::View: return "view";
    case HandleKind::WaveIn: return "wave-in device";
    case HandleKind::WaveOut: return "wave-out device";
    case HandleKind::Menu: return "menu";
    case HandleKind::Window: return "window";
    }
    return "?";
}

uint32_t HandleLedger::acquire(HandleKind kind, std::string note, uint32_t value) {
    if (value == 0) {
        value = next_;
        next_ += 4;
    } else if (open_.count(value)) {
        throw BenchMisuse("handle " + hex(value) + " is already open");
    }
    open_[value] = OpenHandle{value, kind, ++serial_, std::move(note)};
    return value;
}

bool HandleLedger::release(uint32_t value, HandleKind kind) {
    auto it = open_.find(value);
    if (it == open_.end() || it->second.kind != kind) return false;
    open_.erase(it);
    return true;
}

bool HandleLedger::isOpen(uint32_t value, HandleKind kind) const {
    auto it = open_.find(value);
    return it != open_.end() && it->second.kind == kind;
}

std::optional<HandleKind> HandleLedger::kindOf(uint32_t value) const {
    auto it = open_.find(value);
    if (it == open_.end()) return std::nullopt;
    return it->second.kind;
}

const OpenHandle* HandleLedger::find(uint32_t value) const {
    auto it = open_.find(value);
    return it == open_.end() ? nullptr : &it->second;
}

std::vector<OpenHandle> HandleLedger::openSince(Mark mark) const {
    std::vector<OpenHandle> found;
    for (const auto& entry : open_)
        if (entry.second.serial > mark) found.push_back(entry.second);
    return found;
}

std::vector<OpenHandle> HandleLedger::open() const { return openSince(0); }

std::vector<OpenHandle> HandleLedger::open(HandleKind kind) const {
    std::vector<OpenHandle> found;
    for (const auto& entry : open_)
        if (entry.second.kind == kind) found.push_back(entry.second);
    return found;
}

std::string HandleLedger::describe(const std::vector<OpenHandle>& handles) {
    std::string text;
    for (const OpenHandle& h : handles) {
        if (!text.empty()) text += ", ";
        text += std::string(handleKindName(h.kind)) + " " + hex(h.value);
        if (!h.note.empty()) text += " (" + h.note + ")";
    }
    return text;
}

}  // namespace bench
