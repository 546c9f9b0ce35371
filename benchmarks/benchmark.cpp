// benchmark: what a forwarded call costs on the emulated device, and what
// the image holds. Not a test: it prints numbers and fails only when the
// image cannot be loaded or a forwarded call faults.
//
//   benchmark [VELMARK.dll]
#include "emulator/Bench.h"
#include "formats/exporttable/ExportTable.h"
#include "formats/pe/ImageSummary.h"
#include "formats/pe/PeImage.h"
#include "tests/support/SampleApplication.h"
#include "tests/support/bitmapFiles.h"
#include "tests/support/TestImage.h"
#include "toolchain/imagewriter/ElfFile.h"
#include "toolchain/imagewriter/ImageError.h"
#include "velmark/lib/FileIo.h"
#include "velmark/lib/ApplicationRetarget.h"
#include "velmark/lib/MuiFiles.h"
#include "velmark/lib/MuiModuleBuilder.h"
#include "velmark/lib/Package.h"
#include "velmark/lib/TableSource.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

namespace {

// Redirected LoadStringW: module instructions for a string the language
// module has (one COREDLL call) and for one it lacks (the host answers on
// the second call), with a process whose language module is loaded at attach.
void printRedirectedLoadString(const pe::Image& image) {
    const std::u16string host = bench::Modules::kDefaultHostPath;
    const std::u16string language = host + u".0409.mui";
    bench::Bench device;
    device.fake().registry().setDword(u"MUI", u"Enable", 1);
    device.fake().files().add(language, {0x4D, 0x5A});
    device.fake().resources().of(language).string(1, u"Sprache");
    device.fake().resources().of(host).string(1, u"Host text").string(2, u"Host only");
    device.load(image, bench::Bench::kDefaultBase);
    if (device.fake().modules().loaded().size() != 1) throw std::runtime_error("no language module was loaded");

    uint32_t hostInstance = device.fake().modules().hostHandle();
    uint32_t buffer = device.allocate(2 * 64);
    std::printf("redirected LoadStringW\n");
    for (auto [label, id] : {std::pair<const char*, uint32_t>{"language module hit", 1},
                             {"fall-back to the host", 2}}) {
        device.fake().clearLog();
        device.call("LoadStringW", {hostInstance, id, buffer, 64});
        std::printf("  %-22s %llu module instructions, %zu COREDLL LoadStringW calls\n", label,
                    (unsigned long long)device.lastCall().moduleInstructions,
                    device.fake().countOf("LoadStringW"));
    }
    device.unload();
}

// Bitmap 284: module instructions for the first request that draws the
// banner file, for a first request that falls back on the host's own
// bitmap (no banner file), and for every later request.
void printBanner(const pe::Image& image) {
    const std::u16string host = bench::Modules::kDefaultHostPath;
    BitmapFileShape shape;
    shape.width = 800;
    shape.height = 407;
    const std::vector<uint8_t> bannerFile = makeBitmapFile(shape);
    std::printf("LoadBitmapW for bitmap 284\n");
    for (bool withFile : {true, false}) {
        bench::Bench device;
        device.fake().resources().of(host).bitmap(284, bench::Surface::filled(240, 407, 0x336699));
        if (withFile) device.fake().files().add(host.substr(0, host.size() - 3) + u"bmp", bannerFile);
        device.load(image, bench::Bench::kDefaultBase);
        uint32_t hostInstance = device.fake().modules().hostHandle();
        device.fake().clearLog();
        uint32_t banner = device.call("LoadBitmapW", {hostInstance, 284});
        std::printf("  first, %-16s %llu module instructions, %zu COREDLL calls\n",
                    withFile ? "banner file" : "fall-back", (unsigned long long)device.lastCall().moduleInstructions,
                    device.fake().calls().size());
        if (!withFile) {
            device.fake().clearLog();
            if (device.call("LoadBitmapW", {0, 284}) != banner) throw std::runtime_error("a second banner");
            std::printf("  later request          %llu module instructions, %zu COREDLL calls\n",
                        (unsigned long long)device.lastCall().moduleInstructions, device.fake().calls().size());
        }
        device.unload();
    }
    // The fall-back scales bitmap 284 to 407 pixels high: a very wide one
    // makes pieces far wider than the banner, which every draw clips.
    for (int width : {65537, 1000000}) {
        bench::Bench device;
        device.fake().resources().of(host).bitmap(284, bench::Surface::filled(width, 1, 0x336699));
        device.load(image, bench::Bench::kDefaultBase);
        auto start = std::chrono::steady_clock::now();
        device.call("LoadBitmapW", {device.fake().modules().hostHandle(), 284});
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("  fall-back from a %7d x 1 bitmap %.3f seconds on this host\n", width, seconds);
        device.unload();
    }
}

// The ELF address of a global symbol of the module, from velmark.elf in
// module/ beside the image; 0 when the file or the symbol is not there.
uint32_t moduleSymbol(const std::string& imagePath, const char* name) {
    std::filesystem::path elf = std::filesystem::path(imagePath).parent_path() / "module" / "velmark.elf";
    if (!std::filesystem::exists(elf)) return 0;
    try {
        imagewriter::ElfFile file = imagewriter::ElfFile::load(elf.string());
        const imagewriter::ElfSymbol* symbol = file.findGlobal(name);
        return symbol ? symbol->value : 0;
    } catch (const imagewriter::ImageError&) {
        return 0;
    }
}

// Capture callback on a full 160-byte buffer at each of the four buffer
// alignments, with the header at an odd address (read a byte at a time)
// and word-aligned, as an application's headers are; waveInPrepareHeader
// with both headers. Every result is checked against the frame-by-frame
// doubling. The module's own byte-step loop (duplicateSamplesByteByByte)
// and duplicateSamples are also counted alone when the ELF beside the
// image names them.
void printCapture(const pe::Image& image, const std::string& imagePath) {
    constexpr uint32_t kFull = 160;
    bench::Bench device;
    device.load(image, bench::Bench::kDefaultBase);
    bench::Memory& memory = device.memory();
    uint32_t format = device.placeBytes(bench::pcm16000Format());
    uint32_t handleOut = device.allocate(4);
    if (device.call("waveInOpen", {handleOut, 0, format, 0, 0, 0x00030000}) != 0)
        throw std::runtime_error("waveInOpen failed");
    uint32_t handle = memory.read32(handleOut);
    uint32_t callback = device.fake().audio().opens().back().callback;
    std::vector<uint8_t> captured(kFull);
    for (uint32_t i = 0; i < kFull; ++i) captured[i] = uint8_t(i * 37 + 11);
    std::vector<uint8_t> doubled(2 * kFull);
    for (uint32_t i = 0; i < 2 * kFull; ++i) doubled[i] = captured[(i / 4) * 2 + i % 2];

    // One full buffer through the callback, the buffer starting `misalign`
    // bytes past a word and the header `headerMisalign` bytes past one.
    uint64_t prepare = 0;
    auto run = [&](uint32_t misalign, uint32_t headerMisalign) {
        uint32_t data = device.allocate(2 * kFull, bench::Placement::atEnd(misalign));
        uint32_t header = device.allocate(bench::kWaveHeaderSize, bench::Placement::atEnd(headerMisalign));
        memory.write32(header, data);
        memory.write32(header + 4, 2 * kFull);
        device.call("waveInPrepareHeader", {handle, header, bench::kWaveHeaderSize});
        prepare = device.lastCall().moduleInstructions;
        device.call("waveInAddBuffer", {handle, header, bench::kWaveHeaderSize});
        device.fake().audio().fillNext(memory, handle, captured);
        bench::CallResult r = device.callAddress(callback, {handle, bench::WIM_DATA, 0, header, 0});
        if (!r.ok()) throw std::runtime_error("capture callback: " + r.describe());
        if (memory.readBytes(data, 2 * kFull) != doubled || memory.read32(header + 8) != 2 * kFull)
            throw std::runtime_error("capture callback: wrong result at misalignment " + std::to_string(misalign));
        return r.moduleInstructions;
    };
    std::printf("captureCallback, full %u-byte buffer: module instructions\n", kFull);
    std::printf("  buffer address mod 4         0     1     2     3\n");
    uint64_t aligned = 0, prepareOdd = 0, prepareAligned = 0;
    for (uint32_t headerMisalign : {1u, 0u}) {
        std::printf("  %-24s", headerMisalign ? "header at an odd address" : "word-aligned header");
        for (uint32_t misalign = 0; misalign < 4; ++misalign) {
            uint64_t cost = run(misalign, headerMisalign);
            if (misalign == 0 && headerMisalign == 0) aligned = cost;
            std::printf(" %5llu", (unsigned long long)cost);
        }
        std::printf("\n");
        (headerMisalign ? prepareOdd : prepareAligned) = prepare;
    }
    std::printf("waveInPrepareHeader, header at an odd address  %llu module instructions\n",
                (unsigned long long)prepareOdd);
    std::printf("waveInPrepareHeader, word-aligned header       %llu module instructions\n",
                (unsigned long long)prepareAligned);

    // The plain byte-step loop alone, and the transformation alone, on an aligned buffer.
    uint32_t plain = moduleSymbol(imagePath, "_Z26duplicateSamplesByteByBytePhmm");
    uint32_t fast = moduleSymbol(imagePath, "_Z16duplicateSamplesPhm");
    if (plain && fast) {
        auto alone = [&](uint32_t symbol) {
            uint32_t data = device.allocate(2 * kFull);
            memory.writeBytes(data, captured);
            bench::CallResult r =
                device.callAddress(symbol - image.imageBase + bench::Bench::kDefaultBase, {data, kFull, 0});
            if (!r.ok() || memory.readBytes(data, 2 * kFull) != doubled)
                throw std::runtime_error("doubling alone: " + r.describe());
            return r.moduleInstructions;
        };
        uint64_t plainAlone = alone(plain), fastAlone = alone(fast);
        std::printf("  plain byte-step loop     %llu module instructions (aligned buffer, called alone)\n",
                    (unsigned long long)plainAlone);
        std::printf("  duplicateSamples alone   %llu module instructions, ratio %.3f\n", (unsigned long long)fastAlone,
                    double(fastAlone) / double(plainAlone));
        std::printf("  ratio callback/plain     %.3f (aligned buffer and header)\n", double(aligned) / double(plainAlone));
    }
    device.unload();
}
// velmark mui extract and build for an application of 1,000 strings, 20
// dialogs and 5 menus, every text translated (goal: under a second each).
void printLanguageModuleTools(const std::string& dllPath) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("velmark-benchmark-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::string exe = (dir / "APP.exe").string(), pot = (dir / "app.pot").string(), po = (dir / "de.po").string();
    std::vector<uint8_t> app = bench::sampleApplication();
    velmark::cli::writeWholeFile(exe, app);

    auto start = std::chrono::steady_clock::now();
    size_t texts = velmark::cli::extractTexts(exe, pot);
    double extractSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    pe::Image image = pe::readImage(app);
    std::ofstream out(po);
    out << "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n";
    for (const velmark::cli::CatalogText& t : velmark::cli::catalogTexts(velmark::cli::readApplicationResources(image, exe))) {
        // The sample's texts are plain ASCII; the translation is the text in
        // capitals, as long as the original so that every dialog fits its place.
        std::string text(t.text.begin(), t.text.end());
        std::string translated = text;
        for (char& c : translated) c = char(std::toupper(uint8_t(c)));
        auto quoted = [](std::string q) {
            for (size_t tab; (tab = q.find('\t')) != std::string::npos;) q.replace(tab, 1, "\\t");
            return q;
        };
        out << "\nmsgctxt \"" << t.context << "\"\nmsgid \"" << quoted(text) << "\"\nmsgstr \"" << quoted(translated)
            << "\"\n";
    }
    out.close();
    start = std::chrono::steady_clock::now();
    velmark::cli::BuiltModule built = velmark::cli::buildModule(exe, po, "407", std::nullopt, dllPath);
    double buildSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    // Retargeted with room for its dialogs, then its module built again.
    start = std::chrono::steady_clock::now();
    velmark::cli::ApplicationRetarget roomy =
        velmark::cli::retargetApplication({exe, app, {}, 100, false}, bench::Bench::coredllTable());
    double retargetSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string roomyExe = (dir / "retargeted.exe").string();
    velmark::cli::writeWholeFile(roomyExe, roomy.application.file);
    start = std::chrono::steady_clock::now();
    velmark::cli::BuiltModule roomyBuilt = velmark::cli::buildModule(roomyExe, po, "407", std::nullopt, dllPath);
    double roomyBuildSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    fs::remove_all(dir);

    std::printf("language module tools, 1000 strings, 20 dialogs, 5 menus (%zu-byte application)\n", app.size());
    std::printf("  mui extract  %zu texts in %.3f s (goal under 1 s)\n", texts, extractSeconds);
    std::printf("  mui build    %zu-byte module in %.3f s (goal under 1 s)\n", built.module.file.size(), buildSeconds);
    std::printf("  retarget --dialog-room 100  %zu dialogs given room in %.3f s (goal under 1 s)\n", roomy.room->dialogs,
                retargetSeconds);
    std::printf("  mui build, laid out with room  %zu-byte module, %zu dialogs translated in %.3f s (goal under 1 s)\n",
                roomyBuilt.module.file.size(), roomyBuilt.module.dialogsTranslated, roomyBuildSeconds);
}

// velmark package with VELMARK.dll, a 1 MB application (retargeted on the
// way) and three language modules, from reading the files to writing the
// CAB (goal: under a second).
void printPackage(const std::string& dllPath) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("velmark-benchmark-" + std::to_string(getpid()));
    fs::create_directories(dir);
    velmark::testing::TestImagePlan plan = velmark::testing::typicalApplication();
    plan.bitmap284.assign(1 << 20, 0x5A);
    const std::vector<uint8_t> app = velmark::testing::buildTestImage(plan);
    velmark::cli::writeWholeFile((dir / "app.exe").string(), app);
    const pe::Image host = pe::readImage(app);
    const velmark::cli::ApplicationResources resources = velmark::cli::readApplicationResources(host, "app.exe");
    const char* modules[] = {"app.exe.0407.mui", "app.exe.0409.mui", "app.exe.0411.mui"};
    for (const char* module : modules)
        velmark::cli::writeWholeFile((dir / module).string(),
                                     velmark::cli::buildLanguageModule(host, resources, {}, 0x0409, "app.exe").file);
    const velmark::cli::LoadedTable table = velmark::cli::loadTable("");

    auto start = std::chrono::steady_clock::now();
    velmark::cli::PackageRequest request;
    request.application = velmark::cli::loadSourceFile((dir / "app.exe").string());
    request.velmarkDll = velmark::cli::loadSourceFile(dllPath);
    request.installDir = "\\Program Files\\App";
    for (const char* module : modules) request.languageModules.push_back(velmark::cli::loadSourceFile((dir / module).string()));
    request.sysLang = "407";
    const velmark::cli::Package package = velmark::cli::makePackage(request, table.table);
    velmark::cli::writeWholeFile((dir / "app.cab").string(), package.cabinet);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    fs::remove_all(dir);

    std::printf("velmark package, VELMARK.dll, a %zu-byte application, 3 language modules\n",
                request.application.bytes.size());
    std::printf("  %zu-byte CAB in %.3f s (goal under 1 s)\n", package.cabinet.size(), seconds);
}

}  // namespace

int main(int argc, char** argv) {
    std::string path = argc > 1 ? argv[1] : BENCH_DEFAULT_IMAGE;
    try {
        pe::Image image = pe::readImageFile(path);
        pe::writeSummary(std::cout, path, image);
        std::cout.flush();

        bench::Bench device;
        device.load(image, bench::Bench::kDefaultBase);
        std::printf("\nprocess attach    %llu module instructions\n",
                    (unsigned long long)device.lastCall().moduleInstructions);

        // Scripted results keep the fake's own handlers (which would read the
        // arguments as pointers) out of the measurement.
        for (const velmark::ExportEntry& row : bench::Bench::coredllTable().rows())
            if (row.forwarded()) device.fake().scriptAlways(row.ordinal, bench::Outcome::returns(row.ordinal));

        std::map<std::pair<uint64_t, uint64_t>, size_t> perCall;  // instructions, loads -> forwarded rows
        size_t calls = 0;
        auto start = std::chrono::steady_clock::now();
        for (const velmark::ExportEntry& row : bench::Bench::coredllTable().rows()) {
            if (!row.forwarded()) continue;
            device.call(row.name, {1, 2, 3, 4, 5, 6});
            ++perCall[{device.lastCall().moduleInstructions, device.lastCall().moduleLoads}];
            ++calls;
        }
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("forwarded calls   %zu, six arguments each\n", calls);
        for (auto [cost, rows] : perCall)
            std::printf("  %llu module instructions, %llu memory loads per call: %zu rows\n",
                        (unsigned long long)cost.first, (unsigned long long)cost.second, rows);
        std::printf("  %.1f microseconds per emulated call on this host\n", 1e6 * seconds / double(calls));
        std::printf("process detach    DllMain returned %u\n", device.unload());

        std::printf("\n");
        printRedirectedLoadString(image);

        std::printf("\n");
        printBanner(image);

        std::printf("\n");
        printCapture(image, path);

        std::printf("\n");
        printLanguageModuleTools(path);

        std::printf("\n");
        printPackage(path);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "benchmark: %s\n", e.what());
        return 1;
    }
    return 0;
}
