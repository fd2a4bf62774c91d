// Real folder trees in a temporary folder, removed again at the end of a test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

class TempTree {
  public:
    TempTree();
    // A tree below `parent` instead of the temporary folder.
    explicit TempTree(const std::string& parent);
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    // The tree's root folder, without a trailing separator.
    const std::string& root() const { return root_; }
    std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

    void MakeFolder(const std::string& relative) const;
    // Writes `content`, making the folders on the way.
    void Write(const std::string& relative, const std::string& content) const;
    // A sparse file of `length` bytes that begins with `head` (holes read as zeros).
    void Sparse(const std::string& relative, int64_t length, const std::string& head = "") const;
    void Symlink(const std::string& target, const std::string& relative) const;
    void HardLink(const std::string& existing, const std::string& relative) const;
    bool Exists(const std::string& relative) const;
    std::string Read(const std::string& relative) const;

  private:
    std::string root_;
};

// `prefix` followed by `number`, built by appending: GCC 12 warns falsely (-Wrestrict) about a
// literal + a temporary string in optimised builds.
std::string Numbered(const char* prefix, int number);

// Deterministic content of `length` bytes drawn from `seed`.
std::string Content(uint32_t seed, size_t length);

// Files of a folder tree in depth-first pre-order, each folder's entries in the order the
// file system lists them: "directory|name|size" lines, as an independent reading of a tree.
std::vector<std::string> ListingOrder(const std::string& folder);

}  // namespace testing_support
