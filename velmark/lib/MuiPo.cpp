#include "velmark/lib/MuiPo.h"

#include "velmark/lib/Failure.h"
#include "velmark/lib/FileIo.h"
#include "velmark/lib/PoCharset.h"
#include "velmark/lib/PoLines.h"
#include "velmark/lib/PrintfDirectives.h"
#include "velmark/lib/Utf8.h"
#include "formats/common/Printable.h"

#include <gettext-po.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

#include <unistd.h>

namespace velmark::cli {
namespace {

// libgettextpo reports through callbacks; the first error is kept here and
// a fatal one jumps back to the call, since the callback must not return.
// Messages name `shownPath`, the file as the user named it.
struct PoErrors {
    explicit PoErrors(std::string shown = {}) : shownPath(std::move(shown)) {}
    std::string shownPath;
    std::string first;
    // An entry libgettextpo drops because an earlier one has its context
    // and msgid: its line, and that earlier entry.
    size_t repeatLine = 0;
    po_message_t repeated = nullptr;
    std::jmp_buf fatal;
};
thread_local PoErrors* current = nullptr;

void note(int severity, size_t line, const char* text) {
    if (severity == PO_SEVERITY_WARNING || !current) return;
    if (current->first.empty()) {
        if (!current->shownPath.empty()) {
            current->first = current->shownPath;
            if (line != size_t(-1) && line) current->first += ":" + std::to_string(line);
            current->first += ": ";
        }
        current->first += text ? text : "error";
    }
    if (severity == PO_SEVERITY_FATAL_ERROR) std::longjmp(current->fatal, 1);
}

void xerror(int severity, po_message_t, const char*, size_t line, size_t, int, const char* text) {
    note(severity, line, text);
}

// Reading a file, libgettextpo reports only a repeated entry with two places.
void xerror2(int severity, po_message_t, const char*, size_t line, size_t, int, const char* text,
             po_message_t earlier, const char*, size_t, size_t, int, const char*) {
    if (current && current->first.empty() && earlier) {
        current->repeatLine = line;
        current->repeated = earlier;
    }
    note(severity, line, text);
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

bool checkFormatRaw(po_message_t message, PoErrors& errors) {
    current = &errors;
    if (setjmp(errors.fatal)) {
        current = nullptr;
        return false;
    }
    po_message_check_format(message, &handler);
    current = nullptr;
    return true;
}

// libgettextpo reads and writes only named files: a private temporary file
// stands between it and the file the user named.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& forPath) {
        path_ = (std::filesystem::temp_directory_path() / "velmark-po-XXXXXX").string();
        int descriptor = ::mkstemp(path_.data());
        if (descriptor < 0) throw Failure(forPath + ": no temporary file for libgettextpo: " + std::strerror(errno));
        ::close(descriptor);
    }
    ~TemporaryFile() { std::remove(path_.c_str()); }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

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

const std::string kByteOrderMark = "\xEF\xBB\xBF";

// C0 and C1 controls and DEL: what a terminal or a caption takes for a command.
bool isControl(char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

std::string codePoint(char16_t c) {
    char shown[8];
    std::snprintf(shown, sizeof shown, "U+%04X", unsigned(c));
    return shown;
}

std::vector<po_message_t> messagesOf(po_file_t file) {
    std::vector<po_message_t> messages;
    po_message_iterator_t it = po_message_iterator(file, nullptr);
    for (po_message_t m; (m = po_next_message(it)) != nullptr;) messages.push_back(m);
    po_message_iterator_free(it);
    return messages;
}

// An entry with the msgctxt and msgid of an earlier one, which libgettextpo
// dropped: the messages before it keep their lines, the earlier one among them.
[[noreturn]] void refuseRepeat(const std::string& path, const PoErrors& errors, const std::vector<po_message_t>& messages,
                  const std::vector<PoEntryLines>& lines) {
    size_t dropped = 0;
    while (dropped + 1 < lines.size() && lines[dropped + 1].first <= errors.repeatLine) ++dropped;
    for (size_t i = 0; i < messages.size() && i < lines.size(); ++i) {
        if (messages[i] != errors.repeated) continue;
        const char* context = po_message_msgctxt(messages[i]);
        throw Failure(path + ":" + std::to_string(lines[dropped].first) + ": " +
                      (context ? "msgctxt " + velmark::quoted(context) + " and " : "") + "msgid repeat those of line " +
                      std::to_string(lines[i].first));
    }
    throw Failure(errors.first);
}

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
        if (!t.sharedWith.empty()) continue;  // the place whose bytes it shares stands for it
        po_message_t m = po_message_create();
        po_message_set_msgctxt(m, t.context.c_str());
        po_message_set_msgid(m, utf16ToUtf8(t.text).c_str());
        po_message_set_msgstr(m, "");
        po_message_set_extracted_comments(m, t.where.c_str());
        po_message_add_filepos(m, (application + "/" + t.reference).c_str(), size_t(-1));
        // So that msgfmt -c and the translators' editors check the directives too.
        if (!printfArguments(t.text).empty()) po_message_set_format(m, "c-format", 1);
        po_message_insert(it, m);
    }
    po_message_iterator_free(it);
    TemporaryFile temporary(path);
    PoErrors errors;
    bool written = writeRaw(file.get(), temporary.path().c_str(), errors) && errors.first.empty();
    if (!written) throw Failure(path + ": cannot be written: " + errors.first);
    writeWholeFile(path, readWholeFile(temporary.path()));
}

std::vector<PoEntry> readPo(const std::string& path) {
    std::vector<uint8_t> bytes = readWholeFile(path);
    std::string text(bytes.begin(), bytes.end());
    const bool marked = text.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0;
    if (marked) text.erase(0, kByteOrderMark.size());
    TemporaryFile copy(path);
    writeWholeFile(copy.path(), std::vector<uint8_t>(text.begin(), text.end()));

    PoErrors errors(path);
    PoFile file(readRaw(copy.path().c_str(), errors), po_file_free);
    if (!errors.first.empty() && !errors.repeated) throw Failure(errors.first);
    if (!file) throw Failure(path + ": cannot be read as a PO file");
    const std::vector<po_message_t> messages = messagesOf(file.get());
    const std::string charset = charsetOfHeader(po_file_domain_header(file.get(), nullptr));
    if (marked && !isUtf8(charset))
        throw Failure(path + ": begins with a UTF-8 byte-order mark, but its header declares charset " + charset);
    ToUtf8 toUtf8(charset, path);
    // One per message as libgettextpo gives them, unless it dropped a repeat.
    const std::vector<PoEntryLines> lines = poEntryLines(toUtf8.convertFile(text));
    const bool linesKnown = lines.size() == messages.size();
    auto lineOf = [&](size_t index) { return linesKnown ? lines[index].first : 0; };
    auto msgstrLineOf = [&](size_t index) { return linesKnown ? lines[index].msgstr : 0; };
    auto at = [&](size_t line) { return path + (line ? ":" + std::to_string(line) : std::string()) + ": "; };

    if (errors.repeated) refuseRepeat(path, errors, messages, lines);
    if (!errors.first.empty()) throw Failure(errors.first);

    auto converted = [&](const char* field, size_t index) {
        std::optional<std::string> utf8 = toUtf8.convert(field ? field : "");
        std::optional<std::u16string> utf16 = utf8 ? utf8ToUtf16(*utf8) : std::nullopt;
        if (!utf16) throw Failure(at(lineOf(index)) + "holds bytes that are not " + charset);
        return *utf16;
    };
    std::vector<PoEntry> out;
    std::map<std::string, size_t> contextLines;
    for (size_t i = 0; i < messages.size(); ++i) {
        po_message_t m = messages[i];
        if (po_message_is_obsolete(m)) continue;
        PoEntry entry;
        entry.line = lineOf(i);
        if (const char* context = po_message_msgctxt(m)) {
            entry.context = utf16ToUtf8(converted(context, i));
            auto [earlier, fresh] = contextLines.insert({*entry.context, entry.line});
            if (!fresh)
                throw Failure(at(entry.line) + "msgctxt " + velmark::quoted(*entry.context) + " repeats the context of line " +
                              std::to_string(earlier->second));
        }
        const char* msgstr = po_message_msgstr(m);
        if (!msgstr || !*msgstr || po_message_is_fuzzy(m)) continue;
        if (!entry.context && !*po_message_msgid(m)) continue;  // the header
        const std::string name = entry.context ? "the translation of " + velmark::quoted(*entry.context) : "the translation";
        if (linesKnown && lines[i].msgstrHoldsNul)
            throw Failure(at(msgstrLineOf(i)) + name + " holds a NUL character, which would end the text there");
        entry.source = converted(po_message_msgid(m), i);
        entry.translation = converted(msgstr, i);
        for (char16_t c : entry.translation)
            if (isControl(c) && entry.source.find(c) == std::u16string::npos)
                throw Failure(at(msgstrLineOf(i)) + name +
                              " holds the control character " + codePoint(c) + ", which its source text does not");
        out.push_back(std::move(entry));
    }
    return out;
}

std::optional<std::string> printfProblem(const std::u16string& source, const std::u16string& translation) {
    const std::vector<std::string> wanted = printfArguments(source), given = printfArguments(translation);
    if (!wanted.empty()) {
        // gettext's own check, as msgfmt -c runs it on a c-format entry.
        // A message lives in a file: the file frees it.
        PoFile file(po_file_create(), po_file_free);
        po_message_t message = po_message_create();
        po_message_iterator_t it = po_message_iterator(file.get(), nullptr);
        po_message_insert(it, message);
        po_message_iterator_free(it);
        po_message_set_msgid(message, utf16ToUtf8(source).c_str());
        po_message_set_msgstr(message, utf16ToUtf8(translation).c_str());
        po_message_set_format(message, "c-format", 1);
        PoErrors errors;
        checkFormatRaw(message, errors);
        if (!errors.first.empty()) return errors.first;
    }
    if (wanted != given)
        return "its printf directives as wsprintfW reads them (" + (given.empty() ? "none" : printfSpelling(translation)) +
               ") differ from the source's (" + (wanted.empty() ? "none" : printfSpelling(source)) +
               ") in number, order or type";
    return std::nullopt;
}

}  // namespace velmark::cli
