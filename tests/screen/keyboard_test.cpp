#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "screen/grid_surface.h"
#include "screen/key_codes.h"
#include "screen/screen.h"
#include "screen_fixtures.h"

namespace reqwatch {
namespace {

using ::testing::StartsWith;

class KeyboardTest : public ::testing::Test {
  protected:
    KeyboardTest() : grid(80, 24), screen(options, grid, [this] { return clock; }) {
        screen.setConnections(twoClients());
    }

    // Runs the keyboard loop over the keys, then quits.
    void press(const std::vector<int>& keys) {
        screen.redraw();  // as the refresh thread does after every sample
        grid.pushKeys(keys);
        grid.pushKeys({'q'});
        screen.quitRequested = false;
        screen.keyboardLoop();
        // Let every status message of these keys expire before the next ones.
        clock += 10;
    }
    void type(const std::string& text) {
        std::vector<int> keys(text.begin(), text.end());
        press(keys);
    }
    std::string topLine() const { return grid.row(0); }

    std::time_t clock = 5000;
    Options options;
    GridSurface grid;
    Screen screen;
};

TEST_F(KeyboardTest, SwitchesConfirmTheirNewState) {
    struct Case {
        int key;
        std::string message;
        bool Options::*flag;
    };
    const Case cases[] = {
        {'b', "Brief output ON", &Options::brief},
        {'b', "Brief output OFF", &Options::brief},
        {'d', "Detailed output ON", &Options::detail},
        {'z', "Showing zero values ON", &Options::zero},
        {'c', "Compacting same urls OFF", &Options::compactSameUrls},
        {'C', "Compacting long urls OFF", &Options::compactLongUrls},
        {'n', "Hostname lookups OFF", &Options::hostnameLookups},
        {'S', "Hostname domain part stripping OFF", &Options::stripDomain},
        {'S', "Hostname domain part stripping ON", &Options::stripDomain},
    };
    for (const auto& item : cases) {
        const bool before = options.*item.flag;
        press({item.key});
        EXPECT_EQ(screen.statusText, item.message);
        EXPECT_EQ(topLine().substr(0, item.message.size() + 2), " " + item.message + " ");
        EXPECT_NE(options.*item.flag, before);
    }
}

TEST_F(KeyboardTest, FullSetsDetailButLeavesItWhenSwitchedOff) {
    press({'f'});
    EXPECT_EQ(screen.statusText, "Showing full details ON");
    EXPECT_TRUE(options.full);
    EXPECT_TRUE(options.detail);
    press({'f'});
    EXPECT_EQ(screen.statusText, "Showing full details OFF");
    EXPECT_FALSE(options.full);
    EXPECT_TRUE(options.detail);
}

TEST_F(KeyboardTest, BriefForgetsToggledConnections) {
    screen.toggledConnections = {"10.0.0.1"};
    press({'b'});
    EXPECT_TRUE(screen.toggledConnections.empty());
}

TEST_F(KeyboardTest, ModesCycleThroughTheirNames) {
    std::vector<std::string> speeds;
    for (int i = 0; i < 3; ++i) {
        press({'s'});
        speeds.push_back(screen.statusText);
    }
    EXPECT_THAT(speeds, ::testing::ElementsAre("Speed showing mode - average only",
                                               "Speed showing mode - current only (if available)",
                                               "Speed showing mode - both current and average"));
    press({'o', 'o', 'o'});
    EXPECT_EQ(screen.statusText, "Connections sort order - by max time");
    press({'o'});
    EXPECT_EQ(screen.statusText, "Connections sort order - by size");
    press({'R'});
    EXPECT_EQ(screen.statusText, "Hosts showing mode - host name only");
    press({'R', 'R'});
    EXPECT_EQ(screen.statusText, "Hosts showing mode - both host name and ip");
    EXPECT_EQ(options.hostsMode, NameAndIp);
}

TEST_F(KeyboardTest, UnassignedKeysPointToTheHelpUnlessAnErrorIsShown) {
    for (const int key : {keys::Left, keys::Right, keys::LineFeed, keys::Resize, int{'x'}}) {
        press({key});
        EXPECT_EQ(screen.statusText, "Press ? for help") << key;
    }
    screen.statusText.clear();
    screen.errorText = "Connection refused while connecting to 127.0.0.1:3128";
    options.messageVisible = false;
    press({'x'});
    EXPECT_THAT(topLine(), ::testing::HasSubstr("Connection refused while connecting"));
    EXPECT_EQ(screen.statusText, "");
}

TEST_F(KeyboardTest, SpaceHelpAndQuit) {
    press({' '});
    EXPECT_FALSE(options.refreshing);
    EXPECT_THAT(grid.row(1), ::testing::HasSubstr("Statistics refreshing disabled"));
    press({'?'});
    EXPECT_TRUE(options.helpShown);
    EXPECT_EQ(grid.row(4).substr(0, 7), "Output:");
    // q while the help is shown: the loop ends at once.
    grid.pushKeys({'q', 'b'});
    screen.quitRequested = false;
    screen.keyboardLoop();
    EXPECT_TRUE(screen.quitRequested);
    EXPECT_FALSE(options.brief);
}

TEST_F(KeyboardTest, CursorKeysMoveTheSelection) {
    screen.setConnections(manyClients(8, 2));
    press({keys::Down, keys::Down, keys::Down});  // onto the separator: on to row 4
    EXPECT_EQ(screen.cursor, 4u);
    press({keys::Up});
    EXPECT_EQ(screen.cursor, 2u);
    press({keys::PageDown});
    EXPECT_EQ(screen.cursor, 12u);
    EXPECT_EQ(screen.lastMove, 10);
    press({keys::Home, keys::Up});
    EXPECT_EQ(screen.cursor, 0u);
    press({keys::End});
    EXPECT_EQ(screen.cursor, 30u);
    press({keys::Down});
    EXPECT_EQ(screen.cursor, 30u);
    screen.cursor = 4;
    press({keys::PageUp});
    EXPECT_EQ(screen.cursor, 0u);
    EXPECT_EQ(screen.scrollOffset, 0u);
    EXPECT_EQ(screen.lastMove, -10);
}

TEST_F(KeyboardTest, EnterTogglesTheSelectedConnectionOrUrl) {
    press({keys::CarriageReturn});  // the first connection: its URLs go
    EXPECT_THAT(screen.toggledConnections, ::testing::ElementsAre("10.0.0.1"));
    EXPECT_THAT(grid.row(5), StartsWith("  Host: 10.0.0.2"));  // after the separator
    press({keys::Enter});
    EXPECT_TRUE(screen.toggledConnections.empty());
    press({keys::Down, keys::CarriageReturn});
    EXPECT_THAT(screen.toggledUrls, ::testing::ElementsAre("0x1"));
    EXPECT_THAT(grid.row(4), ::testing::HasSubstr("(size: 8KB, time: 10s"));
}

TEST_F(KeyboardTest, RefreshIntervalPrompt) {
    struct Case {
        std::string answer;
        std::int32_t interval;
        std::string message;
    };
    const Case cases[] = {
        {"10", 10, ""},
        {"0", 10, "Invalid refresh interval"},
        {"-5", 10, "Invalid refresh interval"},
        {"2147483648", 10, "Invalid refresh interval"},
        {"abc", 10, "Unacceptable input"},
        {"5x", 10, "Invalid input 'x'"},
        {"", 10, "Unacceptable input"},
    };
    for (const auto& item : cases) {
        screen.statusText.clear();
        std::vector<int> keys{'r', keys::CtrlU};
        keys.insert(keys.end(), item.answer.begin(), item.answer.end());
        keys.push_back(keys::CarriageReturn);
        press(keys);
        EXPECT_EQ(options.refreshInterval, item.interval) << item.answer;
        EXPECT_EQ(screen.statusText, item.message) << item.answer;
        EXPECT_FALSE(options.promptActive);
    }
}

TEST_F(KeyboardTest, ConnectionPromptsEmptyTheListInEveryCase) {
    press({'p', keys::CtrlU, keys::CarriageReturn});
    EXPECT_EQ(options.port, 3128);
    EXPECT_TRUE(screen.connections.empty());
    screen.setConnections(twoClients());
    press({'p', keys::Backspace, keys::Backspace, keys::Backspace, keys::Backspace, '8', '0', '8',
           '0', keys::CarriageReturn});
    EXPECT_EQ(options.port, 8080);
    EXPECT_TRUE(screen.connections.empty());
    screen.setConnections(twoClients());
    press({'h', keys::Escape});
    EXPECT_EQ(screen.statusText, "invalid input");
    EXPECT_EQ(options.host, "127.0.0.1");
    EXPECT_TRUE(screen.connections.empty());
    press({'h', keys::CtrlU, 'p', 'r', 'o', 'x', 'y', keys::CarriageReturn});
    EXPECT_EQ(options.host, "proxy");
    press({'h', keys::CtrlU, keys::CarriageReturn});
    EXPECT_EQ(options.host, "proxy");
    press({'P', 's', 'e', 'c', keys::CarriageReturn});
    EXPECT_EQ(options.pass, "sec");
    press({'P', keys::CtrlU, keys::CarriageReturn});
    EXPECT_EQ(options.pass, "");
    press({'p', keys::CtrlU, 'x', keys::CarriageReturn});
    EXPECT_EQ(screen.statusText, "Unacceptable input");
    EXPECT_EQ(options.port, 8080);
    // A port the program could not connect to is refused, not shown.
    for (const std::string port : {"92158", "0", "-1"}) {
        std::vector<int> keys{'p', keys::CtrlU};
        keys.insert(keys.end(), port.begin(), port.end());
        keys.push_back(keys::CarriageReturn);
        press(keys);
        EXPECT_EQ(screen.statusText, "Invalid port") << port;
        EXPECT_EQ(options.port, 8080);
        EXPECT_THAT(topLine(), StartsWith(" Invalid port ")) << port;
    }
}

TEST_F(KeyboardTest, FilterPromptsTakeTheHostsAsTypedAndTheLoginsLowerCased) {
    std::vector<int> keys{'H'};
    for (const char c : std::string("10.0.0.0/8,192.168.1.1")) {
        keys.push_back(c);
    }
    keys.push_back(keys::CarriageReturn);
    press(keys);
    EXPECT_THAT(options.hosts, ::testing::ElementsAre("10.0.0.0/8", "192.168.1.1"));
    EXPECT_THAT(grid.row(1), ::testing::HasSubstr("Filtering by: 10.0.0.0/8, 192.168.1.1"));
    press({'H', keys::CtrlU, keys::CarriageReturn});
    EXPECT_TRUE(options.hosts.empty());
    // Logins are compared lower-cased, as the command line gives them.
    press({'u', 'A', 'L', 'i', 'c', 'e', ',', 'b', 'O', 'b', keys::CarriageReturn});
    EXPECT_THAT(options.users, ::testing::ElementsAre("alice", "bob"));
    EXPECT_THAT(grid.text(), ::testing::HasSubstr("Host: 10.0.0.1; User: alice"));
    EXPECT_THAT(grid.text(), ::testing::HasSubstr("Host: 10.0.0.2; User: bob"));
}

TEST_F(KeyboardTest, SearchPromptMovesTheSelection) {
    press({'/', 't', 'h', 'r', 'e', 'e', keys::CarriageReturn});
    EXPECT_EQ(screen.cursor, 5u);
    press({'/', 'n', 'o', 'n', 'e', keys::CarriageReturn});
    EXPECT_EQ(screen.statusText, "Failed to find 'none'");
    EXPECT_EQ(screen.cursor, 5u);
}

TEST_F(KeyboardTest, KeysChangeSettingsOnlyUnderTheScreensLock) {
    // The refresh thread may draw at any moment between two keys, so a key
    // must not change what a drawing pass reads while another thread holds
    // the lock.
    const auto settings = [this] {
        return screen.statusText + "|" + std::to_string(options.brief) +
               std::to_string(options.detail) + std::to_string(options.full) +
               std::to_string(options.zero) + std::to_string(options.compactSameUrls) +
               std::to_string(options.compactLongUrls) + std::to_string(options.hostnameLookups) +
               std::to_string(options.stripDomain) + std::to_string(options.speedMode) +
               std::to_string(options.sortOrder) + std::to_string(options.hostsMode);
    };
    for (const int key : {'b', 'd', 'f', 'z', 'c', 'C', 'n', 'S', 's', 'o', 'R'}) {
        std::unique_lock<ErrorCheckingMutex> held(screen.lock);
        const std::string before = settings();
        std::thread presser([this, key] { screen.handleKey(key); });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(settings(), before) << static_cast<char>(key);
        held.unlock();
        presser.join();
        held.lock();
        EXPECT_NE(settings(), before) << static_cast<char>(key);
    }
}

TEST_F(KeyboardTest, ThePromptOwnsTheTopLine) {
    grid.pushKeys({'h'});
    grid.pushText("x");
    // Stop inside the prompt: look at the line before the answer is given.
    screen.quitRequested = false;
    std::string seen;
    std::thread reader([this] { screen.keyboardLoop(); });
    for (int i = 0; i < 200 && seen.find("Squid host> 127.0.0.1x") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        seen = grid.row(0);
    }
    {
        std::lock_guard<ErrorCheckingMutex> guard(screen.lock);
        EXPECT_TRUE(options.promptActive);
        EXPECT_EQ(grid.cursorColumn(), 22);
        grid.pushKeys({keys::CarriageReturn, 'q'});
    }
    reader.join();
    EXPECT_THAT(seen, StartsWith("Squid host> 127.0.0.1x"));
    EXPECT_EQ(options.host, "127.0.0.1x");
}

}  // namespace
}  // namespace reqwatch
