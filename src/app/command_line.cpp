#include "app/command_line.h"

#include <getopt.h>

#include <climits>
#include <filesystem>
#include <ostream>

#include "app/password_source.h"
#include "app/proxy_list.h"
#include "app/settings_file.h"
#include "common/text_helpers.h"

namespace reqwatch {

namespace {

constexpr int helpOption = 256;
constexpr int timeoutOption = 257;
constexpr int formatOption = 258;
constexpr int samplesOption = 259;
constexpr int topOption = 260;
constexpr int passFileOption = 261;
constexpr int configOption = 262;
constexpr int noConfigOption = 263;

// A count given with an option: a number from `least` up, else the message.
std::optional<std::int32_t> countOption(const char* text, std::int64_t least,
                                        const std::string& outOfRange, std::ostream& err) {
    std::int64_t value = 0;
    try {
        value = parseInteger(text);
    } catch (const std::string& message) {
        err << "Wrong number - " << message << "\n";
        return std::nullopt;
    }
    if (value < least || value > INT32_MAX) {
        err << outOfRange << "\n";
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

constexpr option longOptions[] = {
    {"host", required_argument, nullptr, 'h'},
    {"port", required_argument, nullptr, 'p'},
    {"hosts", required_argument, nullptr, 'H'},
    {"users", required_argument, nullptr, 'u'},
    {"pass", required_argument, nullptr, 'P'},
    {"help", no_argument, nullptr, helpOption},
    {"brief", no_argument, nullptr, 'b'},
    {"full", no_argument, nullptr, 'f'},
    {"zero", no_argument, nullptr, 'z'},
    {"detail", no_argument, nullptr, 'd'},
    {"once", no_argument, nullptr, 'o'},
    {"refreshinterval", required_argument, nullptr, 'r'},
    {"timeout", required_argument, nullptr, timeoutOption},
    {"format", required_argument, nullptr, formatOption},
    {"samples", required_argument, nullptr, samplesOption},
    {"top", required_argument, nullptr, topOption},
    {"pass-file", required_argument, nullptr, passFileOption},
    {"config", required_argument, nullptr, configOption},
    {"no-config", no_argument, nullptr, noConfigOption},
    {nullptr, 0, nullptr, 0},
};

constexpr const char* shortOptions =
    "u:H:h:p:P:dzbfc"
    "r:o"
    "nS";

}  // namespace

std::int32_t parsePort(const std::string& text) {
    return static_cast<std::int32_t>(
        parseBoundedInteger(text, 1, 65535, "Port should be from 1 to 65535"));
}

void printUsage(const std::string& invokedAs, std::ostream& out) {
    out << programName << " (shows active connections for squid)\n"
        << "version " << programVersion << "\n"
        << "\n"
        << "Usage:\n"
        << invokedAs
        << " [--help] [--host host] [--port port] [--pass password] [--hosts host1,host...]"
           " [--users user1,user2] [--brief] [--detail] [--full] [--zero] [-c]"
        << " [--once] [-r seconds]"
        << " [-n] [-S]"
        << " [--timeout seconds] [--format format] [--samples n] [--top k]"
        << " [--pass-file file] [--config file] [--no-config]"
        << "\n\t--help                       - show this help;"
        << "\n\t--host   (-h) host           - address of Squid server. Default - '127.0.0.1';"
        << "\n\t--port   (-p) port           - port of Squid server. Default - '3128';"
        << "\n\t--pass   (-P) password       - manager password;"
        << "\n\t--hosts  (-H) host1,host2... - comma-separated list of clients (by ip[/mask]) to "
           "show;"
        << "\n\t--users  (-u) user1,user2... - comma-separated list of clients (by login) to show;"
        << "\n\t--brief  (-b)                - display brief per-connection information, omits "
           "URLs;"
        << "\n\t--detail (-d)                - display detailed information (size, username and "
           "average speed) for each URL in each connection;"
        << "\n\t--full   (-f)                - display full details (size, username, average "
           "speed, delay pool and elapsed time) for each URL in each connection;"
        << "\n\t--zero   (-z)                - display zero values instead of silently omitting "
           "them;"
        << "\n\t-c                           - do not compact the display of multiple occurrences "
           "of the same URL in a single connection;"
        << "\n\t--once   (-o)                - disable interactive mode, just print statistics "
           "once to stdout;"
        << "\n\t--refreshinterval (-r) sec   - set the refresh-interval for interactive mode;"
        << "\n\t-n                           - do not do hostname lookups;"
        << "\n\t-S                           - do not strip domain part of hostname;"
        << "\n\t--timeout sec                - give up a fetch that takes longer than this;"
        << "\n\t--format format              - output of --once: report, json or openmetrics;"
        << "\n\t--samples n                  - with --once, take n samples -r seconds apart, 0 "
           "for no end;"
        << "\n\t--top k                      - clients with series of their own in openmetrics "
           "output. Default - '20';"
        << "\n\t--pass-file file             - read the manager password from the first line "
           "of this file;"
        << "\n\t--config file                - read the settings from this file. Default - "
           "'~/.config/reqwatch/config';"
        << "\n\t--no-config                  - start with the built-in settings."
        << "\n";
    out.flush();
}

namespace {

// The settings file the command line names (the last --config, or none
// after a later --no-config); the default one when it names none.
struct SettingsChoice {
    std::string path;
    bool named = false;  // by --config: it must exist
    bool none = false;   // --no-config
};

SettingsChoice settingsChoice(int argc, char** argv) {
    SettingsChoice choice{defaultSettingsPath(), false, false};
    const int reported = opterr;
    opterr = 0;  // the full scan below tells of every mistake
    optind = 0;
    for (int option;
         (option = getopt_long(argc, argv, shortOptions, longOptions, nullptr)) != -1;) {
        if (option == configOption) {
            choice = {optarg, true, false};
        } else if (option == noConfigOption) {
            choice.none = true;
        }
    }
    opterr = reported;
    return choice;
}

// After the command line: the password of a pass file, or of the
// environment when neither -P nor a pass file gave one.
std::optional<std::string> settlePassword(Options& options, bool fromOption) {
    if (fromOption) {
        return std::nullopt;
    }
    if (!options.passFile.empty()) {
        const auto read = readPasswordFile(options.passFile);
        if (read.failure) {
            return *read.failure;
        }
        options.pass = read.password;
        std::error_code ignored;
        const auto absolute = std::filesystem::absolute(options.passFile, ignored);
        if (!absolute.empty()) {
            options.passFile = absolute.string();
        }
        return std::nullopt;
    }
    if (const auto password = passwordFromEnvironment()) {
        options.pass = *password;
    }
    return std::nullopt;
}

}  // namespace

std::optional<int> parseCommandLine(int argc, char** argv, Options& options, std::ostream& out,
                                    std::ostream& err) {
    const std::string invokedAs = argc > 0 && argv[0] != nullptr ? argv[0] : programName;
    // The settings file first, so that the command line overrides it.
    const SettingsChoice settings = settingsChoice(argc, argv);
    options.settingsPath = settings.path;
    if (!settings.none && !settings.path.empty()) {
        if (const auto failure = readSettingsFile(settings.path, settings.named, options)) {
            err << *failure << "\n";
            return 1;
        }
    }
    // Whether the last word on the password came from -P (else from a pass
    // file, or nobody).
    bool passFromOption = false;
    optind = 0;  // a full restart of getopt's scan, also when called again
    for (;;) {
        const int option = getopt_long(argc, argv, shortOptions, longOptions, nullptr);
        if (option == -1) {
            if (options.interactive && (options.format != ReportFormat || options.samples != 1)) {
                err << "--format and --samples work with --once only\n";
                return 1;
            }
            try {
                parseProxyList(options.host, options.port);
            } catch (const std::string& message) {
                err << message << "\n";
                return 1;
            }
            if (const auto failure = settlePassword(options, passFromOption)) {
                err << *failure << "\n";
                return 1;
            }
            return std::nullopt;
        }
        switch (option) {
            case 'h':
                options.host = optarg;
                break;
            case 'P':
                options.pass = optarg;
                options.passFile.clear();
                passFromOption = true;
                break;
            case passFileOption:
                options.passFile = optarg;
                passFromOption = false;
                break;
            case configOption:
            case noConfigOption:
                break;  // taken before the other options
            case 'p':
                try {
                    options.port = parsePort(optarg);
                } catch (const std::string& message) {
                    err << "Unknown port - " << message << "\n";
                    return 1;
                }
                break;
            case 'H':
                options.hosts = splitString(optarg, ",");
                break;
            case 'u':
                options.users = splitLogins(optarg);
                break;
            case 'b':
                options.brief = true;
                break;
            case 'd':
                options.detail = true;
                break;
            case 'f':
                options.detail = true;
                options.full = true;
                break;
            case 'z':
                options.zero = true;
                break;
            case 'o':
                options.interactive = false;
                break;
            case 'c':
                options.compactSameUrls = false;
                break;
            case 'n':
                options.hostnameLookups = false;
                break;
            case 'S':
                options.stripDomain = false;
                break;
            case 'r': {
                std::int64_t interval = 0;
                try {
                    interval = parseInteger(optarg);
                } catch (const std::string& message) {
                    err << "Wrong number - " << message << "\n";
                    return 1;
                }
                if (interval < 1 || interval > INT32_MAX) {
                    err << "Refresh interval should be greater than 0, using default - "
                        << options.refreshInterval << "\n";
                } else {
                    options.refreshInterval = static_cast<std::int32_t>(interval);
                }
                break;
            }
            case timeoutOption: {
                const auto seconds =
                    countOption(optarg, 1, "Timeout should be greater than 0", err);
                if (!seconds) {
                    return 1;
                }
                options.timeout = *seconds;
                break;
            }
            case formatOption: {
                const std::string name = optarg;
                if (name == "report") {
                    options.format = ReportFormat;
                } else if (name == "json") {
                    options.format = JsonFormat;
                } else if (name == "openmetrics") {
                    options.format = OpenMetricsFormat;
                } else {
                    err << "Unknown format - '" << name << "', use report, json or openmetrics\n";
                    return 1;
                }
                break;
            }
            case samplesOption: {
                const auto samples =
                    countOption(optarg, 0, "Samples should be 0 (no end) or more", err);
                if (!samples) {
                    return 1;
                }
                options.samples = *samples;
                break;
            }
            case topOption: {
                const auto top = countOption(optarg, 0, "Top should be 0 or more", err);
                if (!top) {
                    return 1;
                }
                options.top = *top;
                break;
            }
            case helpOption:
                printUsage(invokedAs, out);
                return 0;
            default:
                // "-?" asks for the usage text; an unknown option or a missing
                // value is a mistake, which a script must see as one.
                if (option == '?' && optopt == '?') {
                    printUsage(invokedAs, out);
                    return 0;
                }
                printUsage(invokedAs, err);
                return 1;
        }
    }
}

}  // namespace reqwatch
