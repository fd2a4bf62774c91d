#include "catalogue/scan.h"

#include "platform/files.h"

namespace twinrake {

void ScanFolder(FileCatalogue& catalogue, const std::string& programDirectory,
                const std::string& folder, const std::string& pattern, int32_t depth) {
    // Our own copy: the caller's text (lastFolder) keeps its trailing separator.
    std::string folderText = folder;
    if (!folderText.empty() && folderText.back() == platform::kPathSeparator) {
        folderText.pop_back();
    }
    platform::MakeCurrentDirectory(programDirectory);

    platform::ListingEntry entry;
    platform::Listing* listing = platform::ListFirst(folderText, pattern, entry);
    if (listing == nullptr) {
        return;
    }
    // Registered on the first file only, so folders without files cost nothing.
    const std::string* directory = nullptr;
    do {
        if (entry.isFolder) {
            if (entry.name == "." || entry.name == "..") {
                continue;
            }
            std::string subfolder = folderText;
            subfolder.push_back(platform::kPathSeparator);
            subfolder.append(entry.name);
            ScanFolder(catalogue, programDirectory, subfolder, pattern, depth + 1);
        } else {
            if (directory == nullptr) {
                directory = catalogue.AddDirectory(folderText);
            }
            catalogue.Append(directory, entry.name, entry.size);
        }
    } while (platform::ListNext(listing, entry));
    platform::ListClose(listing);
}

}  // namespace twinrake
