// imagecheck: the check every build runs on the VELMARK.dll it wrote.
//
//   imagecheck [--verbose] VELMARK.dll TABLE
//
// Checks the exception table as the platform's unwinder relies on it, and
// the export directory, the import table and every forwarder against the
// export table source. Quiet when all is well (one line); --verbose lists
// the exception table. Exit status: 0 the image matches, 1 it does not, 2 bad
// usage or a file that cannot be read.
#include "formats/exporttable/ExportTable.h"
#include "formats/pe/PeImage.h"
#include "toolchain/imagecheck/ExceptionTableReport.h"
#include "toolchain/imagecheck/VelmarkImageCheck.h"

#include <cstring>
#include <iostream>
#include <sstream>

using namespace velmark::imagecheck;

namespace {

int report(const std::string& what, const std::vector<std::string>& problems) {
    std::cerr << what << "\n";
    for (const std::string& problem : problems) std::cerr << "  " << problem << "\n";
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const bool verbose = argc == 4 && std::strcmp(argv[1], "--verbose") == 0;
    if (argc != 3 && !verbose) {
        std::cerr << "usage: imagecheck [--verbose] VELMARK.dll TABLE\n";
        return 2;
    }
    const std::string imagePath = argv[argc - 2];
    const std::string tablePath = argv[argc - 1];
    pe::Image image;
    velmark::ExportTable table;
    try {
        image = pe::readImageFile(imagePath);
        table = velmark::ExportTable::load(tablePath);
    } catch (const std::exception& e) {
        std::cerr << "imagecheck: " << e.what() << "\n";
        return 2;
    }
    std::ostringstream listing;
    std::vector<std::string> frameProblems = writeExceptionTable(listing, image);
    if (verbose || !frameProblems.empty()) std::cout << listing.str();
    if (!frameProblems.empty()) return report(imagePath + ": the exception table is wrong", frameProblems);
    if (!isVelmarkImage(image)) return report(imagePath + ": not VELMARK.dll", {});
    VelmarkCheck check = checkVelmarkImage(image, table);
    if (!check.mismatches.empty())
        return report(imagePath + ": " + std::to_string(check.mismatches.size()) + " mismatches against " + tablePath,
                      check.mismatches);
    std::cout << imagePath << ": matches " << tablePath << ": " << check.exportsChecked << " exports, "
              << check.importsChecked << " imports, " << check.forwardersChecked << " forwarders, exception table sound\n";
    return 0;
}
