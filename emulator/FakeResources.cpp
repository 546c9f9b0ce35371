#include "emulator/FakeResources.h"

#include "emulator/Fake.h"
#include "emulator/Utf16.h"

#include "formats/common/Align.h"
#include "formats/pe/PeImage.h"

#include <algorithm>

namespace bench {

std::u16string resourceKey(uint32_t id) { return u"#" + widen(std::to_string(id)); }

std::u16string resourceKey(const std::u16string& name) {
    // "#284" names the same resource as the identifier 284.
    if (name.size() > 1 && name[0] == u'#' &&
        name.find_first_not_of(u"0123456789", 1) == std::u16string::npos)
        return resourceKey(uint32_t(std::stoul(narrow(name.substr(1)))));
    return fold(name);
}

ModuleResources& ModuleResources::string(uint32_t id, std::u16string text) {
    strings[id] = std::move(text);
    return *this;
}

ModuleResources& ModuleResources::menu(uint32_t id) {
    menus.insert(resourceKey(id));
    return *this;
}

ModuleResources& ModuleResources::bitmap(uint32_t id, Surface surface) {
    bitmaps[resourceKey(id)] = std::move(surface);
    return *this;
}

ModuleResources& ModuleResources::rawResource(uint32_t type, uint32_t id, std::vector<uint8_t> bytes) {
    raw[{resourceKey(type), resourceKey(id)}] = std::move(bytes);
    return *this;
}

ModuleResources& ModuleResources::dialog(uint32_t templateAddress, int32_t modalResult) {
    dialogs[templateAddress] = modalResult;
    return *this;
}

ModuleResources& Resources::of(const std::u16string& path) { return byPath_[fold(path)]; }

const ModuleResources* Resources::forHandle(uint32_t module) const {
    std::optional<std::u16string> path = modules_.pathOf(module);
    if (!path) return nullptr;
    auto it = byPath_.find(fold(*path));
    return it == byPath_.end() ? nullptr : &it->second;
}

std::u16string Resources::nameKey(uint32_t argument) const {
    return argument < 0x10000 ? resourceKey(argument) : resourceKey(memory_.readWString(argument));
}

uint32_t Resources::findResource(uint32_t module, const std::u16string& type, const std::u16string& name) {
    const ModuleResources* resources = forHandle(module);
    if (!resources || !resources->raw.count({type, name})) return 0;
    uint32_t hrsrc = nextHrsrc_;
    nextHrsrc_ += 4;
    hrsrcs_[hrsrc] = {type, name};
    return hrsrc;
}

std::optional<std::pair<std::u16string, std::u16string>> Resources::resourceOf(uint32_t hrsrc) const {
    auto it = hrsrcs_.find(hrsrc);
    if (it == hrsrcs_.end()) return std::nullopt;
    return it->second;
}

void Resources::attachImage(uint32_t module, ImageResources resources) { images_[module] = std::move(resources); }

void Resources::detachImage(uint32_t module) {
    auto it = images_.find(module);
    if (it == images_.end()) return;
    if (it->second.loaded) Loader::unload(*it->second.loaded, memory_);
    images_.erase(it);
}

const ImageResources* Resources::imageOf(uint32_t module) const {
    auto it = images_.find(module);
    return it == images_.end() ? nullptr : &it->second;
}

void Resources::mapHostImage(const pe::Image& image) {
    uint32_t base = modules_.hostHandle();
    for (const pe::Section& section : image.sections) {
        uint32_t pages = velmark::alignUp(std::max<uint32_t>(section.span(), 1), kPageSize);
        memory_.map(base + section.virtualAddress, pages, kRead, Owner::Platform, "host " + section.name);
        uint32_t backed = section.fileBackedSize();
        if (backed) memory_.poke(base + section.virtualAddress, image.file.data() + section.rawOffset, backed);
    }
    attachImage(base, ImageResources{base, pe::readResources(image), std::nullopt});
}

void Resources::mapLibraryImage(uint32_t module, const std::vector<uint8_t>& file, const FakeCoredll& fake) {
    pe::Image image;
    try {
        image = pe::readImage(file);
    } catch (const pe::PeFormatError&) {
        return;
    }
    LoadedImage loaded = Loader::load(image, nextLibraryBase_, memory_, fake);
    nextLibraryBase_ += (loaded.size + 0xFFFF) / 0x10000 * 0x10000;
    try {
        attachImage(module, ImageResources{loaded.base, pe::readResources(image), loaded});
    } catch (const pe::PeFormatError& e) {
        Loader::unload(loaded, memory_);
        throw LoadRefused(std::string("its resource directory: ") + e.what());
    }
}

const mui::Menu* Resources::loadedMenu(uint32_t handle) const {
    auto it = menus_.find(handle);
    return it == menus_.end() ? nullptr : &it->second;
}

uint32_t Resources::findImageResource(const pe::Resource& resource) {
    uint32_t hrsrc = nextHrsrc_;
    nextHrsrc_ += 4;
    imageHrsrcs_[hrsrc] = resource;
    return hrsrc;
}

const pe::Resource* Resources::imageResourceOf(uint32_t hrsrc) const {
    auto it = imageHrsrcs_.find(hrsrc);
    return it == imageHrsrcs_.end() ? nullptr : &it->second;
}

uint32_t Resources::resourceData(uint32_t module, const std::vector<uint8_t>& bytes, const std::u16string& label) {
    auto key = std::make_pair(module, label);
    auto it = placed_.find(key);
    if (it != placed_.end()) return it->second;
    // Ends at a guard page: reading past a resource's end faults.
    uint32_t size = uint32_t(bytes.size());
    uint32_t address = memory_.allocate(Owner::Platform, size ? size : 1, Placement::exactEnd(), kRead,
                                        narrow(u"resource " + label));
    memory_.poke(address, bytes.data(), size);
    placed_[key] = address;
    return address;
}

uint32_t Resources::stringData(uint32_t module, uint32_t id, const std::u16string& text) {
    // String resources are not zero-terminated in the module's image.
    std::vector<uint8_t> bytes;
    for (char16_t c : text) {
        bytes.push_back(uint8_t(c));
        bytes.push_back(uint8_t(c >> 8));
    }
    return resourceData(module, bytes, u"string " + widen(std::to_string(id)));
}

void defineResources(FakeCoredll& fake) {
    Resources& res = fake.resources();
    Memory& memory = fake.memory();
    auto describe = [&res](uint32_t module, const std::u16string& key) {
        return narrow(key) + " of " + narrow(res.modules().pathOf(module).value_or(u"?"));
    };

    // LoadStringW(hInstance, uID, lpBuffer, cchBufferMax): the length copied,
    // 0 when the string is absent or empty. A zero capacity gets a pointer
    // to the read-only, unterminated resource text in the buffer.
    fake.define("LoadStringW", 4, Outcome::returns(0).withLastError(ERROR_RESOURCE_NAME_NOT_FOUND),
                [&res, &memory](CallContext& call) -> uint32_t {
        uint32_t instance = call.arg(0), id = call.arg(1), buffer = call.arg(2), capacity = call.arg(3);
        // From the mapped image, else from the module's script.
        const ImageResources* image = res.imageOf(instance);
        std::optional<ImageResources::StringRef> found;
        if (image) {
            found = image->string(memory, id & 0xFFFF);
        } else if (const ModuleResources* resources = res.forHandle(instance)) {
            auto it = resources->strings.find(id);
            if (it != resources->strings.end()) found = ImageResources::StringRef{0, it->second};
        }
        if (!found || found->text.empty()) {
            call.setLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return 0;
        }
        const std::u16string& text = found->text;
        if (capacity == 0) {
            memory.write32(buffer, image ? found->address : res.stringData(instance, id, text));
            return uint32_t(text.size());
        }
        std::u16string copied = text.substr(0, capacity - 1);
        memory.writeWString(buffer, copied);
        return uint32_t(copied.size());
    });

    // LoadMenuW(hInstance, lpMenuName)
    fake.define("LoadMenuW", 2, Outcome::returns(0).withLastError(ERROR_RESOURCE_NAME_NOT_FOUND),
                [&res, &memory, describe](CallContext& call) -> uint32_t {
        std::u16string key = res.nameKey(call.arg(1));
        if (const ImageResources* image = res.imageOf(call.arg(0))) {
            const pe::Resource* menu = image->find(resourceKey(mui::kRtMenu), key);
            if (!menu) {
                call.setLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
                return 0;
            }
            uint32_t handle = res.handles().acquire(HandleKind::Menu, "menu " + describe(call.arg(0), key));
            res.noteMenu(handle, mui::parseMenu(image->bytes(memory, *menu)));
            return handle;
        }
        const ModuleResources* resources = res.forHandle(call.arg(0));
        if (!resources || !resources->menus.count(key)) {
            call.setLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return 0;
        }
        return res.handles().acquire(HandleKind::Menu, "menu " + describe(call.arg(0), key));
    });

    // DestroyMenu(hMenu)
    fake.define("DestroyMenu", 1, Outcome::returns(0), [&res](CallContext& call) -> uint32_t {
        return res.handles().release(call.arg(0), HandleKind::Menu) ? 1 : 0;
    });

    // LoadBitmapW(hInstance, lpBitmapName): a new bitmap object each time.
    // A null instance asks for system bitmaps, of which there are none.
    fake.define("LoadBitmapW", 2, Outcome::returns(0).withLastError(ERROR_RESOURCE_NAME_NOT_FOUND),
                [&res, &memory, describe](CallContext& call) -> uint32_t {
        std::u16string key = res.nameKey(call.arg(1));
        if (const ImageResources* image = call.arg(0) ? res.imageOf(call.arg(0)) : nullptr) {
            const pe::Resource* bitmap = image->find(resourceKey(mui::kRtBitmap), key);
            std::optional<Surface> surface;
            if (bitmap) surface = surfaceOfDib(image->bytes(memory, *bitmap));
            if (!surface) {
                call.setLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
                return 0;
            }
            return res.gdi().createBitmap(*surface, "bitmap " + describe(call.arg(0), key));
        }
        const ModuleResources* resources = call.arg(0) ? res.forHandle(call.arg(0)) : nullptr;
        auto it = resources ? resources->bitmaps.find(key) : decltype(resources->bitmaps.end()){};
        if (!resources || it == resources->bitmaps.end()) {
            call.setLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return 0;
        }
        return res.gdi().createBitmap(it->second, "bitmap " + describe(call.arg(0), key));
    });

    // FindResourceW(hModule, lpName, lpType): a null module is the host executable.
    fake.define("FindResourceW", 3, Outcome::returns(0).withLastError(ERROR_RESOURCE_NAME_NOT_FOUND),
                [&res](CallContext& call) -> uint32_t {
        uint32_t module = call.arg(0) ? call.arg(0) : res.modules().hostHandle();
        if (const ImageResources* image = res.imageOf(module)) {
            const pe::Resource* found = image->find(res.nameKey(call.arg(2)), res.nameKey(call.arg(1)));
            if (!found) call.setLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return found ? res.findImageResource(*found) : 0;
        }
        uint32_t hrsrc = res.findResource(module, res.nameKey(call.arg(2)), res.nameKey(call.arg(1)));
        if (!hrsrc) call.setLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return hrsrc;
    });

    // LoadResource(hModule, hResInfo): the resource that hResInfo names, if
    // hModule has one of that type and name (whichever module it was found in).
    fake.define("LoadResource", 2, Outcome::returns(0).withLastError(ERROR_RESOURCE_NAME_NOT_FOUND),
                [&res](CallContext& call) -> uint32_t {
        uint32_t module = call.arg(0) ? call.arg(0) : res.modules().hostHandle();
        // The handle names a data offset, whichever image it was found in: the
        // platform adds it to this module's base without looking further.
        const ImageResources* image = res.imageOf(module);
        const pe::Resource* found = res.imageResourceOf(call.arg(1));
        if (image && found) return image->base + found->dataRva;
        const ModuleResources* resources = res.forHandle(module);
        auto key = res.resourceOf(call.arg(1));
        if (!resources || !key || !resources->raw.count(*key)) {
            call.setLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return 0;
        }
        return res.resourceData(module, resources->raw.at(*key), key->first + u" " + key->second);
    });

    // SizeofResource(hModule, hResInfo)
    fake.define("SizeofResource", 2, Outcome::returns(0).withLastError(ERROR_RESOURCE_NAME_NOT_FOUND),
                [&res](CallContext& call) -> uint32_t {
        uint32_t module = call.arg(0) ? call.arg(0) : res.modules().hostHandle();
        const pe::Resource* found = res.imageResourceOf(call.arg(1));
        if (found && res.imageOf(module)) return found->size;
        const ModuleResources* resources = res.forHandle(module);
        auto key = res.resourceOf(call.arg(1));
        if (!resources || !key || !resources->raw.count(*key)) return 0;
        return uint32_t(resources->raw.at(*key).size());
    });

    auto dialogResult = [&res](uint32_t instance, uint32_t templateAddress) -> std::optional<int32_t> {
        if (res.imageOf(instance)) return 1;  // an indirect template needs nothing of the instance
        const ModuleResources* resources = res.forHandle(instance);
        if (!resources) return std::nullopt;
        auto it = resources->dialogs.find(templateAddress);
        if (it != resources->dialogs.end()) return it->second;
        return resources->acceptAnyDialog;
    };

    // CreateDialogIndirectParamW(hInstance, lpTemplate, hWndParent, lpDialogFunc, lParamInit)
    fake.define("CreateDialogIndirectParamW", 5, Outcome::returns(0).withLastError(ERROR_RESOURCE_NAME_NOT_FOUND),
                [&res, dialogResult](CallContext& call) -> uint32_t {
        DialogRun run{false, call.arg(0), call.arg(1), call.arg(2), call.arg(3), call.arg(4), 0};
        if (dialogResult(run.instance, run.templateAddress))
            run.result = res.handles().acquire(HandleKind::Window, "modeless dialog");
        else
            call.setLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        res.noteDialog(run);
        return run.result;
    });

    // DialogBoxIndirectParamW(hInstance, lpTemplate, hWndParent, lpDialogFunc, lParamInit):
    // the scripted result of the modal run, -1 when the dialog cannot be made.
    fake.define("DialogBoxIndirectParamW", 5, Outcome::returns(0xFFFFFFFF).withLastError(ERROR_RESOURCE_NAME_NOT_FOUND),
                [&res, dialogResult](CallContext& call) -> uint32_t {
        DialogRun run{true, call.arg(0), call.arg(1), call.arg(2), call.arg(3), call.arg(4), 0xFFFFFFFF};
        std::optional<int32_t> result = dialogResult(run.instance, run.templateAddress);
        if (result) run.result = uint32_t(*result);
        else call.setLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        res.noteDialog(run);
        return run.result;
    });

    // DestroyWindow(hWnd): the modeless dialogs made above.
    fake.define("DestroyWindow", 1, Outcome::returns(0), [&res](CallContext& call) -> uint32_t {
        return res.handles().release(call.arg(0), HandleKind::Window) ? 1 : 0;
    });
}

}  // namespace bench
