// A cleanup stopped by Ctrl-C, kill or a closed terminal ends after the member in hand: no
// temporary name is left, what was done is printed and summed up, and the program ends by the
// signal. A later run never keeps a temporary name that a killed run left. Names that would
// break a message apart are quoted, or come in the output's own form.
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli_run.h"
#include "temp_tree.h"

namespace {

using testing_support::Content;
using testing_support::Numbered;
using testing_support::Outcome;
using testing_support::Quote;
using testing_support::TempTree;

// twinrake-find started with `arguments`, its output and errors in files of `scratch`.
pid_t Start(const std::vector<std::string>& arguments, const TempTree& scratch) {
    pid_t child = fork();
    if (child == 0) {
        int out = open(scratch.Path("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(scratch.Path("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv{const_cast<char*>(TWINRAKE_FIND)};
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execv(TWINRAKE_FIND, argv.data());
        _exit(127);
    }
    return child;
}

// Waits until something in `folder` is renamed, made or removed; false after 30 s.
bool WaitForAChange(int watch) {
    struct pollfd ready {
        watch, POLLIN, 0
    };
    return poll(&ready, 1, 30000) == 1;
}

size_t TemporaryNames(const std::string& root) {
    size_t count = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        count += entry.path().filename().string().rfind(".twinrake-", 0) == 0 ? 1 : 0;
    }
    return count;
}

ino_t InodeOf(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

struct Stop {
    int signal;
    const char* action;
};

class StopTest : public ::testing::TestWithParam<Stop> {};

TEST_P(StopTest, EndsAfterTheMemberInHandAndSaysWhatWasDone) {
    const Stop stop = GetParam();
    const bool link = std::string(stop.action) == "--link";
    TempTree tree;
    TempTree scratch;
    constexpr int kPairs = 1000;
    for (int n = 0; n < kPairs; ++n) {
        const std::string bytes = Content(static_cast<uint32_t>(n), 1500);
        tree.Write(Numbered("keep/", n), bytes);
        tree.Write(Numbered("m/", n), bytes);
    }
    int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(
        inotify_add_watch(watch, tree.Path("m").c_str(), IN_MOVED_FROM | IN_CREATE | IN_DELETE), 0);
    pid_t run =
        Start({stop.action, "--summary", "--quiet", tree.Path("keep"), tree.Path("m")}, scratch);
    ASSERT_TRUE(WaitForAChange(watch)) << "the cleanup never began";
    kill(run, stop.signal);
    int status = 0;
    ASSERT_EQ(waitpid(run, &status, 0), run);
    close(watch);
    ASSERT_TRUE(WIFSIGNALED(status)) << "ended on its own, status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), stop.signal);

    // Exactly the members printed were acted on; every other one is as it was.
    std::set<std::string> printed;
    std::istringstream lines(scratch.Read("out"));
    const std::string word = link ? "linked " : "deleted ";
    for (std::string line; std::getline(lines, line);) {
        ASSERT_EQ(line.rfind(word, 0), 0u) << line;
        printed.insert(line.substr(word.size(), line.find(" => ") - word.size()));
    }
    EXPECT_GT(printed.size(), 0u);
    EXPECT_LT(printed.size(), static_cast<size_t>(kPairs));
    size_t acted = 0;
    for (int n = 0; n < kPairs; ++n) {
        const std::string member = tree.Path(Numbered("m/", n));
        const bool done = link ? InodeOf(member) == InodeOf(tree.Path(Numbered("keep/", n)))
                               : !tree.Exists(Numbered("m/", n));
        EXPECT_EQ(done, printed.count(member) == 1) << member;
        acted += done ? 1 : 0;
    }
    EXPECT_EQ(TemporaryNames(tree.root()), 0u);
    const std::string err = scratch.Read("err");
    EXPECT_NE(err.find("twinrake-find: stopped: "), std::string::npos) << err;
    EXPECT_NE(err.find((link ? "; linked " : "; deleted ") + std::to_string(acted) +
                       (acted == 1 ? " file," : " files,")),
              std::string::npos)
        << err;
}

INSTANTIATE_TEST_SUITE_P(EverySignal, StopTest,
                         ::testing::Values(Stop{SIGINT, "--delete"}, Stop{SIGTERM, "--link"},
                                           Stop{SIGHUP, "--delete"}),
                         [](const ::testing::TestParamInfo<Stop>& stop) {
                             return std::string(strsignal(stop.param.signal)).substr(0, 4) +
                                    std::to_string(stop.index);
                         });

// What a killed run leaves (a member or a link under a temporary name) may stand first in its
// group; the copy kept is then the first member with a name of its own, and the temporary name
// is what goes. Where every member has a temporary name, the first is kept.
TEST(TemporaryNameTest, IsNeverTheCopyKept) {
    TempTree tree;
    TempTree scratch;
    const std::string a = Content(51, 4000), b = Content(52, 4000);
    tree.Write("1/.twinrake-4242-7-f", a);
    tree.Write("2/f", a);
    tree.Write("3/.twinrake-4242-8-g", b);
    tree.Write("4/.twinrake-17-0-g", b);
    tree.Write("5/.twinrake-x", a);  // not the pattern: a name of its own
    const std::string folders = Quote(tree.Path("1")) + " " + Quote(tree.Path("2")) + " " +
                                Quote(tree.Path("3")) + " " + Quote(tree.Path("4")) + " " +
                                Quote(tree.Path("5"));
    Outcome run = testing_support::RunProgram(TWINRAKE_FIND, "--link " + folders, scratch);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "linked " + tree.Path("1/.twinrake-4242-7-f") + " => " + tree.Path("2/f") +
                           "\nlinked " + tree.Path("5/.twinrake-x") + " => " + tree.Path("2/f") +
                           "\nlinked " + tree.Path("4/.twinrake-17-0-g") + " => " +
                           tree.Path("3/.twinrake-4242-8-g") + "\n");
}

// A name with a newline, left alone: on a terminal's lines it is quoted as ls and rm quote it;
// with --null the message ends with a NUL byte and holds the name as it is; with --json the
// failure is also in the document.
TEST(MessageTest, NamesThatWouldBreakAMessageApart) {
    TempTree tree;
    TempTree scratch;
    const std::string bytes = Content(53, 5000);
    tree.Write("keep/x", bytes);
    tree.Write("other/x\ny", bytes);
    chmod(tree.Path("other/x\ny").c_str(), 0444);
    const std::string folders = Quote(tree.Path("keep")) + " " + Quote(tree.Path("other"));
    const std::string left = tree.Path("other/x\ny");
    const struct {
        const char* options;
        std::string err;
    } kForms[] = {
        {"",
         "twinrake-find: '" + tree.Path("other/x") + "'$'\\n''y': not deleted: write-protected\n"},
        {"-0 ", "twinrake-find: " + left + ": not deleted: write-protected" + std::string(1, '\0')},
        {"--json ",
         "twinrake-find: '" + tree.Path("other/x") + "'$'\\n''y': not deleted: write-protected\n"},
    };
    for (const auto& form : kForms) {
        SCOPED_TRACE(form.options);
        Outcome run = testing_support::RunProgram(
            TWINRAKE_FIND, std::string(form.options) + "--delete " + folders, scratch);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, form.err);
    }
    Outcome json =
        testing_support::RunProgram(TWINRAKE_FIND, "--json --delete " + folders, scratch);
    EXPECT_NE(json.out.find("{\"path\":\"" + tree.Path("other/x") +
                            "\\ny\",\"action\":\"left\",\"reason\":\"write-protected\"}"),
              std::string::npos)
        << json.out;
    EXPECT_TRUE(tree.Exists("other/x\ny"));
}

}  // namespace
