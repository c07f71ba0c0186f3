// Whether the terminal can carry the full-screen display at all.
#pragma once

#include <optional>
#include <string>

namespace reqwatch {

// Nothing when the terminal of standard output, as $TERM describes it, can
// place its cursor anywhere; otherwise what it lacks ("TERM=dumb cannot move
// the cursor", "TERM is not set").
std::optional<std::string> terminalShortcoming();

}  // namespace reqwatch
