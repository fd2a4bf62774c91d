// The one place that reads file contents: decides whether two files of one catalogued size
// hold the same bytes, showing its progress in PrgFile for files of 4096 bytes or more.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/files.h"

namespace twinrake {

// Files below this size are compared without touching PrgFile.
inline constexpr int32_t kProgressThreshold = 4096;

enum class PairVerdict {
    Different,  // the bytes differ, a length or a read is off, or a file cannot be opened
    Identical,  // every one of `size` bytes of both files was read and is equal
    SameFile,   // the first file is the second one, or one of `excluded`, by identity
};

struct PairResult {
    PairVerdict verdict = PairVerdict::Different;
    platform::FileIdentity firstIdentity;   // valid when both files were opened
    platform::FileIdentity secondIdentity;  // valid when both files were opened
};

// Compares the first `size` bytes of both files. Identical only when both files' current
// lengths equal `size` and every byte was read from both and compared. With `checkIdentity`
// set, a first file that is physically the second file, or one of `excluded`, gives SameFile
// without being read.
PairResult ComparePair(const std::string& programDirectory, const std::string& firstPath,
                       const std::string& secondPath, int32_t size, bool checkIdentity,
                       std::span<const platform::FileIdentity> excluded);

// 1 when the two files hold the same `size` bytes, 0 when they differ or either cannot be
// opened. A file compared with itself gives 1.
int32_t CompareFiles(const std::string& programDirectory, const std::string& firstPath,
                     const std::string& secondPath, int32_t size);

// Whether the two files are, right now, two distinct physical files with the same bytes. Shows
// no progress; used before a copy is deleted.
bool StillCopies(const std::string& programDirectory, const std::string& path,
                 const std::string& otherPath);

// Sets a progress bar only when its value changes. Forget() makes the next value go through.
void ShowProgress(int32_t bar, int32_t percent);
void ForgetProgress();

}  // namespace twinrake
