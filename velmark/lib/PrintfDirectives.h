// The printf directives of a text as the device's wsprintfW reads them:
// %[-][#][0][width][.precision][size]type, with the sizes h, l and I64 and
// the types c C d i u x X s S p; "%%" writes a percent sign and takes no
// argument. A translation must take the same arguments as its source.
#pragma once

#include <string>
#include <vector>

namespace velmark::cli {

// The argument each directive takes, in order: "int", "unsigned", "int64",
// "wide string", "narrow string", "wide char", "narrow char", "pointer".
std::vector<std::string> printfArguments(const std::u16string& text);

// The directives as written, e.g. "%d/%s", for messages.
std::string printfSpelling(const std::u16string& text);

}  // namespace velmark::cli
