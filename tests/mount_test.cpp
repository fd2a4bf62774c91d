// One file under two names on two mounts: an overlay's view of its lower folder (another
// device, the same inode number, or with xino that number with high bits set) and a bind
// mount (the same device and inode). Neither is a second copy: it joins no group with the
// file, and it never counts as the copy that lets the file be deleted. Needs the right to
// mount (CI runs as root); says so and skips without it.
#include <sys/mount.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "detect/compare.h"
#include "mounts.h"
#include "oracle.h"
#include "session.h"
#include "temp_tree.h"

namespace twinrake {
namespace {

using testing_support::Content;
using testing_support::Groups;
using testing_support::GroupsOf;
using testing_support::TempTree;

class MountTest : public SessionTest {
  protected:
    void TearDown() override {
        for (auto at = mounts.rbegin(); at != mounts.rend(); ++at) {
            umount2(at->c_str(), MNT_DETACH);
        }
    }
    // False, with the reason in `refused`, where mounting is not permitted.
    bool Mount(const std::string& source, const std::string& target, const char* type,
               unsigned long flags, const std::string& options = "") {
        tree.MakeFolder(target);
        if (mount(source.c_str(), tree.Path(target).c_str(), type, flags,
                  options.empty() ? nullptr : options.c_str()) != 0) {
            refused = std::strerror(errno);
            return false;
        }
        mounts.push_back(tree.Path(target));
        return true;
    }
    bool Copies(const std::string& a, const std::string& b) {
        return CompareFiles(state.programDirectory, tree.Path(a), tree.Path(b));
    }
    TempTree tree;
    std::vector<std::string> mounts;
    std::string refused;
};

TEST_F(MountTest, OverlayAndBindMountViewsAreNotSecondCopies) {
    const std::string bytes = Content(41, 6000);
    tree.Write("lower/x", bytes);
    tree.Write("plain/y", bytes);
    tree.Write("copy/z", bytes);
    for (const char* folder : {"upper", "work"}) {
        tree.MakeFolder(folder);
    }
    if (!Mount("overlay", "merged", "overlay", 0,
               "lowerdir=" + tree.Path("lower") + ",upperdir=" + tree.Path("upper") +
                   ",workdir=" + tree.Path("work")) ||
        !Mount(tree.Path("plain"), "bound", nullptr, MS_BIND)) {
        GTEST_SKIP() << "mounting is not permitted here: " << refused;
    }
    EXPECT_FALSE(Copies("lower/x", "merged/x"));
    EXPECT_FALSE(Copies("plain/y", "bound/y"));
    EXPECT_TRUE(Copies("lower/x", "copy/z"));

    for (const char* folder : {"lower", "merged", "plain", "bound"}) {
        AddFolder(tree.Path(folder) + "/");
    }
    fake::Click(BtnSearch);
    fake::Do([&] {
        // lower/x and plain/y are two files: one group, each file named once.
        EXPECT_EQ(GroupsOf(state), (Groups{{tree.Path("lower/x"), tree.Path("plain/y")}}));
    });
    AddFolder(tree.Path("copy") + "/");
    fake::Click(BtnSearch);
    fake::SelectByUser(LstGroups, 0);
    fake::SelectByUser(LstMembers, 1);  // plain/y
    fake::Click(BtnDeleteMarked);       // lower/x still holds its bytes
    fake::SelectByUser(LstMembers, 0);
    fake::Do([&] { tree.Write("copy/z", Content(42, 6000)); });
    fake::Click(BtnDeleteMarked);  // copy/z has changed: lower/x is the last copy
    Run();
    EXPECT_FALSE(tree.Exists("plain/y"));
    EXPECT_TRUE(tree.Exists("lower/x"));
    EXPECT_TRUE(tree.Exists("merged/x"));
}

// The lower folder on a file system of its own, the upper on a tmpfs: overlayfs then shows the
// lower file with the lower inode number (xino=off) or that number with high bits set (xino=on,
// and xino=auto, since ext4's inode numbers leave the high bits free). In every mode the view
// joins no group, and deleting the lower file through the window needs a real copy.
class OverlayModeTest : public SessionTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(OverlayModeTest, ViewsAreNoCopies) {
    TempTree own;
    TempTree scratch;
    testing_support::Mounts layers;
    if (!layers.MountImage(scratch, "ext4", own.Path("lower")) ||
        !layers.Overlay(own.Path("lower"), own.Path("merged"), own.Path("layers"), GetParam())) {
        GTEST_SKIP() << layers.refused;
    }
    const std::string bytes = Content(43, 7000);
    own.Write("lower/x", bytes);
    own.Write("copy/z", bytes);
    // The view is found under another identity, yet as one file with the lower one.
    platform::FileStamp lower, view;
    ASSERT_FALSE(platform::StampOfPath(own.Path("lower/x"), lower));
    ASSERT_FALSE(platform::StampOfPath(own.Path("merged/x"), view));
    EXPECT_FALSE(lower.identity == view.identity);
    EXPECT_TRUE(PossiblySameFile(lower, view));
    EXPECT_FALSE(CompareFiles(state.programDirectory, own.Path("lower/x"), own.Path("merged/x")));

    for (const char* folder : {"lower", "merged", "copy"}) {
        AddFolder(own.Path(folder));
    }
    fake::Click(BtnSearch);
    fake::Do([&] {
        EXPECT_EQ(GroupsOf(state), (Groups{{own.Path("lower/x"), own.Path("copy/z")}}));
    });
    fake::SelectByUser(LstGroups, 0);
    fake::SelectByUser(LstMembers, 0);  // lower/x, while copy/z holds its bytes no more
    fake::Do([&] { own.Write("copy/z", Content(44, 7000)); });
    fake::Click(BtnDeleteMarked);
    Run();
    EXPECT_EQ(own.Read("lower/x"), bytes);
    EXPECT_EQ(own.Read("merged/x"), bytes);
}

INSTANTIATE_TEST_SUITE_P(EveryInodeMode, OverlayModeTest,
                         ::testing::Values("xino=off", "xino=on", "xino=auto"),
                         [](const ::testing::TestParamInfo<const char*>& mode) {
                             return std::string(mode.param).substr(5);
                         });

}  // namespace
}  // namespace twinrake
