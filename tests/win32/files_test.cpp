// The Win32 file system: program and current folder, listings with their search-text limit
// and loop guard, 64-bit sizes, drive roots, identity, and the core's scan, comparison and
// deletion running over them.
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "catalogue/lists.h"
#include "catalogue/scan.h"
#include "detect/compare.h"
#include "platform/files.h"
#include "platform/win32/win32_backend.h"
#include "test_support.h"

namespace {

using wintest::Exists;
using wintest::MakeFolder;
using wintest::ScratchFolder;
using wintest::WriteBytes;

using Entry = std::tuple<std::string, bool, int32_t>;              // name, folder, size
using Catalogued = std::tuple<std::string, std::string, int32_t>;  // directory, name, size

// Every entry of one listing, sorted by name.
std::vector<Entry> ListAll(const std::string& folder, const std::string& pattern) {
    std::vector<Entry> entries;
    platform::ListingEntry entry;
    platform::Listing* listing = platform::ListFirst(folder, pattern, entry);
    for (bool more = listing != nullptr; more; more = platform::ListNext(listing, entry)) {
        entries.emplace_back(entry.name, entry.isFolder, entry.size);
    }
    platform::ListClose(listing);
    std::sort(entries.begin(), entries.end());
    return entries;
}

// The scan's catalogue in its order, or sorted.
std::vector<Catalogued> Scan(const std::string& folder, bool sorted = false) {
    twinrake::FileCatalogue catalogue;
    twinrake::ScanFolder(catalogue, platform::ProgramDirectory(), folder, "*.*", 0);
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
            entries.emplace_back(folder, name, static_cast<int32_t>(found.nFileSizeLow));
        } else if (name != "." && name != "..") {
            ExpectedWalk(folder + "\\" + name, entries);
        }
    }
    FindClose(search);
}

int32_t Compare(const std::string& first, const std::string& second, int32_t size) {
    return twinrake::CompareFiles(platform::ProgramDirectory(), first, second, size);
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

TEST(FoldersTest, ProgramDirectoryEndsWithABackslashAndTheCurrentOneIsSet) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string full = path;
    EXPECT_EQ(platform::ProgramDirectory(), full.substr(0, full.rfind('\\') + 1));
    ScratchFolder scratch;
    ASSERT_TRUE(platform::MakeCurrentDirectory(scratch.Path()));
    char current[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, current);
    EXPECT_STRCASEEQ(current, scratch.Path().c_str());
    EXPECT_FALSE(platform::MakeCurrentDirectory(scratch / "missing"));
    platform::MakeCurrentDirectory(platform::ProgramDirectory());
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
    EXPECT_FALSE(ListAll(at250, "*.*").empty());
    EXPECT_TRUE(ListAll(at251, "*.*").empty());
    RemoveDirectoryA(("\\\\?\\" + at250).c_str());
    RemoveDirectoryA(("\\\\?\\" + at251).c_str());
}

TEST(ListingTest, GivesDotsFilesAndFoldersWithTheLow32BitsOfTheirSizes) {
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
    platform::ListingEntry entry;
    EXPECT_EQ(platform::ListFirst(scratch / "missing", "*.*", entry), nullptr);
    EXPECT_EQ(platform::ListFirst(scratch / "a.txt", "*.*", entry), nullptr);
    EXPECT_EQ(platform::ListFirst(scratch.Path(), "*.nothing", entry), nullptr);

    // The size is the low 32 bits as signed, while the open sees all 64.
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
    EXPECT_EQ(ListAll(scratch.Path(), "*.bin"), (std::vector<Entry>{{"big.bin", false, -1294967296},
                                                                    {"empty.bin", false, 0},
                                                                    {"wrap.bin", false, 5}}));
    int64_t length = 0;
    platform::FileIdentity identity;
    platform::OpenFile* file = platform::OpenForReading(scratch / "wrap.bin", length, identity);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(length, (1LL << 32) + 5);
    platform::CloseFile(file);
    // Same low 32 bits, different real length: never identical.
    WriteBytes(scratch / "five.bin", std::string(5, '\0'));
    EXPECT_EQ(Compare(scratch / "wrap.bin", scratch / "five.bin", 5), 0);
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
TEST(LoopTest, OnlyListingsOpenOnTheDescentPathRefuseSoTheScanEnds) {
    std::string loop = Environment("TWINRAKE_LOOP_FOLDER");
    ASSERT_TRUE(!loop.empty() && Exists(loop + "\\sub\\up\\a.txt"))
        << "set TWINRAKE_LOOP_FOLDER to a folder whose sub\\up leads back to it "
           "(tools/test-windows.sh makes one)";
    EXPECT_EQ(Scan(loop + "\\", true),
              (std::vector<Catalogued>{{loop, "a.txt", 1}, {loop + "\\sub", "b.txt", 2}}));
    platform::ListingEntry entry;
    platform::Listing* outer = platform::ListFirst(loop, "*.*", entry);
    ASSERT_NE(outer, nullptr);
    platform::Listing* sub = platform::ListFirst(loop + "\\sub", "*.*", entry);
    EXPECT_NE(sub, nullptr);
    EXPECT_EQ(platform::ListFirst(loop + "\\sub\\up", "*.*", entry), nullptr);
    platform::ListClose(sub);
    platform::ListClose(outer);
    // With nothing open above it, the link is an ordinary folder to list.
    EXPECT_FALSE(ListAll(loop + "\\sub\\up", "*.*").empty());
}

TEST(OpenTest, ReadsAllWithReadSharingOnlyAndTellsIdentityAcrossHardLinks) {
    ScratchFolder scratch;
    std::string content = wintest::Pattern(1 << 20, 7);
    WriteBytes(scratch / "one.bin", content);
    WriteBytes(scratch / "two.bin", content);
    ASSERT_TRUE(
        CreateHardLinkA((scratch / "link.bin").c_str(), (scratch / "one.bin").c_str(), nullptr));
    int64_t length = 0;
    platform::FileIdentity first, again, other, linked;
    platform::OpenFile* file = platform::OpenForReading(scratch / "one.bin", length, first);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(length, 1 << 20);
    std::string read(content.size() + 100, '\0');
    EXPECT_EQ(platform::ReadBytes(file, read.data(), read.size()), 1 << 20);
    EXPECT_EQ(read.substr(0, content.size()), content);
    EXPECT_EQ(platform::ReadBytes(file, read.data(), 16), 0);
    // Other readers may come in; no writer may while we read.
    HANDLE writer =
        CreateFileA((scratch / "one.bin").c_str(), GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    for (auto [name, identity] :
         {std::pair{"one.bin", &again}, {"two.bin", &other}, {"link.bin", &linked}}) {
        platform::OpenFile* second = platform::OpenForReading(scratch / name, length, *identity);
        EXPECT_NE(second, nullptr) << name;
        platform::CloseFile(second);
    }
    platform::CloseFile(file);
    EXPECT_EQ(again, first);
    EXPECT_NE(other, first);
    EXPECT_EQ(linked, first);
    // A file someone is writing cannot be opened; neither can what is missing or a folder.
    writer = CreateFileA((scratch / "two.bin").c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(platform::OpenForReading(scratch / "two.bin", length, other), nullptr);
    CloseHandle(writer);
    EXPECT_EQ(platform::OpenForReading(scratch / "missing", length, other), nullptr);
    EXPECT_EQ(platform::OpenForReading(scratch.Path(), length, other), nullptr);
}

TEST(CompareAndDeleteTest, ThroughTheWin32Calls) {
    ScratchFolder scratch;
    std::string content = wintest::Pattern(5001, 3), last = content;
    last.back() ^= 1;
    WriteBytes(scratch / "a", content);
    WriteBytes(scratch / "b", content);
    WriteBytes(scratch / "c", last);
    EXPECT_EQ(Compare(scratch / "a", scratch / "b", 5001), 1);
    EXPECT_EQ(Compare(scratch / "a", scratch / "c", 5001), 0);
    EXPECT_EQ(Compare(scratch / "missing", scratch / "a", 5001), 0);
    EXPECT_EQ(Compare(scratch / "a", scratch / "missing", 5001), 0);
    EXPECT_EQ(Compare(scratch / "a", scratch / "b", 5000), 0);  // the size has changed since
    // Every file was closed again, also after a failed open: all can be deleted.
    EXPECT_TRUE(platform::RemoveFile(scratch / "a"));
    EXPECT_TRUE(platform::RemoveFile(scratch / "b"));
    EXPECT_FALSE(Exists(scratch / "a"));
    EXPECT_TRUE(Exists(scratch / "c"));
    EXPECT_FALSE(platform::RemoveFile(scratch / "a"));
    // Held open without delete sharing: it stays. A folder is no file.
    HANDLE held = CreateFileA((scratch / "c").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    EXPECT_FALSE(platform::RemoveFile(scratch / "c"));
    CloseHandle(held);
    EXPECT_TRUE(Exists(scratch / "c"));
    EXPECT_FALSE(platform::RemoveFile(scratch.Path()));
    EXPECT_TRUE(Exists(scratch.Path()));
}

}  // namespace
