// Where each entry of a PO file lies, and what libgettextpo cannot say of it:
// its messages end at the first NUL, so a NUL written into a translation
// ("\0", "\x00" or the byte itself) would silently cut the text. Reads the
// lines of a file that libgettextpo has already parsed without error, in
// UTF-8, so that every backslash is one.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace velmark::cli {

struct PoEntryLines {
    size_t first = 0;   // the entry's msgctxt line, or its msgid line
    size_t msgstr = 0;  // its first msgstr line
    bool msgstrHoldsNul = false;
};

// One per entry, header and obsolete entries included, in file order: the
// order in which libgettextpo gives the messages.
std::vector<PoEntryLines> poEntryLines(const std::string& utf8Text);

}  // namespace velmark::cli
