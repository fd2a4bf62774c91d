// For a platform that holds no folders open: the search then opens every file by its path.
#include "platform/files.h"

namespace platform {

size_t FolderHoldBudget() {
    return 0;
}

Error HoldFolder(const std::string&, const FileIdentity&, HeldFolder*&) {
    return Failed(ErrorKind::Unsupported);
}

Error HoldFolderIn(const HeldFolder*, std::string_view, const FileIdentity&, HeldFolder*&) {
    return Failed(ErrorKind::Unsupported);
}

void ReleaseFolder(HeldFolder*) {}

Error OpenForReadingIn(const HeldFolder*, std::string_view, std::string_view, OpenFile*&,
                       FileStamp&) {
    return Failed(ErrorKind::Unsupported);
}

}  // namespace platform
