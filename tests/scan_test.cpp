// The scan over real folders.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "catalogue/scan.h"
#include "catalogue/scan_filter.h"
#include "platform/files.h"
#include "temp_tree.h"

namespace twinrake {
namespace {

using testing_support::TempTree;

std::vector<std::string> Entries(const FileCatalogue& catalogue) {
    std::vector<std::string> out;
    for (const FileEntry& entry : catalogue) {
        out.push_back(std::string(entry.directory()) + "|" + std::string(entry.name()) + "|" +
                      std::to_string(entry.size));
    }
    return out;
}

class ScanTest : public ::testing::Test {
  protected:
    void Scan(const std::string& folder) {
        std::string programDirectory;
        ASSERT_FALSE(platform::ProgramDirectory(programDirectory));
        ScanFolder(catalogue, programDirectory, folder);
    }
    TempTree tree;
    FileCatalogue catalogue;
};

TEST_F(ScanTest, DepthFirstPreOrderInListingOrder) {
    tree.Write("a.txt", "a");
    tree.Write("S/s.txt", "ss");
    tree.Write("S/T/t.txt", "ttt");
    tree.Write("b.txt", "bbbb");
    tree.Write("U/u1", "");
    tree.Write("U/u2", "u");
    tree.MakeFolder("E/F/G");
    Scan(tree.root() + "/");
    EXPECT_EQ(Entries(catalogue), testing_support::ListingOrder(tree.root()));
    EXPECT_EQ(catalogue.Count(), 6);
}

TEST_F(ScanTest, TrailingSeparatorTrimmedAndCallersTextKept) {
    tree.Write("x.txt", "12345");
    const std::string folder = tree.root() + "/";
    Scan(folder);
    EXPECT_EQ(folder, tree.root() + "/");
    ASSERT_EQ(catalogue.Count(), 1);
    EXPECT_EQ(catalogue[0].directory(), tree.root());
    EXPECT_EQ(FullPath(catalogue[0].directory(), catalogue[0].name()), tree.Path("x.txt"));
    // Without the separator the result is the same.
    Scan(tree.root());
    EXPECT_EQ(catalogue[1].directory(), tree.root());
}

TEST_F(ScanTest, EmptyFoldersAppendNothing) {
    tree.MakeFolder("empty/inner/deeper");
    Scan(tree.Path("empty") + "/");
    EXPECT_EQ(catalogue.Count(), 0);
}

TEST_F(ScanTest, HiddenFilesCataloguedHiddenFoldersDescended) {
    tree.Write(".hidden", "h");
    tree.Write(".config/.deep/file", "f");
    Scan(tree.root());
    auto entries = Entries(catalogue);
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{tree.root() + "/.config/.deep|file|1",
                                                 tree.root() + "|.hidden|1"}));
}

TEST_F(ScanTest, SizesAreTheTrueSizes) {
    tree.Write("empty", "");
    tree.Sparse("three-billion", 3000000000LL);
    tree.Sparse("four-gib", 4294967296LL);
    tree.Sparse("four-gib-plus", 4294967296LL + 4100);
    tree.Write("small", std::string(4097, 'x'));
    Scan(tree.root());
    std::map<std::string, int64_t> sizes;
    for (const FileEntry& entry : catalogue) {
        sizes[std::string(entry.name())] = entry.size;
    }
    EXPECT_EQ(sizes.at("empty"), 0);
    EXPECT_EQ(sizes.at("three-billion"), 3000000000LL);
    EXPECT_EQ(sizes.at("four-gib"), 4294967296LL);
    EXPECT_EQ(sizes.at("four-gib-plus"), 4294967296LL + 4100);
    EXPECT_EQ(sizes.at("small"), 4097);
}

TEST_F(ScanTest, NamesStoredByteForByte) {
    const std::vector<std::string> names = {
        "with space.txt", "Grüße ä ö ü ß.txt", std::string("bad\xff\xfe\x80name"),
        ".leading",       "..double-dot",      "trailing "};
    for (const std::string& name : names) {
        tree.Write(name, name);
    }
    Scan(tree.root());
    std::vector<std::string> found;
    for (const FileEntry& entry : catalogue) {
        found.emplace_back(entry.name());
        EXPECT_EQ(entry.size, static_cast<int32_t>(entry.name().size()));
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> expected = names;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
}

TEST_F(ScanTest, SymbolicLinksAreFilesOfSizeZeroAndNeverFollowed) {
    tree.Write("outside/secret.txt", "not below the added folder");
    tree.Write("added/real.txt", "real");
    tree.Symlink("..", "added/loop");                            // a loop
    tree.Symlink(tree.Path("outside"), "added/to-outside");      // a folder elsewhere
    tree.Symlink(tree.Path("added/real.txt"), "added/to-file");  // a file
    tree.Symlink("/nonexistent/target", "added/dangling");
    Scan(tree.Path("added"));
    std::map<std::string, int32_t> sizes;
    for (const FileEntry& entry : catalogue) {
        sizes[std::string(entry.name())] = entry.size;
    }
    EXPECT_EQ(
        sizes,
        (std::map<std::string, int32_t>{
            {"real.txt", 4}, {"loop", 0}, {"to-outside", 0}, {"to-file", 0}, {"dangling", 0}}));
}

TEST_F(ScanTest, RelativeFolderIsTakenFromTheProgramDirectory) {
    tree.Write("sub/r.txt", "r");
    ScanFolder(catalogue, tree.root() + "/", "sub/");
    ASSERT_EQ(catalogue.Count(), 1);
    EXPECT_EQ(catalogue[0].directory(), "sub");
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(tree.root()));
}

TEST_F(ScanTest, FolderThatCannotBeListedContributesNothing) {
    Scan(tree.Path("does-not-exist"));
    EXPECT_EQ(catalogue.Count(), 0);
    tree.Write("file-not-folder", "x");
    Scan(tree.Path("file-not-folder"));
    EXPECT_EQ(catalogue.Count(), 0);
}

// A folder whose full path is longer than the platform allows cannot be listed by its path;
// the scan passes over it and goes on with its siblings.
TEST_F(ScanTest, PathLongerThanOneSystemCallTakesIsWalkedToo) {
    tree.Write("before.txt", "b");
    tree.Write("deep/after.txt", "a");
    std::string part(200, 'd');
    int fd = open(tree.Path("deep").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    size_t length = tree.Path("deep").size();
    while (length < PATH_MAX + 300) {
        ASSERT_EQ(mkdirat(fd, part.c_str(), 0755), 0);
        int next = openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        ASSERT_GE(next, 0);
        fd = next;
        length += part.size() + 1;
    }
    int file = openat(fd, "lost.txt", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    close(file);
    close(fd);
    Scan(tree.root());
    std::vector<std::string> names;
    for (const FileEntry& entry : catalogue) {
        names.emplace_back(entry.name());
        EXPECT_EQ(entry.directory().size() > static_cast<size_t>(PATH_MAX),
                  entry.name() == "lost.txt");
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"after.txt", "before.txt", "lost.txt"}));
}

TEST_F(ScanTest, FolderAddedAgainIsCataloguedAgain) {
    tree.Write("A/a1", "1");
    tree.Write("A/a2", "22");
    tree.Write("B/b1", "333");
    Scan(tree.Path("A/"));
    Scan(tree.Path("B/"));
    Scan(tree.Path("A/"));
    ASSERT_EQ(catalogue.Count(), 5);
    auto entries = Entries(catalogue);
    EXPECT_EQ(entries[0], entries[3]);
    EXPECT_EQ(entries[1], entries[4]);
    EXPECT_EQ(catalogue[2].name(), "b1");
}

}  // namespace
}  // namespace twinrake

namespace twinrake {
namespace {

// The globs of --exclude: "*" within a folder, "**" across folders (and "**/" for none),
// "?", sets, and "\" for a character as it is.
TEST(GlobTest, MatchesAsTheManualPageSays) {
    const struct {
        const char* pattern;
        const char* text;
        bool matches;
    } kCases[] = {
        {"*.tmp", "x.tmp", true},          {"*.tmp", "a/x.tmp", false},
        {"**/*.tmp", "a/b/x.tmp", true},   {"**/*.tmp", "x.tmp", true},
        {"build/**", "build/o/x", true},   {"build/**", "build/", true},
        {"build/**", "build", false},      {"a/**/z", "a/z", true},
        {"a/**/z", "a/b/c/z", true},       {"a*z", "a/z", false},
        {"a**z", "a/z", true},             {"?", "x", true},
        {"?", "/", false},                 {"??", "x", false},
        {"[abc]d", "bd", true},            {"[!abc]d", "bd", false},
        {"[a-c]", "b", true},              {"[a-c]", "d", false},
        {"[]]", "]", true},                {"[", "[", true},
        {"\\*", "*", true},                {"\\*", "x", false},
        {".*", ".hidden", true},           {".*", "hidden", false},
        {"-dash", "-dash", true},          {"", "", true},
        {"*", "", true},                   {"x", "xy", false},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(GlobMatches(c.pattern, c.text), c.matches) << c.pattern << " on " << c.text;
    }
}

}  // namespace
}  // namespace twinrake
