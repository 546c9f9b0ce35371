// Resources per module: strings, menus, bitmaps, raw resources, dialogs.
// Honours: when the module passed in lacks the resource, LoadStringW
// returns 0, LoadMenuW, LoadBitmapW, LoadResource and
// CreateDialogIndirectParamW return null, DialogBoxIndirectParamW -1.
#pragma once

#include "bench/FakeDrawing.h"
#include "bench/FakeModules.h"
#include "bench/Memory.h"

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

    // For the handlers.
    const ModuleResources* forHandle(uint32_t module) const;
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
};

void defineResources(FakeCoredll& fake);

}  // namespace bench
