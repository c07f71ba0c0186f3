#include "screen/help_text.h"

#include "report/value_formatting.h"

namespace reqwatch {

namespace {

const char* onOff(bool flag) {
    return flag ? "(ON)" : "(OFF)";
}

}  // namespace

std::string helpText(const Options& options) {
    std::string text;
    const auto line = [&text](const std::string& content) {
        text += content;
        text += '\n';
    };
    const auto listPart = [](const StringList& list) {
        return list.empty() ? std::string() : " (" + joinStrings(list, ",") + ")";
    };
    line("Output:");
    line(std::string(" d - ") +
         "display detailed information (size, username and average speed) for each URL in each "
         "connection" +
         " " + onOff(options.detail));
    line(std::string(" z - ") + "display zero values instead of silently omitting them" + " " +
         onOff(options.zero));
    line(std::string(" f - ") +
         "display full details (size, username, average speed, delay pool and elapsed time) for "
         "each URL in each connection" +
         " " + onOff(options.full));
    line(std::string(" b - ") + "display brief per-connection information, omits URLs" + " " +
         onOff(options.brief));
    line(std::string(" C - compact long urls to fit one line") + " " +
         onOff(options.compactLongUrls));
    line(std::string(" c - ") +
         "compact the display of multiple occurrences of the same URL in a single connection" +
         " " + onOff(options.compactSameUrls));
    line(" s - speed showing mode (" + settingName(options.speedMode) + ")");
    line(" o - connections sort order (" + settingName(options.sortOrder) + ")");
    line(std::string(" SPACE - stop refreshing ") + (options.refreshing ? "(OFF)" : "(ON)"));
    line(" UP/DOWN/PAGE_UP/PAGE_DOWN/HOME/END keys - scroll display");
    line(" ENTER - toggle showing/hiding: urls (for connections), full details (for urls)");
    line("");
    line("Filtering:");
    line(" H - comma-separated list of clients (by ip[/mask]) to show" + listPart(options.hosts));
    line(" u - comma-separated list of clients (by login) to show" + listPart(options.users));
    line("");
    line("Squid connection:");
    line(" h - address of Squid server (" + options.host + ")");
    line(" p - port of Squid server (" + formatNumber(options.port) + ")");
    line(" P - manager password" + (options.pass.empty() ? "" : " (" + options.pass + ")"));
    line(" r - set the refresh-interval for interactive mode (" +
         formatNumber(options.refreshInterval) + ")");
    line("");
    line("Resolver (working in " + options.resolver.resolveModeName() + " mode with " +
         options.resolver.methodName() + " in " + formatNumber(options.resolver.threadCount()) +
         " threads):");
    line(std::string(" n - ") + "do hostname lookups" + " " + onOff(options.hostnameLookups));
    line(std::string(" S - ") + "strip domain part of hostname" + " " + onOff(options.stripDomain));
    line(" R - hosts showing mode (" + settingName(options.hostsMode) + ")");
    line("");
    line("General:");
    line(" / - search for substring in hosts, usernames and urls");
    line(" w - save the settings to " +
         (options.settingsPath.empty() ? std::string("the settings file") : options.settingsPath));
    line(" ? - this help");
    line(" q - quit");
    line("");
    line("Press '?' again to return");
    return text;
}

}  // namespace reqwatch
