// The Qt tests that need a real X server: each run starts a private Xvfb of its own and puts
// the window on it through Qt's xcb platform, so that events take the way they take on a
// desktop. Listing the tests needs neither.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Starts Xvfb and gives its process and display number, or a process of -1.
std::pair<pid_t, std::string> StartXvfb() {
    int ready[2];
    if (pipe(ready) != 0) {
        return {-1, ""};
    }
    pid_t server = fork();
    if (server == 0) {
        close(ready[0]);
        prctl(PR_SET_PDEATHSIG, SIGTERM);  // a crashed test leaves no server behind
        std::string fd = std::to_string(ready[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
               "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    // The server writes its display number once it takes connections.
    std::string number;
    char c;
    while (server > 0 && read(ready[0], &c, 1) == 1 && c != '\n') {
        number.push_back(c);
    }
    close(ready[0]);
    if (server <= 0 || number.empty()) {
        return {-1, ""};
    }
    return {server, ":" + number};
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();
    }
    auto [server, display] = StartXvfb();
    if (server < 0) {
        std::fprintf(stderr, "xcb tests: Xvfb did not start (tools/install-deps.sh test)\n");
        return 1;
    }
    setenv("DISPLAY", display.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    unsetenv("WAYLAND_DISPLAY");
    int result;
    {
        QApplication application(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        result = RUN_ALL_TESTS();
    }
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    return result;
}
