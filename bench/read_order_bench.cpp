// read-order-bench: how much the order of the opens costs. Scans one folder with the
// program's own ScanFolder, then opens every file of positive size once, reads its first
// block and closes it, with the search's own calls (from its folder held open while the
// descriptor limit leaves room, else by its path), in one of two orders:
//
//   catalogue  the order the scan listed them in: folder after folder
//   size       ordered by size, ties in catalogue order: the order a size-by-size search
//              opens them in
//
// and prints the reading's wall time per file. One thread, so that nothing but the order
// differs between two runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "catalogue/lists.h"
#include "catalogue/scan.h"
#include "platform/files.h"

namespace {

const char* const kUsage =
    "Usage: read-order-bench FOLDER catalogue|size\n"
    "Opens, reads the first 4 KiB of and closes every file below FOLDER once, in the\n"
    "order of the catalogue or by size, and prints\n"
    "  order O files N held H us_per_file U\n";

// The files to read, as places in the catalogue.
std::vector<uint32_t> ReadingOrder(const twinrake::FileCatalogue& catalogue, bool bySize) {
    std::vector<uint32_t> order;
    for (uint32_t i = 0; i < static_cast<uint32_t>(catalogue.Count()); ++i) {
        if (catalogue[i].size > 0) {
            order.push_back(i);
        }
    }
    if (bySize) {
        std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
            return catalogue[a].size < catalogue[b].size;
        });
    }
    return order;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 ||
        (std::strcmp(argv[2], "catalogue") != 0 && std::strcmp(argv[2], "size") != 0)) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    std::string folderText;
    if (platform::Error error = platform::AbsolutePath(argv[1], folderText)) {
        std::fprintf(stderr, "read-order-bench: %s: %s\n", argv[1],
                     platform::ErrorText(error).c_str());
        return 1;
    }
    std::string programDirectory;
    (void)platform::ProgramDirectory(programDirectory);
    twinrake::FileCatalogue catalogue;
    twinrake::ScanFolder(catalogue, programDirectory, folderText);
    const std::vector<uint32_t> order = ReadingOrder(catalogue, argv[2][0] == 's');

    // A folder is held the first time one of its files comes, while there is room.
    std::vector<platform::HeldFolder*> held(catalogue.FolderCount(), nullptr);
    std::vector<bool> asked(catalogue.FolderCount(), false);
    size_t room = platform::FolderHoldBudget();
    size_t heldCount = 0;
    size_t failed = 0;
    std::vector<char> block(4096);
    const auto start = std::chrono::steady_clock::now();
    for (uint32_t i : order) {
        const twinrake::FileEntry& entry = catalogue[i];
        const twinrake::CatalogueFolder& folder = entry.folder();
        if (!asked[folder.index]) {
            asked[folder.index] = true;
            if (room > 0 &&
                !platform::HoldFolder(folder.text, folder.identity, held[folder.index])) {
                --room;
                ++heldCount;
            }
        }
        platform::OpenFile* file = nullptr;
        platform::FileStamp stamp;
        platform::Error error =
            held[folder.index] != nullptr
                ? platform::OpenForReadingIn(held[folder.index], {}, entry.name(), file, stamp)
                : platform::OpenForReading(twinrake::FullPath(entry), file, stamp);
        size_t got = 0;
        if (error || platform::ReadBytes(file, block.data(), block.size(), got)) {
            ++failed;
        }
        platform::CloseFile(file);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (platform::HeldFolder* folder : held) {
        platform::ReleaseFolder(folder);
    }
    std::printf("order %s files %zu held %zu us_per_file %.3f failed %zu\n", argv[2], order.size(),
                heldCount, order.empty() ? 0.0 : seconds * 1e6 / static_cast<double>(order.size()),
                failed);
    return failed == 0 ? 0 : 2;
}
