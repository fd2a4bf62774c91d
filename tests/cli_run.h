// twinrake-find run as a user runs it, through the shell, with its output, errors and status.
#pragma once

#include <string>

#include "temp_tree.h"

namespace testing_support {

struct Outcome {
    std::string out;
    std::string err;
    int status = -1;
};

// Runs `program` with `arguments` (shell words) and its standard error in a file of `scratch`.
// `before` goes ahead of the program in the shell command: "cd DIR && ", a privilege drop.
Outcome RunProgram(const std::string& program, const std::string& arguments,
                   const TempTree& scratch, const std::string& before = "");

// `path` as one shell word.
std::string Quote(const std::string& path);

}  // namespace testing_support
