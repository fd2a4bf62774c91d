#include "progress_line.h"

#ifdef _WIN32
#include <io.h>
#define TWINRAKE_ISATTY(fd) _isatty(fd)
#define TWINRAKE_FILENO(stream) _fileno(stream)
#else
#include <unistd.h>
#define TWINRAKE_ISATTY(fd) isatty(fd)
#define TWINRAKE_FILENO(stream) fileno(stream)
#endif

namespace cli {

ProgressLine::ProgressLine(bool wanted)
    : shown_(wanted && TWINRAKE_ISATTY(TWINRAKE_FILENO(stderr)) != 0) {}

void ProgressLine::Catalogued(int64_t catalogued) {
    Show("twinrake-find: " + std::to_string(catalogued) + " files catalogued");
}

void ProgressLine::SearchBegins(int64_t sizes) {
    sizes_ = sizes;
    SizesRead(0);
}

void ProgressLine::SizesRead(int64_t sizes) {
    Show("twinrake-find: files of " + std::to_string(sizes) + " of " + std::to_string(sizes_) +
         " sizes compared");
}

void ProgressLine::Show(const std::string& text) {
    Clock::time_point now = Clock::now();
    if (!shown_ || now - began_ < kFirstAfter || now - lastShown_ < kEvery) {
        return;
    }
    lastShown_ = now;
    // Spaces over what the longer line before left, where no terminal code is sure to work.
    // Built by appending: GCC 12 warns falsely (-Wrestrict) of a literal and a temporary.
    std::string line(1, '\r');
    line.append(text);
    if (text.size() < width_) {
        line.append(width_ - text.size(), ' ');
    }
    width_ = text.size();
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void ProgressLine::Clear() {
    if (width_ == 0) {
        return;
    }
    std::string blank(1, '\r');
    blank.append(width_, ' ').push_back('\r');
    std::fputs(blank.c_str(), stderr);
    std::fflush(stderr);
    width_ = 0;
}

}  // namespace cli
