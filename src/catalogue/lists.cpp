#include "catalogue/lists.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "platform/files.h"

namespace twinrake {

namespace {
// Names are packed into blocks of this size, so that a catalogue of many short names costs
// little more than the names themselves.
constexpr size_t kNameBlockSize = 64 * 1024;
}  // namespace

std::string FullPath(std::string_view directory, std::string_view name) {
    std::string path;
    path.reserve(directory.size() + 1 + name.size());
    path.append(directory);
    path.push_back(platform::kPathSeparator);
    path.append(name);
    return path;
}

const CatalogueFolder* FileCatalogue::AddDirectory(std::string_view directory,
                                                   const platform::FileIdentity& identity) {
    return &directories_.emplace_back(CatalogueFolder{std::string(directory), identity});
}

const char* FileCatalogue::StoreName(std::string_view name) {
    if (name.empty()) {
        return "";
    }
    if (blockUsed_ + name.size() > blockSize_) {
        size_t size = std::max(kNameBlockSize, name.size());
        nameBlocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
        blockSize_ = size;
        blockUsed_ = 0;
    }
    char* at = nameBlocks_.back().get() + blockUsed_;
    std::memcpy(at, name.data(), name.size());
    blockUsed_ += name.size();
    return at;
}

FileEntry& FileCatalogue::Append(const CatalogueFolder* folder, std::string_view name,
                                 int64_t size) {
    FileEntry& entry = entries_.emplace_back();
    entry.size = size;
    entry.folder_ = folder;
    entry.name_ = StoreName(name);
    entry.nameLength_ = static_cast<uint32_t>(name.size());
    return entry;
}

void FileCatalogue::Clear() {
    std::deque<FileEntry>().swap(entries_);
    std::deque<CatalogueFolder>().swap(directories_);
    std::vector<std::unique_ptr<char[]>>().swap(nameBlocks_);
    blockUsed_ = 0;
    blockSize_ = 0;
}

GroupMember::GroupMember(std::string_view directory, std::string_view name)
    : text_(std::make_unique_for_overwrite<char[]>(directory.size() + name.size())),
      directoryLength_(static_cast<uint32_t>(directory.size())),
      nameLength_(static_cast<uint32_t>(name.size())) {
    std::memcpy(text_.get(), directory.data(), directory.size());
    std::memcpy(text_.get() + directory.size(), name.data(), name.size());
}

DuplicateGroup* SelectGroup(GroupList& groups, int32_t index) {
    if (index < 0 || groups.empty()) {
        return nullptr;
    }
    size_t at = std::min(static_cast<size_t>(index), groups.size() - 1);
    return &groups[at];
}

MemberList::iterator MemberAt(const DuplicateGroup& group, int32_t index) {
    return std::next(group.firstMember, index);
}

int32_t CountOf(const GroupList& groups) {
    return static_cast<int32_t>(groups.size());
}
int32_t CountOf(const MemberList& members) {
    return static_cast<int32_t>(members.size());
}

}  // namespace twinrake
