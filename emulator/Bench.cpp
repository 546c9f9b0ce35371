#include "emulator/Bench.h"

#include "emulator/Utf16.h"
#include "formats/exporttable/EmbeddedTable.h"
#include "formats/pe/PeImage.h"

namespace bench {
namespace {

constexpr uint32_t DLL_PROCESS_DETACH = 0;
constexpr uint32_t DLL_PROCESS_ATTACH = 1;
constexpr uint32_t DLL_THREAD_ATTACH = 2;
constexpr uint32_t DLL_THREAD_DETACH = 3;

}  // namespace

const velmark::ExportTable& Bench::coredllTable() {
    return velmark::coredllTable();
}

uint16_t Bench::coredllOrdinal(std::string_view name) {
    return FunctionRef(std::string(name)).resolve(coredllTable());
}

Bench::Bench() : Bench(coredllTable()) {}

Bench::Bench(const velmark::ExportTable& table) : fake_(std::make_unique<FakeCoredll>(table, cpu_)) {}

const LoadedImage& Bench::load(const std::string& path, uint32_t base) {
    pe::Image image;
    try {
        image = pe::readImageFile(path);
    } catch (const pe::PeFormatError& e) {
        throw LoadRefused(e.what());
    }
    return load(image, base);
}

const LoadedImage& Bench::load(const pe::Image& image, uint32_t base) {
    if (image_) throw BenchMisuse("a module is already loaded in this process");
    LoadedImage loaded = Loader::load(image, base, memory(), *fake_);
    std::vector<CodeRange> code;
    for (auto [start, end] : loaded.codeRanges()) code.push_back({start, end});
    cpu_.setModuleCode(code);
    fake_->modules().setSelf(loaded.base, kModulePath);
    image_ = std::move(loaded);

    if (image_->entryPoint) {
        CallResult attach = callEntry(DLL_PROCESS_ATTACH);
        if (!attach.ok() || attach.r0 == 0) {
            Loader::unload(*image_, memory());
            image_.reset();
            exportNames_.reset();
            cpu_.setModuleCode({});
            if (!attach.ok()) throw CallFailed(*attach.fault);
            throw LoadRefused("DllMain answered FALSE to process attach");
        }
    }
    return *image_;
}

const LoadedImage& Bench::loadLibrary(const pe::Image& image, uint32_t base) {
    std::vector<const LoadedImage*> exporters;
    if (image_) exporters.push_back(&*image_);
    const LoadedImage& loaded = libraries_.emplace_back(Loader::load(image, base, memory(), *fake_, exporters));
    if (loaded.entryPoint) valueOf(runChecked(loaded.entryPoint, {loaded.base, DLL_PROCESS_ATTACH, 0}));
    return loaded;
}

const LoadedImage& Bench::image() const {
    if (!image_) throw BenchMisuse("no module is loaded");
    return *image_;
}

CallResult Bench::callEntry(uint32_t reason) {
    if (!image().entryPoint) throw BenchMisuse(image().name + " has no entry point");
    return runChecked(image().entryPoint, {image().base, reason, 0});
}

uint32_t Bench::unload() {
    uint32_t result = 1;
    if (image().entryPoint) result = valueOf(callEntry(DLL_PROCESS_DETACH));
    Loader::unload(*image_, memory());
    image_.reset();
    exportNames_.reset();
    cpu_.setModuleCode({});
    return result;
}

uint32_t Bench::threadAttach() { return valueOf(callEntry(DLL_THREAD_ATTACH)); }
uint32_t Bench::threadDetach() { return valueOf(callEntry(DLL_THREAD_DETACH)); }

uint32_t Bench::exportAddress(std::string_view exportName) const {
    if (!exportNames_) exportNames_ = exportsByName(cpu_.memory(), image());
    auto it = exportNames_->find(std::string(exportName));
    if (it == exportNames_->end()) throw BenchMisuse(image().name + " exports nothing named " + std::string(exportName));
    return it->second;
}

uint32_t Bench::exportAddressOrdinal(uint16_t ordinal) const {
    return exportByOrdinal(cpu_.memory(), image(), ordinal);
}

CallResult Bench::runChecked(uint32_t address, const std::vector<uint32_t>& args) {
    if (cpu_.depth() != 0) throw BenchMisuse("a top-level call was made from inside an emulated call");
    last_ = cpu_.call(address, args);
    return last_;
}

uint32_t Bench::valueOf(const CallResult& result) const {
    if (!result.ok()) throw CallFailed(*result.fault);
    return result.r0;
}

uint32_t Bench::call(std::string_view exportName, const std::vector<uint32_t>& args) {
    return valueOf(tryCall(exportName, args));
}

uint32_t Bench::callOrdinal(uint16_t ordinal, const std::vector<uint32_t>& args) {
    return valueOf(tryCallOrdinal(ordinal, args));
}

CallResult Bench::tryCall(std::string_view exportName, const std::vector<uint32_t>& args) {
    return runChecked(exportAddress(exportName), args);
}

CallResult Bench::tryCallOrdinal(uint16_t ordinal, const std::vector<uint32_t>& args) {
    return runChecked(exportAddressOrdinal(ordinal), args);
}

CallResult Bench::callAddress(uint32_t address, const std::vector<uint32_t>& args) {
    return runChecked(address, args);
}

CallResult Bench::callCoredll(FunctionRef fn, const std::vector<uint32_t>& args) {
    return runChecked(Cpu::trapAddress(fn.resolve(fake_->table())), args);
}

uint32_t Bench::allocate(uint32_t size, Placement placement) {
    return memory().allocate(Owner::Caller, size, placement, kRead | kWrite, "caller block");
}

void Bench::allocateAt(uint32_t address, uint32_t size) {
    memory().allocateAt(address, size, kRead | kWrite, "caller block at " + hex(address));
}

uint32_t Bench::allocateCode(const std::vector<uint32_t>& words) {
    uint32_t size = uint32_t(words.size() * 4);
    uint32_t code = memory().allocate(Owner::Caller, size, Placement::atStart(0), kRead | kExecute, "caller code");
    std::vector<uint8_t> bytes;
    for (uint32_t w : words)
        for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(w >> (8 * i)));
    memory().poke(code, bytes.data(), size);
    return code;
}

void Bench::release(uint32_t block) { memory().release(block); }

uint32_t Bench::placeBytes(const std::vector<uint8_t>& bytes, Placement placement) {
    uint32_t block = allocate(uint32_t(bytes.size()), placement);
    memory().writeBytes(block, bytes);
    return block;
}

uint32_t Bench::placeWString(const std::u16string& text, Placement placement) {
    uint32_t block = allocate(uint32_t(2 * (text.size() + 1)), placement);
    memory().writeWString(block, text);
    return block;
}

CallResult Bench::deliverCapture(uint32_t device, const std::vector<uint8_t>& data) {
    std::optional<Notification> notification = fake_->audio().fillNext(memory(), device, data);
    if (!notification) return CallResult{};
    uint32_t outer = fake_->thread();
    fake_->setThread(FakeCoredll::kCallbackThread);
    CallResult result = runChecked(notification->callback, notification->args);
    fake_->setThread(outer);
    return result;
}

}  // namespace bench
