#include "velmark/lib/PoLines.h"

#include <sstream>

namespace velmark::cli {
namespace {

bool startsWith(const std::string& s, size_t at, const char* word) { return s.compare(at, std::char_traits<char>::length(word), word) == 0; }

bool isOctal(char c) { return c >= '0' && c <= '7'; }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Whether the quoted strings on a line, read as gettext reads them, hold a NUL.
bool quotedHoldsNul(const std::string& line, size_t from) {
    bool inside = false;
    for (size_t i = from; i < line.size(); ++i) {
        char c = line[i];
        if (!inside) {
            inside = c == '"';
            continue;
        }
        if (c == '"') inside = false;
        else if (c == '\0') return true;
        else if (c == '\\' && i + 1 < line.size()) {
            char next = line[++i];
            unsigned value = 1;
            if (isOctal(next)) {
                value = 0;
                for (int k = 0; k < 3 && i < line.size() && isOctal(line[i]); ++k, ++i) value = value * 8 + (line[i] - '0');
                --i;
            } else if (next == 'x' && i + 1 < line.size() && hexValue(line[i + 1]) >= 0) {
                value = 0;
                while (i + 1 < line.size() && hexValue(line[i + 1]) >= 0) value = (value * 16 + hexValue(line[++i])) & 0xFF;
            }
            if ((value & 0xFF) == 0) return true;
        }
    }
    return false;
}

}  // namespace

std::vector<PoEntryLines> poEntryLines(const std::string& text) {
    std::vector<PoEntryLines> entries;
    bool inMsgstr = false, hasMsgid = false;
    PoEntryLines current;
    std::istringstream in(text);
    size_t number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        size_t at = line.find_first_not_of(" \t");
        if (at == std::string::npos) continue;
        if (startsWith(line, at, "#~")) at = line.find_first_not_of(" \t", at + 2);
        else if (line[at] == '#') continue;
        if (at == std::string::npos) continue;
        if (line[at] == '"') {
            if (inMsgstr && quotedHoldsNul(line, at)) current.msgstrHoldsNul = true;
            continue;
        }
        inMsgstr = false;
        const bool context = startsWith(line, at, "msgctxt");
        const bool msgid = startsWith(line, at, "msgid") && !startsWith(line, at, "msgid_plural");
        if ((context || msgid) && hasMsgid) {  // a new entry begins
            entries.push_back(current);
            current = {};
            hasMsgid = false;
        }
        if ((context || msgid) && !current.first) current.first = number;
        if (msgid) hasMsgid = true;
        if (startsWith(line, at, "msgstr")) {
            inMsgstr = true;
            if (!current.msgstr) current.msgstr = number;
            if (quotedHoldsNul(line, at)) current.msgstrHoldsNul = true;
        }
    }
    if (hasMsgid) entries.push_back(current);
    return entries;
}

}  // namespace velmark::cli
