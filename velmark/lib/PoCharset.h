// A PO file's text in the charset its header declares (Content-Type:
// text/plain; charset=...), turned into UTF-8 through iconv: any charset
// gettext's tools accept.
#pragma once

#include <iconv.h>

#include <optional>
#include <string>

namespace velmark::cli {

// The charset named in a PO header; "UTF-8" when the header names none or
// still holds the template's placeholder "CHARSET".
std::string charsetOfHeader(const char* header);

bool isUtf8(const std::string& charset);

class ToUtf8 {
public:
    // Throws Failure naming `path` when iconv knows no such charset.
    ToUtf8(const std::string& charset, const std::string& path);
    ~ToUtf8();
    ToUtf8(const ToUtf8&) = delete;
    ToUtf8& operator=(const ToUtf8&) = delete;

    // Nothing when `text` holds bytes that are not of the charset;
    // `failedAt` then receives the offset of the first of them.
    std::optional<std::string> convert(const std::string& text, size_t* failedAt = nullptr);
    // The whole file; throws Failure naming the file and the first line
    // holding bytes that are not of the charset.
    std::string convertFile(const std::string& text);

private:
    iconv_t descriptor_;
    std::string charset_, path_;
};

}  // namespace velmark::cli
