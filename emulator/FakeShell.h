// Shell: file dialogs, special folders, menu check marks.
// Honours: each function receives the caller's arguments as they are; the
// file dialogs record the OPENFILENAMEW bytes as received (a record whose
// lStructSize is not 76 is refused with FALSE) and
// SHGetSpecialFolderPath records its buffer's content at entry.
#pragma once

#include "emulator/Handles.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace bench {

class FakeCoredll;

constexpr uint32_t kOpenFileNameSize = 76;
constexpr uint32_t kOfnFlagsOffset = 52;
constexpr uint32_t MF_CHECKED = 8;

struct FileDialogCall {
    bool save = false;
    uint32_t record = 0;
    std::vector<uint8_t> bytes;  // the 76-byte record; for another lStructSize, what of 76 bytes is mapped
    uint32_t result = 0;

    uint32_t structSize() const { return field(0); }
    uint32_t flags() const { return field(kOfnFlagsOffset); }
    uint32_t field(size_t offset) const;
};

struct FolderQuery {
    uint32_t buffer = 0;
    std::optional<std::u16string> atEntry;  // up to 260 units; nullopt for a null buffer
    uint32_t folder = 0;                    // CSIDL
    uint32_t create = 0;
    uint32_t result = 0;
};

struct MenuCheck {
    uint32_t menu = 0, item = 0, flags = 0, result = 0;
};

class Shell {
public:
    explicit Shell(HandleLedger& handles);

    // What the dialogs answer: FALSE (cancelled) by default; on TRUE the
    // given path is written to lpstrFile when it fits nMaxFile.
    void setFileDialogAnswer(bool accepted, std::u16string path = u"");
    void setFolder(uint32_t csidl, std::u16string path) { folders_[csidl] = std::move(path); }

    const std::vector<FileDialogCall>& fileDialogs() const { return fileDialogs_; }
    const std::vector<FolderQuery>& folderQueries() const { return folderQueries_; }
    const std::vector<MenuCheck>& menuChecks() const { return menuChecks_; }

    // For the handlers.
    HandleLedger& handles() { return handles_; }
    bool accepted() const { return accepted_; }
    const std::u16string& answer() const { return answer_; }
    const std::u16string* folder(uint32_t csidl) const;
    uint32_t& checkState(uint32_t menu, uint32_t item) { return checks_[{menu, item}]; }
    void noteFileDialog(FileDialogCall call) { fileDialogs_.push_back(std::move(call)); }
    void noteFolderQuery(FolderQuery query) { folderQueries_.push_back(std::move(query)); }
    void noteMenuCheck(MenuCheck check) { menuChecks_.push_back(check); }

private:
    HandleLedger& handles_;
    bool accepted_ = false;
    std::u16string answer_;
    std::map<uint32_t, std::u16string> folders_;
    std::map<std::pair<uint32_t, uint32_t>, uint32_t> checks_;
    std::vector<FileDialogCall> fileDialogs_;
    std::vector<FolderQuery> folderQueries_;
    std::vector<MenuCheck> menuChecks_;
};

void defineShell(FakeCoredll& fake);

}  // namespace bench
