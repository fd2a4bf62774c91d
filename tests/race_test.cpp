// Another program at work in the very microseconds between a cleanup's last check and the call
// that commits: a hook at each such call (test_hooks.h) renames a unique file onto the
// member's name, makes a new file at its free name, or starts writing to the member or the
// kept file and sets the times back. Whatever it does, no content that was on disk before is
// lost, and what could not be done is named.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "actions.h"
#include "catalogue/scan.h"
#include "detect/search.h"
#include "platform/posix/test_hooks.h"
#include "temp_tree.h"

namespace {

using platform::test::Step;
using testing_support::Content;
using testing_support::TempTree;

// Every file's content below `root`, temporary names included.
std::multiset<std::string> Contents(const std::string& root) {
    std::multiset<std::string> contents;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            std::ifstream in(entry.path(), std::ios::binary);
            contents.emplace(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    return contents;
}

size_t TemporaryNames(const std::string& root) {
    size_t count = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        count += platform::IsTemporaryName(entry.path().filename().string()) ? 1 : 0;
    }
    return count;
}

// A writer in a process of its own: opens `path` for writing (and waits there while a lease
// holds it off), writes `bytes` over its start and sets its times back to what they were.
// Returns once the writer has written, or once it waits for a lease (its attempt then shows).
pid_t StartWriter(const std::string& path, const std::string& bytes) {
    struct stat before;
    if (stat(path.c_str(), &before) != 0) {
        return -1;
    }
    pid_t child = fork();
    if (child == 0) {
        int fd = open(path.c_str(), O_WRONLY);
        struct timespec times[2] = {before.st_atim, before.st_mtim};
        bool done =
            fd >= 0 &&
            pwrite(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()) &&
            futimens(fd, times) == 0;
        _exit(done ? 0 : 1);
    }
    for (int tries = 0; tries < 400; ++tries) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) {
            return 0;  // written: nothing held it off
        }
        int probe = open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (probe < 0 && errno == EWOULDBLOCK) {
            return child;  // held off by a lease
        }
        if (probe >= 0) {
            close(probe);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return child;
}

enum class Meddle {
    kRenameUniqueOnto,  // a unique file renamed onto the member's name
    kNewFileAtName,     // a new file made at the member's name, where it is free
    kWriteKept,         // the kept file rewritten in place, its times set back
    kWriteMember,       // the member rewritten in place, its times set back
};

struct Race {
    const char* what;
    cli::Action action;
    bool noExchange;  // a file system that swaps no names and refuses nothing on a rename
    Step step;
    Meddle meddle;
    cli::Done done;
    bool stranded;  // the file that was at the member's name is left under a temporary name
};

const Race kRaces[] = {
    // After the byte comparison and before the change's own checks: the change time tells.
    {"delete: member rewritten after the comparison", cli::Action::kDelete, false, Step::kCheck,
     Meddle::kWriteMember, cli::Done::kLeft, false},
    {"delete: kept file rewritten after the comparison", cli::Action::kDelete, false, Step::kCheck,
     Meddle::kWriteKept, cli::Done::kLeft, false},
    {"link: member rewritten after the comparison", cli::Action::kLink, false, Step::kCheck,
     Meddle::kWriteMember, cli::Done::kLeft, false},
    {"link: kept file rewritten after the comparison", cli::Action::kLink, false, Step::kCheck,
     Meddle::kWriteKept, cli::Done::kLeft, false},
    // Between the change's checks and the calls that commit: the lease and the renames tell.
    {"delete: unique file renamed onto the name before it steps aside", cli::Action::kDelete, false,
     Step::kAside, Meddle::kRenameUniqueOnto, cli::Done::kLeft, false},
    {"delete: member written to before it steps aside", cli::Action::kDelete, false, Step::kAside,
     Meddle::kWriteMember, cli::Done::kLeft, false},
    {"delete: kept file written to before the member goes", cli::Action::kDelete, false,
     Step::kUnlink, Meddle::kWriteKept, cli::Done::kLeft, false},
    {"delete: unique file renamed onto the free name", cli::Action::kDelete, false, Step::kUnlink,
     Meddle::kRenameUniqueOnto, cli::Done::kActed, false},
    {"link: unique file renamed onto the name before the swap", cli::Action::kLink, false,
     Step::kExchange, Meddle::kRenameUniqueOnto, cli::Done::kLeft, false},
    {"link: kept file written to before the link", cli::Action::kLink, false, Step::kLink,
     Meddle::kWriteKept, cli::Done::kLeft, false},
    {"link: kept file written to before the member goes", cli::Action::kLink, false, Step::kUnlink,
     Meddle::kWriteKept, cli::Done::kLeft, false},
    {"link without a swap: unique file renamed onto the name before it steps aside",
     cli::Action::kLink, true, Step::kAside, Meddle::kRenameUniqueOnto, cli::Done::kLeft, false},
    {"link without a swap: a new file at the free name", cli::Action::kLink, true, Step::kLink,
     Meddle::kNewFileAtName, cli::Done::kLeft, true},
    {"link without a swap: unique file renamed onto the free name", cli::Action::kLink, true,
     Step::kLink, Meddle::kRenameUniqueOnto, cli::Done::kLeft, true},
    {"link without a swap: kept file written to before the link", cli::Action::kLink, true,
     Step::kLink, Meddle::kWriteKept, cli::Done::kLeft, false},
    {"link without a swap: kept file written to before the member goes", cli::Action::kLink, true,
     Step::kUnlink, Meddle::kWriteKept, cli::Done::kLeft, false},
    {"link without a swap: member written to before it steps aside", cli::Action::kLink, true,
     Step::kAside, Meddle::kWriteMember, cli::Done::kLeft, false},
    {"trash: unique file renamed onto the name before it steps aside", cli::Action::kTrash, false,
     Step::kAside, Meddle::kRenameUniqueOnto, cli::Done::kLeft, false},
    {"trash: kept file written to before the member goes", cli::Action::kTrash, false,
     Step::kUnlink, Meddle::kWriteKept, cli::Done::kLeft, false},
    {"trash: member rewritten after the comparison", cli::Action::kTrash, false, Step::kCheck,
     Meddle::kWriteMember, cli::Done::kLeft, false},
};

void PrintTo(const Race& race, std::ostream* out) {
    *out << race.what;
}

class RaceTest : public ::testing::TestWithParam<Race> {
  protected:
    void TearDown() override {
        platform::test::SetBeforeStep(nullptr);
        platform::test::SetRenameFlagsRefused(false);
        unsetenv("XDG_DATA_HOME");
    }
};

TEST_P(RaceTest, NoContentIsLostAndWhatWasNotDoneIsNamed) {
    const Race& race = GetParam();
    TempTree tree;
    // The trash of the tree's own file system, inside the tree.
    setenv("XDG_DATA_HOME", tree.Path("data").c_str(), 1);
    const std::string bytes = Content(21, 9000), unique = Content(22, 9000);
    const std::string other = Content(23, 9000);
    tree.Write("keep/f", bytes);
    tree.Write("m/f", bytes);
    tree.Write("u/x", unique);
    twinrake::EngineState state;
    for (const char* folder : {"keep", "m"}) {
        twinrake::ScanFolder(state.fileCatalogue, state.programDirectory, tree.Path(folder));
    }
    twinrake::FindDuplicates(state);
    ASSERT_EQ(state.groupList.size(), 1u);
    const std::multiset<std::string> before = Contents(tree.root());

    pid_t writer = 0;
    bool meddled = false;
    platform::test::SetRenameFlagsRefused(race.noExchange);
    platform::test::SetBeforeStep([&](Step step) {
        if (step != race.step || meddled) {
            return;
        }
        meddled = true;
        const std::string name = tree.Path("m/f");
        switch (race.meddle) {
            case Meddle::kRenameUniqueOnto:
                ASSERT_EQ(rename(tree.Path("u/x").c_str(), name.c_str()), 0);
                break;
            case Meddle::kNewFileAtName: {
                int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
                ASSERT_GE(fd, 0) << "the name is not free at this step";
                ASSERT_EQ(write(fd, other.data(), other.size()),
                          static_cast<ssize_t>(other.size()));
                close(fd);
                break;
            }
            case Meddle::kWriteKept:
                writer = StartWriter(tree.Path("keep/f"), other);
                break;
            case Meddle::kWriteMember:
                writer = StartWriter(name, other);
                break;
        }
    });
    cli::Options options;
    options.action = race.action;
    std::vector<cli::MemberOutcome> outcomes;
    cli::ActOnGroup(state, state.groupList[0], options, outcomes);
    platform::test::SetBeforeStep(nullptr);
    if (writer > 0) {
        int status = 0;
        ASSERT_EQ(waitpid(writer, &status, 0), writer);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    ASSERT_TRUE(meddled) << "the step was never reached";
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[1].done, race.done) << cli::ReasonText(outcomes[1], false);

    // Every content that was on disk is on disk still, and so is what the other program wrote.
    std::multiset<std::string> after = Contents(tree.root());
    std::set<std::string> wanted(before.begin(), before.end());
    if (race.meddle == Meddle::kNewFileAtName || race.meddle == Meddle::kWriteKept ||
        race.meddle == Meddle::kWriteMember) {
        wanted.insert(other);
    }
    for (const std::string& content : wanted) {
        EXPECT_EQ(after.count(content) > 0, true)
            << "a content of " << content.size() << " bytes was lost";
    }
    EXPECT_EQ(TemporaryNames(tree.root()), race.stranded ? 1u : 0u);
    EXPECT_EQ(outcomes[1].strandedAt.empty(), !race.stranded);
    if (race.stranded) {
        EXPECT_NE(cli::ReasonText(outcomes[1], false).find("is now " + outcomes[1].strandedAt),
                  std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryStep, RaceTest, ::testing::ValuesIn(kRaces),
                         [](const ::testing::TestParamInfo<Race>& race) {
                             return "Race" + std::to_string(race.index);
                         });

}  // namespace
