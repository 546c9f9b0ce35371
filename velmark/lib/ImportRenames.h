// Rewriting the DLL names an image imports, in place: each new name has the
// length of the old one, so nothing else of the image moves. A valid image
// checksum is kept valid.
#pragma once

#include "formats/pe/PeImage.h"
#include "velmark/lib/Retarget.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmark::cli {

// The new name for an imported DLL name, or nothing to leave it.
using ImportRename = std::function<std::optional<std::string>(std::string_view)>;

// Renames, in `image.file`, every import descriptor's name that `rename`
// answers. Throws RetargetRefused when a new name's length differs or a
// renamed import is bound (its IAT already holds the old library's
// addresses).
struct ImportRenaming {
    std::vector<RenamedImport> renamed;
    bool checksumUpdated = false;  // the header held a valid checksum, now kept valid
};
ImportRenaming renameImports(pe::Image& image, const ImportRename& rename);

}  // namespace velmark::cli
