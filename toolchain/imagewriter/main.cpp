// imagewriter: turns the linked module into the Windows CE DLL.
//
//   imagewriter ELF TABLE OUT.dll
//
// On any error OUT.dll is removed, so that a failed build never leaves an
// image behind that later steps could take for a good one.
#include "formats/exporttable/ExportTable.h"
#include "formats/pe/ImageSummary.h"
#include "formats/pe/PeImage.h"
#include "toolchain/imagewriter/ElfFile.h"
#include "toolchain/imagewriter/ImageError.h"
#include "toolchain/imagewriter/ImageWriter.h"

#include <cstdio>
#include <fstream>
#include <iostream>

namespace {

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) throw imagewriter::ImageError(temporary + ": cannot be written");
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        if (!out.flush()) throw imagewriter::ImageError(temporary + ": write failed");
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0)
        throw imagewriter::ImageError(path + ": cannot replace it with " + temporary);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: imagewriter ELF TABLE OUT.dll\n";
        return 2;
    }
    const std::string outPath = argv[3];
    try {
        imagewriter::ElfFile elf = imagewriter::ElfFile::load(argv[1]);
        velmark::ExportTable table = velmark::ExportTable::load(argv[2]);
        imagewriter::WrittenImage image = imagewriter::buildImage(elf, table);
        writeFile(outPath, image.bytes);
        pe::writeSummary(std::cout, outPath, pe::readImage(image.bytes));
        return 0;
    } catch (const std::exception& e) {
        std::string message = e.what();
        if (!message.empty() && message.back() != '\n') message += '\n';
        std::cerr << "imagewriter: " << message;
    }
    std::remove(outPath.c_str());
    std::remove((outPath + ".tmp").c_str());
    return 1;
}
