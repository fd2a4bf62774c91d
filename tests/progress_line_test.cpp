// twinrake-find's progress line: shown on a terminal only, rewritten in place, and cleared.
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "progress_line.h"

namespace {

// Runs `show` with standard error on a pseudo-terminal (or a pipe) and gives what it wrote.
template <typename Show>
std::string Written(bool terminal, Show show) {
    int reader = -1;
    int writer = -1;
    if (terminal) {
        if (openpty(&reader, &writer, nullptr, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "no pseudo-terminal";
            return {};
        }
    } else {
        int ends[2];
        EXPECT_EQ(pipe(ends), 0);
        reader = ends[0];
        writer = ends[1];
    }
    std::fflush(stderr);
    int saved = dup(2);
    dup2(writer, 2);
    show();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    close(writer);
    fcntl(reader, F_SETFL, O_NONBLOCK);
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = read(reader, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<size_t>(got));
    }
    close(reader);
    return text;
}

void ShowSome(bool wanted) {
    cli::ProgressLine line(wanted);
    line.Catalogued(7);  // too soon: a quick run shows nothing
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    line.Catalogued(1234);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    line.SearchBegins(40);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    line.Catalogued(9);
}

TEST(ProgressLineTest, ShownOnATerminalOnlyRewrittenInPlaceAndCleared) {
    // A terminal may turn the line's \r into something else; only the words are looked at.
    std::string shown = Written(true, [] { ShowSome(true); });
    const std::string first = "twinrake-find: 1234 files catalogued";
    const std::string second = "twinrake-find: files of 0 of 40 sizes compared";
    const std::string shorter = "twinrake-find: 9 files catalogued";
    EXPECT_EQ(shown, "\r" + first + "\r" + second + "\r" + shorter +
                         std::string(second.size() - shorter.size(), ' ') + "\r" +
                         std::string(shorter.size(), ' ') + "\r");
    EXPECT_EQ(Written(true, [] { ShowSome(false); }), "");  // --quiet
    EXPECT_EQ(Written(false, [] { ShowSome(true); }), "");  // a pipe
}

}  // namespace
