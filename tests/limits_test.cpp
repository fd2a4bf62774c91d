// The search under a small open-file limit, and trees deeper than any path the system takes in
// one call. CTest runs this program under `ulimit -n` (soft and hard limit alike), the way a
// user's shell may: the groups must be exactly those of the literal search all the same.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "catalogue/scan.h"
#include "detect/search.h"
#include "oracle.h"
#include "session.h"
#include "temp_tree.h"

namespace twinrake {
namespace {

using testing_support::Content;
using testing_support::GroupsOf;
using testing_support::Numbered;
using testing_support::OracleGroups;
using testing_support::TempTree;

rlim_t OpenFileLimit() {
    struct rlimit limit;
    getrlimit(RLIMIT_NOFILE, &limit);
    return limit.rlim_cur;
}

std::string RunFind(const std::string& folder) {
    std::string out;
    FILE* pipe = popen((std::string(TWINRAKE_FIND) + " '" + folder + "'").c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    std::array<char, 4096> buffer;
    size_t got = 0;
    while ((got = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        out.append(buffer.data(), got);
    }
    int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    return out;
}

using LimitTest = SessionTest;

// Two contents shared by 300 and 200 files, among other files of both sizes, with four
// reader threads: far more files than 64 descriptors allow at once.
TEST_F(LimitTest, ManyIdenticalFilesUnderALimitOf64) {
    ASSERT_LE(OpenFileLimit(), 64u) << "run under ulimit -n 64 (CTest does)";
    TempTree tree;
    for (int i = 0; i < 300; ++i) {
        std::string folder = Numbered("t", i % 7) + "/";
        tree.Write(folder + "a" + std::to_string(i), Content(1, 9000));
        if (i < 200) {
            tree.Write(folder + "b" + std::to_string(i), Content(2, 70000));
        }
        if (i % 50 == 0) {
            tree.Write(folder + "other" + std::to_string(i), Content(3 + i, 9000));
        }
    }
    ScanFolder(state.fileCatalogue, state.programDirectory, tree.root());
    FindDuplicates(state, SearchTuning{4});
    ASSERT_EQ(state.groupList.size(), 2u);
    EXPECT_EQ(state.groupList[0].memberCount + state.groupList[1].memberCount, 500);
    EXPECT_EQ(GroupsOf(state), OracleGroups(state.fileCatalogue));

    // twinrake-find, under the same limit, prints the same groups in the same order.
    std::string expected;
    for (const auto& group : GroupsOf(state)) {
        expected += expected.empty() ? "" : "\n";
        for (const std::string& path : group) {
            expected += path + "\n";
        }
    }
    EXPECT_EQ(RunFind(tree.root()), expected);
}

// A chain of single-letter folders `depth` levels deep below `root`, made and removed a level
// at a time: no path of it is ever handed to the system whole.
class DeepChain {
  public:
    DeepChain(const std::string& root, int depth) : root_(root) {
        int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
        for (int level = 0; level < depth && fd >= 0; ++level) {
            mkdirat(fd, "d", 0755);
            int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
            close(fd);
            fd = next;
            path_ += "/d";
        }
        bottom_ = fd;
    }
    ~DeepChain() {
        if (bottom_ >= 0) {
            close(bottom_);
        }
        // Cut the chain into pieces of 100 levels, each moved up beside it, which the ordinary
        // removal of the tree can take even under the limit (it holds a folder open a level).
        int fd = open(root_.c_str(), O_RDONLY | O_DIRECTORY);
        for (int level = 1, piece = 0; fd >= 0; ++level) {
            int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
            if (next >= 0 && level % 100 == 0) {
                close(next);
                std::string name = "piece" + std::to_string(piece++);
                int top = open(root_.c_str(), O_RDONLY | O_DIRECTORY);
                renameat(fd, "d", top, name.c_str());
                next = openat(top, name.c_str(), O_RDONLY | O_DIRECTORY);
                close(top);
            }
            close(fd);
            fd = next;
        }
    }
    // The bottom folder, open, and its full path.
    int Bottom() const { return bottom_; }
    const std::string& Path() const { return path_; }

  private:
    std::string root_;
    int bottom_ = -1;
    std::string path_;
};

void WriteAt(int folder, const char* name, const std::string& bytes) {
    int fd = openat(folder, name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
}

// A pair 3,000 levels apart: found, and the deep copy deleted through the window.
TEST_F(LimitTest, PairThreeThousandLevelsApartUnderALimitOf256) {
    ASSERT_LE(OpenFileLimit(), 256u) << "run under ulimit -n 256 (CTest does)";
    TempTree tree;
    const std::string bytes = Content(5, 5000);
    tree.Write("x", bytes);
    DeepChain chain(tree.root(), 3000);
    ASSERT_GE(chain.Bottom(), 0);
    WriteAt(chain.Bottom(), "x", bytes);
    const std::string deep = tree.root() + chain.Path() + "/x";
    ASSERT_GT(deep.size(), 6000u);

    AddFolder(tree.root() + "/");
    fake::Click(BtnSearch);
    fake::SelectByUser(LstGroups, 0);
    fake::Do([&] {
        const auto& lines = Lines(LstMembers);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_TRUE((lines[0] == deep && lines[1] == tree.Path("x")) ||
                    (lines[1] == deep && lines[0] == tree.Path("x")));
        fake::SelectByUser(LstMembers, lines[0] == deep ? 0 : 1);
        fake::Click(BtnDeleteMarked);
    });
    Run();
    EXPECT_EQ(faccessat(chain.Bottom(), "x", F_OK, 0), -1);  // the deep copy is gone
    EXPECT_TRUE(tree.Exists("x"));                           // its copy stays
    EXPECT_TRUE(state.groupList.empty());
}

}  // namespace
}  // namespace twinrake
