// An application's bitmap resource 284 (the picture the banner is composed
// from when there is no banner file), taken straight from its image.
#pragma once

#include "velmark/lib/Picture.h"

#include <string>

namespace velmark::cli {

// Throws Failure naming the file when it is no PE image, has no bitmap
// 284 or the bitmap cannot be decoded.
Picture bitmap284Of(const std::string& exePath);

}  // namespace velmark::cli
