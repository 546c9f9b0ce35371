#include "velmark/lib/MuiPo.h"

#include "velmark/lib/Failure.h"
#include "velmark/lib/FileIo.h"
#include "velmark/lib/Utf8.h"

#include <gettext-po.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include <unistd.h>

namespace velmark::cli {
namespace {

// libgettextpo reports through callbacks; the first error is kept here and
// a fatal one jumps back to the call, since the callback must not return.
struct PoErrors {
    std::string first;
    std::jmp_buf fatal;
};
thread_local PoErrors* current = nullptr;

void note(int severity, const char* filename, size_t line, const char* text) {
    if (severity == PO_SEVERITY_WARNING || !current) return;
    if (current->first.empty()) {
        current->first = std::string(filename ? filename : "?");
        if (line != size_t(-1) && line) current->first += ":" + std::to_string(line);
        current->first += ": ";
        current->first += text ? text : "error";
    }
    if (severity == PO_SEVERITY_FATAL_ERROR) std::longjmp(current->fatal, 1);
}

void xerror(int severity, po_message_t, const char* filename, size_t line, size_t, int, const char* text) {
    note(severity, filename, line, text);
}

void xerror2(int severity, po_message_t, const char* filename, size_t line, size_t, int, const char* text,
             po_message_t, const char*, size_t, size_t, int, const char*) {
    note(severity, filename, line, text);
}

struct po_xerror_handler handler = {xerror, xerror2};

using PoFile = std::unique_ptr<std::remove_pointer_t<po_file_t>, void (*)(po_file_t)>;

// Kept free of objects with destructors, for the jump.
po_file_t readRaw(const char* path, PoErrors& errors) {
    current = &errors;
    if (setjmp(errors.fatal)) {
        current = nullptr;
        return nullptr;
    }
    po_file_t file = po_file_read(path, &handler);
    current = nullptr;
    return file;
}

bool writeRaw(po_file_t file, const char* path, PoErrors& errors) {
    current = &errors;
    if (setjmp(errors.fatal)) {
        current = nullptr;
        return false;
    }
    po_file_write(file, path, &handler);
    current = nullptr;
    return true;
}

const char* const kHeader =
    "Project-Id-Version: %s\n"
    "Report-Msgid-Bugs-To: \n"
    "PO-Revision-Date: YEAR-MO-DA HO:MI+ZONE\n"
    "Last-Translator: FULL NAME <EMAIL@ADDRESS>\n"
    "Language-Team: LANGUAGE <LL@li.org>\n"
    "Language: \n"
    "MIME-Version: 1.0\n"
    "Content-Type: text/plain; charset=UTF-8\n"
    "Content-Transfer-Encoding: 8bit\n";

}  // namespace

void writePot(const std::string& path, const std::string& application, const std::vector<CatalogText>& texts) {
    PoFile file(po_file_create(), po_file_free);
    po_message_iterator_t it = po_message_iterator(file.get(), nullptr);
    po_message_t header = po_message_create();
    po_message_set_msgid(header, "");
    std::string headerText = kHeader;
    headerText.replace(headerText.find("%s"), 2, application);
    po_message_set_msgstr(header, headerText.c_str());
    po_message_set_fuzzy(header, 1);
    po_message_insert(it, header);
    for (const CatalogText& t : texts) {
        po_message_t m = po_message_create();
        po_message_set_msgctxt(m, t.context.c_str());
        po_message_set_msgid(m, utf16ToUtf8(t.text).c_str());
        po_message_set_msgstr(m, "");
        po_message_set_extracted_comments(m, t.where.c_str());
        po_message_add_filepos(m, (application + "/" + t.reference).c_str(), size_t(-1));
        po_message_insert(it, m);
    }
    po_message_iterator_free(it);
    // libgettextpo writes only to a named file: the template is formed in a
    // private temporary file, then written like every velmark output.
    std::string temporary = (std::filesystem::temp_directory_path() / "velmark-pot-XXXXXX").string();
    int descriptor = ::mkstemp(temporary.data());
    if (descriptor < 0) throw Failure(path + ": cannot be written: no temporary file");
    ::close(descriptor);
    PoErrors errors;
    bool written = writeRaw(file.get(), temporary.c_str(), errors) && errors.first.empty();
    std::vector<uint8_t> bytes;
    if (written) bytes = readWholeFile(temporary);
    std::remove(temporary.c_str());
    if (!written) throw Failure(path + ": cannot be written: " + errors.first);
    writeWholeFile(path, bytes);
}

Translations readPo(const std::string& path) {
    PoErrors errors;
    PoFile file(readRaw(path.c_str(), errors), po_file_free);
    if (!errors.first.empty()) throw Failure(errors.first);
    if (!file) throw Failure(path + ": cannot be read");
    Translations out;
    po_message_iterator_t it = po_message_iterator(file.get(), nullptr);
    size_t index = 0;
    for (po_message_t m; (m = po_next_message(it)) != nullptr; ++index) {
        const char* context = po_message_msgctxt(m);
        const char* msgstr = po_message_msgstr(m);
        if (!context || !msgstr || !*msgstr || po_message_is_fuzzy(m) || po_message_is_obsolete(m)) continue;
        std::optional<std::u16string> text = utf8ToUtf16(msgstr);
        if (!text) {
            po_message_iterator_free(it);
            throw Failure(path + ": the translation of \"" + context + "\" is not UTF-8");
        }
        out[context] = *text;
    }
    po_message_iterator_free(it);
    return out;
}

}  // namespace velmark::cli
