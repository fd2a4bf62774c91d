// twinrake-find: the read-only companion. Scans the folders it is given, in that order, runs
// the program's own search and prints the groups. It never deletes or changes anything.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/state.h"
#include "catalogue/scan.h"
#include "detect/search.h"
#include "platform/files.h"

namespace {

const char* const kUsage =
    "Usage: twinrake-find FOLDER...\n"
    "\n"
    "Finds files with identical content below the given folders and prints each group of\n"
    "duplicates as its members' full paths, one per line, groups separated by an empty line.\n"
    "The first path of a group is the copy found first: folders are scanned in the order\n"
    "given, and a folder's files in the order the file system lists them. A file is only\n"
    "grouped after every byte has been compared; two names of one physical file (a folder\n"
    "given twice, a hard link) never count as duplicates. Nothing is deleted or changed.\n"
    "\n"
    "Exit status: 0 when at least one folder could be listed, 2 when none could, 1 on a\n"
    "usage error.\n";

// Whether `folder` can be listed at all, told apart from one that is merely empty.
bool CanList(const std::string& folder) {
    std::string trimmed = folder;
    if (trimmed.size() > 1 && trimmed.back() == platform::kPathSeparator) {
        trimmed.pop_back();
    }
    platform::FolderListing listing;
    return platform::ReadFolder(trimmed, "*.*", listing);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> folders;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        // Relative folders are taken from where the user stands; the scan itself would take
        // them from the program's own folder.
        std::error_code error;
        std::filesystem::path absolute = std::filesystem::absolute(argv[i], error);
        folders.push_back(error ? std::string(argv[i]) : absolute.string());
    }
    if (folders.empty()) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    twinrake::AppState state;
    state.programDirectory = platform::ProgramDirectory();
    platform::RaiseOpenFileLimit();
    int listed = 0;
    for (const std::string& folder : folders) {
        if (!CanList(folder)) {
            std::fprintf(stderr, "twinrake-find: cannot list folder '%s'\n", folder.c_str());
            continue;
        }
        ++listed;
        twinrake::ScanFolder(state.fileCatalogue, state.programDirectory, folder, "*.*", 0);
    }
    if (listed == 0) {
        return 2;
    }
    twinrake::FindDuplicates(state);
    // Written group by group: stdout buffers it, and a large result needs no copy in memory.
    bool firstGroup = true;
    for (const twinrake::DuplicateGroup& group : state.groupList) {
        if (!firstGroup) {
            std::fputc('\n', stdout);
        }
        firstGroup = false;
        auto member = group.firstMember;
        for (int32_t k = 0; k < group.memberCount; ++k, ++member) {
            std::string path = twinrake::FullPath(member->directory(), member->name());
            path.push_back('\n');
            std::fwrite(path.data(), 1, path.size(), stdout);
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
