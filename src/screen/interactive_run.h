#pragma once

#include "app/options.h"

namespace reqwatch {

// The live full-screen monitor; returns the exit status when the user quits.
int runInteractive(Options& options);

}  // namespace reqwatch
