#include "velmark/lib/PoCharset.h"

#include "velmark/lib/Failure.h"

#include <gettext-po.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace velmark::cli {

bool isUtf8(const std::string& charset) {
    std::string upper;
    for (char c : charset) upper += char(c >= 'a' && c <= 'z' ? c - 32 : c);
    return upper == "UTF-8" || upper == "UTF8";
}

std::string charsetOfHeader(const char* header) {
    const char* contentType = header ? po_header_field(header, "Content-Type") : nullptr;
    std::string field = contentType ? contentType : "";
    std::free(const_cast<char*>(contentType));
    size_t at = field.find("charset=");
    if (at == std::string::npos) return "UTF-8";
    at += 8;
    std::string charset = field.substr(at, field.find_first_of("; \t", at) - at);
    return charset.empty() || charset == "CHARSET" ? "UTF-8" : charset;
}

ToUtf8::ToUtf8(const std::string& charset, const std::string& path)
    : descriptor_(::iconv_open("UTF-8", charset.c_str())), charset_(charset), path_(path) {
    if (descriptor_ == reinterpret_cast<iconv_t>(-1))
        throw Failure(path + ": its header declares charset " + charset + ", which this system cannot convert");
}

ToUtf8::~ToUtf8() { ::iconv_close(descriptor_); }

std::optional<std::string> ToUtf8::convert(const std::string& text, size_t* failedAt) {
    ::iconv(descriptor_, nullptr, nullptr, nullptr, nullptr);
    std::string out;
    char* in = const_cast<char*>(text.data());
    size_t left = text.size();
    char buffer[4096];
    auto step = [&](bool flush) {
        char* to = buffer;
        size_t room = sizeof buffer;
        size_t done = flush ? ::iconv(descriptor_, nullptr, nullptr, &to, &room)
                            : ::iconv(descriptor_, &in, &left, &to, &room);
        out.append(buffer, to);
        return done != size_t(-1) || errno == E2BIG;
    };
    while (left)
        if (!step(false)) {
            if (failedAt) *failedAt = size_t(in - text.data());
            return std::nullopt;
        }
    if (!step(true)) return std::nullopt;
    return out;
}

std::string ToUtf8::convertFile(const std::string& text) {
    size_t failedAt = text.size();
    std::optional<std::string> out = convert(text, &failedAt);
    if (!out) {
        size_t line = 1 + std::count(text.begin(), text.begin() + long(std::min(failedAt, text.size())), '\n');
        throw Failure(path_ + ":" + std::to_string(line) + ": holds bytes that are not " + charset_ +
                      ", the charset its header declares");
    }
    return *out;
}

}  // namespace velmark::cli
