#include "emulator/FakeModules.h"

#include "emulator/Fake.h"
#include "emulator/Fault.h"
#include "emulator/Utf16.h"

#include "formats/pe/PeImage.h"

namespace bench {
namespace {

std::u16string fileName(const std::u16string& path) {
    size_t slash = path.find_last_of(u'\\');
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

}  // namespace

Modules::Modules(FileSystem& files, HandleLedger& handles) : files_(files), handles_(handles) {}

void Modules::setHost(const std::u16string& path) { hostPath_ = path; }

void Modules::setSelf(uint32_t handle, const std::u16string& path) {
    selfHandle_ = handle;
    selfPath_ = path;
}

std::optional<std::u16string> Modules::pathOf(uint32_t handle) const {
    if (handle == hostHandle_) return hostPath_;
    if (handle != 0 && handle == selfHandle_) return selfPath_;
    auto it = libraries_.find(handle);
    if (it == libraries_.end()) return std::nullopt;
    return it->second.path;
}

std::map<uint32_t, std::pair<std::u16string, uint32_t>> Modules::loaded() const {
    std::map<uint32_t, std::pair<std::u16string, uint32_t>> all;
    for (const auto& [handle, library] : libraries_) all[handle] = {library.path, library.references};
    return all;
}

size_t Modules::freeCount(uint32_t handle) const {
    size_t n = 0;
    for (const LibraryFree& f : frees_) n += f.handle == handle;
    return n;
}

uint32_t Modules::load(const std::u16string& requested) {
    // A bare name is looked for in \Windows, as the device does.
    std::u16string path = requested.find(u'\\') == std::u16string::npos ? u"\\Windows\\" + requested : requested;
    uint32_t handle = 0;
    if (files_.exists(path)) {
        for (auto& [existing, library] : libraries_) {
            if (fold(library.path) == fold(path)) {
                ++library.references;
                handle = existing;
            }
        }
        if (!handle) {
            handle = handles_.acquire(HandleKind::Module, narrow(path));
            libraries_[handle] = Library{path, 1};
        }
    }
    loads_.push_back(LibraryLoad{requested, handle});
    return handle;
}

bool Modules::free(uint32_t handle) {
    auto it = libraries_.find(handle);
    if (it == libraries_.end()) return false;
    if (--it->second.references == 0) {
        libraries_.erase(it);
        handles_.release(handle, HandleKind::Module);
    }
    return true;
}

std::optional<uint32_t> Modules::handleNamed(const std::u16string& name) const {
    auto matches = [&name](const std::u16string& path) {
        return fold(path) == fold(name) || fold(fileName(path)) == fold(name);
    };
    if (matches(hostPath_)) return hostHandle_;
    if (selfHandle_ && matches(selfPath_)) return selfHandle_;
    for (const auto& [handle, library] : libraries_)
        if (matches(library.path)) return handle;
    return std::nullopt;
}

void defineModules(FakeCoredll& fake) {
    Modules& modules = fake.modules();
    Memory& memory = fake.memory();

    // GetModuleHandleW(lpModuleName): NULL is the host executable.
    fake.define("GetModuleHandleW", 1, Outcome::returns(0).withLastError(ERROR_MOD_NOT_FOUND),
                [&modules, &memory](CallContext& call) -> uint32_t {
        if (!call.arg(0)) return modules.hostHandle();
        std::optional<uint32_t> handle = modules.handleNamed(memory.readWString(call.arg(0)));
        if (!handle) call.setLastError(ERROR_MOD_NOT_FOUND);
        return handle.value_or(0);
    });

    // GetModuleFileNameW(hModule, lpFilename, nSize): NULL is the host
    // executable; a path longer than the buffer is cut and still terminated.
    fake.define("GetModuleFileNameW", 3, Outcome::returns(0).withLastError(ERROR_MOD_NOT_FOUND),
                [&modules, &memory](CallContext& call) -> uint32_t {
        std::optional<std::u16string> path = modules.pathOf(call.arg(0) ? call.arg(0) : modules.hostHandle());
        uint32_t capacity = call.arg(2);
        if (!path) {
            call.setLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        if (capacity == 0) {
            call.setLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        std::u16string text = path->substr(0, capacity - 1);
        memory.writeWString(call.arg(1), text);
        if (text.size() < path->size()) call.setLastError(ERROR_INSUFFICIENT_BUFFER);
        return uint32_t(text.size());
    });

    // LoadLibraryW(lpLibFileName): null unless the file exists; a library
    // loaded again gets the same handle and one more reference. A file that
    // is a PE image is mapped as the loader would, and its resources are
    // served from there; one the loader refuses fails the load.
    fake.define("LoadLibraryW", 1, Outcome::returns(0).withLastError(ERROR_MOD_NOT_FOUND),
                [&fake, &modules, &memory](CallContext& call) -> uint32_t {
        if (!call.arg(0)) {
            call.setLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        uint32_t handle = modules.load(memory.readWString(call.arg(0)));
        if (!handle) {
            call.setLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        const VirtualFile* file = fake.files().find(*modules.pathOf(handle));
        if (file && !fake.resources().imageOf(handle)) {
            try {
                fake.resources().mapLibraryImage(handle, file->bytes, fake);
            } catch (const LoadRefused&) {
                modules.free(handle);
                call.setLastError(ERROR_BAD_EXE_FORMAT);
                return 0;
            }
        }
        return handle;
    });

    // FreeLibrary(hLibModule)
    fake.define("FreeLibrary", 1, Outcome::returns(0).withLastError(ERROR_INVALID_HANDLE),
                [&fake, &modules](CallContext& call) -> uint32_t {
        uint32_t result = modules.free(call.arg(0)) ? 1 : 0;
        if (result && !modules.loaded().count(call.arg(0))) fake.resources().detachImage(call.arg(0));
        if (!result) call.setLastError(ERROR_INVALID_HANDLE);
        modules.noteFree(LibraryFree{call.arg(0), result});
        return result;
    });
}

}  // namespace bench
