#include "screen/interactive_run.h"

namespace reqwatch {

int runInteractive(Options& /*options*/) { return 0; }

}  // namespace reqwatch
