// Resources per module: strings, menus, bitmaps, raw resources, dialogs;
// scripted per path, or read from a mapped image's resource directory as the
// platform reads it (the host executable's, a language module's).
// Honours: when the module passed in lacks the resource, LoadStringW
// returns 0, LoadMenuW, LoadBitmapW, LoadResource and
// CreateDialogIndirectParamW return null, DialogBoxIndirectParamW -1.
#pragma once

#include "emulator/FakeDrawing.h"
#include "emulator/FakeModules.h"
#include "emulator/ImageResources.h"
#include "emulator/Memory.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace bench {

class FakeCoredll;

// A resource name as the platform compares it: "#284" for an integer
// identifier, the upper-cased text for a string name.
std::u16string resourceKey(uint32_t id);
std::u16string resourceKey(const std::u16string& name);

struct ModuleResources {
    std::map<uint32_t, std::u16string> strings;
    std::set<std::u16string> menus;                   // keys
    std::map<std::u16string, Surface> bitmaps;        // by key
    std::map<std::pair<std::u16string, std::u16string>, std::vector<uint8_t>> raw;  // (type key, name key)
    // Dialog templates (by address) this module accepts, with the result a
    // modal run of each ends with; acceptAnyDialog covers every template.
    std::map<uint32_t, int32_t> dialogs;
    std::optional<int32_t> acceptAnyDialog;

    ModuleResources& string(uint32_t id, std::u16string text);
    ModuleResources& menu(uint32_t id);
    ModuleResources& bitmap(uint32_t id, Surface surface);
    ModuleResources& rawResource(uint32_t type, uint32_t id, std::vector<uint8_t> bytes);
    ModuleResources& dialog(uint32_t templateAddress, int32_t modalResult);
};

struct DialogRun {
    bool modal = false;
    uint32_t instance = 0, templateAddress = 0, parent = 0, procedure = 0, parameter = 0;
    uint32_t result = 0;
};

class Resources {
public:
    Resources(Modules& modules, Gdi& gdi, HandleLedger& handles, Memory& memory)
        : modules_(modules), gdi_(gdi), handles_(handles), memory_(memory) {}

    // Resources of the module at `path` (the host executable's path, or a
    // library's, e.g. a language module).
    ModuleResources& of(const std::u16string& path);
    const std::vector<DialogRun>& dialogRuns() const { return dialogRuns_; }

    // Serve a module's resources from its mapped image instead of a script.
    void attachImage(uint32_t module, ImageResources resources);
    // Forgets (and unmaps, when LoadLibraryW mapped it) a module's image.
    void detachImage(uint32_t module);
    const ImageResources* imageOf(uint32_t module) const;
    // Maps a library's file as a real image (as LoadLibraryW does) and serves
    // its resources. A file that is no PE image at all (the tests' stand-ins
    // for modules) is left alone. Throws LoadRefused when the loader refuses
    // the image.
    void mapLibraryImage(uint32_t module, const std::vector<uint8_t>& file, const FakeCoredll& fake);
    // Maps the host executable's sections at its handle, read-only, and
    // serves its resources from there.
    void mapHostImage(const pe::Image& image);
    // The menu a LoadMenuW handle stands for, when it came from an image.
    const mui::Menu* loadedMenu(uint32_t handle) const;

    // For the handlers.
    const ModuleResources* forHandle(uint32_t module) const;
    uint32_t findImageResource(const pe::Resource& resource);
    const pe::Resource* imageResourceOf(uint32_t hrsrc) const;
    void noteMenu(uint32_t handle, mui::Menu menu) { menus_[handle] = std::move(menu); }
    // A resource name argument: an integer identifier (below 0x10000) or a string.
    std::u16string nameKey(uint32_t argument) const;
    Modules& modules() { return modules_; }
    Gdi& gdi() { return gdi_; }
    HandleLedger& handles() { return handles_; }
    Memory& memory() { return memory_; }
    uint32_t findResource(uint32_t module, const std::u16string& type, const std::u16string& name);
    std::optional<std::pair<std::u16string, std::u16string>> resourceOf(uint32_t hrsrc) const;
    // The resource's bytes in read-only platform memory, placed once per module.
    uint32_t resourceData(uint32_t module, const std::vector<uint8_t>& bytes, const std::u16string& label);
    uint32_t stringData(uint32_t module, uint32_t id, const std::u16string& text);
    void noteDialog(DialogRun run) { dialogRuns_.push_back(run); }

private:
    Modules& modules_;
    Gdi& gdi_;
    HandleLedger& handles_;
    Memory& memory_;
    std::map<std::u16string, ModuleResources> byPath_;  // folded path
    std::map<uint32_t, std::pair<std::u16string, std::u16string>> hrsrcs_;
    uint32_t nextHrsrc_ = 0x0D000004;  // unmapped, never a pointer
    std::map<std::pair<uint32_t, std::u16string>, uint32_t> placed_;
    std::vector<DialogRun> dialogRuns_;
    std::map<uint32_t, ImageResources> images_;     // by module handle
    std::map<uint32_t, pe::Resource> imageHrsrcs_;  // resource handles found in images
    std::map<uint32_t, mui::Menu> menus_;           // by menu handle
    uint32_t nextLibraryBase_ = 0x08000000;
};

void defineResources(FakeCoredll& fake);

}  // namespace bench
