// The settings file, the password file and REQWATCH_PASSWORD: what each
// sets, which wins, and what a bad one says.
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/command_line.h"
#include "app/settings_file.h"
#include "parsed_command_line.h"
#include "support/fake_cache_manager.h"
#include "support/process.h"
#include "support/temporary_folder.h"

namespace reqwatch {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testsupport::TemporaryFolder;

// A home of the test's own: the default settings file lies in it.
class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", home.path().c_str(), 1);
        unsetenv("REQWATCH_PASSWORD");
    }
    void TearDown() override { unsetenv("REQWATCH_PASSWORD"); }
    std::string writeDefault(const std::string& text) {
        mkdir(home.file("reqwatch").c_str(), 0700);
        const std::string path = home.file("reqwatch/config");
        std::ofstream(path) << text;
        return path;
    }

    TemporaryFolder home;
};

TEST_F(SettingsTest, EveryKeySetsItsSettingAndTheCommandLineOverridesIt) {
    const std::string secret = home.writeFile("secret", "s3cret\n", 0600);
    writeDefault(
        "# settings\n\n"
        "host = proxy.example\nport=8080\n  pass-file =  " +
        secret +
        "  \nrefreshinterval = 7\ntimeout = 9\nhosts = 10.0.0.0/8,10.1.2.3\nusers = Alice,bob\n"
        "brief = on\nfull = on\ndetail = off\nzero = yes\ncompact-urls = off\n"
        "cut-long-urls = false\nlookups = no\nstrip-domain = off\nspeed = current\n"
        "order = time\nnames = ip\n");
    Options options;
    ASSERT_EQ(parse(options, {}).status, -1);
    EXPECT_EQ(options.host, "proxy.example");
    EXPECT_EQ(options.port, 8080);
    EXPECT_EQ(options.pass, "s3cret");
    EXPECT_EQ(options.passFile, secret);
    EXPECT_EQ(options.refreshInterval, 7);
    EXPECT_EQ(options.timeout, 9);
    EXPECT_THAT(options.hosts, ElementsAre("10.0.0.0/8", "10.1.2.3"));
    EXPECT_THAT(options.users, ElementsAre("alice", "bob"));
    EXPECT_TRUE(options.brief);
    EXPECT_TRUE(options.full);
    EXPECT_FALSE(options.detail);  // after full, which set it
    EXPECT_TRUE(options.zero);
    EXPECT_FALSE(options.compactSameUrls);
    EXPECT_FALSE(options.compactLongUrls);
    EXPECT_FALSE(options.hostnameLookups);
    EXPECT_FALSE(options.stripDomain);
    EXPECT_EQ(options.speedMode, CurrentOnly);
    EXPECT_EQ(options.sortOrder, ByMaxTime);
    EXPECT_EQ(options.hostsMode, IpOnly);

    Options overridden;
    ASSERT_EQ(
        parse(overridden, {"-h", "other", "-p", "3129", "-r", "3", "-H", "", "-P", "typed"}).status,
        -1);
    EXPECT_EQ(overridden.host, "other");
    EXPECT_EQ(overridden.port, 3129);
    EXPECT_EQ(overridden.refreshInterval, 3);
    EXPECT_TRUE(overridden.hosts.empty());
    EXPECT_EQ(overridden.pass, "typed");
    EXPECT_EQ(overridden.passFile, "");

    Options builtIn;  // --no-config: the defaults, whatever the file says
    ASSERT_EQ(parse(builtIn, {"--no-config"}).status, -1);
    EXPECT_EQ(builtIn.host, "127.0.0.1");
    EXPECT_EQ(builtIn.pass, "");
}

TEST_F(SettingsTest, TheSettingsRoundTripThroughTheWrittenFile) {
    Options options;
    options.host = "a.example,b.example:3130";
    options.port = 8080;
    options.passFile = home.writeFile("secret", "pw\n", 0600);
    options.pass = "pw";
    options.refreshInterval = 11;
    options.timeout = 4;
    options.hosts = {"10.0.0.0/8", "192.168.1.1"};
    options.users = {"alice"};
    options.brief = true;
    options.full = true;
    options.detail = false;
    options.zero = true;
    options.compactSameUrls = false;
    options.compactLongUrls = false;
    options.hostnameLookups = false;
    options.stripDomain = false;
    options.speedMode = AverageOnly;
    options.sortOrder = ByAverageSpeed;
    options.hostsMode = NameOnly;
    const std::string path = home.file("deep/folder/config");
    ASSERT_EQ(writeSettingsFile(path, options), std::nullopt);
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    std::ifstream in(path);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_THAT(text, Not(HasSubstr("pw\n")));  // the password itself never
    EXPECT_THAT(text, HasSubstr("pass-file = " + options.passFile + "\n"));

    Options read;
    ASSERT_EQ(readSettingsFile(path, true, read), std::nullopt);
    EXPECT_EQ(settingsText(read), settingsText(options));
    EXPECT_EQ(read.host, options.host);
    EXPECT_EQ(read.detail, false);
    EXPECT_EQ(read.full, true);

    // Without a pass file no pass-file line, and never the password.
    options.passFile.clear();
    options.pass = "typed-secret";
    EXPECT_THAT(settingsText(options), Not(HasSubstr("pass")));
}

TEST_F(SettingsTest, ABadLineStopsTheProgramNamingFileAndLine) {
    const std::string path = home.file("settings");
    struct Case {
        std::string line;
        std::string reason;
    };
    const Case cases[] = {
        {"colour = red", "unknown key 'colour'"},
        {"just words", "not a 'key = value' line"},
        {"port = 70000", "port: Port should be from 1 to 65535"},
        {"port = 80x", "port: Invalid input 'x'"},
        {"refreshinterval = 0", "refreshinterval: Refresh interval should be greater than 0"},
        {"brief = maybe", "brief: 'maybe' is not on or off"},
        {"order = random", "order: 'random' is not one of size, current, average, time"},
        {"host =", "host: no host given"},
        {"host = a,,b", "host: Unknown host - an empty entry in the list"},
        {"pass = secret",
         "a password is not kept in the settings file; name a file that holds it with pass-file"},
    };
    for (const auto& item : cases) {
        std::ofstream(path) << "# comment\nzero = on\n" << item.line << "\n";
        Options options;
        const auto parsed = parse(options, {"--config", path});
        EXPECT_EQ(parsed.status, 1) << item.line;
        EXPECT_EQ(parsed.err, path + ":3: " + item.reason + "\n");
    }
    // A --config file must be there; a missing default file is no failure.
    Options options;
    const auto missing = parse(options, {"--config", home.file("nothing")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "Cannot read the settings file " + home.file("nothing") +
                               ": No such file or directory\n");
    EXPECT_EQ(parse(options, {}).status, -1);
}

TEST_F(SettingsTest, ThePasswordComesFromTheLastOptionThenAPassFileThenTheEnvironment) {
    const std::string file = home.writeFile("secret", "from-file\r\nsecond line\n", 0600);
    const std::string other = home.writeFile("other", "from-other", 0600);
    setenv("REQWATCH_PASSWORD", "from-environment", 1);
    struct Case {
        std::string settings;
        std::vector<std::string> arguments;
        std::string password;
    };
    const Case cases[] = {
        {"", {}, "from-environment"},
        {"", {"-P", "typed"}, "typed"},
        {"", {"--pass-file", file}, "from-file"},
        {"", {"--pass-file", file, "-P", "typed"}, "typed"},
        {"", {"-P", "typed", "--pass-file", file}, "from-file"},
        {"pass-file = " + other + "\n", {}, "from-other"},
        {"pass-file = " + other + "\n", {"--pass-file", file}, "from-file"},
        {"pass-file = " + other + "\n", {"-P", ""}, ""},
    };
    for (const auto& item : cases) {
        writeDefault(item.settings);
        Options options;
        ASSERT_EQ(parse(options, item.arguments).status, -1) << item.settings;
        EXPECT_EQ(options.pass, item.password) << ::testing::PrintToString(item.arguments);
    }
}

// Through the executable: a pass file that others may read is refused
// before any connection.
TEST(PasswordFile, OnlyAPrivateFileIsTaken) {
    TemporaryFolder folder;
    testsupport::FakeCacheManager server;
    server.setReply({testsupport::cacheManagerReply("")});
    const std::string port = std::to_string(server.port());
    struct Case {
        mode_t mode;
        std::string content;
        bool taken;
    };
    const Case cases[] = {{0644, "pw\n", false}, {0640, "pw\n", false}, {0604, "pw\n", false},
                          {0600, "\n", false},   {0600, "pw\n", true},  {0400, "pw", true}};
    for (const auto& item : cases) {
        const std::string file = folder.writeFile("secret", item.content, 0600);
        chmod(file.c_str(), item.mode);
        const auto result = testsupport::runReqwatch({"--once", "--pass-file", file, "-p", port});
        if (item.taken) {
            EXPECT_EQ(result.status, 0) << result.err;
            continue;
        }
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, item.content == "\n"
                                  ? "The password file " + file + " is empty\n"
                                  : "The password file " + file +
                                        " can be read or written by others; make it private "
                                        "with chmod 600 " +
                                        file + "\n")
            << std::oct << item.mode;
    }
    const auto missing =
        testsupport::runReqwatch({"--once", "--pass-file", folder.file("none"), "-p", port});
    EXPECT_EQ(missing.err, "Cannot read the password file " + folder.file("none") +
                               ": No such file or directory\n");
    // Two connections were made, by the two runs that took their file.
    EXPECT_EQ(server.connectionCount(), 2u);
    for (const auto& request : server.requests()) {
        EXPECT_THAT(request, HasSubstr("Authorization: Basic YWRtaW46cHc=\n"));  // admin:pw
    }
}

}  // namespace
}  // namespace reqwatch
