// reqwatch run by a shell in a real terminal (a TmuxSession), as the
// terminal tests run it: after it ends, the shell prints its exit status and
// the terminal's line mode, so that a test can tell a clean quit from a
// crash and see that the terminal was given back.
#pragma once

#include <string>
#include <vector>

#include "support/temporary_folder.h"
#include "support/tmux_session.h"

namespace testsupport {

// The command for the session: reqwatch with the arguments (each quoted),
// sanitizer reports to files in `sanitizerLogs`; then "exit=STATUS" and
// "icanon echo" (or "-icanon -echo" when the line mode was not restored).
std::string reqwatchShellCommand(const std::vector<std::string>& arguments,
                                 const TemporaryFolder& sanitizerLogs);

// Whether reqwatch has ended (the shell printed its status).
bool reqwatchEnded(const TmuxSession& terminal);

// Presses q and checks (with gtest) the status 0 and the restored terminal.
void quitAndExpectCleanEnd(TmuxSession& terminal);

// The reports the sanitizers wrote into the folder, with their contents;
// empty when there are none.
std::string sanitizerReports(const TemporaryFolder& sanitizerLogs);

}  // namespace testsupport
