// The command line parsed in process, as the program parses it at start.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "app/command_line.h"

namespace reqwatch {

struct Parsed {
    int status = -1;  // the exit status the command line asked for; -1: the run goes on
    std::string out;
    std::string err;
};

inline Parsed parse(Options& options, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "reqwatch");
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    std::ostringstream out;
    std::ostringstream err;
    const auto status =
        parseCommandLine(static_cast<int>(arguments.size()), argv.data(), options, out, err);
    return {status.value_or(-1), out.str(), err.str()};
}

}  // namespace reqwatch
