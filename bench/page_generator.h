// Made-up active_requests pages of any size, for benchmarks and tests: N
// requests over C client addresses, with the mix of logins, delay pools, URLs,
// sizes and start times a busy proxy shows. Everything follows from the seed,
// so one seed gives the same text on every machine and compiler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

namespace reqwatch::pagegen {

// What the page looks like. Shares are fractions from 0 to 1.
struct PageShape {
    std::size_t requests = 1000;
    std::size_t clients = 50;  // distinct 10.x.y.z addresses; at most `requests`
    std::uint64_t seed = 1;
    // Time the first sample is taken, in microseconds since the epoch.
    std::int64_t startMicros = 1796896698405759;
    // Share of a client's requests that ask again for a URL the client asked
    // for before (download managers, retries, several tabs).
    double repeatedUrlShare = 0.25;
    // Share of URLs with a query string of several hundred characters.
    double longUrlShare = 0.03;
    // Share of requests that are CONNECT tunnels ("uri host:443").
    double tunnelShare = 0.3;
    // Share of clients that send no login ("username -").
    double anonymousClientShare = 0.3;
    // Share of a named client's requests whose login comes in capitals.
    double capitalLoginShare = 0.05;
    // Share of clients put in delay pool 1, 2 or 3 instead of 0.
    double delayPoolClientShare = 0.15;
    // Adds the cache manager's own request for the page at its head, as a
    // real page has. Its client, 127.0.0.1, comes after the `clients`
    // addresses in PageSample::clientAddresses.
    bool managerRequest = false;
};

// One request block of the page.
struct PageRequest {
    std::uint64_t id = 0;    // printed as "Connection: 0x<hex>"
    std::size_t client = 0;  // index into PageSample::clientAddresses
    std::uint16_t clientPort = 0;
    std::int32_t fd = 0;
    std::string uri;
    std::string login;  // as printed: "-" for none, case as sent
    std::int32_t delayPool = 0;
    std::int64_t size = 0;          // out.size: reply bytes written so far, headers included
    std::int64_t headerBytes = 0;   // out.offset is size less these
    std::int64_t requestBytes = 0;  // req_sz
    std::int64_t startMicros = 0;
    std::int64_t bytesPerSecond = 0;  // how fast `size` grows while the request lasts
    std::uint64_t bufferAddress = 0;
    std::uint64_t entryAddress = 0;
    std::uint64_t storeKey[2] = {0, 0};
    bool tunnel = false;
    bool cacheHit = false;
};

struct PageSample {
    std::int64_t nowMicros = 0;  // the time the page is taken
    std::vector<std::string> clientAddresses;
    std::vector<PageRequest> requests;  // in page order
};

class PageGenerator {
  public:
    explicit PageGenerator(const PageShape& shape);

    const PageSample& sample() const { return sample_; }

    // Moves the sample `seconds` on, as the next fetch would see it: every
    // request's size grows at its rate, about `turnover` of the requests end
    // and as many new ones start (at the head of the page, as the proxy lists
    // them). A client's last request never ends, so every address stays.
    void advance(std::int64_t seconds, double turnover = 0.1);

    // The page body: one block per request, each ended by a blank line.
    std::string body() const;
    // The whole reply a cache manager sends: status line, CR LF headers, body.
    std::string reply() const;

  private:
    struct Client {
        std::vector<std::string> logins;  // empty for an anonymous client
        std::vector<std::size_t> urls;    // indices into urls_, most recent last
        std::int32_t delayPool = 0;
        std::size_t requests = 0;  // requests of the client in the sample
    };

    // SplitMix64: small, fast, and the same sequence everywhere.
    class Random {
      public:
        explicit Random(std::uint64_t seed) : state_(seed) {}
        std::uint64_t next();
        std::uint64_t below(std::uint64_t bound);                   // 0 .. bound-1; bound > 0
        std::int64_t between(std::int64_t low, std::int64_t high);  // low .. high
        double unit();                                              // [0, 1)
        bool chance(double share) { return unit() < share; }

      private:
        std::uint64_t state_;
    };

    PageRequest newRequest(std::size_t client, std::int64_t maxElapsedMicros);
    std::size_t pickClient();
    std::string makeUrl(bool tunnel);
    std::string makeLogin();
    std::uint64_t newId();
    void addManagerRequest();

    PageShape shape_;
    Random random_;
    PageSample sample_;
    std::vector<Client> clients_;
    std::vector<std::string> urls_;
    std::unordered_set<std::uint64_t> usedIds_;
    std::int32_t nextFd_ = 12;
};

// The body and the reply of any sample.
std::string renderBody(const PageSample& sample);
std::string renderReply(const PageSample& sample);

}  // namespace reqwatch::pagegen
