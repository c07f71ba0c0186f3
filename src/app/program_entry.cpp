#include "app/program_entry.h"

#include <iostream>

#include "app/command_line.h"
#include "app/options.h"
#include "report/once_run.h"
#include "screen/interactive_run.h"

namespace reqwatch {

int runProgram(int argc, char** argv) {
    Options options;
    if (const auto status = parseCommandLine(argc, argv, options, std::cout, std::cerr)) {
        return *status;
    }
    if (options.interactive) {
        return runInteractive(options);
    }
    return runOnce(options, std::cout, std::cerr);
}

}  // namespace reqwatch
