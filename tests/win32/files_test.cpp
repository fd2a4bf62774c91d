// The Win32 file system: program folder, listings with their search-text limit and loop
// guard, drive roots, reading, identity, deleting, and the core's scan, comparison and
// deletion running over them.
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
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

struct Entry {
    std::string name;
    bool isFolder;
    int32_t size;
    bool operator==(const Entry&) const = default;
};

std::vector<Entry> ListAll(const std::string& folder, const std::string& pattern) {
    std::vector<Entry> entries;
    platform::ListingEntry entry;
    platform::Listing* listing = platform::ListFirst(folder, pattern, entry);
    if (listing == nullptr) {
        return entries;
    }
    do {
        entries.push_back({entry.name, entry.isFolder, entry.size});
    } while (platform::ListNext(listing, entry));
    platform::ListClose(listing);
    return entries;
}

bool Has(const std::vector<Entry>& entries, const Entry& wanted) {
    return std::find(entries.begin(), entries.end(), wanted) != entries.end();
}

struct Catalogued {
    std::string directory;
    std::string name;
    int32_t size;
    bool operator==(const Catalogued&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Catalogued& entry) {
    return out << entry.directory << " | " << entry.name << " (" << entry.size << ")";
}

std::vector<Catalogued> Scan(const std::string& folder) {
    twinrake::FileCatalogue catalogue;
    twinrake::ScanFolder(catalogue, platform::ProgramDirectory(), folder, "*.*", 0);
    std::vector<Catalogued> entries;
    for (const twinrake::FileEntry& entry : catalogue) {
        entries.push_back({std::string(entry.directory()), std::string(entry.name()), entry.size});
    }
    return entries;
}

// What a depth-first, pre-order walk in the platform's listing order must give.
void ExpectedWalk(const std::string& folder, std::vector<Catalogued>& entries) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*.*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        std::string name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            if (name != "." && name != "..") {
                ExpectedWalk(folder + "\\" + name, entries);
            }
        } else {
            entries.push_back({folder, name, static_cast<int32_t>(found.nFileSizeLow)});
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// A file of `length` bytes whose content is never written (sparse where the disk allows).
bool MakeLongFile(const std::string& path, int64_t length) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD ignored = 0;
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = length;
    bool ok = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return ok;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

TEST(ProgramDirectoryTest, IsTheExecutablesFolderWithItsBackslash) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string full = path;
    std::string directory = platform::ProgramDirectory();
    ASSERT_FALSE(directory.empty());
    EXPECT_EQ(directory.back(), '\\');
    EXPECT_EQ(directory, full.substr(0, full.rfind('\\') + 1));
    EXPECT_TRUE(Exists(directory + full.substr(full.rfind('\\') + 1)));
}

TEST(CurrentDirectoryTest, IsSetAndAFailureIsReported) {
    ScratchFolder scratch;
    ASSERT_TRUE(platform::MakeCurrentDirectory(scratch.Path()));
    char current[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, current);
    EXPECT_STRCASEEQ(current, scratch.Path().c_str());
    EXPECT_FALSE(platform::MakeCurrentDirectory(scratch / "missing"));
    EXPECT_FALSE(platform::MakeCurrentDirectory(""));
    platform::MakeCurrentDirectory(platform::ProgramDirectory());
}

TEST(SearchTextTest, FolderBackslashPatternAndTheLimitOf254) {
    using platform::win32::FormSearchText;
    std::string text = "unchanged";
    EXPECT_TRUE(FormSearchText("D:", "*.*", text));
    EXPECT_EQ(text, "D:\\*.*");
    EXPECT_TRUE(FormSearchText("D:\\Photos", "", text));
    EXPECT_EQ(text, "D:\\Photos\\*.*");
    EXPECT_TRUE(FormSearchText("D:\\", "*.txt", text));
    EXPECT_EQ(text, "D:\\*.txt");
    EXPECT_TRUE(FormSearchText("", "*.*", text));
    EXPECT_EQ(text, "*.*");
    std::string folder250 = "C:\\" + std::string(247, 'f');
    EXPECT_TRUE(FormSearchText(folder250, "*.*", text));
    EXPECT_EQ(text.size(), 254u);
    text = "unchanged";
    EXPECT_FALSE(FormSearchText(folder250 + "g", "*.*", text));
    EXPECT_EQ(text, "unchanged");
    EXPECT_FALSE(FormSearchText("C:\\" + std::string(5000, 'f'), "*.*", text));
}

TEST(ListingTest, DeliversDotsFilesAndFoldersWithTheirSizes) {
    ScratchFolder scratch;
    WriteBytes(scratch / "a.txt", "abc");
    WriteBytes(scratch / "empty.bin", "");
    MakeFolder(scratch / "sub");
    std::vector<Entry> entries = ListAll(scratch.Path(), "*.*");
    EXPECT_EQ(entries.size(), 5u);
    EXPECT_TRUE(Has(entries, {".", true, 0}));
    EXPECT_TRUE(Has(entries, {"..", true, 0}));
    EXPECT_TRUE(Has(entries, {"sub", true, 0}));
    EXPECT_TRUE(Has(entries, {"a.txt", false, 3}));
    EXPECT_TRUE(Has(entries, {"empty.bin", false, 0}));
    EXPECT_EQ(ListAll(scratch.Path(), ""), entries);  // an empty pattern matches every name
    std::vector<Entry> texts = ListAll(scratch.Path(), "*.txt");
    EXPECT_EQ(texts, (std::vector<Entry>{{"a.txt", false, 3}}));
}

TEST(ListingTest, AFolderThatCannotBeListedGivesNothing) {
    ScratchFolder scratch;
    platform::ListingEntry entry;
    EXPECT_EQ(platform::ListFirst(scratch / "missing", "*.*", entry), nullptr);
    WriteBytes(scratch / "file", "x");
    EXPECT_EQ(platform::ListFirst(scratch / "file", "*.*", entry), nullptr);
    EXPECT_EQ(platform::ListFirst(scratch.Path(), "*.nothing", entry), nullptr);
    EXPECT_FALSE(platform::ListNext(nullptr, entry));
    platform::ListClose(nullptr);
}

TEST(ListingTest, SearchTextsLongerThan254AreNotListed) {
    // Folder texts of exactly 250 and 251 characters: the first is listed, the second is not.
    ScratchFolder scratch;
    std::string folder = scratch.Path();
    while (folder.size() + 1 + 100 < 250) {
        folder += "\\" + std::string(100, 'd');
        MakeFolder(folder);
    }
    std::string at250 = folder + "\\" + std::string(250 - folder.size() - 1, 'e');
    std::string at251 = folder + "\\" + std::string(251 - folder.size() - 1, 'e');
    ASSERT_EQ(at250.size(), 250u);
    ASSERT_TRUE(CreateDirectoryA(("\\\\?\\" + at250).c_str(), nullptr)) << GetLastError();
    ASSERT_TRUE(CreateDirectoryA(("\\\\?\\" + at251).c_str(), nullptr)) << GetLastError();
    std::vector<Entry> listed = ListAll(at250, "*.*");
    EXPECT_TRUE(Has(listed, {".", true, 0}));
    platform::ListingEntry entry;
    EXPECT_EQ(platform::ListFirst(at251, "*.*", entry), nullptr);
    RemoveDirectoryA(("\\\\?\\" + at250).c_str());
    RemoveDirectoryA(("\\\\?\\" + at251).c_str());
}

TEST(ListingTest, SizeIsTheLow32BitsAsSignedWhileTheOpenSeesAll64) {
    ScratchFolder scratch;
    ASSERT_TRUE(MakeLongFile(scratch / "big.bin", 3000000000LL));
    ASSERT_TRUE(MakeLongFile(scratch / "wrap.bin", 4294967296LL + 5));
    std::vector<Entry> entries = ListAll(scratch.Path(), "*.bin");
    EXPECT_TRUE(Has(entries, {"big.bin", false, -1294967296}));
    EXPECT_TRUE(Has(entries, {"wrap.bin", false, 5}));
    int64_t length = 0;
    platform::FileIdentity identity;
    platform::OpenFile* file = platform::OpenForReading(scratch / "wrap.bin", length, identity);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(length, 4294967296LL + 5);
    platform::CloseFile(file);
    // Same low 32 bits, different real length: never identical.
    WriteBytes(scratch / "five.bin", std::string(5, '\0'));
    EXPECT_EQ(twinrake::CompareFiles(platform::ProgramDirectory(), scratch / "wrap.bin",
                                     scratch / "five.bin", 5),
              0);
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
    ASSERT_TRUE(
        SetFileAttributesA((scratch / "H").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(SetFileAttributesA((scratch / "hidden.txt").c_str(),
                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    std::vector<Catalogued> wanted;
    ExpectedWalk(scratch.Path(), wanted);
    ASSERT_EQ(wanted.size(), 6u);
    std::string folder = scratch.Path() + "\\";
    EXPECT_EQ(Scan(folder), wanted);
    EXPECT_EQ(folder.back(), '\\');
    EXPECT_EQ(Scan(scratch.Path()), wanted);  // with or without the trailing backslash
    std::vector<Catalogued> sorted = wanted;
    auto byName = [](const Catalogued& x, const Catalogued& y) { return x.name < y.name; };
    std::sort(sorted.begin(), sorted.end(), byName);
    EXPECT_EQ(sorted[0], (Catalogued{scratch.Path(), "a.txt", 1}));
    EXPECT_EQ(sorted[2], (Catalogued{scratch.Path(), "hidden.txt", 6}));
    EXPECT_EQ(sorted[3], (Catalogued{scratch / "H", "inside.txt", 5}));
    EXPECT_EQ(sorted[5], (Catalogued{scratch / "S\\T", "t.txt", 3}));
    // The current directory is the program's folder afterwards.
    char current[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, current);
    EXPECT_STRCASEEQ((std::string(current) + "\\").c_str(), platform::ProgramDirectory().c_str());
}

TEST(ScanTest, ARelativeFolderIsTakenFromTheProgramsFolder) {
    std::string name = "twr-relative-" + std::to_string(GetCurrentProcessId());
    std::string absolute = platform::ProgramDirectory() + name;
    MakeFolder(absolute);
    WriteBytes(absolute + "\\f.txt", "12");
    ScratchFolder elsewhere;
    SetCurrentDirectoryA(elsewhere.Path().c_str());
    EXPECT_EQ(Scan(name + "\\"), (std::vector<Catalogued>{{name, "f.txt", 2}}));
    wintest::RemoveTree(absolute);
}

// The drive letter comes from tools/test-windows.sh, which maps it to an empty folder.
class DriveRootTest : public ::testing::Test {
  protected:
    void SetUp() override {
        drive_ = Environment("TWINRAKE_TEST_DRIVE");
        ASSERT_FALSE(drive_.empty())
            << "set TWINRAKE_TEST_DRIVE to a drive letter mapped to an empty scratch folder "
               "(tools/test-windows.sh does)";
        ASSERT_EQ(drive_.size(), 2u);
        wintest::RemoveTree(drive_ + "\\", false);
    }
    void TearDown() override { wintest::RemoveTree(drive_ + "\\", false); }
    std::string drive_;
};

TEST_F(DriveRootTest, FilesOfTheRootHaveTheDriveAsDirectory) {
    WriteBytes(drive_ + "\\x.txt", "xx");
    MakeFolder(drive_ + "\\Photos");
    WriteBytes(drive_ + "\\Photos\\p.jpg", "ppp");
    std::vector<Catalogued> entries = Scan(drive_ + "\\");
    std::vector<Catalogued> wanted;
    ExpectedWalk(drive_, wanted);
    EXPECT_EQ(entries, wanted);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(std::find(entries.begin(), entries.end(), Catalogued{drive_, "x.txt", 2}) !=
                entries.end());
    EXPECT_TRUE(std::find(entries.begin(), entries.end(),
                          Catalogued{drive_ + "\\Photos", "p.jpg", 3}) != entries.end());
    EXPECT_EQ(twinrake::FullPath(drive_, "x.txt"), drive_ + "\\x.txt");
    // The full path opens the file.
    EXPECT_EQ(twinrake::CompareFiles(platform::ProgramDirectory(), drive_ + "\\x.txt",
                                     twinrake::FullPath(drive_, "x.txt"), 2),
              1);
    // The trimmed root lists the root, not the drive's current folder.
    std::vector<Entry> root = ListAll(drive_, "*.*");
    EXPECT_TRUE(Has(root, {"x.txt", false, 2}));
}

// A folder link back to an ancestor, made by tools/test-windows.sh (Wine shows a Unix
// symbolic link to a folder as a folder): <loop>\a.txt, <loop>\sub\b.txt, <loop>\sub\up -> <loop>.
class LoopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        loop_ = Environment("TWINRAKE_LOOP_FOLDER");
        ASSERT_FALSE(loop_.empty())
            << "set TWINRAKE_LOOP_FOLDER to a folder whose sub\\up leads back to it "
               "(tools/test-windows.sh makes one)";
        ASSERT_TRUE(Exists(loop_ + "\\sub\\up\\a.txt")) << "the link is missing";
    }
    std::string loop_;
};

TEST_F(LoopTest, TheScanDoesNotDescendIntoAFolderOnItsOwnDescentPath) {
    std::vector<Catalogued> entries = Scan(loop_ + "\\");
    std::sort(entries.begin(), entries.end(),
              [](const Catalogued& x, const Catalogued& y) { return x.name < y.name; });
    EXPECT_EQ(entries,
              (std::vector<Catalogued>{{loop_, "a.txt", 1}, {loop_ + "\\sub", "b.txt", 2}}));
}

TEST_F(LoopTest, OnlyOpenListingsOfTheDescentPathRefuse) {
    platform::ListingEntry entry;
    platform::Listing* outer = platform::ListFirst(loop_, "*.*", entry);
    ASSERT_NE(outer, nullptr);
    platform::Listing* sub = platform::ListFirst(loop_ + "\\sub", "*.*", entry);
    EXPECT_NE(sub, nullptr);
    EXPECT_EQ(platform::ListFirst(loop_ + "\\sub\\up", "*.*", entry), nullptr);
    platform::ListClose(sub);
    platform::ListClose(outer);
    // With nothing open above it, the link is an ordinary folder to list.
    platform::Listing* alone = platform::ListFirst(loop_ + "\\sub\\up", "*.*", entry);
    EXPECT_NE(alone, nullptr);
    platform::ListClose(alone);
}

TEST(JunctionTest, AJunctionBackToAnAncestorIsNotDescended) {
    ScratchFolder scratch;
    WriteBytes(scratch / "a.txt", "a");
    MakeFolder(scratch / "sub");
    MakeFolder(scratch / "sub\\back");
    HANDLE link =
        CreateFileA((scratch / "sub\\back").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    ASSERT_NE(link, INVALID_HANDLE_VALUE);
    // A mount-point reparse buffer: the NT target, then the printed target.
    char full[MAX_PATH] = {};
    GetFullPathNameA(scratch.Path().c_str(), MAX_PATH, full, nullptr);
    std::wstring target;
    for (const char* c = full; *c != '\0'; ++c) {
        target.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
    }
    std::wstring substitute = L"\\??\\" + target;
    std::vector<char> buffer(16 + (substitute.size() + target.size() + 2) * 2, '\0');
    auto put16 = [&](size_t at, size_t value) {
        buffer[at] = static_cast<char>(value & 0xFF);
        buffer[at + 1] = static_cast<char>((value >> 8) & 0xFF);
    };
    DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(buffer.data(), &tag, 4);
    put16(4, buffer.size() - 8);
    put16(8, 0);
    put16(10, substitute.size() * 2);
    put16(12, (substitute.size() + 1) * 2);
    put16(14, target.size() * 2);
    std::memcpy(buffer.data() + 16, substitute.c_str(), substitute.size() * 2);
    std::memcpy(buffer.data() + 16 + (substitute.size() + 1) * 2, target.c_str(),
                target.size() * 2);
    DWORD ignored = 0;
    BOOL made = DeviceIoControl(link, FSCTL_SET_REPARSE_POINT, buffer.data(),
                                static_cast<DWORD>(buffer.size()), nullptr, 0, &ignored, nullptr);
    DWORD error = GetLastError();
    CloseHandle(link);
    if (!made) {
        GTEST_SKIP() << "this system cannot make junctions (error " << error
                     << "); the symbolic-link loop test covers the guard";
    }
    std::vector<Catalogued> entries = Scan(scratch.Path());
    EXPECT_EQ(entries, (std::vector<Catalogued>{{scratch.Path(), "a.txt", 1}}));
    RemoveDirectoryA((scratch / "sub\\back").c_str());
}

TEST(OpenTest, LengthIdentityAndReadsInLargeBlocks) {
    ScratchFolder scratch;
    std::string content = wintest::Pattern(1 << 20, 7);
    WriteBytes(scratch / "one.bin", content);
    WriteBytes(scratch / "two.bin", content);
    int64_t length = 0;
    platform::FileIdentity first;
    platform::OpenFile* file = platform::OpenForReading(scratch / "one.bin", length, first);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(length, 1 << 20);
    std::string read(content.size() + 100, '\0');
    EXPECT_EQ(platform::ReadBytes(file, read.data(), read.size()), int64_t{1} << 20);
    read.resize(content.size());
    EXPECT_EQ(read, content);
    char more[16];
    EXPECT_EQ(platform::ReadBytes(file, more, sizeof more), 0);

    platform::FileIdentity again;
    platform::OpenFile* second = platform::OpenForReading(scratch / "one.bin", length, again);
    ASSERT_NE(second, nullptr);  // read sharing lets a second reader in
    EXPECT_EQ(again, first);
    platform::CloseFile(second);
    platform::FileIdentity other;
    platform::OpenFile* third = platform::OpenForReading(scratch / "two.bin", length, other);
    ASSERT_NE(third, nullptr);
    EXPECT_NE(other, first);
    platform::CloseFile(third);
    ASSERT_TRUE(
        CreateHardLinkA((scratch / "link.bin").c_str(), (scratch / "one.bin").c_str(), nullptr));
    platform::FileIdentity linked;
    platform::OpenFile* fourth = platform::OpenForReading(scratch / "link.bin", length, linked);
    ASSERT_NE(fourth, nullptr);
    EXPECT_EQ(linked, first);
    platform::CloseFile(fourth);
    platform::CloseFile(file);
}

TEST(OpenTest, ReadSharingOnly) {
    ScratchFolder scratch;
    WriteBytes(scratch / "f.txt", "content");
    int64_t length = 0;
    platform::FileIdentity identity;
    platform::OpenFile* file = platform::OpenForReading(scratch / "f.txt", length, identity);
    ASSERT_NE(file, nullptr);
    HANDLE writer =
        CreateFileA((scratch / "f.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);  // no writer while we read
    if (writer != INVALID_HANDLE_VALUE) {
        CloseHandle(writer);
    }
    platform::CloseFile(file);
    // A file open for writing elsewhere cannot be opened with read sharing only.
    HANDLE held =
        CreateFileA((scratch / "f.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(platform::OpenForReading(scratch / "f.txt", length, identity), nullptr);
    CloseHandle(held);
    EXPECT_EQ(platform::OpenForReading(scratch / "missing", length, identity), nullptr);
    EXPECT_EQ(platform::OpenForReading(scratch.Path(), length, identity), nullptr);
}

TEST(CompareTest, ThroughTheWin32Calls) {
    ScratchFolder scratch;
    std::string dir = platform::ProgramDirectory();
    std::string content = wintest::Pattern(5001, 3);
    WriteBytes(scratch / "a", content);
    WriteBytes(scratch / "b", content);
    std::string last = content;
    last.back() ^= 1;
    WriteBytes(scratch / "c", last);
    std::string first = content;
    first.front() ^= 1;
    WriteBytes(scratch / "d", first);
    EXPECT_EQ(twinrake::CompareFiles(dir, scratch / "a", scratch / "b", 5001), 1);
    EXPECT_EQ(twinrake::CompareFiles(dir, scratch / "a", scratch / "c", 5001), 0);
    EXPECT_EQ(twinrake::CompareFiles(dir, scratch / "d", scratch / "a", 5001), 0);
    EXPECT_EQ(twinrake::CompareFiles(dir, scratch / "a", scratch / "a", 5001), 1);
    EXPECT_EQ(twinrake::CompareFiles(dir, scratch / "missing", scratch / "a", 5001), 0);
    EXPECT_EQ(twinrake::CompareFiles(dir, scratch / "a", scratch / "missing", 5001), 0);
    // Catalogued at another size than the files have now: not identical.
    EXPECT_EQ(twinrake::CompareFiles(dir, scratch / "a", scratch / "b", 5000), 0);
    WriteBytes(scratch / "small1", "tiny");
    WriteBytes(scratch / "small2", "tiny");
    EXPECT_EQ(twinrake::CompareFiles(dir, scratch / "small1", scratch / "small2", 4), 1);
    // The second file is closed again when the first cannot be opened, and vice versa:
    // both can be deleted afterwards.
    EXPECT_TRUE(platform::RemoveFile(scratch / "a"));
    EXPECT_TRUE(platform::RemoveFile(scratch / "b"));
}

TEST(DeleteTest, RemovesTheFileAndReportsFailures) {
    ScratchFolder scratch;
    WriteBytes(scratch / "gone.txt", "x");
    WriteBytes(scratch / "stays.txt", "y");
    EXPECT_TRUE(platform::RemoveFile(scratch / "gone.txt"));
    EXPECT_FALSE(Exists(scratch / "gone.txt"));
    EXPECT_TRUE(Exists(scratch / "stays.txt"));
    EXPECT_FALSE(platform::RemoveFile(scratch / "gone.txt"));
    // Held open without delete sharing: it stays.
    HANDLE held = CreateFileA((scratch / "stays.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(platform::RemoveFile(scratch / "stays.txt"));
    CloseHandle(held);
    EXPECT_TRUE(Exists(scratch / "stays.txt"));
    EXPECT_FALSE(platform::RemoveFile(scratch.Path()));  // a folder is no file
    EXPECT_TRUE(Exists(scratch.Path()));
}

}  // namespace
