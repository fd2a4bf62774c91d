// scan-bench: scans one folder with the program's own ScanFolder into a FileCatalogue and
// reports the entry count, the scan's wall time and the process's peak resident memory.
// With --empty it does everything but the scan, so the difference of the two peaks is what
// the catalogue costs.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "catalogue/lists.h"
#include "catalogue/scan.h"
#include "platform/files.h"

namespace {

const char* const kUsage =
    "Usage: scan-bench [--empty] FOLDER\n"
    "Scans FOLDER into a catalogue and prints\n"
    "  entries N seconds S peak_kib K\n"
    "--empty skips the scan, for the baseline peak memory.\n";

// VmHWM of /proc/self/status in KiB: the process's peak resident memory; -1 if unknown.
long PeakResidentKib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    bool empty = false;
    const char* folder = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--empty") == 0) {
            empty = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || folder != nullptr) {
            std::fputs(kUsage, argc == 2 ? stdout : stderr);
            return argc == 2 ? 0 : 1;
        } else {
            folder = argv[i];
        }
    }
    if (folder == nullptr) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    twinrake::FileCatalogue catalogue;
    std::string programDirectory;
    (void)platform::ProgramDirectory(programDirectory);
    // Relative folders are taken from where the user stands, as twinrake-find does; the scan
    // itself would take them from the program's own folder.
    std::string folderText;
    if (platform::Error error = platform::AbsolutePath(folder, folderText)) {
        std::fprintf(stderr, "scan-bench: %s: %s\n", folder, platform::ErrorText(error).c_str());
        return 1;
    }
    auto start = std::chrono::steady_clock::now();
    if (!empty) {
        twinrake::ScanFolder(catalogue, programDirectory, folderText);
    }
    auto stop = std::chrono::steady_clock::now();
    // Touching every entry keeps the scan from being optimised away and checks the names.
    uint64_t nameBytes = 0;
    for (const twinrake::FileEntry& entry : catalogue) {
        nameBytes += entry.name().size();
    }
    std::printf("entries %d seconds %.6f peak_kib %ld name_bytes %llu\n", catalogue.Count(),
                std::chrono::duration<double>(stop - start).count(), PeakResidentKib(),
                static_cast<unsigned long long>(nameBytes));
    return 0;
}
