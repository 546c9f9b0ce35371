#include "velmark/lib/BannerPreview.h"

#include "velmark/lib/Failure.h"
#include "velmark/lib/Utf8.h"

#include "emulator/Bench.h"
#include "module/banner/bannerLayout.h"

namespace velmark::cli {
namespace {

constexpr uint32_t kBannerBitmapId = 284;

// Where the module looks for the banner file: the host path with its last
// three characters replaced by "bmp".
std::u16string bannerFilePath(const std::u16string& hostPath) {
    return hostPath.substr(0, hostPath.size() - 3) + u"bmp";
}

std::string describeDrawing(bench::FakeCoredll& fake, const BannerScene& scene, const std::u16string& bannerPath) {
    const std::string file = utf16ToUtf8(bannerPath);
    bool fileDrawn = false;
    for (const bench::DibDraw& draw : fake.gdi().dibDraws())
        fileDrawn = fileDrawn || draw.result != bench::GDI_ERROR;
    if (fileDrawn) return "drawn from the banner file " + file;
    std::string how = scene.bannerFile ? "the banner file " + file + " could not be drawn, so the banner was composed"
                                       : "no banner file, so the banner was composed";
    return how + (scene.hostBitmap ? " from the host's bitmap 284" : " without a host bitmap 284 (white)");
}

}  // namespace

BannerPreview previewBanner(const BannerScene& scene, const velmark::ExportTable& table) {
    bench::Bench device(table);
    bench::FakeCoredll& fake = device.fake();
    const std::u16string hostPath = fake.modules().hostPath();
    const std::u16string bannerPath = bannerFilePath(hostPath);
    if (scene.bannerFile) fake.files().add(bannerPath, *scene.bannerFile);
    if (scene.hostBitmap) {
        const Picture& p = *scene.hostBitmap;
        bench::Surface surface{p.width, p.height, 32, p.pixels};
        fake.resources().of(hostPath).bitmap(kBannerBitmapId, std::move(surface));
    }

    uint32_t bitmap = 0;
    try {
        device.load(scene.dllPath);
        bitmap = device.call("LoadBitmapW", {fake.modules().hostHandle(), kBannerBitmapId});
    } catch (const bench::LoadRefused& e) {
        throw Failure(scene.dllPath + ": the emulated device refuses to load it: " + e.what());
    } catch (const bench::CallFailed& e) {
        throw Failure(scene.dllPath + ": LoadBitmapW(host, 284) failed on the emulated device: " + e.what());
    }
    const bench::Surface* surface = bitmap ? fake.gdi().surfaceOf(bitmap) : nullptr;
    if (!surface)
        throw Failure(scene.dllPath + ": LoadBitmapW(host, 284) answered no bitmap on the emulated device");
    if (surface->width != kBannerWidth || surface->height != kBannerHeight)
        throw Failure(scene.dllPath + ": LoadBitmapW(host, 284) answered a " + std::to_string(surface->width) +
                           " x " + std::to_string(surface->height) + " bitmap, not 800 x 407");
    return {Picture{surface->width, surface->height, surface->pixels}, describeDrawing(fake, scene, bannerPath)};
}

}  // namespace velmark::cli
