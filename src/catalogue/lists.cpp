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
                                                   const platform::FileIdentity& identity,
                                                   const CatalogueFolder* parent) {
    const auto index = static_cast<uint32_t>(directories_.size());
    return &directories_.emplace_back(
        CatalogueFolder{std::string(directory), identity, index,
                        parent != nullptr ? parent->index : CatalogueFolder::kNone});
}

const char* FileCatalogue::StoreName(std::string_view name) {
    // The length in seven-bit groups, the lowest group last, just before the name, where
    // FileEntry::name reads it backwards.
    unsigned char length[10];
    size_t groups = 0;
    for (size_t rest = name.size(); groups == 0 || rest != 0; rest >>= 7) {
        length[groups++] = static_cast<unsigned char>(rest & 0x7F);
    }
    for (size_t i = 0; i + 1 < groups; ++i) {
        length[i] |= 0x80;  // more groups lie further back
    }
    const size_t needed = groups + name.size();
    if (blockUsed_ + needed > blockSize_) {
        size_t size = std::max(kNameBlockSize, needed);
        nameBlocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
        blockSize_ = size;
        blockUsed_ = 0;
    }
    char* at = nameBlocks_.back().get() + blockUsed_;
    for (size_t i = 0; i < groups; ++i) {
        at[i] = static_cast<char>(length[groups - 1 - i]);
    }
    std::memcpy(at + groups, name.data(), name.size());
    blockUsed_ += needed;
    return at + groups;
}

FileEntry& FileCatalogue::Append(const CatalogueFolder* folder, std::string_view name,
                                 int64_t size) {
    FileEntry& entry = entries_.emplace_back();
    entry.size = size;
    entry.folder_ = folder;
    entry.name_ = StoreName(name);
    return entry;
}

void FileCatalogue::Clear() {
    std::deque<FileEntry>().swap(entries_);
    std::deque<CatalogueFolder>().swap(directories_);
    std::vector<std::unique_ptr<char[]>>().swap(nameBlocks_);
    blockUsed_ = 0;
    blockSize_ = 0;
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
