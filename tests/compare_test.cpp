// CompareFiles over real files, as the deletions ask before a copy goes: two separate files
// with the same bytes, whole, unchanged; anything else is no copy.
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
    const struct {
        const char* a;
        const char* b;
        bool copies;
    } kCases[] = {
        {"x", "y", true},        {"y", "x", true},        {"x", "x", false},
        {"x", "x-link", false},  // one file under two names
        {"x", "last", false},    {"first", "x", false},   {"x", "longer", false},
        {"shorter", "x", false}, {"x", "missing", false}, {"missing", "x", false},
        {"folder", "x", false},  {"e1", "e2", true},  // nothing to differ in
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(Copies(c.a, c.b), c.copies) << c.a << " " << c.b;
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
