#include "app/options.h"

namespace reqwatch {

void Options::copySettings(const Options& other) {
    host = other.host;
    port = other.port;
    pass = other.pass;
    passFile = other.passFile;
    brief = other.brief;
    full = other.full;
    zero = other.zero;
    detail = other.detail;
    interactive = other.interactive;
    compactLongUrls = other.compactLongUrls;
    compactSameUrls = other.compactSameUrls;
    promptActive = other.promptActive;
    refreshInterval = other.refreshInterval;
    timeout = other.timeout;
    format = other.format;
    samples = other.samples;
    top = other.top;
    settingsPath = other.settingsPath;
    helpShown = other.helpShown;
    speedMode = other.speedMode;
    sortOrder = other.sortOrder;
    hostnameLookups = other.hostnameLookups;
    stripDomain = other.stripDomain;
    hostsMode = other.hostsMode;
}

}  // namespace reqwatch
