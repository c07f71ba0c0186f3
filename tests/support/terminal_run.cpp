#include "support/terminal_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace testsupport {

std::string reqwatchShellCommand(const std::vector<std::string>& arguments,
                                 const TemporaryFolder& sanitizerLogs) {
    std::string command = "ASAN_OPTIONS=log_path=" + sanitizerLogs.file("asan") +
                          " TSAN_OPTIONS='log_path=" + sanitizerLogs.file("tsan") +
                          " second_deadlock_stack=1 atexit_sleep_ms=0' " + REQWATCH_BINARY;
    for (const auto& argument : arguments) {
        command += " '" + argument + "'";
    }
    return command +
           "; echo \"exit=$?\"; stty -a | tr ' ;' '\\n\\n' | grep -xE -e '-?icanon' -e '-?echo'"
           " | tr '\\n' ' '; echo; sleep 600";
}

bool reqwatchEnded(const TmuxSession& terminal) {
    return terminal.screen().find("exit=") != std::string::npos;
}

void quitAndExpectCleanEnd(TmuxSession& terminal) {
    terminal.type("q");
    ASSERT_TRUE(terminal.waitForText("exit=")) << terminal.screen();
    ASSERT_TRUE(terminal.waitForText("icanon echo")) << terminal.screen();
    const std::string screen = terminal.screen();
    EXPECT_THAT(screen, ::testing::HasSubstr("exit=0"));
    EXPECT_THAT(screen, ::testing::Not(::testing::HasSubstr("Connected to")));
}

std::string sanitizerReports(const TemporaryFolder& sanitizerLogs) {
    std::string reports;
    for (const auto& entry : std::filesystem::directory_iterator(sanitizerLogs.path())) {
        std::ifstream in(entry.path());
        std::ostringstream content;
        content << in.rdbuf();
        reports += entry.path().filename().string() + ":\n" + content.str() + "\n";
    }
    return reports;
}

}  // namespace testsupport
