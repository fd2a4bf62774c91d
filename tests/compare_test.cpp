// CompareFiles over real files: verdicts, the 4096-byte threshold and PrgFile's positions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/window_progress.h"
#include "detect/compare.h"
#include "platform/files.h"
#include "session.h"
#include "temp_tree.h"

namespace twinrake {
namespace {

using testing_support::Content;
using testing_support::TempTree;

class CompareTest : public SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        ASSERT_TRUE(StartUp(state));
        platform::SetProgress(PrgFile, 42);  // a position left by something earlier
    }
    int32_t Compare(const std::string& first, const std::string& second, int32_t size) {
        return CompareFiles(state.programDirectory, tree.Path(first), tree.Path(second), size,
                            progress);
    }
    // The pair "x" and "y", identical, or differing in the byte at `differAt` if >= 0.
    void Pair(size_t size, int64_t differAt = -1) {
        std::string bytes = Content(static_cast<uint32_t>(size), size);
        tree.Write("x", bytes);
        if (differAt >= 0) {
            bytes[static_cast<size_t>(differAt)] ^= 0x01;
        }
        tree.Write("y", bytes);
    }
    const std::vector<int32_t>& FileProgress() { return Control(PrgFile).progressHistory; }
    TempTree tree;
    WindowProgress progress;
};

TEST_F(CompareTest, BelowTheThresholdProgressIsUntouched) {
    Pair(4095);
    EXPECT_EQ(Compare("x", "y", 4095), 1);
    EXPECT_EQ(FileProgress(), (std::vector<int32_t>{42}));
    Pair(4095, 4094);
    EXPECT_EQ(Compare("x", "y", 4095), 0);
    EXPECT_EQ(FileProgress(), (std::vector<int32_t>{42}));
}

TEST_F(CompareTest, FinalProgressAtTheThresholds) {
    struct Case {
        size_t size;
        int32_t identicalEnd;
    };
    for (Case c : {Case{4096, 99}, Case{4097, 100}, Case{4098, 99}, Case{4099, 99}, Case{4100, 99},
                   Case{4101, 100}}) {
        Pair(c.size);
        progress.Reset();
        EXPECT_EQ(Compare("x", "y", static_cast<int32_t>(c.size)), 1) << c.size;
        EXPECT_EQ(Control(PrgFile).progress, c.identicalEnd) << c.size;
        // A difference in the last byte: different, and the bar shows 100.
        Pair(c.size, static_cast<int64_t>(c.size) - 1);
        platform::SetProgress(PrgFile, 0);
        progress.Reset();
        EXPECT_EQ(Compare("x", "y", static_cast<int32_t>(c.size)), 0) << c.size;
        EXPECT_EQ(Control(PrgFile).progress, 100) << c.size;
    }
}

TEST_F(CompareTest, DifferenceInTheFirstByteEndsAt100) {
    Pair(50000, 0);
    EXPECT_EQ(Compare("x", "y", 50000), 0);
    EXPECT_EQ(FileProgress().back(), 100);
}

TEST_F(CompareTest, LargeIdenticalFilesClimbFromZeroToNinetyNine) {
    Pair(30000000);
    progress.Reset();
    EXPECT_EQ(Compare("x", "y", 30000000), 1);
    const std::vector<int32_t>& history = FileProgress();
    ASSERT_GT(history.size(), 3u);
    EXPECT_EQ(history[1], 0);  // the first block is under one percent
    EXPECT_EQ(history.back(), 99);
    for (size_t i = 2; i < history.size(); ++i) {
        EXPECT_GT(history[i], history[i - 1]);  // set only when the value changes
    }
    Pair(30000000, 29999999);
    EXPECT_EQ(Compare("x", "y", 30000000), 0);
    EXPECT_EQ(FileProgress().back(), 100);
}

TEST_F(CompareTest, FilesThatCannotBeOpenedAreDifferent) {
    Pair(5000);
    EXPECT_EQ(Compare("missing", "y", 5000), 0);
    EXPECT_EQ(Compare("x", "missing", 5000), 0);
    tree.MakeFolder("folder");
    EXPECT_EQ(Compare("folder", "folder", 0), 0);
    EXPECT_EQ(FileProgress(), (std::vector<int32_t>{42}));
}

TEST_F(CompareTest, FileComparedWithItselfAndEmptyFiles) {
    Pair(6000);
    EXPECT_EQ(Compare("x", "x", 6000), 1);
    tree.Write("e1", "");
    tree.Write("e2", "");
    EXPECT_EQ(Compare("e1", "e2", 0), 1);
}

TEST_F(CompareTest, RelativePathsAreTakenFromTheProgramDirectory) {
    Pair(100);
    std::string programDirectory = tree.root() + "/";
    EXPECT_EQ(CompareFiles(programDirectory, "x", "y", 100), 1);
}

// A pair is identical only when both files are exactly as long as the catalogue says.
TEST_F(CompareTest, GrownShrunkOrLargerThanTheLowBitsIsNeverIdentical) {
    Pair(5000);
    EXPECT_EQ(Compare("x", "y", 4999), 0);  // both grew by one byte since the scan
    EXPECT_EQ(Compare("x", "y", 5001), 0);  // both shrank
    tree.Write("z", tree.Read("x") + "tail");
    EXPECT_EQ(Compare("x", "z", 5000), 0);
    EXPECT_EQ(Compare("z", "x", 5000), 0);
    // Two files of 4 GiB + 5000 bytes whose first 5000 bytes agree: catalogued as 5000.
    tree.Sparse("big1", 4294967296LL + 5000);
    tree.Sparse("big2", 4294967296LL + 5000);
    tree.Write("zeros", std::string(5000, '\0'));
    EXPECT_EQ(Compare("big1", "big2", 5000), 0);
    EXPECT_EQ(Compare("zeros", "big1", 5000), 0);
    EXPECT_EQ(Compare("big1", "zeros", 5000), 0);
    // A negative catalogued size (2 GiB and up) never compares as identical either.
    tree.Sparse("neg1", 3000000000LL);
    tree.Sparse("neg2", 3000000000LL);
    EXPECT_EQ(Compare("neg1", "neg2", -1294967296), 0);
}

// Whether a copy still exists, as asked before a marked file is deleted.
TEST_F(CompareTest, StillCopiesWantsTwoSeparateFilesWithTheSameBytes) {
    Pair(5000);
    tree.HardLink("x", "x-link");
    EXPECT_TRUE(StillCopies(state.programDirectory, tree.Path("x"), tree.Path("y")));
    EXPECT_FALSE(StillCopies(state.programDirectory, tree.Path("x"), tree.Path("x-link")));
    EXPECT_FALSE(StillCopies(state.programDirectory, tree.Path("x"), tree.Path("missing")));
    tree.Write("z", tree.Read("x") + "tail");
    EXPECT_FALSE(StillCopies(state.programDirectory, tree.Path("x"), tree.Path("z")));
    // A file compared with itself by the plain comparison still gives 1.
    EXPECT_EQ(Compare("x-link", "x", 5000), 1);
    EXPECT_EQ(FileProgress(), (std::vector<int32_t>{42, 99}));
}

}  // namespace
}  // namespace twinrake
