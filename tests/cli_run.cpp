#include "cli_run.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

namespace testing_support {

Outcome RunProgram(const std::string& program, const std::string& arguments,
                   const TempTree& scratch, const std::string& before) {
    std::string errFile = scratch.Path("stderr.txt");
    std::string command = before + program + " " + arguments + " 2>" + Quote(errFile);
    Outcome run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    std::array<char, 4096> buffer;
    size_t got = 0;
    while ((got = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        run.out.append(buffer.data(), got);
    }
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = scratch.Read("stderr.txt");
    return run;
}

std::string Quote(const std::string& path) {
    std::string quoted = "'";
    for (char c : path) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

}  // namespace testing_support
