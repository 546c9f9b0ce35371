// benchmark: what a forwarded call costs on the emulated device, and what
// the image holds. Not a test: it prints numbers and fails only when the
// image cannot be loaded or a forwarded call faults.
//
//   benchmark [VELMARK.dll]
#include "ExportTable.h"
#include "PeImage.h"
#include "bench/Bench.h"
#include "tests/rules/bitmapFiles.h"

#include <chrono>
#include <cstdio>
#include <map>

namespace {

void printImage(const std::string& path, const pe::Image& image) {
    std::printf("image %s\n", path.c_str());
    std::printf("  file size        %zu bytes\n", image.file.size());
    std::printf("  SizeOfImage      %u bytes (0x%X)\n", image.sizeOfImage, image.sizeOfImage);
    std::printf("  preferred base   0x%08X\n", image.imageBase);
    std::printf("  sections\n");
    for (const pe::Section& s : image.sections)
        std::printf("    %-8s RVA 0x%05X  virtual %6u  raw %6u  %s%s%s\n", s.name.c_str(), s.virtualAddress,
                    s.virtualSize, s.rawSize, s.characteristics & pe::kSectionExecute ? "x" : "-",
                    s.characteristics & pe::kSectionWrite ? "w" : "-",
                    s.characteristics & pe::kSectionDiscardable ? " discardable" : "");
    std::map<uint16_t, size_t> types;
    for (const pe::BaseRelocation& r : image.relocations) ++types[r.type];
    std::printf("  base relocations %zu", image.relocations.size());
    for (auto [type, count] : types) std::printf("  (type %u: %zu)", type, count);
    std::printf("\n");
    for (const pe::ImportedLibrary& library : image.imports) {
        size_t byName = 0;
        for (const pe::Import& i : library.entries) byName += !i.byOrdinal;
        std::printf("  imports          %zu from %s (%zu by ordinal, %zu by name)\n", library.entries.size(),
                    library.dllName.c_str(), library.entries.size() - byName, byName);
    }
    std::printf("  exports          %zu names in %zu address slots\n", image.namedExports.size(),
                image.exportAddresses.size());
}

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
    BitmapFileSpec shape;
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
}

}  // namespace

int main(int argc, char** argv) {
#ifdef BENCH_DEFAULT_IMAGE
    std::string path = argc > 1 ? argv[1] : BENCH_DEFAULT_IMAGE;
#else
    if (argc < 2) {
        std::fprintf(stderr, "usage: benchmark VELMARK.dll\n");
        return 2;
    }
    std::string path = argv[1];
#endif
    try {
        pe::Image image = pe::readImageFile(path);
        printImage(path, image);

        bench::Bench device;
        device.load(image, bench::Bench::kDefaultBase);
        std::printf("\nprocess attach    %llu module instructions\n",
                    (unsigned long long)device.lastCall().moduleInstructions);

        // Scripted results keep the fake's own handlers (which would read the
        // arguments as pointers) out of the measurement.
        for (const velmark::ExportEntry& row : bench::Bench::coredllTable().rows())
            if (row.forwarded()) device.fake().scriptAlways(row.ordinal, bench::Outcome::returns(row.ordinal));

        std::map<uint64_t, size_t> perCall;  // instructions -> forwarded rows
        size_t calls = 0;
        auto start = std::chrono::steady_clock::now();
        for (const velmark::ExportEntry& row : bench::Bench::coredllTable().rows()) {
            if (!row.forwarded()) continue;
            device.call(row.name, {1, 2, 3, 4, 5, 6});
            ++perCall[device.lastCall().moduleInstructions];
            ++calls;
        }
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("forwarded calls   %zu, six arguments each\n", calls);
        for (auto [instructions, rows] : perCall)
            std::printf("  %llu module instructions per call: %zu rows\n", (unsigned long long)instructions, rows);
        std::printf("  %.1f microseconds per emulated call on this host\n", 1e6 * seconds / double(calls));
        std::printf("process detach    DllMain returned %u\n", device.unload());

        std::printf("\n");
        printRedirectedLoadString(image);

        std::printf("\n");
        printBanner(image);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "benchmark: %s\n", e.what());
        return 1;
    }
    return 0;
}
