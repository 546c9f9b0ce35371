// Every handle the fake COREDLL hands out, by kind, so that a test can
// assert that nothing acquired inside a call is still open after it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace bench {

enum class HandleKind {
    RegistryKey,
    Module,
    DC,
    Bitmap,
    Brush,
    File,
    Mapping,
    View,     // the value is the view's address
    WaveIn,
    WaveOut,
    Menu,
    Window,   // dialogs
};

const char* handleKindName(HandleKind kind);

struct OpenHandle {
    uint32_t value = 0;
    HandleKind kind = HandleKind::Module;
    uint64_t serial = 0;  // acquisition order
    std::string note;     // what it stands for, for messages
};

class HandleLedger {
public:
    using Mark = uint64_t;

    // Hands out a fresh value (never 0, never -1, never reused) unless
    // `value` is given (views, fixed module handles).
    uint32_t acquire(HandleKind kind, std::string note, uint32_t value = 0);
    // False when the value is not an open handle of that kind.
    bool release(uint32_t value, HandleKind kind);
    bool isOpen(uint32_t value, HandleKind kind) const;
    std::optional<HandleKind> kindOf(uint32_t value) const;
    const OpenHandle* find(uint32_t value) const;

    // A point in time; handles acquired after it can be listed.
    Mark mark() const { return serial_; }
    std::vector<OpenHandle> openSince(Mark mark) const;
    std::vector<OpenHandle> open() const;
    std::vector<OpenHandle> open(HandleKind kind) const;
    // "DC 0x0C000010 (memory DC), ..." for assertion messages; "" when empty.
    static std::string describe(const std::vector<OpenHandle>& handles);

private:
    std::map<uint32_t, OpenHandle> open_;
    uint64_t serial_ = 0;
    uint32_t next_ = 0x0C000004;  // an unmapped range, so a handle never passes for a pointer
};

}  // namespace bench
