// twinrake-find's actions over files that change between the search and the action, on the
// real file system with a hook after every read: each member that is no longer what was
// compared stays as it is and is named, and the others of the group go on.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "actions.h"
#include "catalogue/scan.h"
#include "detect/search.h"
#include "messages.h"
#include "platform/posix/test_hooks.h"
#include "temp_tree.h"

namespace {

using testing_support::Content;
using testing_support::TempTree;

uint64_t InodeOf(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

void Rewrite(const std::string& path, const std::string& bytes) {
    int fd = open(path.c_str(), O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
}

struct Expected {
    cli::Done done;
    std::string reason;  // below the tree's root, which is put in front
};

// A group of five copies of f, one per folder (so that the folder order alone decides the
// catalogue order), and a pair of g.
class ActionTest : public ::testing::Test {
  protected:
    void SetUp() override { Fresh(); }
    void TearDown() override {
        platform::test::SetAfterRead(nullptr);
        platform::test::SetLeasesRefused(false);
    }

    void Fresh() {
        owned = std::make_unique<TempTree>();
        state.fileCatalogue.Clear();
        for (const char* folder : {"keep", "m1", "m2", "m3", "m4"}) {
            tree().Write(std::string(folder) + "/f", bytes);
        }
        tree().Write("keep/g", Content(12, 9000));
        tree().Write("m5/g", Content(12, 9000));
        // Every file's last write long past, so that a rewrite always shows.
        for (const auto& entry : std::filesystem::recursive_directory_iterator(tree().root())) {
            struct timespec old[2] = {{1577836800, 0}, {1577836800, 0}};
            utimensat(AT_FDCWD, entry.path().c_str(), old, 0);
        }
    }
    const TempTree& tree() const { return *owned; }

    // Searches, then `meanwhile`, then acts on both groups as `action` does; gives what became
    // of each member, group by group.
    std::vector<std::vector<cli::Done>> SearchAndAct(cli::Action action,
                                                     const std::function<void()>& meanwhile) {
        for (const char* folder : {"keep", "m1", "m2", "m3", "m4", "m5"}) {
            twinrake::ScanFolder(state.fileCatalogue, state.programDirectory, tree().Path(folder));
        }
        twinrake::FindDuplicates(state);
        meanwhile();
        cli::Options options;
        options.action = action;
        std::vector<std::vector<cli::Done>> done;
        std::vector<cli::MemberOutcome> outcomes;
        reasons.clear();
        for (const twinrake::DuplicateGroup& group : state.groupList) {
            cli::ActOnGroup(state, group, options, outcomes);
            done.emplace_back();
            for (const cli::MemberOutcome& outcome : outcomes) {
                done.back().push_back(outcome.done);
                reasons.push_back(cli::ReasonText(outcome, false));
            }
        }
        return done;
    }

    const std::string bytes = Content(11, 9000);
    std::unique_ptr<TempTree> owned;
    twinrake::EngineState state;
    std::vector<std::string> reasons;
};

// Where the system gives no lease (NFS, FUSE), the bytes are read once more before a member
// goes, and a member rewritten while they are read stays. Where it gives one, the unchanged
// stamps and the lease prove the bytes, and they are not read again.
TEST_F(ActionTest, MembersThatChangedStayAndTheRestGoOn) {
    using cli::Done;
    for (bool leases : {false, true}) {
        for (cli::Action action : {cli::Action::kDelete, cli::Action::kLink}) {
            SCOPED_TRACE(std::string(action == cli::Action::kDelete ? "delete" : "link") +
                         (leases ? ", with leases" : ", without leases"));
            platform::test::SetLeasesRefused(!leases);
            Fresh();
            const uint64_t whileRead = InodeOf(tree().Path("m2/f"));
            // Write-protected before the search: a change of rights since would show as a change.
            chmod(tree().Path("m3/f").c_str(), 0444);
            int reads = 0;
            auto done = SearchAndAct(action, [&] {
                Rewrite(tree().Path("m1/f"), Content(13, 9000));  // after the search compared it
                platform::test::SetAfterRead([&, once = true](uint64_t inode, int64_t) mutable {
                    ++reads;
                    if (inode == whileRead && once) {  // while the action reads it once more
                        once = false;
                        Rewrite(tree().Path("m2/f"), Content(14, 9000));
                    }
                });
                std::filesystem::remove(tree().Path("m4/f"));
            });
            platform::test::SetLeasesRefused(false);
            platform::test::SetAfterRead(nullptr);  // it knows this pass's tree only
            ASSERT_EQ(done.size(), 2u);
            const Done m2 = leases ? Done::kActed : Done::kLeft;
            EXPECT_EQ(done[0], (std::vector<Done>{Done::kKept, Done::kLeft, m2, Done::kLeft,
                                                  Done::kLeft}));
            EXPECT_EQ(done[1], (std::vector<Done>{Done::kKept, Done::kActed}));
            EXPECT_EQ(reasons,
                      (std::vector<std::string>{
                          "", "changed since the search compared it",
                          leases ? "" : "changed while it was compared with " + tree().Path("keep/f"),
                          "write-protected", "changed since the search compared it", "", ""}));
            EXPECT_EQ(reads == 0, leases) << reads << " reads";
            // On disk: the kept copies as they were, the members that changed as they became.
            EXPECT_EQ(tree().Read("keep/f"), bytes);
            EXPECT_EQ(tree().Read("m1/f"), Content(13, 9000));
            if (!leases) {
                EXPECT_EQ(tree().Read("m2/f"), Content(14, 9000));
            }
            EXPECT_EQ(tree().Read("m3/f"), bytes);
            EXPECT_NE(InodeOf(tree().Path("m3/f")), InodeOf(tree().Path("keep/f")));
            EXPECT_EQ(tree().Exists("m5/g"), action == cli::Action::kLink);
            if (action == cli::Action::kLink) {
                EXPECT_EQ(InodeOf(tree().Path("m5/g")), InodeOf(tree().Path("keep/g")));
            }
        }
    }
}

// The kept file itself changed since the search: it no longer stands for its group, so every
// other copy stays.
TEST_F(ActionTest, KeptFileThatChangedKeepsEveryCopy) {
    auto done = SearchAndAct(cli::Action::kDelete,
                             [&] { Rewrite(tree().Path("keep/g"), Content(15, 9000)); });
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[1], (std::vector<cli::Done>{cli::Done::kKept, cli::Done::kLeft}));
    EXPECT_EQ(reasons.back(),
              "its kept copy " + tree().Path("keep/g") + " changed since the search compared it");
    EXPECT_TRUE(tree().Exists("m5/g"));
    EXPECT_EQ(done[0].size(), 5u);  // the other group was acted on as usual
    EXPECT_FALSE(tree().Exists("m1/f"));
}

// A name that would break a message apart is quoted as GNU ls and rm quote it; any other is
// left as it is.
TEST(QuotedTest, OnlyNamesWithControlCharactersAreQuoted) {
    const struct {
        std::string name;
        std::string quoted;
    } kNames[] = {
        {"plain name", "plain name"}, {"it's", "it's"},
        {"a\nb", "'a'$'\\n''b'"},     {"it's\n", "'it'\\''s'$'\\n'"},
        {"\x01", "$'\\001'"},         {"tab\there\x7f", "'tab'$'\\t''here'$'\\177'"},
        {"\n\n", "$'\\n'$'\\n'"},
    };
    for (const auto& n : kNames) {
        EXPECT_EQ(cli::Quoted(n.name), n.quoted);
    }
}

}  // namespace
