#include "output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace cli {

Output::Output() {
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
}

void Output::Write(std::string_view text) {
    if (error_ == 0 && std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
        Failed();
    }
}

bool Output::Finish() {
    if (error_ == 0 && std::fflush(stdout) != 0) {
        Failed();
    }
    if (std::fclose(stdout) != 0 && error_ == 0) {
        Failed();
    }
    if (error_ == 0) {
        return true;
    }
    std::fprintf(stderr, "twinrake-find: write error: %s\n",
                 error_ > 0 ? std::strerror(error_) : "unknown cause");
    return false;
}

void Output::Failed() {
    error_ = errno != 0 ? errno : -1;
}

}  // namespace cli
