#include "emulator/FakeShell.h"

#include "emulator/Fake.h"

namespace bench {
namespace {

constexpr uint32_t kFileOffset = 28;       // lpstrFile
constexpr uint32_t kMaxFileOffset = 32;    // nMaxFile, in characters
constexpr uint32_t kMaxPath = 260;

}  // namespace

uint32_t FileDialogCall::field(size_t offset) const {
    uint32_t v = 0;
    for (size_t i = 0; i < 4 && offset + i < bytes.size(); ++i) v |= uint32_t(bytes[offset + i]) << (8 * i);
    return v;
}

Shell::Shell(HandleLedger& handles) : handles_(handles) {
    folders_[0x02] = u"\\Windows\\Start Menu\\Programs";  // CSIDL_PROGRAMS
    folders_[0x05] = u"\\My Documents";                   // CSIDL_PERSONAL
    folders_[0x06] = u"\\Windows\\Favorites";             // CSIDL_FAVORITES
    folders_[0x07] = u"\\Windows\\StartUp";               // CSIDL_STARTUP
    folders_[0x10] = u"\\Windows\\Desktop";               // CSIDL_DESKTOPDIRECTORY
    folders_[0x14] = u"\\Windows\\Fonts";                 // CSIDL_FONTS
    folders_[0x1A] = u"\\Application Data";               // CSIDL_APPDATA
    folders_[0x24] = u"\\Windows";                        // CSIDL_WINDOWS
}

void Shell::setFileDialogAnswer(bool accepted, std::u16string path) {
    accepted_ = accepted;
    answer_ = std::move(path);
}

const std::u16string* Shell::folder(uint32_t csidl) const {
    auto it = folders_.find(csidl);
    return it == folders_.end() ? nullptr : &it->second;
}

void defineShell(FakeCoredll& fake) {
    Shell& shell = fake.shell();
    Memory& memory = fake.memory();

    // GetOpenFileNameW / GetSaveFileNameW(lpofn)
    auto defineDialog = [&](const char* name, bool save) {
        fake.define(name, 1, Outcome::returns(0), [&shell, &memory, save](CallContext& call) -> uint32_t {
            FileDialogCall record{save, call.arg(0), {}, 0};
            // The dialog reads lStructSize first and refuses any size but its
            // own without reading further; the rest of the record is read
            // only as far as it is there.
            uint32_t size = memory.read32(record.record);
            uint32_t readable = 4;
            while (readable < kOpenFileNameSize && memory.has(record.record + readable, 1, kRead)) ++readable;
            record.bytes = memory.readBytes(record.record, size == kOpenFileNameSize ? size : readable);
            if (size == kOpenFileNameSize && shell.accepted()) {
                uint32_t file = record.field(kFileOffset), capacity = record.field(kMaxFileOffset);
                if (file && shell.answer().size() < capacity) {
                    memory.writeWString(file, shell.answer());
                    record.result = 1;
                }
            }
            shell.noteFileDialog(record);
            return record.result;
        });
    };
    defineDialog("GetOpenFileNameW", false);
    defineDialog("GetSaveFileNameW", true);

    // SHGetSpecialFolderPath(hwndOwner, lpszPath, nFolder, fCreate)
    fake.define("SHGetSpecialFolderPath", 4, Outcome::returns(0), [&shell, &memory](CallContext& call) -> uint32_t {
        FolderQuery query{call.arg(1), std::nullopt, call.arg(2), call.arg(3), 0};
        if (query.buffer) {
            std::u16string text;
            for (uint32_t i = 0; i < kMaxPath; ++i) {
                char16_t c = char16_t(memory.read16(query.buffer + 2 * i));
                if (!c) break;
                text.push_back(c);
            }
            query.atEntry = text;
            if (const std::u16string* path = shell.folder(query.folder)) {
                memory.writeWString(query.buffer, *path);
                query.result = 1;
            }
        }
        shell.noteFolderQuery(query);
        return query.result;
    });

    // CheckMenuItem(hmenu, uIDCheckItem, uCheck): the item's previous state,
    // 0xFFFFFFFF for a menu that is not loaded.
    fake.define("CheckMenuItem", 3, Outcome::returns(0xFFFFFFFF), [&shell](CallContext& call) -> uint32_t {
        MenuCheck check{call.arg(0), call.arg(1), call.arg(2), 0xFFFFFFFF};
        if (shell.handles().isOpen(check.menu, HandleKind::Menu)) {
            uint32_t& state = shell.checkState(check.menu, check.item);
            check.result = state;
            state = check.flags & MF_CHECKED;
        }
        shell.noteMenuCheck(check);
        return check.result;
    });
}

}  // namespace bench
