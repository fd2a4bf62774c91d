// CompareFiles over real files, as the deletions ask before a copy goes: two separate files
// with the same bytes, whole, unchanged; anything else is no copy, and CompareContents says
// why.
#include <gtest/gtest.h>

#include <string>

#include "catalogue/progress.h"
#include "detect/compare.h"
#include "temp_tree.h"

namespace twinrake {
namespace {

using testing_support::Content;
using testing_support::TempTree;

// Counts what a comparison tells, to show that a long one keeps a window alive.
struct Counting final : Progress {
    void StillRunning() override { ++stillRunning; }
    int stillRunning = 0;
};

class CompareTest : public ::testing::Test {
  protected:
    bool Copies(const std::string& a, const std::string& b) {
        return CompareFiles(tree.root() + "/", a, b, progress);  // relative to the tree
    }
    TempTree tree;
    Counting progress;
};

TEST_F(CompareTest, TwoSeparateFilesWithTheSameBytesWhole) {
    const std::string bytes = Content(1, 5000);
    tree.Write("x", bytes);
    tree.Write("y", bytes);
    tree.HardLink("x", "x-link");
    tree.Write("last", bytes.substr(0, 4999) + static_cast<char>(bytes.back() ^ 1));
    tree.Write("first", static_cast<char>(bytes[0] ^ 1) + bytes.substr(1));
    tree.Write("longer", bytes + "tail");
    tree.Write("shorter", bytes.substr(0, 4999));
    tree.Write("e1", "");
    tree.Write("e2", "");
    tree.MakeFolder("folder");
    // What CompareFiles answers, and why CompareContents says it answers so: a deletion names
    // a file it cannot read differently from one that holds other bytes.
    const struct {
        const char* a;
        const char* b;
        Likeness likeness;
        bool second;  // the reason lies with b
    } kCases[] = {
        {"x", "y", Likeness::kSame, false},
        {"y", "x", Likeness::kSame, false},
        {"x", "x", Likeness::kSameFile, false},
        {"x", "x-link", Likeness::kSameFile, false},  // one file under two names
        {"x", "last", Likeness::kDiffer, false},
        {"first", "x", Likeness::kDiffer, false},
        {"x", "longer", Likeness::kDiffer, false},
        {"shorter", "x", Likeness::kDiffer, false},
        {"x", "missing", Likeness::kUnreadable, true},
        {"missing", "x", Likeness::kUnreadable, false},
        {"folder", "x", Likeness::kUnreadable, false},
        {"e1", "e2", Likeness::kSame, false},  // nothing to differ in
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.a) + " " + c.b);
        EXPECT_EQ(Copies(c.a, c.b), c.likeness == Likeness::kSame);
        Comparison why = CompareContents(tree.root() + "/", c.a, c.b);
        EXPECT_EQ(why.likeness, c.likeness);
        EXPECT_EQ(why.second, c.second);
    }
}

// One file seen through two mounts: an overlay shows a lower file on its own device, with the
// lower inode number as it is (xino=off), or with high bits set (xino=on and auto); a share
// mounted twice shows it as it is. On one device only the identity tells.
TEST(PossiblySameFileTest, TellsOneFileOnTwoDevicesByItsInodeNumberLowBits) {
    auto stamp = [](uint64_t volume, uint64_t index, int64_t length, int64_t modified) {
        platform::FileStamp s;
        s.identity = {volume, index};
        s.length = length;
        s.modified = modified;
        return s;
    };
    const platform::FileStamp lower = stamp(1792, 12, 5, 100);
    const struct {
        const char* what;
        platform::FileStamp other;
        bool same;
    } kCases[] = {
        {"the same identity", stamp(1792, 12, 5, 100), true},
        {"the same identity, though written since", stamp(1792, 12, 6, 200), true},
        {"an overlay without xino", stamp(43, 12, 5, 100), true},
        {"an overlay with xino: one high bit", stamp(41, 0x800000000000000CULL, 5, 100), true},
        {"an overlay with xino: fsid in the upper half",
         stamp(41, (uint64_t{3} << 33) | 12, 5, 100), true},
        {"another device, another last write", stamp(41, 0x800000000000000CULL, 5, 101), false},
        {"another device, another length", stamp(43, 12, 6, 100), false},
        {"another device, another inode number", stamp(43, 13, 5, 100), false},
        {"the same device, the same low bits", stamp(1792, (uint64_t{1} << 32) | 12, 5, 100),
         false},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(PossiblySameFile(lower, c.other), c.same) << c.what;
        EXPECT_EQ(PossiblySameFile(c.other, lower), c.same) << c.what;
    }
}

TEST_F(CompareTest, LargeFilesAreReadToTheirLastByteAndTellThatTheyStillRun) {
    const std::string bytes = Content(2, 3000000);
    tree.Write("x", bytes);
    tree.Write("y", bytes);
    tree.Write("z", bytes.substr(0, bytes.size() - 1) + static_cast<char>(bytes.back() ^ 1));
    EXPECT_TRUE(Copies("x", "y"));
    EXPECT_GT(progress.stillRunning, 10);  // block by block
    EXPECT_FALSE(Copies("x", "z"));
}

}  // namespace
}  // namespace twinrake
