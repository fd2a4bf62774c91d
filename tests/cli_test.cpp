// twinrake-find as a user runs it: output format, exit status, and that it changes nothing.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

#include "temp_tree.h"

namespace {

using testing_support::Content;
using testing_support::TempTree;

struct Outcome {
    std::string out;
    std::string err;
    int status = -1;
};

Outcome Find(const std::string& arguments, const TempTree& scratch) {
    std::string errFile = scratch.Path("stderr.txt");
    std::string command = std::string(TWINRAKE_FIND) + " " + arguments + " 2>" + errFile;
    Outcome run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    std::array<char, 4096> buffer;
    size_t got = 0;
    while ((got = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        run.out.append(buffer.data(), got);
    }
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = scratch.Read("stderr.txt");
    return run;
}

std::string Quote(const std::string& path) {
    return "'" + path + "'";
}

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
    EXPECT_EQ(some.status, 0);
    EXPECT_NE(some.err.find(tree.Path("missing")), std::string::npos);
    EXPECT_NE(some.out.find(tree.Path("two/1/p")), std::string::npos);

    Outcome none = Find(Quote(tree.Path("missing")) + " " + Quote(tree.Path("two/1/p")), scratch);
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("missing"), std::string::npos);
    EXPECT_NE(none.err.find("two/1/p"), std::string::npos);
    EXPECT_EQ(none.out, "");
}

TEST_F(CliTest, RelativeFoldersAreTakenFromTheCurrentFolder) {
    Outcome run = Find("-- ", scratch);  // "--" is a folder name here, not an option
    EXPECT_EQ(run.status, 2);
    std::string command = "cd " + Quote(tree.root()) + " && " + TWINRAKE_FIND + " two";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::array<char, 4096> buffer;
    std::string out(buffer.data(), fread(buffer.data(), 1, buffer.size(), pipe));
    EXPECT_EQ(pclose(pipe), 0);
    // Either order: both files lie in one folder, listed in the file system's order.
    EXPECT_TRUE(out == tree.Path("two/1/p") + "\n" + tree.Path("two/2/q") + "\n" ||
                out == tree.Path("two/2/q") + "\n" + tree.Path("two/1/p") + "\n")
        << out;
}

TEST_F(CliTest, HelpAndUsage) {
    Outcome help = Find("--help", scratch);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: twinrake-find FOLDER..."), std::string::npos);
    EXPECT_NE(help.out.find("Nothing is deleted"), std::string::npos);
    Outcome bare = Find("", scratch);
    EXPECT_EQ(bare.status, 1);
    EXPECT_NE(bare.err.find("Usage"), std::string::npos);
}

}  // namespace
