// The Win32 file system: program and current folder, listings with their search-text limit,
// the scan's loop guard, 64-bit sizes, drive roots, identity, paths longer than the ANSI calls
// take, and the core's scan, comparison, search and checked deletion running over them.
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "app/state.h"
#include "catalogue/lists.h"
#include "catalogue/scan.h"
#include "detect/compare.h"
#include "detect/search.h"
#include "platform/files.h"
#include "platform/win32/win32_backend.h"
#include "test_support.h"

namespace {

using wintest::Exists;
using wintest::MakeFolder;
using wintest::ScratchFolder;
using wintest::WriteBytes;

std::string ProgramFolder() {
    std::string folder;
    EXPECT_FALSE(platform::ProgramDirectory(folder));
    return folder;
}

using Entry = std::tuple<std::string, bool, int64_t>;              // name, folder, size
using Catalogued = std::tuple<std::string, std::string, int64_t>;  // directory, name, size

// Every entry of one listing, sorted by name; {"failed"} when it cannot be listed.
std::vector<Entry> ListAll(const std::string& folder, const std::string& pattern) {
    platform::FolderListing listing;
    if (platform::Error error = platform::ReadFolder(folder, pattern, listing)) {
        return {{"failed", false, error.code}};
    }
    std::vector<Entry> entries;
    for (const platform::ListingEntry& entry : listing.entries) {
        entries.emplace_back(entry.name, entry.isFolder, entry.size);
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

// The scan's catalogue in its order, or sorted; what it passed over goes to `passed`.
std::vector<Catalogued> Scan(const std::string& folder, bool sorted = false,
                             std::vector<std::string>* passed = nullptr) {
    twinrake::FileCatalogue catalogue;
    twinrake::ScanFolder(catalogue, ProgramFolder(), folder, [&](const twinrake::PassedOver& p) {
        if (passed != nullptr) {
            passed->push_back(p.path + ": " + p.reason);
        }
    });
    std::vector<Catalogued> entries;
    for (const twinrake::FileEntry& entry : catalogue) {
        entries.emplace_back(entry.directory(), entry.name(), entry.size);
    }
    if (sorted) {
        std::sort(entries.begin(), entries.end());
    }
    return entries;
}

// What a depth-first, pre-order walk in the platform's listing order must give.
void ExpectedWalk(const std::string& folder, std::vector<Catalogued>& entries) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*.*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        std::string name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            entries.emplace_back(
                folder, name,
                static_cast<int64_t>((uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow));
        } else if (name != "." && name != "..") {
            ExpectedWalk(folder + "\\" + name, entries);
        }
    }
    FindClose(search);
}

bool Copies(const std::string& first, const std::string& second) {
    return twinrake::CompareFiles(ProgramFolder(), first, second);
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

TEST(FoldersTest, ProgramDirectoryEndsWithABackslashAndTheCurrentOneIsSet) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string full = path;
    EXPECT_EQ(ProgramFolder(), full.substr(0, full.rfind('\\') + 1));
    ScratchFolder scratch;
    ASSERT_FALSE(platform::MakeCurrentDirectory(scratch.Path()));
    char current[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, current);
    EXPECT_STRCASEEQ(current, scratch.Path().c_str());
    EXPECT_EQ(platform::MakeCurrentDirectory(scratch / "missing").kind, platform::ErrorKind::Gone);
    // Relative paths are taken from the current folder, "." and ".." by their text.
    std::string absolute;
    ASSERT_FALSE(platform::AbsolutePath("sub\\.\\x\\..\\y", absolute));
    EXPECT_STRCASEEQ(absolute.c_str(), (scratch / "sub\\y").c_str());
    ASSERT_FALSE(platform::MakeCurrentDirectory(ProgramFolder()));
}

TEST(ListingTest, SearchTextIsFolderBackslashPatternOfAtMost254Characters) {
    using platform::win32::FormSearchText;
    std::string text = "unchanged";
    for (auto [folder, pattern, wanted] : {std::tuple{"D:", "*.*", "D:\\*.*"},
                                           {"D:\\Photos", "", "D:\\Photos\\*.*"},
                                           {"D:\\", "*.txt", "D:\\*.txt"},
                                           {"", "*.*", "*.*"}}) {
        EXPECT_TRUE(FormSearchText(folder, pattern, text));
        EXPECT_EQ(text, wanted);
    }
    std::string folder250 = "C:\\" + std::string(247, 'f');
    EXPECT_TRUE(FormSearchText(folder250, "*.*", text));
    EXPECT_EQ(text.size(), 254u);
    text = "unchanged";
    EXPECT_FALSE(FormSearchText(folder250 + "g", "*.*", text));
    EXPECT_EQ(text, "unchanged");

    // Real folders of 250 and 251 characters: the first is listed, the second is not.
    ScratchFolder scratch;
    std::string folder = scratch.Path();
    while (folder.size() + 1 + 100 < 250) {
        folder += "\\" + std::string(100, 'd');
        MakeFolder(folder);
    }
    std::string at250 = folder + "\\" + std::string(250 - folder.size() - 1, 'e');
    std::string at251 = at250 + "e";
    ASSERT_TRUE(CreateDirectoryA(("\\\\?\\" + at250).c_str(), nullptr)) << GetLastError();
    ASSERT_TRUE(CreateDirectoryA(("\\\\?\\" + at251).c_str(), nullptr)) << GetLastError();
    EXPECT_EQ(ListAll(at250, "*.*").size(), 2u);  // "." and ".."
    EXPECT_EQ(ListAll(at251, "*.*"), (std::vector<Entry>{{"failed", false, 206}}));
    RemoveDirectoryA(("\\\\?\\" + at250).c_str());
    RemoveDirectoryA(("\\\\?\\" + at251).c_str());
}

TEST(ListingTest, GivesDotsFilesAndFoldersWithTheirTrueSizes) {
    ScratchFolder scratch;
    WriteBytes(scratch / "a.txt", "abc");
    WriteBytes(scratch / "empty.bin", "");
    MakeFolder(scratch / "sub");
    std::vector<Entry> all{{".", true, 0},
                           {"..", true, 0},
                           {"a.txt", false, 3},
                           {"empty.bin", false, 0},
                           {"sub", true, 0}};
    EXPECT_EQ(ListAll(scratch.Path(), "*.*"), all);
    EXPECT_EQ(ListAll(scratch.Path(), ""), all);  // an empty pattern matches every name
    EXPECT_EQ(ListAll(scratch.Path(), "*.txt"), (std::vector<Entry>{{"a.txt", false, 3}}));
    EXPECT_EQ(std::get<0>(ListAll(scratch / "missing", "*.*").at(0)), "failed");
    EXPECT_EQ(std::get<0>(ListAll(scratch / "a.txt", "*.*").at(0)), "failed");
    EXPECT_TRUE(ListAll(scratch.Path(), "*.nothing").empty());  // listed, nothing matched

    // Sizes beyond 32 bits, in the listing and at the open alike.
    for (auto [name, length] :
         {std::pair{"big.bin", 3000000000LL}, {"wrap.bin", (1LL << 32) + 5}}) {
        HANDLE file = CreateFileA((scratch / name).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD ignored = 0;  // sparse where the disk allows
        DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
        LARGE_INTEGER end{.QuadPart = length};
        EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file));
        CloseHandle(file);
    }
    EXPECT_EQ(ListAll(scratch.Path(), "*.bin"),
              (std::vector<Entry>{{"big.bin", false, 3000000000LL},
                                  {"empty.bin", false, 0},
                                  {"wrap.bin", false, (1LL << 32) + 5}}));
    EXPECT_EQ(Scan(scratch.Path(), true)[1], (Catalogued{scratch.Path(), "big.bin", 3000000000LL}));
    platform::FileStamp stamp;
    platform::OpenFile* file = nullptr;
    ASSERT_FALSE(platform::OpenForReading(scratch / "wrap.bin", file, stamp));
    EXPECT_EQ(stamp.length, (1LL << 32) + 5);
    platform::CloseFile(file);
    // Same low 32 bits, different real length: never identical.
    WriteBytes(scratch / "five.bin", std::string(5, '\0'));
    EXPECT_FALSE(Copies(scratch / "wrap.bin", scratch / "five.bin"));
}

TEST(ScanTest, WalksDepthFirstInListingOrderWithHiddenAndSystemEntries) {
    ScratchFolder scratch;
    WriteBytes(scratch / "a.txt", "a");
    MakeFolder(scratch / "S");
    WriteBytes(scratch / "S\\s.txt", "ss");
    MakeFolder(scratch / "S\\T");
    WriteBytes(scratch / "S\\T\\t.txt", "ttt");
    WriteBytes(scratch / "b.txt", "bbbb");
    MakeFolder(scratch / "H");
    WriteBytes(scratch / "H\\inside.txt", "12345");
    WriteBytes(scratch / "hidden.txt", "123456");
    MakeFolder(scratch / "empty");
    for (const char* name : {"H", "hidden.txt"}) {
        ASSERT_TRUE(SetFileAttributesA((scratch / name).c_str(),
                                       FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    }
    std::vector<Catalogued> wanted;
    ExpectedWalk(scratch.Path(), wanted);
    ASSERT_EQ(wanted.size(), 6u);
    EXPECT_EQ(Scan(scratch.Path() + "\\"), wanted);
    EXPECT_EQ(Scan(scratch.Path()), wanted);  // with or without the trailing backslash
    std::vector<Catalogued> sorted = Scan(scratch.Path(), true);
    EXPECT_EQ(sorted[2], (Catalogued{scratch.Path(), "hidden.txt", 6}));
    EXPECT_EQ(sorted[3], (Catalogued{scratch / "H", "inside.txt", 5}));
    EXPECT_EQ(sorted[5], (Catalogued{scratch / "S\\T", "t.txt", 3}));
}

// tools/test-windows.sh maps this drive letter to an empty scratch folder.
TEST(DriveRootTest, FilesOfTheRootHaveTheDriveAsDirectory) {
    std::string drive = Environment("TWINRAKE_TEST_DRIVE");
    ASSERT_EQ(drive.size(), 2u) << "set TWINRAKE_TEST_DRIVE to a drive letter mapped to an "
                                   "empty scratch folder (tools/test-windows.sh does)";
    wintest::RemoveTree(drive + "\\", false);
    WriteBytes(drive + "\\x.txt", "xx");
    MakeFolder(drive + "\\Photos");
    WriteBytes(drive + "\\Photos\\p.jpg", "ppp");
    EXPECT_EQ(Scan(drive + "\\", true),
              (std::vector<Catalogued>{{drive, "x.txt", 2}, {drive + "\\Photos", "p.jpg", 3}}));
    EXPECT_EQ(twinrake::FullPath(drive, "x.txt"), drive + "\\x.txt");
    wintest::RemoveTree(drive + "\\", false);
}

// tools/test-windows.sh makes <loop>\a.txt, <loop>\sub\b.txt and <loop>\sub\up, a link back
// to <loop> (Wine shows a Unix symbolic link to a folder as a folder).
TEST(LoopTest, FolderThatLeadsBackUpIsNotWalkedAgainSoTheScanEnds) {
    std::string loop = Environment("TWINRAKE_LOOP_FOLDER");
    ASSERT_TRUE(!loop.empty() && Exists(loop + "\\sub\\up\\a.txt"))
        << "set TWINRAKE_LOOP_FOLDER to a folder whose sub\\up leads back to it "
           "(tools/test-windows.sh makes one)";
    std::vector<std::string> passed;
    EXPECT_EQ(Scan(loop + "\\", true, &passed),
              (std::vector<Catalogued>{{loop, "a.txt", 1}, {loop + "\\sub", "b.txt", 2}}));
    EXPECT_EQ(passed, (std::vector<std::string>{loop + "\\sub\\up: leads back to " + loop}));
    // On its own, the link is an ordinary folder to list.
    EXPECT_EQ(ListAll(loop + "\\sub\\up", "*.*").size(), 4u);
}

// Opens through a stamp, with the identity; false if it cannot be opened.
bool Stamp(const std::string& path, platform::FileStamp& stamp) {
    platform::OpenFile* file = nullptr;
    if (platform::OpenForReading(path, file, stamp)) {
        return false;
    }
    platform::CloseFile(file);
    return true;
}

TEST(OpenTest, ReadsAllWithReadSharingOnlyAndTellsIdentityAcrossHardLinks) {
    ScratchFolder scratch;
    std::string content = wintest::Pattern(1 << 20, 7);
    WriteBytes(scratch / "one.bin", content);
    WriteBytes(scratch / "two.bin", content);
    ASSERT_TRUE(
        CreateHardLinkA((scratch / "link.bin").c_str(), (scratch / "one.bin").c_str(), nullptr));
    platform::FileStamp first, again, other, linked;
    platform::OpenFile* file = nullptr;
    ASSERT_FALSE(platform::OpenForReading(scratch / "one.bin", file, first));
    EXPECT_EQ(first.length, 1 << 20);
    EXPECT_EQ(first.links, 2u);
    std::string read(content.size() + 100, '\0');
    size_t got = 0;
    EXPECT_FALSE(platform::ReadBytes(file, read.data(), read.size(), got));
    EXPECT_EQ(got, 1u << 20);
    EXPECT_EQ(read.substr(0, content.size()), content);
    EXPECT_FALSE(platform::ReadBytes(file, read.data(), 16, got));
    EXPECT_EQ(got, 0u);
    // Other readers may come in; no writer may while we read.
    HANDLE writer =
        CreateFileA((scratch / "one.bin").c_str(), GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    for (auto [name, stamp] :
         {std::pair{"one.bin", &again}, {"two.bin", &other}, {"link.bin", &linked}}) {
        EXPECT_TRUE(Stamp(scratch / name, *stamp)) << name;
    }
    platform::FileStamp now;
    EXPECT_FALSE(platform::StampOfPath(scratch / "one.bin", now));
    EXPECT_EQ(now.modified, first.modified);
    EXPECT_EQ(now.changed, first.changed);
    platform::CloseFile(file);
    EXPECT_EQ(again.identity, first.identity);
    EXPECT_NE(other.identity, first.identity);
    EXPECT_EQ(linked.identity, first.identity);
    EXPECT_FALSE(platform::StampOfPath(scratch / "link.bin", now));
    EXPECT_EQ(now.identity, first.identity);
    EXPECT_EQ(platform::StampOfPath(scratch / "missing", now),
              (platform::Error{platform::ErrorKind::Gone, ERROR_FILE_NOT_FOUND}));
    // A file someone is writing cannot be opened; neither can what is missing or a folder.
    writer = CreateFileA((scratch / "two.bin").c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_FALSE(Stamp(scratch / "two.bin", other));
    CloseHandle(writer);
    platform::OpenFile* missing = nullptr;
    EXPECT_EQ(platform::OpenForReading(scratch / "missing", missing, other),
              (platform::Error{platform::ErrorKind::Gone, ERROR_FILE_NOT_FOUND}));
    EXPECT_FALSE(Stamp(scratch.Path(), other));
}

// What the search recorded of a file, as the deletion expects it.
platform::ExpectedFile Expect(const std::string& folder, const std::string& name) {
    platform::FileStamp stamp;
    EXPECT_TRUE(Stamp(folder + "\\" + name, stamp)) << name;
    platform::ExpectedFile expected;
    platform::FolderListing listing;
    EXPECT_TRUE(!platform::ReadFolder(folder, "*.*", listing) && listing.identityKnown);
    expected.folder = listing.identity;
    expected.identity = stamp.identity;
    expected.length = stamp.length;
    expected.modified = stamp.modified;
    expected.changed = stamp.changed;
    return expected;
}

TEST(CompareAndDeleteTest, ThroughTheWin32Calls) {
    ScratchFolder scratch;
    std::string content = wintest::Pattern(5001, 3), last = content;
    last.back() ^= 1;
    WriteBytes(scratch / "a", content);
    WriteBytes(scratch / "b", content);
    WriteBytes(scratch / "c", last);
    EXPECT_TRUE(Copies(scratch / "a", scratch / "b"));
    EXPECT_FALSE(Copies(scratch / "a", scratch / "c"));
    EXPECT_FALSE(Copies(scratch / "missing", scratch / "a"));
    EXPECT_FALSE(Copies(scratch / "a", scratch / "missing"));
    EXPECT_FALSE(Copies(scratch / "a", scratch / "a"));
    using Outcome = platform::ErrorKind;
    auto remove = [&](const std::string& name, const platform::ExpectedFile& expected) {
        return platform::RemoveFileIfUnchanged(platform::MemberFile{scratch.Path(), name, expected})
            .kind;
    };
    // Every file was closed again, also after a failed open: all can be deleted.
    platform::ExpectedFile a = Expect(scratch.Path(), "a");
    EXPECT_EQ(remove("a", a), Outcome::None);
    EXPECT_FALSE(Exists(scratch / "a"));
    EXPECT_EQ(remove("a", a), Outcome::Changed);  // gone already
    // Held open without delete sharing: it stays.
    platform::ExpectedFile c = Expect(scratch.Path(), "c");
    HANDLE held = CreateFileA((scratch / "c").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(remove("c", c), Outcome::NotAllowed);
    CloseHandle(held);
    EXPECT_TRUE(Exists(scratch / "c"));
    // Rewritten since (other bytes, a new last write), or another file under its name: stays.
    platform::ExpectedFile b = Expect(scratch.Path(), "b");
    Sleep(20);
    WriteBytes(scratch / "b", last);
    EXPECT_EQ(remove("b", b), Outcome::Changed);
    EXPECT_EQ(remove("b", c), Outcome::Changed);
    EXPECT_TRUE(Exists(scratch / "b"));
    // Read-only since the search: stays, as DeleteFileA would refuse it. (Made read-only
    // after the search, it would have changed since.)
    ASSERT_TRUE(SetFileAttributesA((scratch / "c").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(remove("c", c), Outcome::Changed);
    c = Expect(scratch.Path(), "c");
    EXPECT_EQ(remove("c", c), Outcome::WriteProtected);
    EXPECT_TRUE(Exists(scratch / "c"));
    SetFileAttributesA((scratch / "c").c_str(), FILE_ATTRIBUTE_NORMAL);
    // Its folder swapped for another of the same name holding a file of the same name.
    MakeFolder(scratch / "f");
    WriteBytes(scratch / "f\\x", content);
    platform::ExpectedFile x = Expect(scratch / "f", "x");
    ASSERT_TRUE(MoveFileA((scratch / "f").c_str(), (scratch / "g").c_str()));
    MakeFolder(scratch / "f");
    ASSERT_TRUE(CopyFileA((scratch / "g\\x").c_str(), (scratch / "f\\x").c_str(), FALSE));
    EXPECT_EQ(platform::RemoveFileIfUnchanged(platform::MemberFile{scratch / "f", "x", x}).kind,
              Outcome::Changed);
    EXPECT_TRUE(Exists(scratch / "f\\x"));
    EXPECT_EQ(platform::RemoveFileIfUnchanged(platform::MemberFile{scratch / "g", "x", x}).kind,
              Outcome::None);
}

// A folder as deep as a listing may go, and a file whose full path is longer than the ANSI
// calls take: it is catalogued, grouped with its copy, and deleted like any other.
TEST(LongPathTest, FileBeyondTheAnsiLimitIsFoundAndDeleted) {
    ScratchFolder scratch;
    std::string folder = scratch.Path();
    while (folder.size() + 1 + 100 < 240) {
        folder += "\\" + std::string(100, 'd');
        MakeFolder(folder);
    }
    folder += "\\" + std::string(244 - folder.size(), 'e');
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << GetLastError();
    std::string name(40, 'n');
    std::string content = wintest::Pattern(7000, 11);
    HANDLE file = CreateFileW((L"\\\\?\\" + std::wstring(folder.begin(), folder.end()) + L"\\" +
                               std::wstring(name.begin(), name.end()))
                                  .c_str(),
                              GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    WriteBytes(scratch / "copy", content);
    ASSERT_GT((folder + "\\" + name).size(), static_cast<size_t>(MAX_PATH));

    twinrake::AppState state;
    state.programDirectory = ProgramFolder();
    twinrake::ScanFolder(state.fileCatalogue, state.programDirectory, scratch.Path());
    twinrake::FindDuplicates(state);
    ASSERT_EQ(state.groupList.size(), 1u);
    ASSERT_EQ(state.groupList[0].memberCount, 2);
    auto deep = std::find_if(state.memberList.begin(), state.memberList.end(),
                             [&](const twinrake::GroupMember& m) { return m.name() == name; });
    ASSERT_NE(deep, state.memberList.end());
    EXPECT_EQ(deep->directory(), folder);
    EXPECT_FALSE(
        platform::RemoveFileIfUnchanged(platform::MemberFile{folder, name, deep->compared}));
    EXPECT_TRUE(ListAll(folder, "*.*").size() == 2u);  // only "." and ".." are left
    EXPECT_TRUE(Exists(scratch / "copy"));
}

}  // namespace
