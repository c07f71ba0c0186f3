#include "page_generator.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <ctime>
#include <string_view>

namespace reqwatch::pagegen {

namespace {

constexpr std::int64_t microsPerSecond = 1000000;

constexpr std::array<std::string_view, 32> hostNames = {
    "www.example.com",      "cdn.example.net",    "static.example.org",    "api.example.com",
    "images.example.net",   "video.example.com",  "download.example.org",  "mirror.example.net",
    "update.example.com",   "news.example.org",   "mail.example.com",      "maps.example.net",
    "fonts.example.org",    "ads.example.com",    "tracker.example.net",   "wiki.example.org",
    "shop.example.com",     "media.example.net",  "files.example.org",     "portal.example.com",
    "search.example.net",   "docs.example.org",   "git.example.com",       "packages.example.net",
    "security.example.org", "login.example.com",  "telemetry.example.net", "weather.example.org",
    "radio.example.com",    "backup.example.net", "intranet.corp.example", "proxy-test.example.org",
};

constexpr std::array<std::string_view, 24> pathWords = {
    "assets", "img",    "js",     "css",     "v2",      "api",   "static", "files",
    "pool",   "main",   "dists",  "stable",  "release", "media", "thumbs", "user",
    "search", "update", "chunks", "content", "feed",    "embed", "dl",     "cache",
};

constexpr std::array<std::string_view, 12> extensions = {
    ".html", ".js", ".css", ".png", ".jpg", ".json", ".bin", ".iso", ".deb", ".mp4", ".gz", "",
};

constexpr std::array<std::string_view, 24> firstNames = {
    "alice", "bob",    "carol",   "dave", "erin",   "frank", "grace",  "heidi",
    "ivan",  "judy",   "mallory", "niaj", "olivia", "peggy", "rupert", "sybil",
    "trent", "victor", "walter",  "xena", "yusuf",  "zoe",   "backup", "printer",
};

constexpr std::array<std::string_view, 6> fdDescriptions = {
    "Reading next request", "Waiting for next request", "Reading reply", "Writing reply",
    "Tunnel client",        "client http connect",
};

constexpr std::string_view queryCharacters =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_.~%";

void appendNumber(std::string& out, std::int64_t value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

void appendHex(std::string& out, std::uint64_t value, int width = 0, bool upper = false) {
    char digits[24];
    auto result = std::to_chars(digits, digits + sizeof digits, value, 16);
    const auto length = static_cast<int>(result.ptr - digits);
    for (int pad = length; pad < width; ++pad) {
        out += '0';
    }
    if (upper) {
        std::transform(digits, result.ptr, digits,
                       [](char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 32) : c; });
    }
    out.append(digits, result.ptr);
}

// Microseconds as "<seconds>.<six digits>".
void appendSeconds(std::string& out, std::int64_t micros) {
    appendNumber(out, micros / microsPerSecond);
    out += '.';
    const std::int64_t fraction = micros % microsPerSecond;
    for (std::int64_t scale = microsPerSecond / 10; scale > 1 && fraction < scale; scale /= 10) {
        out += '0';
    }
    appendNumber(out, fraction);
}

std::string upperCase(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

// Client number `index` as a distinct 10.x.y.z address, scattered over the
// network rather than counted up, with z from 1 to 254.
std::string clientAddress(std::size_t index, std::uint64_t seed) {
    constexpr std::uint64_t addresses = 254ull * 65536ull;  // 2^17 * 127
    // Both factors are prime to `addresses`, so the map is one to one.
    const std::uint64_t scattered = (index * 40503ull + seed % addresses) % addresses;
    const std::uint64_t z = 1 + scattered % 254;
    const std::uint64_t xy = scattered / 254;
    std::string out = "10.";
    appendNumber(out, static_cast<std::int64_t>(xy >> 8));
    out += '.';
    appendNumber(out, static_cast<std::int64_t>(xy & 0xff));
    out += '.';
    appendNumber(out, static_cast<std::int64_t>(z));
    return out;
}

std::string httpDate(std::int64_t micros) {
    const std::time_t seconds = static_cast<std::time_t>(micros / microsPerSecond);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[64];
    const std::size_t length =
        std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return std::string(text, length);
}

void appendBlock(std::string& out, const PageSample& sample, const PageRequest& request) {
    out += "Connection: 0x";
    appendHex(out, request.id);
    out += "\n\tFD ";
    appendNumber(out, request.fd);
    out += ", read ";
    appendNumber(out, request.requestBytes);
    out += ", wrote ";
    appendNumber(out, request.size);
    out += "\n\tFD desc: ";
    out += fdDescriptions[request.tunnel ? 4 + request.fd % 2 : request.fd % 4];
    out += "\n\tin: buf 0x";
    appendHex(out, request.bufferAddress);
    out += ", used 0, free ";
    appendNumber(out, 4095 - request.requestBytes % 4096);
    out += "\n\tremote: ";
    out += sample.clientAddresses[request.client];
    out += ':';
    appendNumber(out, request.clientPort);
    out += "\n\tlocal: 172.16.0.1:3128\n\tnrequests: ";
    appendNumber(out, 1 + request.fd % 3);
    out += "\nuri ";
    out += request.uri;
    out += "\nlogType ";
    out += request.tunnel ? "TCP_TUNNEL" : request.cacheHit ? "TCP_HIT" : "TCP_MISS";
    out += "\nout.offset ";
    appendNumber(out, request.size > request.headerBytes ? request.size - request.headerBytes : 0);
    out += ", out.size ";
    appendNumber(out, request.size);
    out += "\nreq_sz ";
    appendNumber(out, request.requestBytes);
    out += "\nentry 0x";
    appendHex(out, request.entryAddress);
    out += '/';
    appendHex(out, request.storeKey[0], 16, true);
    appendHex(out, request.storeKey[1], 16, true);
    out += "\nstart ";
    appendSeconds(out, request.startMicros);
    out += " (";
    appendSeconds(out, std::max<std::int64_t>(0, sample.nowMicros - request.startMicros));
    out += " seconds ago)\nusername ";
    out += request.login;
    out += "\ndelay_pool ";
    appendNumber(out, request.delayPool);
    out += "\n\n";
}

}  // namespace

std::uint64_t PageGenerator::Random::next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

std::uint64_t PageGenerator::Random::below(std::uint64_t bound) {
    // The bias of a plain remainder is far below anything a page could show.
    return next() % bound;
}

std::int64_t PageGenerator::Random::between(std::int64_t low, std::int64_t high) {
    return low + static_cast<std::int64_t>(below(static_cast<std::uint64_t>(high - low) + 1));
}

double PageGenerator::Random::unit() {
    return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0);
}

PageGenerator::PageGenerator(const PageShape& shape) : shape_(shape), random_(shape.seed) {
    const std::size_t clientCount =
        shape.requests == 0 ? 0 : std::clamp<std::size_t>(shape.clients, 1, shape.requests);
    sample_.nowMicros = shape.startMicros;
    clients_.resize(clientCount);
    sample_.clientAddresses.reserve(clientCount + 1);
    for (std::size_t i = 0; i < clientCount; ++i) {
        sample_.clientAddresses.push_back(clientAddress(i, shape.seed));
        Client& client = clients_[i];
        if (!random_.chance(shape.anonymousClientShare)) {
            // Mostly one person per address; a few shared machines.
            const std::size_t logins = random_.chance(0.1) ? 2 + random_.below(2) : 1;
            for (std::size_t k = 0; k < logins; ++k) {
                client.logins.push_back(makeLogin());
            }
        }
        if (random_.chance(shape.delayPoolClientShare)) {
            client.delayPool = static_cast<std::int32_t>(random_.between(1, 3));
        }
    }
    usedIds_.reserve(shape.requests * 2);
    sample_.requests.reserve(shape.requests + 1);
    constexpr std::int64_t hour = 3600 * microsPerSecond;
    for (std::size_t i = 0; i < shape.requests; ++i) {
        // The first requests give every client one; the others go mostly to
        // the busy few.
        const std::size_t client = i < clientCount ? i : pickClient();
        sample_.requests.push_back(newRequest(client, 8 * hour));
    }
    // The proxy lists requests in no order of client.
    for (std::size_t i = sample_.requests.size(); i > 1; --i) {
        std::swap(sample_.requests[i - 1], sample_.requests[random_.below(i)]);
    }
    if (shape.managerRequest) {
        sample_.clientAddresses.push_back("127.0.0.1");
        addManagerRequest();
    }
}

std::size_t PageGenerator::pickClient() {
    // u^3 puts half of the requests on the first eighth of the clients.
    const double u = random_.unit();
    return std::min(clients_.size() - 1,
                    static_cast<std::size_t>(u * u * u * static_cast<double>(clients_.size())));
}

std::string PageGenerator::makeLogin() {
    std::string login(firstNames[random_.below(firstNames.size())]);
    if (random_.chance(0.4)) {
        login += '.';
        login += static_cast<char>('a' + random_.below(26));
    }
    if (random_.chance(0.3)) {
        appendNumber(login, random_.between(1, 99));
    }
    if (random_.chance(0.05)) {
        login = "CORP\\" + login;  // a domain login, as NTLM sends it
    }
    return login;
}

std::string PageGenerator::makeUrl(bool tunnel) {
    const std::string_view host = hostNames[random_.below(hostNames.size())];
    std::string url;
    if (tunnel) {
        url = host;
        url += random_.chance(0.95) ? ":443" : ":8443";
        return url;
    }
    url = random_.chance(0.98) ? "http://" : "ftp://";
    url += host;
    const std::size_t depth = 1 + random_.below(4);
    for (std::size_t i = 0; i < depth; ++i) {
        url += '/';
        url += pathWords[random_.below(pathWords.size())];
    }
    url += '/';
    appendHex(url, random_.next() >> random_.below(48));
    url += extensions[random_.below(extensions.size())];
    if (random_.chance(shape_.longUrlShare)) {
        // Tracking parameters and signed tokens: several hundred characters.
        const std::size_t length = static_cast<std::size_t>(random_.between(300, 900));
        url += "?token=";
        while (url.size() < length) {
            if (random_.chance(0.03)) {
                url += "&p";
                appendNumber(url, static_cast<std::int64_t>(random_.below(100)));
                url += '=';
            }
            url += queryCharacters[random_.below(queryCharacters.size())];
        }
    } else if (random_.chance(0.2)) {
        url += "?v=";
        appendNumber(url, static_cast<std::int64_t>(random_.below(100000)));
    }
    return url;
}

std::uint64_t PageGenerator::newId() {
    // Heap addresses of a 64-bit process: 0x55.. or 0x56.., 8-byte aligned.
    for (;;) {
        const std::uint64_t id =
            0x550000000000ull + (random_.next() & 0x1ffffffff8ull) + (random_.below(2) << 40);
        if (usedIds_.insert(id).second) {
            return id;
        }
    }
}

PageRequest PageGenerator::newRequest(std::size_t clientIndex, std::int64_t maxElapsedMicros) {
    Client& client = clients_[clientIndex];
    PageRequest request;
    request.id = newId();
    request.client = clientIndex;
    request.clientPort = static_cast<std::uint16_t>(random_.between(1024, 65535));
    request.fd = nextFd_;
    nextFd_ = nextFd_ >= 16000 ? 12 : nextFd_ + 1 + static_cast<std::int32_t>(random_.below(3));
    request.tunnel = random_.chance(shape_.tunnelShare);

    if (!client.urls.empty() && random_.chance(shape_.repeatedUrlShare)) {
        // The same URL as an earlier request of this client, usually a recent one.
        const std::size_t back = std::min<std::size_t>(client.urls.size(), 1 + random_.below(4));
        const std::size_t url = client.urls[client.urls.size() - back];
        request.uri = urls_[url];
        request.tunnel = request.uri.find("://") == std::string::npos;
    } else {
        urls_.push_back(makeUrl(request.tunnel));
        request.uri = urls_.back();
        client.urls.push_back(urls_.size() - 1);
        if (client.urls.size() > 16) {
            client.urls.erase(client.urls.begin());
        }
    }
    request.cacheHit = !request.tunnel && random_.chance(0.15);

    if (client.logins.empty()) {
        request.login = "-";
    } else {
        request.login = client.logins[random_.below(client.logins.size())];
        if (random_.chance(shape_.capitalLoginShare)) {
            request.login = upperCase(request.login);
        }
    }
    request.delayPool = random_.chance(0.95) ? client.delayPool : 0;

    // Most requests are a few seconds old; some have run for minutes or hours.
    const double age = random_.unit();
    std::int64_t elapsed;
    if (age < 0.7) {
        elapsed = random_.between(0, 10 * microsPerSecond);
    } else if (age < 0.9) {
        elapsed = random_.between(10 * microsPerSecond, 300 * microsPerSecond);
    } else if (age < 0.99) {
        elapsed = random_.between(300 * microsPerSecond, 3600 * microsPerSecond);
    } else {
        elapsed = random_.between(3600 * microsPerSecond, 8 * 3600 * microsPerSecond);
    }
    elapsed = std::min(elapsed, maxElapsedMicros);
    request.startMicros = sample_.nowMicros - elapsed;

    // Rates from 100 B/s to 12 MB/s, evenly on a log scale; some stalled.
    request.bytesPerSecond =
        random_.chance(0.1) ? 0
                            : static_cast<std::int64_t>(100.0 * std::pow(120000.0, random_.unit()));
    if (elapsed > 600 * microsPerSecond) {
        request.bytesPerSecond /= 50;  // what runs for long is mostly streams and idle tunnels
    }
    request.requestBytes = random_.between(80, 1400);
    request.headerBytes = request.tunnel ? 0 : random_.between(180, 700);
    if (elapsed < microsPerSecond / 10) {
        request.size = 0;  // no reply yet
    } else {
        const double body = static_cast<double>(request.bytesPerSecond) *
                            static_cast<double>(elapsed) / static_cast<double>(microsPerSecond);
        request.size = request.headerBytes + static_cast<std::int64_t>(body);
    }
    request.bufferAddress = 0x550000000000ull + (random_.next() & 0x1ffffffff0ull);
    request.entryAddress = 0x550000000000ull + (random_.next() & 0x1ffffffff0ull);
    request.storeKey[0] = random_.next();
    request.storeKey[1] = random_.next();
    ++client.requests;
    return request;
}

void PageGenerator::addManagerRequest() {
    PageRequest request;
    request.id = newId();
    request.client = clients_.size();
    request.clientPort = static_cast<std::uint16_t>(random_.between(1024, 65535));
    request.fd = nextFd_;
    request.uri = "cache_object://localhost/active_requests";
    request.login.assign(1, '-');  // not = "-": g++ 12 warns falsely (-Wrestrict)
    request.requestBytes = 99;
    request.startMicros = sample_.nowMicros;
    request.bufferAddress = 0x550000000000ull + (random_.next() & 0x1ffffffff0ull);
    request.entryAddress = 0x550000000000ull + (random_.next() & 0x1ffffffff0ull);
    request.storeKey[0] = random_.next();
    request.storeKey[1] = random_.next();
    sample_.requests.insert(sample_.requests.begin(), std::move(request));
}

void PageGenerator::advance(std::int64_t seconds, double turnover) {
    sample_.nowMicros += seconds * microsPerSecond;
    std::vector<PageRequest> kept;
    kept.reserve(sample_.requests.size() + 1);
    std::size_t ended = 0;
    for (auto& request : sample_.requests) {
        if (request.client >= clients_.size()) {
            usedIds_.erase(request.id);  // the previous fetch's own request
            continue;
        }
        Client& client = clients_[request.client];
        if (client.requests > 1 && random_.chance(turnover)) {
            --client.requests;
            usedIds_.erase(request.id);
            ++ended;
            continue;
        }
        if (request.size > 0 || request.bytesPerSecond > 0) {
            if (request.size == 0) {
                request.size = request.headerBytes;
            }
            request.size += request.bytesPerSecond * seconds;
        }
        kept.push_back(std::move(request));
    }
    // New requests started within the interval; the proxy lists the newest first.
    std::vector<PageRequest> started;
    started.reserve(ended);
    for (std::size_t i = 0; i < ended; ++i) {
        started.push_back(newRequest(pickClient(), seconds * microsPerSecond));
    }
    std::reverse(started.begin(), started.end());
    started.insert(started.end(), std::make_move_iterator(kept.begin()),
                   std::make_move_iterator(kept.end()));
    sample_.requests = std::move(started);
    if (shape_.managerRequest) {
        addManagerRequest();
    }
}

std::string PageGenerator::body() const {
    return renderBody(sample_);
}

std::string PageGenerator::reply() const {
    return renderReply(sample_);
}

std::string renderBody(const PageSample& sample) {
    std::string out;
    std::size_t estimate = 0;
    for (const auto& request : sample.requests) {
        estimate += 420 + request.uri.size();
    }
    out.reserve(estimate);
    for (const auto& request : sample.requests) {
        appendBlock(out, sample, request);
    }
    return out;
}

std::string renderReply(const PageSample& sample) {
    const std::string date = httpDate(sample.nowMicros);
    std::string out =
        "HTTP/1.1 200 OK\r\n"
        "Server: squid/5.7\r\n"
        "Mime-Version: 1.0\r\n";
    out += "Date: " + date + "\r\n";
    out += "Content-Type: text/plain;charset=utf-8\r\n";
    out += "Expires: " + date + "\r\n";
    out += "Last-Modified: " + date + "\r\n";
    out +=
        "X-Cache: MISS from proxy\r\n"
        "X-Cache-Lookup: MISS from proxy:3128\r\n"
        "Via: 1.1 proxy (squid/5.7)\r\n"
        "Connection: close\r\n"
        "\r\n";
    out += renderBody(sample);
    return out;
}

}  // namespace reqwatch::pagegen
