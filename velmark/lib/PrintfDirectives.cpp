#include "velmark/lib/PrintfDirectives.h"

#include <cstddef>

namespace velmark::cli {
namespace {

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

struct Directive {
    size_t start = 0, end = 0;
    std::string argument;
};

// The argument a conversion takes in wsprintfW, or "" when `type` is none.
std::string argumentOf(const std::u16string& size, char16_t type) {
    const bool narrow = size == u"h", wide = size == u"l";
    switch (type) {
    case u'd': case u'i': return size == u"I64" ? "int64" : "int";
    case u'u': case u'x': case u'X': return size == u"I64" ? "unsigned int64" : "unsigned";
    case u's': return narrow ? "narrow string" : "wide string";
    case u'S': return wide ? "wide string" : "narrow string";
    case u'c': return narrow ? "narrow char" : "wide char";
    case u'C': return wide ? "wide char" : "narrow char";
    case u'p': return "pointer";
    default: return "";
    }
}

std::vector<Directive> directivesOf(const std::u16string& text) {
    std::vector<Directive> out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'%') continue;
        size_t j = i + 1;
        if (j < text.size() && text[j] == u'%') {
            i = j;
            continue;
        }
        while (j < text.size() && (text[j] == u'-' || text[j] == u'#' || text[j] == u'0')) ++j;
        while (j < text.size() && isDigit(text[j])) ++j;
        if (j < text.size() && text[j] == u'.') {
            ++j;
            while (j < text.size() && isDigit(text[j])) ++j;
        }
        std::u16string size;
        for (const std::u16string prefix : {u"I64", u"h", u"l"})
            if (text.compare(j, prefix.size(), prefix) == 0) {
                size = prefix;
                j += prefix.size();
                break;
            }
        if (j >= text.size()) break;
        std::string argument = argumentOf(size, text[j]);
        if (argument.empty()) continue;  // not a directive: wsprintfW copies it
        out.push_back({i, j + 1, argument});
        i = j;
    }
    return out;
}

}  // namespace

std::vector<std::string> printfArguments(const std::u16string& text) {
    std::vector<std::string> out;
    for (const Directive& d : directivesOf(text)) out.push_back(d.argument);
    return out;
}

std::string printfSpelling(const std::u16string& text) {
    std::string out;
    for (const Directive& d : directivesOf(text)) {
        if (!out.empty()) out += " ";
        for (size_t k = d.start; k < d.end; ++k) out += char(text[k]);
    }
    return out;
}

}  // namespace velmark::cli
