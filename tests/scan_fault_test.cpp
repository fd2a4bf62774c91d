// The scan and the comparison over a scripted file system, where listing order and faults are
// under the test's control.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/state.h"
#include "catalogue/scan.h"
#include "detect/compare.h"
#include "detect/identical_sets.h"
#include "detect/search.h"
#include "fake_files.h"

namespace twinrake {
namespace {

using fakefs::Entry;
using fakefs::Folder;

std::vector<std::string> Paths(const FileCatalogue& catalogue) {
    std::vector<std::string> out;
    for (const FileEntry& entry : catalogue) {
        out.push_back(FullPath(entry.directory(), entry.name()) + " " + std::to_string(entry.size));
    }
    return out;
}

class ScanFaultTest : public ::testing::Test {
  protected:
    void SetUp() override { fakefs::Reset(); }
    void Scan(const std::string& folder) {
        ScanFolder(catalogue, fakefs::State().programDirectory, folder,
                   [&](const PassedOver& p) { passed.push_back(p.path + ": " + p.reason); });
    }
    fakefs::Tree& fs = fakefs::State();
    FileCatalogue catalogue;
    std::vector<std::string> passed;
};

TEST_F(ScanFaultTest, SubtreeStandsWhereItsFolderIsListed) {
    fs.folders["/d"] =
        Folder{{{".", true}, {"..", true}, {"a.txt", false, 1}, {"S", true}, {"b.txt", false, 2}}};
    fs.folders["/d/S"] = Folder{{{".", true}, {"..", true}, {"s.txt", false, 3}}};
    Scan("/d/");
    EXPECT_EQ(Paths(catalogue),
              (std::vector<std::string>{"/d/a.txt 1", "/d/S/s.txt 3", "/d/b.txt 2"}));
    // "." and ".." were neither descended nor catalogued.
    EXPECT_EQ(fs.listed, (std::vector<std::string>{"/d", "/d/S"}));
}

TEST_F(ScanFaultTest, AnyDepthAndFoldersThatLeadBackUpAreWalkedOnce) {
    // 5,000 levels, one file at the top and one at the bottom, and at level 3 a folder that
    // is the top folder again (a link, as Windows shows one, or a bind mount).
    std::string folder = "/deep";
    fs.folders[folder].entries.push_back({"top", false, 1});
    for (int level = 0; level < 5000; ++level) {
        fs.folders[folder].entries.push_back({"d", true});
        if (level == 3) {
            fs.folders[folder].entries.push_back({"up", true});
            fs.folders[folder + "/up"] = Folder{{{"never", false, 9}}, false, -1, 4242};
        }
        folder += "/d";
    }
    fs.folders["/deep"].identity = 4242;
    fs.folders[folder].entries.push_back({"bottom", false, 2});
    Scan("/deep");
    ASSERT_EQ(catalogue.Count(), 2);
    EXPECT_EQ(catalogue[1].directory(), folder);
    EXPECT_EQ(passed, (std::vector<std::string>{"/deep/d/d/d/up: leads back to /deep"}));
    EXPECT_EQ(fs.listed.size(), 5002u);  // every folder once, the way back up included
}

TEST_F(ScanFaultTest, UnlistableVanishedAndUnenterableFoldersArePassedOver) {
    fs.folders["/p"] = Folder{
        {{"locked", true}, {"gone", true}, {"x", false, 1}, {"ok", true}, {"listable", true}}};
    fs.folders["/p/locked"] = Folder{{{"secret", false, 9}}, true};
    // "gone" is listed in its parent but no longer there.
    fs.folders["/p/ok"] = Folder{{{"y", false, 2}}};
    // Its names can be read, but not what they are: none is catalogued with a made-up size.
    fs.folders["/p/listable"].unreadable = {"data", "more"};
    Scan("/p");
    EXPECT_EQ(Paths(catalogue), (std::vector<std::string>{"/p/x 1", "/p/ok/y 2"}));
    EXPECT_EQ(passed, (std::vector<std::string>{"/p/locked: error 2", "/p/gone: error 2",
                                                "/p/listable/data: error 13",
                                                "/p/listable/more: error 13"}));
}

TEST_F(ScanFaultTest, ListingThatBreaksOffKeepsWhatWasRead) {
    Folder broken{{{"one", false, 1}, {"two", false, 2}, {"three", false, 3}}};
    broken.breaksAfter = 2;
    fs.folders["/q"] = Folder{{{"broken", true}, {"after", false, 4}}};
    fs.folders["/q/broken"] = broken;
    Scan("/q");
    EXPECT_EQ(Paths(catalogue),
              (std::vector<std::string>{"/q/broken/one 1", "/q/broken/two 2", "/q/after 4"}));
    EXPECT_EQ(passed, (std::vector<std::string>{"/q/broken: listing broke off: error 5"}));
}

TEST_F(ScanFaultTest, RootFolderListsTheEmptyTextAndGivesOneSeparator) {
    fs.folders[""] = Folder{{{"top.txt", false, 5}, {"usr", true}}};
    fs.folders["/usr"] = Folder{{{"lib.so", false, 6}}};
    Scan("/");
    EXPECT_EQ(fs.listed, (std::vector<std::string>{"", "/usr"}));
    EXPECT_EQ(Paths(catalogue), (std::vector<std::string>{"/top.txt 5", "/usr/lib.so 6"}));
    EXPECT_EQ(catalogue[0].directory(), "");
    fs.folders.erase("");
    Scan("/");
    EXPECT_EQ(passed, (std::vector<std::string>{"/: error 2"}));
}

TEST_F(ScanFaultTest, EveryListingAsksForEveryNameAndProgramDirectoryMadeCurrent) {
    fs.folders["/m"] = Folder{{{"n", true}}};
    fs.folders["/m/n"] = Folder{{{"k", false, 1}}};
    fs.currentDirectory = "/elsewhere/";
    Scan("/m");
    EXPECT_EQ(fs.patterns, (std::vector<std::string>{"*.*", "*.*"}));
    EXPECT_EQ(fs.currentDirectory, fs.programDirectory);
    EXPECT_EQ(fs.madeCurrent, 1);  // before the first listing; nothing changes it after
}

TEST_F(ScanFaultTest, FolderWithNoEntriesAtAll) {
    fs.folders["/void"] = Folder{};
    Scan("/void");
    EXPECT_EQ(catalogue.Count(), 0);
    EXPECT_TRUE(passed.empty());
}

}  // namespace
}  // namespace twinrake

// Reads that fail or end early, over the same scripted file system.

namespace twinrake {
namespace {

// A file passed over for the scripted error `code`, or for a change when it is 0.
PassedFile Passed(uint32_t entry, int code) {
    return {entry, code != 0 ? platform::SystemError(code)
                             : platform::Failed(platform::ErrorKind::Changed)};
}

class ReadFaultTest : public ::testing::Test {
  protected:
    void SetUp() override { fakefs::Reset(); }
    // The sets of the files at `paths`, all of `size`, read by one reader while `helpers`
    // idle readers stand by to join its work.
    std::vector<std::vector<uint32_t>> Sets(const std::vector<std::string>& paths, int64_t size,
                                            int helpers = 0) {
        std::vector<SizeClassFile> files;
        for (uint32_t i = 0; i < paths.size(); ++i) {
            // "/t7" is "t7" in the root folder, whose text is empty.
            std::string_view path = paths[i];
            size_t slash = path.rfind('/');
            files.push_back({i, path.substr(0, slash), path.substr(slash + 1)});
        }
        std::atomic<int32_t> progress{0};
        OpenBudget budget(fs.budget);
        BlockMemory blocks(16);
        SharedWork work;
        DiskPace pace;
        for (uint32_t k = 0; diskSetsPace && k < DiskPace::kRound; ++k) {
            pace.Note(true);
        }
        SharedReading shared{budget, blocks, work, pace};
        std::atomic<bool> done{false};
        std::vector<std::thread> idle;
        for (int k = 0; k < helpers; ++k) {
            idle.emplace_back([&] {
                while (!done) {
                    work.Join(std::chrono::milliseconds(1));
                }
            });
        }
        SizeClassResult result = IdenticalSets(files, size, progress, shared);
        done = true;
        for (std::thread& thread : idle) {
            thread.join();
        }
        passed = result.passed;
        std::vector<std::vector<uint32_t>> sets;
        for (const IdenticalSet& set : result.sets) {
            auto& entries = sets.emplace_back();
            for (const SetMember& member : set) {
                entries.push_back(member.entry);
            }
        }
        std::sort(sets.begin(), sets.end());  // the sets come in no particular order
        return sets;
    }
    fakefs::Tree& fs = fakefs::State();
    std::vector<PassedFile> passed;
    bool diskSetsPace = false;  // whether the reads are to find the disk setting the pace
};

TEST_F(ReadFaultTest, ReadThatFailsOrEndsEarlyIsNeverIdentical) {
    const std::string bytes(300000, 'z');
    fs.files["/a"] = {bytes};
    fs.files["/b"] = {bytes};
    fs.files["/fails"] = {bytes, 200000};
    fs.files["/ends"] = {bytes, -1, 299999};
    const std::string programDirectory = "/";
    EXPECT_TRUE(CompareFiles(programDirectory, "/a", "/b"));
    EXPECT_FALSE(CompareFiles(programDirectory, "/a", "/fails"));
    EXPECT_FALSE(CompareFiles(programDirectory, "/fails", "/a"));
    EXPECT_FALSE(CompareFiles(programDirectory, "/ends", "/a"));
    EXPECT_EQ(fs.openFiles, 0);
    // Side by side: the failing files drop out, the sound ones still form their set.
    EXPECT_EQ(Sets({"/fails", "/a", "/ends", "/b"}, 300000),
              (std::vector<std::vector<uint32_t>>{{1, 3}}));
    EXPECT_EQ(passed, (std::vector<PassedFile>{Passed(0, fakefs::kReadFailed), Passed(2, 0)}));
    EXPECT_EQ(Sets({"/fails", "/ends", "/missing"}, 300000),
              (std::vector<std::vector<uint32_t>>{}));
    // Left alone, /ends needs no further reading.
    EXPECT_EQ(passed, (std::vector<PassedFile>{Passed(0, fakefs::kReadFailed),
                                               Passed(2, fakefs::kNotFound)}));
    EXPECT_EQ(fs.openFiles, 0);
}

TEST_F(ReadFaultTest, ManyFilesOfOneSizeWithFaultsAndOneFileUnderTwoNames) {
    // More files than may be open at once: the digest path.
    std::vector<std::string> paths;
    auto write = [&] {
        fakefs::Reset();
        paths.clear();
        for (int i = 0; i < 300; ++i) {
            std::string path = "/f" + std::to_string(i);
            std::string content(5000, static_cast<char>('a' + i % 3));
            fs.files[path] = {content, i % 50 == 7 ? 4000 : -1};
            paths.push_back(path);
        }
        fs.files["/f1"].inode = 77;
        fs.files["/f4"].inode = 77;         // another name of /f1
        fs.files["/f9"].changesOnOpen = 2;  // shorter by the time its subset is compared
        fs.files["/f9"].changedContent = std::string(4999, 'a');
    };
    write();
    auto sets = Sets(paths, 5000);
    const std::vector<PassedFile> alone = passed;
    EXPECT_EQ(std::count(alone.begin(), alone.end(), Passed(9, 0)), 1);
    // Readers that join in take digests and subsets of their own, and find the same.
    for (int helpers : {1, 3}) {
        write();
        EXPECT_EQ(Sets(paths, 5000, helpers), sets) << helpers;
        EXPECT_EQ(passed, alone) << helpers;
    }
    ASSERT_EQ(sets.size(), 3u);
    for (const auto& set : sets) {
        for (uint32_t i : set) {
            EXPECT_NE(i % 50, 7u) << "a file whose read failed joined a set";
            EXPECT_NE(i, 4u) << "a second name of one file joined a set";
            EXPECT_EQ(i % 3, set.front() % 3);
        }
    }
    EXPECT_EQ(sets[1].front(), 1u);
    EXPECT_EQ(sets[0].size() + sets[1].size() + sets[2].size(), 300u - 6u - 1u - 1u);
    EXPECT_EQ(fs.openFiles, 0);
}

// However few files may be open, and however often the system refuses one for want of
// handles, the sets are the same and nothing is passed over: a lack of handles never makes a
// file "different".
TEST_F(ReadFaultTest, FewHandlesNeverChangeTheSets) {
    struct Case {
        size_t budget;
        int handleLimit;
        int files;
    };
    // Where the disk sets the pace, digests are read a few files at a time: refusals come
    // amid such a run too.
    std::vector<std::pair<bool, Case>> cases;
    for (bool disk : {false, true}) {
        for (Case c : {Case{1024, 1 << 30, 300}, Case{1024, 20, 300}, Case{10, 1 << 30, 300},
                       Case{6, 3, 40}, Case{1024, 7, 40}}) {
            cases.emplace_back(disk, c);
        }
    }
    for (auto [disk, c] : cases) {
        fakefs::Reset();
        diskSetsPace = disk;
        fs.budget = c.budget;
        fs.handleLimit = c.handleLimit;
        std::vector<std::string> paths;
        std::vector<std::vector<uint32_t>> wanted(2);
        for (int i = 0; i < c.files; ++i) {
            paths.push_back("/h" + std::to_string(i));
            // Every seventh file has other bytes, from the last block on.
            std::string content(70000, 'q');
            content.back() = i % 7 == 3 ? 'r' : 'q';
            fs.files[paths.back()] = {content};
            wanted[i % 7 == 3 ? 1 : 0].push_back(static_cast<uint32_t>(i));
        }
        EXPECT_EQ(Sets(paths, 70000), wanted) << c.budget << " " << c.handleLimit << " " << disk;
        EXPECT_TRUE(passed.empty()) << c.budget << " " << c.handleLimit << " " << disk;
        EXPECT_LE(fs.mostOpenFiles, std::min<int>(static_cast<int>(c.budget), c.handleLimit));
        // Where the system has fewer handles than the budget says, it did refuse some.
        EXPECT_EQ(fs.refusedOpens > 0, c.handleLimit < static_cast<int>(c.budget));
        EXPECT_EQ(fs.openFiles, 0);
    }
}

// With more files of one digest than may be open, the first file is compared with the others
// in turns; when it changes between two turns it leaves, and the others still find each other.
TEST_F(ReadFaultTest, FirstFileThatChangesBetweenTurnsLeavesTheSet) {
    fs.budget = 8;
    std::vector<std::string> paths;
    for (int i = 0; i < 30; ++i) {
        paths.push_back("/t" + std::to_string(i));
        fs.files[paths.back()] = {std::string(9000, 'w')};
    }
    // Its two digests (its ends, then all of it), the first turn, then changed before the
    // second.
    fs.files["/t0"].changesOnOpen = 4;
    fs.files["/t0"].changedContent = std::string(9000, 'v');
    std::vector<uint32_t> others;
    for (uint32_t i = 1; i < 30; ++i) {
        others.push_back(i);
    }
    EXPECT_EQ(Sets(paths, 9000), (std::vector<std::vector<uint32_t>>{others}));
    EXPECT_EQ(passed, (std::vector<PassedFile>{Passed(0, 0)}));
    EXPECT_EQ(fs.openFiles, 0);
}

// More files alike at their ends than may be open: a file whose ends are all of it is not
// digested a second time, and larger ones are digested whole before they are compared in
// turns, so that each file but the first of its set takes one turn at most, however many
// contents share its ends.
TEST_F(ReadFaultTest, FilesAlikeAtTheirEndsAreReadForOneTurnEach) {
    struct Case {
        size_t size;
        int middles;  // contents behind the same ends
        int opens;    // the most any file but the first of its set is opened
    };
    for (Case c : {Case{5000, 1, 2}, Case{5000, 4, 2}, Case{9000, 1, 3}, Case{9000, 4, 3}}) {
        fakefs::Reset();
        fs.budget = 8;
        std::vector<std::string> paths;
        std::vector<std::vector<uint32_t>> wanted(static_cast<size_t>(c.middles));
        for (uint32_t i = 0; i < 40; ++i) {
            paths.push_back("/e" + std::to_string(i));
            std::string content(c.size, 'e');
            content[c.size / 2] = static_cast<char>('0' + i % static_cast<uint32_t>(c.middles));
            fs.files[paths.back()] = {content};
            wanted[i % static_cast<uint32_t>(c.middles)].push_back(i);
        }
        ASSERT_EQ(Sets(paths, static_cast<int64_t>(c.size)), wanted) << c.size << " " << c.middles;
        for (const auto& set : wanted) {
            for (size_t k = 1; k < set.size(); ++k) {
                EXPECT_LE(fs.files[paths[set[k]]].opens, c.opens)
                    << paths[set[k]] << " of " << c.size << " " << c.middles;
            }
        }
    }
}

// Files compared side by side are asked for their first blocks together, at once, when the
// disk sets the pace; from memory that would only cost a call per file.
TEST_F(ReadFaultTest, FilesSideBySideAreAskedAheadOnlyWhenTheDiskSetsThePace) {
    for (bool disk : {false, true}) {
        for (int64_t size : {3000, 100000}) {
            fakefs::Reset();
            diskSetsPace = disk;
            std::vector<std::string> paths;
            for (int i = 0; i < 5; ++i) {
                paths.push_back("/r" + std::to_string(i));
                fs.files[paths.back()] = {std::string(static_cast<size_t>(size), 'r')};
            }
            EXPECT_EQ(Sets(paths, size), (std::vector<std::vector<uint32_t>>{{0, 1, 2, 3, 4}}));
            const std::vector<std::pair<int64_t, int64_t>> asked =
                disk ? std::vector<std::pair<int64_t, int64_t>>{{0, std::min<int64_t>(size, 20480)}}
                     : std::vector<std::pair<int64_t, int64_t>>{};
            for (const std::string& path : paths) {
                EXPECT_EQ(fs.files[path].askedAhead, asked) << path << " " << disk << " " << size;
            }
        }
    }
}

// Where more files of a size than may be open are digested, a reader opens a few at once when
// the disk sets the pace and asks for what their digests will read (the ends, in one piece when
// they lie close), as long as the last round of reads waited for the disk; from memory it opens
// and reads them one at a time.
TEST_F(ReadFaultTest, DigestsAreAskedAheadTogetherOnlyWhileReadsWaitForTheDisk) {
    using Asks = std::vector<std::pair<int64_t, int64_t>>;
    struct Case {
        int64_t size;
        Asks asked;
        // How many of the 40 files are asked ahead once the reads stop waiting: those of the
        // runs of 16 begun before a round of 64 reads that did not wait (a read a file, or two).
        size_t askedOnceInMemory;
    };
    struct Pace {
        bool disk;       // the disk set the pace
        bool readsWait;  // and the reads of these files wait for it
    };
    for (Pace pace : {Pace{false, false}, Pace{true, true}, Pace{true, false}}) {
        for (const Case& c : {Case{3000, {{0, 3000}}, 40}, Case{12000, {{0, 12000}}, 32},
                              Case{100000, {{0, 4096}, {95904, 4096}}, 32}}) {
            fakefs::Reset();
            diskSetsPace = pace.disk;
            fs.readsWait = pace.readsWait;
            fs.budget = 20;
            std::vector<std::string> paths;
            for (int i = 0; i < 40; ++i) {
                paths.push_back("/d" + std::to_string(i));
                std::string content(static_cast<size_t>(c.size), 'd');
                content.front() = content.back() = static_cast<char>('A' + i);
                fs.files[paths.back()] = {content};
            }
            EXPECT_TRUE(Sets(paths, c.size).empty());
            const size_t asked = !pace.disk ? 0 : pace.readsWait ? 40 : c.askedOnceInMemory;
            for (size_t i = 0; i < paths.size(); ++i) {
                EXPECT_EQ(fs.files[paths[i]].askedAhead, i < asked ? c.asked : Asks{})
                    << paths[i] << " " << pace.disk << pace.readsWait << " " << c.size;
            }
            EXPECT_EQ(fs.mostOpenFiles, pace.disk ? 16 : 1) << c.size;
            EXPECT_EQ(fs.openFiles, 0);
        }
    }
}

// On a disk that turns, one reader takes the sizes in the order their first files lie on the
// disk, where on other disks the catalogue order decides; the groups come out the same.
// However many readers there are, only so many sizes of many files are read at once (their
// lists, digests and subsets are what the peak grows with); the readers waiting for a turn
// help with the sizes being read, and the sets stay the same.
TEST_F(ReadFaultTest, LargeSizesAreReadOnlySoManyAtOnce) {
    constexpr int kSizes = 4;
    constexpr int kFiles = 1100;  // more than a reader keeps its list of files for
    Folder folder;
    for (int k = 0; k < kSizes; ++k) {
        for (int i = 0; i < kFiles; ++i) {
            std::string name = "s";
            name.append(std::to_string(k)).append("_").append(std::to_string(i));
            folder.entries.push_back({name, false, 100 + k});
            fs.files["/L/" + name] = {std::string(100 + k, i % 2 == 0 ? 'a' : 'b')};
        }
    }
    fs.folders["/L"] = folder;
    for (size_t most : {1, 2}) {
        SCOPED_TRACE(most);
        fs.opened.clear();
        AppState state;
        ASSERT_TRUE(ScanFolder(state.fileCatalogue, fs.programDirectory, "/L"));
        FindDuplicates(state, SearchTuning{4, SIZE_MAX, most});
        ASSERT_EQ(state.groupList.size(), 2u * kSizes);
        for (size_t g = 0; g < state.groupList.size(); ++g) {
            EXPECT_EQ(state.groupList[g].memberCount, kFiles / 2);
        }
        // Each size from its first open to its last; at no open more sizes begun and unended.
        std::map<char, std::pair<size_t, size_t>> spans;
        for (size_t at = 0; at < fs.opened.size(); ++at) {
            spans.try_emplace(fs.opened[at].at(4), at, at).first->second.second = at;
        }
        ASSERT_EQ(spans.size(), size_t{kSizes});
        size_t mostAtOnce = 0;
        for (size_t at = 0; at < fs.opened.size(); ++at) {
            const auto reading = std::count_if(spans.begin(), spans.end(), [at](const auto& s) {
                return s.second.first <= at && at <= s.second.second;
            });
            mostAtOnce = std::max(mostAtOnce, static_cast<size_t>(reading));
        }
        EXPECT_LE(mostAtOnce, most);
    }
}

TEST_F(ReadFaultTest, OnASpinningDiskSizesAreReadInTheOrderOfTheirPlaceOnDisk) {
    // Five sizes, a pair each, catalogued in the order of their sizes' first files.
    const std::vector<uint64_t> places = {500, 100, 400, 200, 300};
    Folder folder;
    for (size_t k = 0; k < places.size(); ++k) {
        for (const char* copy : {"a", "b"}) {
            std::string name = std::string(copy) + std::to_string(k);
            folder.entries.push_back({name, false, static_cast<int64_t>(10 + k)});
            fs.files["/s/" + name] = {std::string(10 + k, 'x')};
            fs.files["/s/" + name].place = places[k] + (copy[0] == 'b' ? 1 : 0);
        }
    }
    // The listing order of "a" and "b" files: a0 b0 a1 b1 ...
    std::stable_sort(folder.entries.begin(), folder.entries.end(),
                     [](const Entry& x, const Entry& y) { return x.size < y.size; });
    fs.folders["/s"] = folder;
    for (bool spinning : {false, true}) {
        SCOPED_TRACE(spinning ? "spinning" : "not spinning");
        fs.spinning = spinning;
        fs.opened.clear();
        // A spinning disk gets one reader of itself.
        const SearchTuning tuning{spinning ? 0 : 1};
        AppState state;
        ASSERT_TRUE(ScanFolder(state.fileCatalogue, fs.programDirectory, "/s"));
        FindDuplicates(state, tuning);
        EXPECT_EQ(state.groupList.size(), places.size());
        // The files read for the comparisons, after a look at each size's first file where
        // its place is asked for.
        std::vector<std::string> read(fs.opened.begin() + (spinning ? 5 : 0), fs.opened.end());
        std::vector<std::string> firsts;
        for (size_t i = 0; i < read.size(); i += 2) {
            firsts.push_back(read[i]);
        }
        EXPECT_EQ(firsts,
                  spinning
                      ? (std::vector<std::string>{"/s/a1", "/s/a3", "/s/a4", "/s/a2", "/s/a0"})
                      : (std::vector<std::string>{"/s/a0", "/s/a1", "/s/a2", "/s/a3", "/s/a4"}));
    }
}

}  // namespace
}  // namespace twinrake
