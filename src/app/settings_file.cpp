#include "app/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "app/command_line.h"
#include "app/proxy_list.h"
#include "common/text_helpers.h"

namespace reqwatch {

namespace {

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool onOff(const std::string& value) {
    if (value == "on" || value == "yes" || value == "true") {
        return true;
    }
    if (value == "off" || value == "no" || value == "false") {
        return false;
    }
    throw std::string("'" + value + "' is not on or off");
}

// Throws the conversion's own text, or `range`.
std::int32_t number(const std::string& value, std::int64_t least, const std::string& range) {
    return static_cast<std::int32_t>(parseBoundedInteger(value, least, INT32_MAX, range));
}

template <typename Enumeration>
Enumeration choice(const std::string& value,
                   std::initializer_list<std::pair<const char*, Enumeration>> names) {
    std::string accepted;
    for (const auto& [name, enumerator] : names) {
        if (value == name) {
            return enumerator;
        }
        accepted += accepted.empty() ? name : std::string(", ") + name;
    }
    throw std::string("'" + value + "' is not one of " + accepted);
}

// One key of the file: how its value is read into the options, and how it
// is written from them.
struct Key {
    const char* name;
    std::function<void(const std::string&, Options&)> read;
    std::function<std::string(const Options&)> write;  // nothing to write: empty
};

const char* onOffText(bool flag) {
    return flag ? "on" : "off";
}

std::string enumText(std::int32_t value, std::initializer_list<const char*> names) {
    std::int32_t index = 0;
    for (const char* name : names) {
        if (index++ == value) {
            return name;
        }
    }
    return *names.begin();
}

const std::vector<Key>& keys() {
    static const std::vector<Key> table = {
        {"host",
         [](const std::string& value, Options& options) {
             if (value.empty()) {
                 throw std::string("no host given");
             }
             parseProxyList(value, options.port);  // throws what is wrong with the list
             options.host = value;
         },
         [](const Options& options) { return options.host; }},
        {"port",
         [](const std::string& value, Options& options) { options.port = parsePort(value); },
         [](const Options& options) { return std::to_string(options.port); }},
        {"pass-file",
         [](const std::string& value, Options& options) {
             if (value.empty()) {
                 throw std::string("no file given");
             }
             options.passFile = value;
         },
         [](const Options& options) { return options.passFile; }},
        {"refreshinterval",
         [](const std::string& value, Options& options) {
             options.refreshInterval =
                 number(value, 1, "Refresh interval should be greater than 0");
         },
         [](const Options& options) { return std::to_string(options.refreshInterval); }},
        {"timeout",
         [](const std::string& value, Options& options) {
             options.timeout = number(value, 0, "Timeout should be 0 (no limit) or more");
         },
         [](const Options& options) { return std::to_string(options.timeout); }},
        {"hosts",
         [](const std::string& value, Options& options) {
             options.hosts = splitString(value, ",");
         },
         [](const Options& options) { return joinStrings(options.hosts, ","); }},
        {"users",
         [](const std::string& value, Options& options) { options.users = splitLogins(value); },
         [](const Options& options) { return joinStrings(options.users, ","); }},
        {"brief", [](const std::string& value, Options& options) { options.brief = onOff(value); },
         [](const Options& options) { return onOffText(options.brief); }},
        // As -f: full details show the details too; "detail" comes after it.
        {"full",
         [](const std::string& value, Options& options) {
             options.full = onOff(value);
             options.detail = options.detail || options.full;
         },
         [](const Options& options) { return onOffText(options.full); }},
        {"detail",
         [](const std::string& value, Options& options) { options.detail = onOff(value); },
         [](const Options& options) { return onOffText(options.detail); }},
        {"zero", [](const std::string& value, Options& options) { options.zero = onOff(value); },
         [](const Options& options) { return onOffText(options.zero); }},
        {"compact-urls",
         [](const std::string& value, Options& options) { options.compactSameUrls = onOff(value); },
         [](const Options& options) { return onOffText(options.compactSameUrls); }},
        {"cut-long-urls",
         [](const std::string& value, Options& options) { options.compactLongUrls = onOff(value); },
         [](const Options& options) { return onOffText(options.compactLongUrls); }},
        {"lookups",
         [](const std::string& value, Options& options) { options.hostnameLookups = onOff(value); },
         [](const Options& options) { return onOffText(options.hostnameLookups); }},
        {"strip-domain",
         [](const std::string& value, Options& options) { options.stripDomain = onOff(value); },
         [](const Options& options) { return onOffText(options.stripDomain); }},
        {"speed",
         [](const std::string& value, Options& options) {
             options.speedMode = choice<SpeedMode>(
                 value, {{"both", BothSpeeds}, {"average", AverageOnly}, {"current", CurrentOnly}});
         },
         [](const Options& options) {
             return enumText(options.speedMode, {"both", "average", "current"});
         }},
        {"order",
         [](const std::string& value, Options& options) {
             options.sortOrder = choice<SortOrder>(value, {{"size", BySize},
                                                           {"current", ByCurrentSpeed},
                                                           {"average", ByAverageSpeed},
                                                           {"time", ByMaxTime}});
         },
         [](const Options& options) {
             return enumText(options.sortOrder, {"size", "current", "average", "time"});
         }},
        {"names",
         [](const std::string& value, Options& options) {
             options.hostsMode = choice<HostsMode>(
                 value, {{"both", NameAndIp}, {"name", NameOnly}, {"ip", IpOnly}});
         },
         [](const Options& options) {
             return enumText(options.hostsMode, {"both", "name", "ip"});
         }},
    };
    return table;
}

}  // namespace

std::string defaultSettingsPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && *config == '/') {
        return std::string(config) + "/reqwatch/config";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') {
        return std::string(home) + "/.config/reqwatch/config";
    }
    return {};
}

std::optional<std::string> readSettingsFile(const std::string& path, bool mustExist,
                                            Options& options) {
    std::ifstream file(path);
    if (!file) {
        const int error = errno;
        if (!mustExist && error == ENOENT) {
            return std::nullopt;
        }
        return "Cannot read the settings file " + path + ": " + std::strerror(error);
    }
    std::size_t number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        const std::string where = path + ":" + std::to_string(number) + ": ";
        const std::string text = trimmed(line);
        if (text.empty() || text[0] == '#') {
            continue;
        }
        const auto equals = text.find('=');
        if (equals == std::string::npos) {
            return where + "not a 'key = value' line";
        }
        const std::string key = trimmed(text.substr(0, equals));
        const std::string value = trimmed(text.substr(equals + 1));
        if (key == "pass" || key == "password") {
            return where +
                   "a password is not kept in the settings file; name a file that "
                   "holds it with pass-file";
        }
        const Key* found = nullptr;
        for (const auto& candidate : keys()) {
            if (key == candidate.name) {
                found = &candidate;
            }
        }
        if (found == nullptr) {
            return where + "unknown key '" + key + "'";
        }
        try {
            found->read(value, options);
        } catch (const std::string& reason) {
            return where + key + ": " + reason;
        }
    }
    if (file.bad()) {
        return "Cannot read the settings file " + path + ": " + std::strerror(errno);
    }
    return std::nullopt;
}

std::string settingsText(const Options& options) {
    std::string text =
        "# reqwatch settings: \"key = value\" lines; the command line overrides them.\n";
    for (const auto& key : keys()) {
        const std::string value = key.write(options);
        if (std::string(key.name) == "pass-file" && value.empty()) {
            continue;  // the password came from elsewhere, or there is none
        }
        text += key.name;
        text += value.empty() ? " =" : " = ";
        text += value;
        text += '\n';
    }
    return text;
}

std::optional<std::string> writeSettingsFile(const std::string& path, const Options& options) {
    const auto failure = [&path](int error) {
        return "Cannot save the settings to " + path + ": " + std::strerror(error);
    };
    if (path.empty()) {
        return std::string("Cannot save the settings: neither XDG_CONFIG_HOME nor HOME is set");
    }
    const std::filesystem::path file(path);
    std::error_code error;
    if (file.has_parent_path()) {
        std::filesystem::create_directories(file.parent_path(), error);
        if (error) {
            return failure(error.value());
        }
    }
    std::string temporary = path + ".XXXXXX";
    const int descriptor = ::mkstemp(temporary.data());  // mode 0600
    if (descriptor < 0) {
        return failure(errno);
    }
    const std::string text = settingsText(options);
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(descriptor, text.data() + written, text.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            const int saved = errno;
            ::close(descriptor);
            ::unlink(temporary.c_str());
            return failure(saved);
        }
        written += static_cast<std::size_t>(count);
    }
    if (::fsync(descriptor) != 0 || ::close(descriptor) != 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        return failure(saved);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        return failure(saved);
    }
    return std::nullopt;
}

}  // namespace reqwatch
