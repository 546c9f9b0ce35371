// The emulated device: one process with an ARMv4T core, the fake COREDLL
// and the module under test. See emulator/README.md for a walk-through.
//
//   bench::Bench bench;                        // a fresh process
//   bench.load(VELMARK_DLL_PATH, 0x01000000);  // maps, relocates, binds, DllMain(base, 1, 0)
//   uint32_t text = bench.placeWString(u"\\Windows\\x");
//   uint32_t r = bench.call("LoadLibraryW", {text});   // throws CallFailed on any fault
//   bench.fake().callsTo("LoadLibraryW");               // what COREDLL saw
//
// Two Bench objects share nothing: each is a process of its own.
#pragma once

#include "emulator/Cpu.h"
#include "emulator/Fake.h"
#include "emulator/Loader.h"
#include "emulator/Memory.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pe {
struct Image;
}

namespace velmark {
class ExportTable;
}

namespace bench {

class Bench {
public:
    // Load bases the tests use; both differ from the image's preferred base.
    static constexpr uint32_t kDefaultBase = 0x01000000;
    static constexpr uint32_t kOtherBase = 0x2A7B0000;
    static constexpr const char16_t* kModulePath = u"\\Windows\\VELMARK.dll";

    // COREDLL's export table (exports/coredll.exports), read once.
    static const velmark::ExportTable& coredllTable();
    // COREDLL's ordinal for a function, from that table; BenchMisuse when absent.
    static uint16_t coredllOrdinal(std::string_view name);

    Bench();
    explicit Bench(const velmark::ExportTable& table);
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    // --- Loading -----------------------------------------------------------
    // Reads the image with the PE reader, maps it at `base`, relocates it,
    // binds its imports to the fake COREDLL and calls DllMain(base, 1, 0).
    // Throws LoadRefused (with the reason) for what the CE loader refuses,
    // also when DllMain answers FALSE, and CallFailed when DllMain faults.
    const LoadedImage& load(const std::string& path, uint32_t base = kDefaultBase);
    const LoadedImage& load(const pe::Image& image, uint32_t base = kDefaultBase);
    // Another library of the process (e.g. one of the application's), mapped,
    // relocated and bound like the module: its imports of the module bind to
    // the module's exports, those of COREDLL to the fake. Its DllMain, if
    // any, is called with process attach.
    const LoadedImage& loadLibrary(const pe::Image& image, uint32_t base);
    bool isLoaded() const { return image_.has_value(); }
    const LoadedImage& image() const;
    uint32_t instance() const { return image().base; }
    // DllMain(base, 0, 0), then the image is unmapped; returns DllMain's result.
    uint32_t unload();
    // DllMain(base, 2 or 3, 0); returns its result.
    uint32_t threadAttach();
    uint32_t threadDetach();
    // DllMain(base, reason, 0) for any reason, unchecked result.
    CallResult callEntry(uint32_t reason);

    // --- Calls ---------------------------------------------------------------
    // Arguments go in r0-r3, then on the stack. After the call the bench
    // checks that it returned to the sentinel return address with sp and
    // r4-r11 preserved, in ARM state, with no misaligned access, no
    // instruction beyond ARMv4T, no access outside mapped memory and no
    // fault in a fake COREDLL function. call* throw CallFailed otherwise;
    // tryCall* return the result with the fault for inspection.
    uint32_t call(std::string_view exportName, const std::vector<uint32_t>& args = {});
    uint32_t callOrdinal(uint16_t ordinal, const std::vector<uint32_t>& args = {});
    CallResult tryCall(std::string_view exportName, const std::vector<uint32_t>& args = {});
    CallResult tryCallOrdinal(uint16_t ordinal, const std::vector<uint32_t>& args = {});
    // Any address: code placed with allocateCode, or a module address.
    CallResult callAddress(uint32_t address, const std::vector<uint32_t>& args = {});
    // COREDLL's function itself, as the application would call it without the module.
    CallResult callCoredll(FunctionRef fn, const std::vector<uint32_t>& args = {});
    // The export's address, found through the image's export directory.
    uint32_t exportAddress(std::string_view exportName) const;
    uint32_t exportAddressOrdinal(uint16_t ordinal) const;
    // The most recent top-level call (r0, module instruction count, fault).
    const CallResult& lastCall() const { return last_; }

    // --- Caller memory -------------------------------------------------------
    // Blocks on fresh pages with unmapped guard pages before and after (see
    // Placement: by default 4-byte aligned and ending 0-3 bytes before the
    // guard page; Placement::atEnd(1) gives an odd address).
    uint32_t allocate(uint32_t size, Placement placement = {});
    void allocateAt(uint32_t address, uint32_t size);
    // ARM code, page-aligned, read-only and executable.
    uint32_t allocateCode(const std::vector<uint32_t>& words);
    void release(uint32_t block);
    uint32_t placeBytes(const std::vector<uint8_t>& bytes, Placement placement = {});
    // Zero-terminated UTF-16 text.
    uint32_t placeWString(const std::u16string& text, Placement placement = {});
    Memory& memory() { return cpu_.memory(); }

    // --- Platform ------------------------------------------------------------
    FakeCoredll& fake() { return *fake_; }
    HandleLedger& handles() { return fake_->handles(); }
    Cpu& cpu() { return cpu_; }
    // The capture device fills its next queued buffer with (at most
    // dwBufferLength bytes of) `data`, then the platform calls the device's
    // function callback with WIM_DATA and the header's address on the
    // callback thread, as a checked emulated call. Returns that call's
    // result (ok and empty when the device has no function callback).
    CallResult deliverCapture(uint32_t device, const std::vector<uint8_t>& data);

private:
    CallResult runChecked(uint32_t address, const std::vector<uint32_t>& args);
    uint32_t valueOf(const CallResult& result) const;

    Cpu cpu_;
    std::unique_ptr<FakeCoredll> fake_;
    std::optional<LoadedImage> image_;
    std::deque<LoadedImage> libraries_;
    // The export name table read once per load: the directory is read-only.
    mutable std::optional<std::map<std::string, uint32_t>> exportNames_;
    CallResult last_;
};

}  // namespace bench
