// twinrake-find as a user runs it: output format, exit status, and that it changes nothing.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli_run.h"
#include "temp_tree.h"

namespace {

using testing_support::Content;
using testing_support::Outcome;
using testing_support::Quote;
using testing_support::RunProgram;
using testing_support::TempTree;

Outcome Find(const std::string& arguments, const TempTree& scratch,
             const std::string& before = "") {
    return RunProgram(TWINRAKE_FIND, arguments, scratch, before);
}

std::multiset<std::string> LineSet(const std::string& text) {
    std::multiset<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.insert(line);
    }
    return lines;
}

// As root every file is readable, so the program runs as nobody there; empty when that
// cannot be done (`skip` says why).
std::string AsAnotherUser(std::string& skip) {
    if (geteuid() != 0) {
        return "";
    }
    if (access("/usr/bin/setpriv", X_OK) != 0) {
        skip = "running as root without setpriv";
    }
    return "setpriv --reuid=65534 --regid=65534 --clear-groups ";
}

const char* const kTryHelp = "Try 'twinrake-find --help' for more information.\n";

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // One folder per file, so that the order does not depend on the listing order.
        tree.Write("one/1/x", Content(1, 6000));
        tree.Write("one/2/y", Content(1, 6000));
        tree.Write("one/3/z", Content(2, 6000));
        tree.Write("two/1/p", "pair");
        tree.Write("two/2/q", "pair");
        tree.Write("two/3/r", Content(1, 6000));
    }
    TempTree tree;
    TempTree scratch;
};

TEST_F(CliTest, PrintsGroupsSeparatedByOneEmptyLine) {
    Outcome run = Find(Quote(tree.Path("one/1")) + " " + Quote(tree.Path("one/2")) + " " +
                           Quote(tree.Path("two/1")) + " " + Quote(tree.Path("two/2")) + " " +
                           Quote(tree.Path("two/3")),
                       scratch);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, tree.Path("one/1/x") + "\n" + tree.Path("one/2/y") + "\n" +
                           tree.Path("two/3/r") + "\n\n" + tree.Path("two/1/p") + "\n" +
                           tree.Path("two/2/q") + "\n");
    EXPECT_EQ(run.err, "");
    // Nothing was deleted.
    for (const char* file : {"one/1/x", "one/2/y", "two/1/p", "two/2/q", "two/3/r"}) {
        EXPECT_TRUE(tree.Exists(file)) << file;
    }
}

TEST_F(CliTest, NoDuplicatesPrintsNothing) {
    Outcome run = Find(Quote(tree.Path("one/3")), scratch);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
}

TEST_F(CliTest, FolderGivenTwiceIsNotItsOwnDuplicate) {
    Outcome run = Find(Quote(tree.Path("one/1")) + " " + Quote(tree.Path("one/1")), scratch);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
}

TEST_F(CliTest, UnlistableFoldersAreReportedAndFailOnlyWhenAllFail) {
    Outcome some = Find(Quote(tree.Path("missing")) + " " + Quote(tree.Path("two")), scratch);
    EXPECT_EQ(some.status, 1);  // the result may lack what the missing folder held
    EXPECT_EQ(some.err, "twinrake-find: " + tree.Path("missing") + ": No such file or directory\n");
    EXPECT_NE(some.out.find(tree.Path("two/1/p")), std::string::npos);

    Outcome none = Find(Quote(tree.Path("missing")) + " " + Quote(tree.Path("two/1/p")), scratch);
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err, "twinrake-find: " + tree.Path("missing") +
                            ": No such file or directory\ntwinrake-find: " + tree.Path("two/1/p") +
                            ": Not a directory\n");
    EXPECT_EQ(none.out, "");
}

TEST_F(CliTest, RelativeFoldersAreTakenFromTheCurrentFolder) {
    Outcome run = Find("-- --", scratch);  // the second "--" is a folder name, not an option
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("/--: "), std::string::npos) << run.err;
    run = Find("two", scratch, "cd " + Quote(tree.root()) + " && ");
    EXPECT_EQ(run.status, 0);
    // Either order: both files lie in one folder, listed in the file system's order.
    EXPECT_TRUE(run.out == tree.Path("two/1/p") + "\n" + tree.Path("two/2/q") + "\n" ||
                run.out == tree.Path("two/2/q") + "\n" + tree.Path("two/1/p") + "\n")
        << run.out;
}

TEST_F(CliTest, HelpVersionAndUsageErrors) {
    const std::string folder = Quote(tree.Path("two"));
    // Options may follow the folders, as with GNU tools.
    for (const std::string& arguments : {std::string("--help"), folder + " -h"}) {
        Outcome help = Find(arguments, scratch);
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.rfind("Usage: twinrake-find [OPTION]... FOLDER...\n", 0), 0u);
        EXPECT_NE(help.out.find("Without an action, nothing is"), std::string::npos);
    }
    Outcome version = Find("--version", scratch);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "twinrake-find " TWINRAKE_VERSION "\n");

    const struct {
        std::string arguments;
        std::string message;
    } kUsageErrors[] = {
        {"", "no folder given"},
        {"-s --", "no folder given"},
        {"--bogus " + folder, "unrecognized option '--bogus'"},
        {folder + " -x", "invalid option -- 'x'"},
        {"--json=yes " + folder, "option '--json' doesn't allow an argument"},
        {"-0 --json " + folder, "--null and --json cannot be combined"},
        // An unset "$DIR" in a script: never the whole file system.
        {"''", "an empty folder name names no folder"},
        {folder + " '' " + folder, "an empty folder name names no folder"},
    };
    for (const auto& error : kUsageErrors) {
        Outcome run = Find(error.arguments, scratch);
        EXPECT_EQ(run.status, 64) << error.arguments;
        EXPECT_EQ(run.out, "") << error.arguments;
        EXPECT_EQ(run.err, "twinrake-find: " + error.message +
                               "\nUsage: twinrake-find [OPTION]... FOLDER...\n" + kTryHelp)
            << error.arguments;
    }
}

// Names that break line-based output: a newline (a folder "zz" + newline next to a folder
// "zz"), bytes that are not UTF-8, leading dashes, quotes, backslashes and control bytes.
TEST_F(CliTest, NullAndJsonOutputKeepEveryPathExact) {
    struct Odd {
        std::string folder;
        bool utf8;
    };
    const std::vector<std::vector<Odd>> groups = {
        {{"zz\n", true}, {"-h", true}, {"bad\xff\xfe", false}},
        {{"--json", true}, {"\xc3\xbc \"q\" \\ \t'\x01", true}, {"\xed\xa0\x80", false}},
    };
    std::string arguments = "--";
    std::string expectedNull;
    std::string expectedDecoded;  // what the decoder below prints for the JSON
    for (size_t g = 0; g < groups.size(); ++g) {
        std::string content = g == 0 ? Content(7, 3000) : "two\n";
        expectedDecoded += std::to_string(content.size()) + '\0';
        for (const Odd& odd : groups[g]) {
            std::string file = "odd/";
            file.append(odd.folder).append("/f");
            tree.Write(file, content);
            arguments.append(" ").append(Quote(odd.folder));
            expectedNull += tree.Path(file) + '\0';
            expectedDecoded.append(odd.utf8 ? "P" : "B").append(tree.Path(file)).push_back('\0');
        }
        expectedNull += '\0';
        expectedDecoded += '\0';
    }
    tree.Write("odd/zz/unique", Content(7, 2999) + "!");  // never a member
    arguments += " zz";
    const std::string inOdd = "cd " + Quote(tree.Path("odd")) + " && ";

    Outcome null = Find("-0 " + arguments, scratch, inOdd);
    EXPECT_EQ(null.status, 0);
    EXPECT_EQ(null.out, expectedNull);
    // The lines show the same paths in the same order.
    Outcome lines = Find(arguments, scratch, inOdd);
    std::string expectedLines = expectedNull.substr(0, expectedNull.size() - 1);
    std::replace(expectedLines.begin(), expectedLines.end(), '\0', '\n');
    EXPECT_EQ(lines.out, expectedLines);

    Outcome json = Find("--json " + arguments, scratch, inOdd);
    EXPECT_EQ(json.status, 0);
    // A strict reading: UTF-8 text, one JSON value, each member exactly one of two keys.
    scratch.Write("out.json", json.out);
    scratch.Write("decode.py", R"(import base64, json, sys
document = json.loads(sys.stdin.buffer.read().decode("utf-8"))
assert list(document) == ["groups"], document
out = sys.stdout.buffer
for group in document["groups"]:
    assert sorted(group) == ["members", "size"], group
    out.write(b"%d\0" % group["size"])
    for member in group["members"]:
        (key, value), = member.items()
        if key == "path":
            out.write(b"P" + value.encode("utf-8") + b"\0")
        else:
            assert key == "path_base64", key
            out.write(b"B" + base64.b64decode(value, validate=True) + b"\0")
    out.write(b"\0")
)");
    FILE* pipe = popen(
        ("python3 " + Quote(scratch.Path("decode.py")) + " < " + Quote(scratch.Path("out.json")))
            .c_str(),
        "r");
    ASSERT_NE(pipe, nullptr);
    std::string decoded;
    std::array<char, 4096> buffer;
    for (size_t got = 0; (got = fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) {
        decoded.append(buffer.data(), got);
    }
    EXPECT_EQ(pclose(pipe), 0) << json.out;
    EXPECT_EQ(decoded, expectedDecoded) << json.out;

    Outcome empty = Find("--json zz", scratch, inOdd);
    EXPECT_EQ(empty.out, "{\"groups\":[]}\n");
}

TEST_F(CliTest, SummaryCountsWhatDeletingAllButTheFirstCopyWouldFree) {
    // Together 1023.96 KiB: shown as 1.0 MiB, never as 1024.0 KiB.
    tree.Write("big/1/a", Content(3, 524270));
    tree.Write("big/2/b", Content(3, 524270));
    const struct {
        std::vector<std::string> folders;
        std::string summary;
    } kCases[] = {
        {{"one/1", "one/2", "two/1", "two/2", "two/3"},
         "2 groups, 5 files, 18008 bytes (17.6 KiB); deleting all but the first file of each "
         "group would free 12004 bytes (11.7 KiB)\n"},
        {{"big"},
         "1 group, 2 files, 1048540 bytes (1.0 MiB); deleting all but the first file of each "
         "group would free 524270 bytes (512.0 KiB)\n"},
        {{"one/3"},
         "0 groups, 0 files, 0 bytes (0 B); deleting all but the first file of each group "
         "would free 0 bytes (0 B)\n"},
    };
    for (const auto& c : kCases) {
        std::string folders;
        for (const std::string& folder : c.folders) {
            folders.append(" ").append(Quote(tree.Path(folder)));
        }
        Outcome plain = Find(folders, scratch);
        Outcome summed = Find("--summary" + folders, scratch);
        EXPECT_EQ(summed.status, 0);
        EXPECT_EQ(summed.out, plain.out);  // the summary goes to standard error only
        EXPECT_EQ(summed.err, c.summary);
    }
}

TEST_F(CliTest, WriteErrorsAreReported) {
    if (access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "no /dev/full";
    }
    const std::string folders = Quote(tree.Path("one")) + " " + Quote(tree.Path("two"));
    // The last ones write so little that only the final flush can fail.
    const std::vector<std::string> kRuns = {
        folders,  "-0 " + folders, "--json " + folders, "--json " + Quote(tree.Path("one/3")),
        "--help", "--version"};
    for (const std::string& arguments : kRuns) {
        Outcome run = Find(arguments + " >/dev/full", scratch);
        EXPECT_EQ(run.status, 74) << arguments;
        EXPECT_EQ(run.err, "twinrake-find: write error: No space left on device\n") << arguments;
    }
}

TEST_F(CliTest, UnreadableFileAndUnlistableSubfolderAreNamed) {
    std::string skip;
    const std::string before = AsAnotherUser(skip);
    if (!skip.empty()) {
        GTEST_SKIP() << skip;
    }
    tree.Write("locked/1/a", "same");
    tree.Write("locked/2/b", "same");
    tree.Write("locked/3/c", "same");
    tree.Write("locked/4/closed/d", "same");
    ASSERT_EQ(chmod(tree.root().c_str(), 0755), 0);
    ASSERT_EQ(chmod(tree.Path("locked/3/c").c_str(), 0), 0);
    ASSERT_EQ(chmod(tree.Path("locked/4/closed").c_str(), 0), 0);
    Outcome run = Find(Quote(tree.Path("locked")), scratch, before);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "twinrake-find: " + tree.Path("locked/4/closed") +
                           ": Permission denied\ntwinrake-find: " + tree.Path("locked/3/c") +
                           ": Permission denied\n");
    // What could be read is still found.
    EXPECT_TRUE(run.out == tree.Path("locked/1/a") + "\n" + tree.Path("locked/2/b") + "\n" ||
                run.out == tree.Path("locked/2/b") + "\n" + tree.Path("locked/1/a") + "\n")
        << run.out;
    chmod(tree.Path("locked/4/closed").c_str(), 0755);  // so that the tree can be removed
}

// A folder of each mode, as a user who does not own it: listed and entered (r-x), only listed
// (r--: the names are known, not what they are), or neither. Every file that could not be looked
// at is named; none is dropped in silence.
TEST_F(CliTest, FoldersThatCannotBeListedOrEnteredAreNamed) {
    std::string skip;
    const std::string before = AsAnotherUser(skip);
    if (!skip.empty()) {
        GTEST_SKIP() << skip;
    }
    const std::string same = "yyy\n";
    tree.Write("ev/ref", same);
    const char* const kModes[] = {"000", "100", "300", "400", "500"};
    for (const char* mode : kModes) {
        tree.Write(std::string("ev/d") + mode + "/data", same);
    }
    tree.Write("ev/d400/sub/deeper", same);
    ASSERT_EQ(chmod(tree.root().c_str(), 0755), 0);
    for (const char* mode : kModes) {
        // The same rights for owner, group and others: whoever runs it has them.
        auto user = static_cast<mode_t>(std::stoi(mode, nullptr, 8));
        ASSERT_EQ(
            chmod(tree.Path(std::string("ev/d") + mode).c_str(), user | user >> 3 | user >> 6), 0);
    }
    Outcome run = Find(Quote(tree.Path("ev")), scratch, before);
    for (const char* mode : kModes) {
        chmod(tree.Path(std::string("ev/d") + mode).c_str(), 0755);  // so that it can be removed
    }
    EXPECT_EQ(run.status, 1);
    const std::string denied = ": Permission denied";
    EXPECT_EQ(LineSet(run.err), (std::multiset<std::string>{
                                    "twinrake-find: " + tree.Path("ev/d000") + denied,
                                    "twinrake-find: " + tree.Path("ev/d100") + denied,
                                    "twinrake-find: " + tree.Path("ev/d300") + denied,
                                    "twinrake-find: " + tree.Path("ev/d400/data") + denied,
                                    "twinrake-find: " + tree.Path("ev/d400/sub") + denied,
                                }));
    EXPECT_EQ(LineSet(run.out),
              (std::multiset<std::string>{tree.Path("ev/ref"), tree.Path("ev/d500/data")}));
}

// The current folder was deleted: a relative folder names nothing, and nothing else may be
// searched in its place (the program's own folder, whose copies a script would then delete).
TEST_F(CliTest, RelativeFolderInACurrentFolderThatIsGoneNamesNothing) {
    const std::string gone = "d=$(mktemp -d) && cd \"$d\" && rmdir \"$d\" && ";
    const std::string reason = ": cannot form its absolute path: No such file or directory\n";
    Outcome alone = Find(".", scratch, gone);
    EXPECT_EQ(alone.status, 2);
    EXPECT_EQ(alone.out, "");
    EXPECT_EQ(alone.err, "twinrake-find: ." + reason);
    Outcome mixed = Find("two " + Quote(tree.Path("one")), scratch, gone);
    EXPECT_EQ(mixed.status, 1);
    EXPECT_EQ(mixed.err, "twinrake-find: two" + reason);
    EXPECT_EQ(LineSet(mixed.out),
              (std::multiset<std::string>{tree.Path("one/1/x"), tree.Path("one/2/y")}));
}

// What is no folder is named and passed over at once: a file, a device, a FIFO (which must not
// block the program), a link that leads nowhere and one that leads round in a loop.
TEST_F(CliTest, ArgumentsThatAreNoFolderAreNamed) {
    ASSERT_EQ(mkfifo(tree.Path("fifo").c_str(), 0644), 0);
    tree.Symlink(tree.Path("nowhere"), "dangling");
    tree.Symlink(tree.Path("loop"), "loop");
    const struct {
        std::string path;
        std::string reason;
    } kCases[] = {
        {tree.Path("two/1/p"), "Not a directory"},
        {"/dev/null", "Not a directory"},
        {tree.Path("fifo"), "Not a directory"},
        {tree.Path("dangling"), "No such file or directory"},
        {tree.Path("loop"), "Too many levels of symbolic links"},
    };
    for (const auto& c : kCases) {
        Outcome run = Find(Quote(c.path), scratch, "timeout 20 ");
        EXPECT_EQ(run.status, 2) << c.path;
        EXPECT_EQ(run.err, "twinrake-find: " + c.path + ": " + c.reason + "\n");
        EXPECT_EQ(run.out, "");
    }
}

// "./", "..", repeated separators and a folder given through a link: the groups are those of
// the folders named, every path absolute; a folder and a link to it name one file twice.
TEST_F(CliTest, DotsSeparatorsAndLinkedFoldersGiveAbsolutePaths) {
    tree.Symlink(tree.Path("two"), "via");
    const std::string inOne = "cd " + Quote(tree.Path("one")) + " && ";
    const struct {
        std::string arguments;
        std::string out;
    } kCases[] = {
        {"./1 .//2/", tree.Path("one/1/x") + "\n" + tree.Path("one/2/y") + "\n"},
        {"../two/1 ./../two/./2",
         tree.Path("one/../two/1/p") + "\n" + tree.Path("one/../two/2/q") + "\n"},
        {"../via/1 " + Quote(tree.Path("two/2")),
         tree.Path("one/../via/1/p") + "\n" + tree.Path("two/2/q") + "\n"},
        {"../via/1 ../two/1", ""},
    };
    for (const auto& c : kCases) {
        Outcome run = Find(c.arguments, scratch, inOne);
        EXPECT_EQ(run.status, 0) << c.arguments << run.err;
        EXPECT_EQ(run.out, c.out) << c.arguments;
    }
}

}  // namespace
