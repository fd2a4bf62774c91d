#include "temp_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace testing_support {

namespace fs = std::filesystem;

TempTree::TempTree() : TempTree(fs::temp_directory_path().string()) {}

TempTree::TempTree(const std::string& parent) {
    std::string pattern = (fs::path(parent) / "twinrake-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    root_ = pattern;
}

TempTree::~TempTree() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

void TempTree::MakeFolder(const std::string& relative) const {
    fs::create_directories(Path(relative));
}

void TempTree::Write(const std::string& relative, const std::string& content) const {
    fs::path path = Path(relative);
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

void TempTree::Sparse(const std::string& relative, int64_t length, const std::string& head) const {
    fs::path path = Path(relative);
    fs::create_directories(path.parent_path());
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, head.data(), head.size()) != static_cast<ssize_t>(head.size()) ||
        ftruncate(fd, length) != 0) {
        throw std::runtime_error("cannot make sparse file " + path.string());
    }
    close(fd);
}

void TempTree::Symlink(const std::string& target, const std::string& relative) const {
    fs::create_symlink(target, Path(relative));
}

void TempTree::HardLink(const std::string& existing, const std::string& relative) const {
    fs::create_hard_link(Path(existing), Path(relative));
}

bool TempTree::Exists(const std::string& relative) const {
    return fs::exists(fs::symlink_status(Path(relative)));
}

std::string TempTree::Read(const std::string& relative) const {
    std::ifstream in(Path(relative), std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

std::string Numbered(const char* prefix, int number) {
    std::string name = prefix;
    name += std::to_string(number);
    return name;
}

std::string Content(uint32_t seed, size_t length) {
    std::mt19937 random(seed);
    std::string bytes(length, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

namespace {
void Walk(const std::string& folder, std::vector<std::string>& out) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return;
    }
    while (const dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        struct stat info;
        std::string path = folder + "/" + name;
        if (lstat(path.c_str(), &info) != 0) {
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            Walk(path, out);
        } else {
            int64_t size = S_ISREG(info.st_mode) ? info.st_size : 0;
            out.push_back(folder + "|" + name + "|" + std::to_string(size));
        }
    }
    closedir(dir);
}
}  // namespace

std::vector<std::string> ListingOrder(const std::string& folder) {
    std::vector<std::string> out;
    Walk(folder, out);
    return out;
}

}  // namespace testing_support
