// Settings that last, in a real terminal: the "w" key writes them and a new
// start takes them back; a folder that cannot be written is told; and a
// password from a file or the environment never shows in the argument list
// of the running program.
#include <sys/mount.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/fake_cache_manager.h"
#include "support/page_text.h"
#include "support/temporary_folder.h"
#include "support/terminal_run.h"
#include "support/tmux_session.h"

namespace reqwatch {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using testsupport::cacheManagerReply;
using testsupport::FakeCacheManager;
using testsupport::requestBlock;
using testsupport::TemporaryFolder;
using testsupport::TmuxSession;

std::string page() {
    return requestBlock("0x1", "10.0.0.1:5001", "http://a.example/one", "900000", "10.0", "alice") +
           requestBlock("0x2", "10.0.0.2:5002", "http://b.example/two", "300000", "10.0", "bob");
}

// The help text as the screen shows it, from "Output:" to its last line.
std::string helpOf(TmuxSession& terminal) {
    terminal.type("?");
    EXPECT_TRUE(terminal.waitForText("Press '?' again to return")) << terminal.screen();
    const std::string screen = terminal.screen();
    const auto start = screen.find("Output:");
    const auto end = screen.find("Press '?' again to return");
    terminal.type("?");
    return start == std::string::npos ? screen : screen.substr(start, end - start);
}

// The argument list of the running reqwatch whose command line holds `marker`.
std::string commandLineHolding(const std::string& marker) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            std::ifstream in(entry.path() / "cmdline", std::ios::binary);
            const std::string arguments((std::istreambuf_iterator<char>(in)), {});
            if (arguments.find(REQWATCH_BINARY) == 0 &&
                arguments.find(marker) != std::string::npos) {
                return arguments;
            }
        }
        std::this_thread::sleep_for(20ms);
    }
    return {};
}

class TerminalSettings : public ::testing::Test {
  protected:
    std::unique_ptr<TmuxSession> start(const std::string& environment,
                                       const std::vector<std::string>& arguments, int lines = 60) {
        return std::make_unique<TmuxSession>(
            environment + " " + testsupport::reqwatchShellCommand(arguments, sanitizerLogs), 120,
            lines);
    }
    void TearDown() override { EXPECT_EQ(testsupport::sanitizerReports(sanitizerLogs), ""); }

    TemporaryFolder sanitizerLogs;
    TemporaryFolder home;
};

TEST_F(TerminalSettings, WSavesEverySettingAndANewStartTakesThemBack) {
    FakeCacheManager server;
    server.setReply({cacheManagerReply(page())});
    const std::string secret = home.writeFile("secret", "pw\n", 0600);
    const std::string environment = "XDG_CONFIG_HOME=" + home.path();
    auto first = start(environment, {"-p", std::to_string(server.port()), "-n", "-b", "-f", "-z",
                                     "-c", "-S", "-r", "7", "-H", "10.0.0.0/8,10.0.0.2", "-u",
                                     "Bob", "--timeout", "9", "--pass-file", secret});
    ASSERT_TRUE(first->waitForText("Host: 10.0.0.2")) << first->screen();
    first->type("soRRCd");  // speed, order, names twice, long URLs, detail
    const std::string help = helpOf(*first);
    first->type("w");
    const std::string saved = "Settings saved to " + home.file("reqwatch/config");
    ASSERT_TRUE(first->waitForText(saved)) << first->screen();
    testsupport::quitAndExpectCleanEnd(*first);
    first.reset();

    std::ifstream in(home.file("reqwatch/config"));
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_THAT(text, HasSubstr("pass-file = " + secret + "\n"));
    EXPECT_THAT(text, Not(HasSubstr("pw\n")));

    auto second = start(environment, {});
    ASSERT_TRUE(second->waitForText("Host: 10.0.0.2")) << second->screen();
    EXPECT_EQ(helpOf(*second), help);
    EXPECT_THAT(help, HasSubstr(" P - manager password (pw)"));  // read from the file again
    testsupport::quitAndExpectCleanEnd(*second);
}

TEST_F(TerminalSettings, AFolderThatCannotBeWrittenIsToldOnTheTopLine) {
    FakeCacheManager server;
    server.setReply({cacheManagerReply(page())});
    const std::string folder = home.file("readonly");
    std::filesystem::create_directory(folder);
    std::string environment = "XDG_CONFIG_HOME=" + folder;
    std::string wrap;
    if (geteuid() == 0) {
        // Root writes anywhere a mode allows nobody: a read-only mount, in a
        // mount namespace of the test's own, stops it too.
        wrap = "unshare -m sh -c 'mount --bind " + folder + " " + folder + " && mount -o " +
               "remount,bind,ro " + folder + " && exec \"$0\" \"$@\"' ";
    } else {
        std::filesystem::permissions(
            folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    }
    std::vector<std::string> arguments{"-n", "-p", std::to_string(server.port())};
    std::string command = environment + " " + wrap + REQWATCH_BINARY;
    for (const auto& argument : arguments) {
        command += " '" + argument + "'";
    }
    command += "; echo \"exit=$?\"; sleep 600";
    TmuxSession terminal(command, 120, 30);
    ASSERT_TRUE(terminal.waitForText("Host: 10.0.0.1")) << terminal.screen();
    terminal.type("w");
    ASSERT_TRUE(terminal.waitForText("Cannot save the settings to " + folder +
                                     "/reqwatch/config: Read-only file system") ||
                terminal.waitForText("Cannot save the settings to " + folder +
                                     "/reqwatch/config: Permission denied"))
        << terminal.screen();
    EXPECT_FALSE(std::filesystem::exists(folder + "/reqwatch"));
    terminal.type("q");
    ASSERT_TRUE(terminal.waitForText("exit=0")) << terminal.screen();
}

TEST_F(TerminalSettings, APasswordFromAFileOrTheEnvironmentIsNeverInTheArgumentList) {
    FakeCacheManager server;
    server.setReply({cacheManagerReply(page())});
    const std::string secret = home.writeFile("secret", "file-password\n", 0600);
    const std::string port = std::to_string(server.port());
    struct Case {
        std::string environment;
        std::vector<std::string> arguments;
        std::string password;
        std::string authorization;  // admin:password in Base64
    };
    const Case cases[] = {
        {"REQWATCH_PASSWORD=env-password",
         {"-n", "-p", port},
         "env-password",
         "YWRtaW46ZW52LXBhc3N3b3Jk"},
        {"",
         {"-n", "-p", port, "--pass-file", secret},
         "file-password",
         "YWRtaW46ZmlsZS1wYXNzd29yZA=="},
    };
    for (const auto& item : cases) {
        const std::size_t before = server.connectionCount();
        auto terminal =
            start("XDG_CONFIG_HOME=" + home.path() + " " + item.environment, item.arguments, 30);
        ASSERT_TRUE(terminal->waitForText("Host: 10.0.0.1")) << terminal->screen();
        const std::string arguments = commandLineHolding("-p");
        ASSERT_FALSE(arguments.empty());
        EXPECT_EQ(arguments.find(item.password), std::string::npos) << arguments;
        ASSERT_GT(server.connectionCount(), before);
        EXPECT_THAT(server.requests()[before],
                    HasSubstr("Authorization: Basic " + item.authorization + "\n"));
        testsupport::quitAndExpectCleanEnd(*terminal);
    }
}

}  // namespace
}  // namespace reqwatch
