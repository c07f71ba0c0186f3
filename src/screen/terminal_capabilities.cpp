#include "screen/terminal_capabilities.h"

#include <ncursesw/curses.h>
// After curses: the terminfo header defines a macro for every capability.
#include <ncursesw/term.h>
#include <unistd.h>

#include <cstdlib>

namespace reqwatch {

std::optional<std::string> terminalShortcoming() {
    const char* term = std::getenv("TERM");
    const std::string name = term != nullptr ? term : "";
    if (name.empty()) {
        return "TERM is not set";
    }
    int error = 0;
    TERMINAL* description = nullptr;
    if (setupterm(name.c_str(), STDOUT_FILENO, &error) != OK) {
        return "TERM=" + name + " is unknown";
    }
    description = cur_term;
    const char* moveCursor = tigetstr("cup");
    const bool canMove = moveCursor != nullptr && moveCursor != reinterpret_cast<char*>(-1);
    del_curterm(description);
    if (!canMove) {
        return "TERM=" + name + " cannot move the cursor";
    }
    return std::nullopt;
}

}  // namespace reqwatch
