// twinrake-find by the user's own rules, on disk: reference folders (given twice, and nested in
// a searched folder), which copy stays (--keep, with equal times), the trash (read back as a
// file manager restores from it, on a second file system, and when it cannot be written),
// filters (sizes, globs with "**", names that begin with a dot or a dash), and the one-line
// usage errors of bad rules.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli_run.h"
#include "mounts.h"
#include "temp_tree.h"

namespace {

using testing_support::Content;
using testing_support::Mounts;
using testing_support::Outcome;
using testing_support::Quote;
using testing_support::TempTree;

Outcome Find(const std::string& arguments, const TempTree& scratch,
             const std::string& before = "") {
    return testing_support::RunProgram(TWINRAKE_FIND, arguments, scratch, before);
}

std::set<std::string> Lines(const std::string& text) {
    std::set<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            lines.insert(line);
        }
    }
    return lines;
}

// Archiv holds a and its own pair t1, t2; Downloads holds two copies of a and a pair of its own.
void ArchivAndDownloads(const TempTree& tree) {
    tree.Write("Archiv/a", Content(61, 3000));
    tree.Write("Archiv/t1", Content(62, 3000));
    tree.Write("Archiv/dup/t2", Content(62, 3000));
    tree.Write("Downloads/a", Content(61, 3000));
    tree.Write("Downloads/sub/a2", Content(61, 3000));
    tree.Write("Downloads/p1", Content(63, 3000));
    tree.Write("Downloads/sub/p2", Content(63, 3000));
}

// A reference folder loses nothing, not even its own duplicates, and only what it already holds
// goes from elsewhere: however it is given, it is searched once.
TEST(ReferenceTest, OnlyWhatAReferenceFolderHoldsGoes) {
    TempTree tree;
    TempTree scratch;
    ArchivAndDownloads(tree);
    const std::string archiv = Quote(tree.Path("Archiv")),
                      downloads = Quote(tree.Path("Downloads"));
    const std::vector<std::string> kWays = {
        "-R " + archiv + " " + downloads,
        "--reference " + archiv + " -R " + archiv + " " + downloads,  // given twice
        "-R " + archiv + " " + archiv + " " + downloads,              // and as a folder
        "-R " + archiv + " " + Quote(tree.root()),                    // nested in one
    };
    for (const std::string& way : kWays) {
        SCOPED_TRACE(way);
        Outcome listing = Find(way, scratch);
        EXPECT_EQ(listing.status, 0) << listing.err;
        const std::set<std::string> lines = Lines(listing.out);
        EXPECT_EQ(lines.count("R " + tree.Path("Archiv/a")), 1u) << listing.out;
        EXPECT_EQ(lines.count(tree.Path("Downloads/a")), 1u);
        EXPECT_EQ(lines.count("R " + tree.Path("Archiv/dup/t2")), 1u);
        EXPECT_EQ(lines.count(tree.Path("Downloads/p1")), 1u);
        Outcome json = Find("--json " + way, scratch);
        EXPECT_NE(json.out.find("{\"path\":\"" + tree.Path("Archiv/t1") + "\",\"reference\":true}"),
                  std::string::npos);
        Outcome dry = Find("--delete -n " + way, scratch);
        EXPECT_EQ(Lines(dry.out),
                  (std::set<std::string>{"would delete " + tree.Path("Downloads/a"),
                                         "would delete " + tree.Path("Downloads/sub/a2")}));
        EXPECT_EQ(dry.status, 0) << dry.err;
    }
    Outcome run = Find("--delete --summary -R " + archiv + " " + downloads, scratch);
    EXPECT_EQ(run.status, 0);
    for (const char* gone : {"Downloads/a", "Downloads/sub/a2"}) {
        EXPECT_FALSE(tree.Exists(gone)) << gone;
    }
    for (const char* stays :
         {"Archiv/a", "Archiv/t1", "Archiv/dup/t2", "Downloads/p1", "Downloads/sub/p2"}) {
        EXPECT_TRUE(tree.Exists(stays)) << stays;
    }
    // A reference folder that cannot be listed is named as any folder is.
    Outcome missing = Find("-R " + Quote(tree.Path("nowhere")) + " " + downloads, scratch);
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find(tree.Path("nowhere") + ": No such file or directory"),
              std::string::npos);
    EXPECT_EQ(Find("-R " + Quote(tree.Path("nowhere")), scratch).status, 2);
}

// Which copy stays, by each rule; ties, here the same last write to the nanosecond, go to the
// copy found first.
TEST(KeepTest, EachRuleAndItsTies) {
    TempTree tree;
    TempTree scratch;
    const std::string bytes = Content(64, 5000);
    tree.Write("1/aaaaaaaa/f", bytes);  // the oldest
    tree.Write("2/f", bytes);           // the newest, and the shortest path
    tree.Write("3/b/f", bytes);         // as new as 2/f
    const struct timespec old[2] = {{1500000000, 0}, {1500000000, 0}};
    const struct timespec late[2] = {{1700000000, 123}, {1700000000, 123}};
    utimensat(AT_FDCWD, tree.Path("1/aaaaaaaa/f").c_str(), old, 0);
    utimensat(AT_FDCWD, tree.Path("2/f").c_str(), late, 0);
    utimensat(AT_FDCWD, tree.Path("3/b/f").c_str(), late, 0);
    const std::string folders =
        Quote(tree.Path("1")) + " " + Quote(tree.Path("2")) + " " + Quote(tree.Path("3"));
    const struct {
        const char* rule;
        const char* kept;
    } kRules[] = {{"first", "1/aaaaaaaa/f"},
                  {"newest", "2/f"},
                  {"oldest", "1/aaaaaaaa/f"},
                  {"shortest-path", "2/f"}};
    for (const auto& rule : kRules) {
        SCOPED_TRACE(rule.rule);
        Outcome run = Find("--link -n --keep " + std::string(rule.rule) + " " + folders, scratch);
        EXPECT_EQ(run.status, 0) << run.err;
        std::set<std::string> expected;
        for (const char* member : {"1/aaaaaaaa/f", "2/f", "3/b/f"}) {
            if (std::string(member) != rule.kept) {
                expected.insert("would link " + tree.Path(member) + " => " + tree.Path(rule.kept));
            }
        }
        EXPECT_EQ(Lines(run.out), expected);
    }
    // Reference folders come first: with 3/ as one, 3/b/f stays whatever the rule says.
    Outcome run =
        Find("--link -n --keep oldest -R " + Quote(tree.Path("3")) + " " + folders, scratch);
    EXPECT_EQ(Lines(run.out),
              (std::set<std::string>{
                  "would link " + tree.Path("1/aaaaaaaa/f") + " => " + tree.Path("3/b/f"),
                  "would link " + tree.Path("2/f") + " => " + tree.Path("3/b/f")}));
}

// What a file manager finds in the trash: the file under files/, and beside it under info/ a
// .trashinfo whose Path, percent-decoded, names the place the file came from.
std::string TrashedFrom(const std::string& trash, const std::string& name) {
    std::ifstream in(trash + "/info/" + name + ".trashinfo");
    std::string line, path;
    std::getline(in, line);
    EXPECT_EQ(line, "[Trash Info]");
    while (std::getline(in, line)) {
        if (line.rfind("Path=", 0) == 0) {
            for (size_t k = 5; k < line.size(); ++k) {
                if (line[k] == '%' && k + 2 < line.size()) {
                    path.push_back(
                        static_cast<char>(std::stoi(line.substr(k + 1, 2), nullptr, 16)));
                    k += 2;
                } else {
                    path.push_back(line[k]);
                }
            }
        }
    }
    return path;
}

TEST(TrashTest, RestorableFromTheTrashOfTheFilesOwnFileSystem) {
    TempTree tree;
    TempTree scratch;
    Mounts mounts;
    const std::string bytes = Content(65, 7000);
    tree.Write("keep/x", bytes);
    tree.Write("home/old copy%1", bytes);  // a name to escape in the .trashinfo
    const std::string env = "XDG_DATA_HOME=" + Quote(tree.Path("data")) + " ";
    Outcome run =
        Find("--trash --summary " + Quote(tree.Path("keep")) + " " + Quote(tree.Path("home")),
             scratch, env);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "trashed " + tree.Path("home/old copy%1") + "\n");
    EXPECT_NE(run.err.find("moved to the trash, nothing freed"), std::string::npos) << run.err;
    const std::string trash = tree.Path("data/Trash");
    EXPECT_FALSE(tree.Exists("home/old copy%1"));
    EXPECT_EQ(tree.Read("data/Trash/files/old copy%1"), bytes);
    // Restored as a file manager restores it.
    const std::string from = TrashedFrom(trash, "old copy%1");
    EXPECT_EQ(from, tree.Path("home/old copy%1"));
    ASSERT_EQ(rename((trash + "/files/old copy%1").c_str(), from.c_str()), 0);
    EXPECT_EQ(tree.Read("home/old copy%1"), bytes);

    // A member on another file system goes to that one's own trash, with a Path below its top.
    if (!mounts.Mount("tmpfs", tree.Path("other"), "tmpfs", 0)) {
        GTEST_SKIP() << mounts.refused;
    }
    tree.Write("other/deep/y", bytes);
    run =
        Find("--trash " + Quote(tree.Path("keep")) + " " + Quote(tree.Path("other")), scratch, env);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string top = tree.Path("other/.Trash-" + std::to_string(geteuid()));
    EXPECT_EQ(tree.Read("other/.Trash-" + std::to_string(geteuid()) + "/files/y"), bytes);
    EXPECT_EQ(TrashedFrom(top, "y"), "deep/y");
    EXPECT_FALSE(tree.Exists("other/deep/y"));
}

// A trash that cannot be made leaves the member where it is and says why; the dry run says so
// first.
TEST(TrashTest, ATrashThatCannotBeWrittenLeavesTheMember) {
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0) {
        GTEST_SKIP() << "needs root and setpriv to run as another user";
    }
    TempTree tree;
    TempTree scratch;
    chmod(tree.root().c_str(), 0755);
    const std::string bytes = Content(66, 4000);
    tree.Write("keep/x", bytes);
    tree.Write("mine/y", bytes);
    tree.MakeFolder("locked");
    ASSERT_EQ(chown(tree.Path("mine").c_str(), 65534, 65534), 0);
    ASSERT_EQ(chown(tree.Path("mine/y").c_str(), 65534, 65534), 0);
    chmod(tree.Path("locked").c_str(), 0555);
    const std::string as = "XDG_DATA_HOME=" + Quote(tree.Path("locked/data")) +
                           " setpriv --reuid=65534 --regid=65534 --clear-groups ";
    const std::string folders = Quote(tree.Path("keep")) + " " + Quote(tree.Path("mine"));
    const std::string said =
        ": not trashed: the trash " + tree.Path("locked/data/Trash") + ": Permission denied\n";
    Outcome dry = Find("--trash -n " + folders, scratch, as);
    EXPECT_EQ(dry.status, 1);
    EXPECT_EQ(dry.err, "twinrake-find: " + tree.Path("mine/y") + ": would not trash: the trash " +
                           tree.Path("locked/data/Trash") + ": Permission denied\n");
    Outcome run = Find("--trash " + folders, scratch, as);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "twinrake-find: " + tree.Path("mine/y") + said);
    EXPECT_EQ(tree.Read("mine/y"), bytes);
}

// What each filter leaves out: every file below has a twin in b/, so the listing shows exactly
// what was catalogued.
TEST(FilterTest, WhatEachFilterLeavesOut) {
    TempTree tree;
    TempTree scratch;
    const std::vector<std::pair<std::string, size_t>> kFiles = {
        {"small", 100},       {"big", 20000},        {".hidden", 500},
        {"-dash", 600},       {"x.tmp", 700},        {"build/o/deep.o", 800},
        {"src/cache/c", 900}, {".git/config", 1000}, {"src/keep.c", 1100},
    };
    for (const auto& [name, size] : kFiles) {
        tree.Write("a/" + name, Content(static_cast<uint32_t>(size), size));
        tree.Write("b/" + name, Content(static_cast<uint32_t>(size), size));
    }
    const struct {
        const char* options;
        std::set<std::string> kept;  // the names below a/ that are still listed
    } kCases[] = {
        {"",
         {"small", "big", ".hidden", "-dash", "x.tmp", "build/o/deep.o", "src/cache/c",
          ".git/config", "src/keep.c"}},
        {"--min-size 1K", {"big", "src/keep.c"}},
        {"--max-size 0.5", {}},  // not a size: see UsageTest
        {"--max-size 600", {"small", ".hidden", "-dash"}},
        {"--min-size 600 --max-size 1000",
         {"-dash", "x.tmp", "build/o/deep.o", "src/cache/c", ".git/config"}},
        {"--no-hidden",
         {"small", "big", "-dash", "x.tmp", "build/o/deep.o", "src/cache/c", "src/keep.c"}},
        {"--exclude '*.tmp' --exclude=-dash",
         {"small", "big", ".hidden", "build/o/deep.o", "src/cache/c", ".git/config", "src/keep.c"}},
        {"--exclude 'build/**' --exclude '**/cache'",
         {"small", "big", ".hidden", "-dash", "x.tmp", ".git/config", "src/keep.c"}},
        {"--exclude '.*'",
         {"small", "big", "-dash", "x.tmp", "build/o/deep.o", "src/cache/c", "src/keep.c"}},
        {"--exclude 'src/*.c' --exclude '**/*.o'",
         {"small", "big", ".hidden", "-dash", "x.tmp", "src/cache/c", ".git/config"}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.options);
        Outcome run =
            Find(std::string(c.options) + " " + Quote(tree.Path("a")) + " " + Quote(tree.Path("b")),
                 scratch);
        if (std::string(c.options) == "--max-size 0.5") {
            EXPECT_EQ(run.status, 64);
            continue;
        }
        EXPECT_EQ(run.status, 0) << run.err;
        std::set<std::string> listed;
        for (const std::string& line : Lines(run.out)) {
            if (line.rfind(tree.Path("a/"), 0) == 0) {
                listed.insert(line.substr(tree.Path("a/").size()));
            }
        }
        EXPECT_EQ(listed, c.kept);
    }
}

// A file left out is never read: one nobody may read, named when it is searched, is not when it
// is left out.
TEST(FilterTest, WhatIsLeftOutIsNeverRead) {
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0) {
        GTEST_SKIP() << "needs root and setpriv to run as another user";
    }
    TempTree tree;
    TempTree scratch;
    chmod(tree.root().c_str(), 0755);
    tree.Write("a/secret", Content(67, 900));
    tree.Write("b/secret", Content(67, 900));
    chmod(tree.Path("a/secret").c_str(), 0);
    const std::string as = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    const std::string folders = Quote(tree.Path("a")) + " " + Quote(tree.Path("b"));
    EXPECT_EQ(Find(folders, scratch, as).status, 1);
    Outcome left = Find("--exclude secret " + folders, scratch, as);
    EXPECT_EQ(left.status, 0);
    EXPECT_EQ(left.err, "");
}

// Bad rules: status 64, and a first line that says what is wrong.
TEST(UsageTest, BadRulesSayWhatIsWrong) {
    TempTree scratch;
    const struct {
        const char* arguments;
        const char* first;
    } kCases[] = {
        {"--keep largest .",
         "twinrake-find: --keep: 'largest' is none of first, newest, "
         "oldest, shortest-path"},
        {"--min-size 10X .",
         "twinrake-find: --min-size: '10X' is no size (a number of bytes, or "
         "with K, M, G or T after it)"},
        {"--max-size 99999999999999999999 .",
         "twinrake-find: --max-size: '99999999999999999999' is no size (a number of bytes, or "
         "with K, M, G or T after it)"},
        {"--min-size 2K --max-size 1K .", "twinrake-find: --min-size is larger than --max-size"},
        {"--trash --link .",
         "twinrake-find: --delete, --link, --reflink and --trash cannot be "
         "combined"},
        {"-R '' .", "twinrake-find: an empty reference folder name names no folder"},
        {"--keep", "twinrake-find: option '--keep' requires an argument"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.arguments);
        Outcome run = Find(c.arguments, scratch);
        EXPECT_EQ(run.status, 64);
        EXPECT_EQ(run.err.substr(0, run.err.find('\n')), c.first);
    }
}

}  // namespace
