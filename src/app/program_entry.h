#pragma once

namespace reqwatch {

// The whole program: reads the command line, takes the once-only or the
// interactive run, and returns the exit status.
int runProgram(int argc, char** argv);

}  // namespace reqwatch
