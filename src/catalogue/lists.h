// The three ordered lists that hold everything the program knows between two commands:
// the FileCatalogue (one FileEntry per file a scan found), the GroupList (one DuplicateGroup
// per set of identical files of the last search) and the MemberList (the groups' members,
// each group's members side by side). Every insertion appends at the end; nothing is ever
// sorted, so insertion order is processing and display order.
#pragma once

#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace twinrake {

// Forms the full path of a file: its directory, one separator and its name. Every place that
// opens, shows or deletes a file forms the path here.
std::string FullPath(std::string_view directory, std::string_view name);

// A folder of catalogued files: its text, kept once for all of its files, and its identity as
// the scan listed it (unknown: all zero).
struct CatalogueFolder {
    static constexpr uint32_t kNone = UINT32_MAX;

    std::string text;
    platform::FileIdentity identity;
    uint32_t index = 0;  // its place among the catalogue's folders
    // The place of a catalogue folder above it, in whose text its own text continues after a
    // separator (the nearest one the scan had registered by then), or kNone.
    uint32_t parent = kNone;
};

// One catalogued file. Its texts live in the catalogue that holds it, which keeps a folder's
// directory text once for all of its files and each name with its length just before it;
// that keeps a large catalogue small.
class FileEntry {
  public:
    int64_t size = 0;  // the true size in bytes, as the listing gave it

    std::string_view directory() const { return folder_->text; }
    std::string_view name() const {
        // The length stands just before the name, seven bits a byte, read backwards: one
        // byte for every name below 128 bytes.
        size_t length = 0;
        const auto* at = reinterpret_cast<const unsigned char*>(name_);
        for (unsigned shift = 0;; shift += 7) {
            const unsigned char byte = *--at;
            length |= size_t{byte & 0x7Fu} << shift;
            if ((byte & 0x80u) == 0) {
                break;
            }
        }
        return {name_, length};
    }
    // The identity of the folder that held the file when it was listed.
    const platform::FileIdentity& folderIdentity() const { return folder_->identity; }
    const CatalogueFolder& folder() const { return *folder_; }

  private:
    friend class FileCatalogue;
    const CatalogueFolder* folder_ = nullptr;
    const char* name_ = nullptr;
};

class FileCatalogue {
  public:
    using const_iterator = std::deque<FileEntry>::const_iterator;
    using iterator = std::deque<FileEntry>::iterator;

    FileCatalogue() = default;
    FileCatalogue(const FileCatalogue&) = delete;
    FileCatalogue& operator=(const FileCatalogue&) = delete;

    // Registers the folder that the following appends share. The reference stays valid until
    // Clear. `parent`, when given, is a folder of this catalogue above it.
    const CatalogueFolder* AddDirectory(std::string_view directory,
                                        const platform::FileIdentity& identity = {},
                                        const CatalogueFolder* parent = nullptr);

    // Appends an entry; `folder` must come from AddDirectory.
    FileEntry& Append(const CatalogueFolder* folder, std::string_view name, int64_t size);

    int32_t Count() const { return static_cast<int32_t>(entries_.size()); }
    size_t FolderCount() const { return directories_.size(); }
    const CatalogueFolder& Folder(size_t index) const { return directories_[index]; }
    bool Empty() const { return entries_.empty(); }
    FileEntry& operator[](size_t index) { return entries_[index]; }
    const FileEntry& operator[](size_t index) const { return entries_[index]; }
    iterator begin() { return entries_.begin(); }
    iterator end() { return entries_.end(); }
    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }

    // Removes every entry and frees every text.
    void Clear();

  private:
    const char* StoreName(std::string_view name);

    std::deque<FileEntry> entries_;
    std::deque<CatalogueFolder> directories_;
    std::vector<std::unique_ptr<char[]>> nameBlocks_;
    size_t blockUsed_ = 0;
    size_t blockSize_ = 0;
};

// One file of a group: its catalogue entry, whose texts it shows. The catalogue outlives its
// groups (both are cleared together, and entries never move), and a search may find hundreds
// of thousands of members, so none keeps texts of its own.
class GroupMember {
  public:
    explicit GroupMember(const FileEntry& entry) : entry_(&entry) {}
    std::string_view directory() const { return entry_->directory(); }
    std::string_view name() const { return entry_->name(); }

    // The file as the search compared it (its folder, identity, length and last write), so
    // that a deletion can tell it is still the file that was shown.
    platform::ExpectedFile compared;

  private:
    const FileEntry* entry_;
};

// The full path of a catalogued file or of a member: FullPath of its directory and name.
inline std::string FullPath(const FileEntry& entry) {
    return FullPath(entry.directory(), entry.name());
}
inline std::string FullPath(const GroupMember& member) {
    return FullPath(member.directory(), member.name());
}

// A std::list keeps every reference to a member valid while others are removed.
using MemberList = std::list<GroupMember>;

struct DuplicateGroup {
    int32_t memberCount = 0;
    MemberList::iterator firstMember;
};

using GroupList = std::vector<DuplicateGroup>;

// The group at 0-based `index`: none for -1 (or any negative index) and on an empty list; an
// index at or past the count yields the last group.
DuplicateGroup* SelectGroup(GroupList& groups, int32_t index);

// Member `index` of `group`, counted from its firstMember in MemberList order. The caller
// keeps `index` below memberCount.
MemberList::iterator MemberAt(const DuplicateGroup& group, int32_t index);

int32_t CountOf(const GroupList& groups);
int32_t CountOf(const MemberList& members);

}  // namespace twinrake
