#include "cachemgr/active_requests_parser.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "cachemgr/active_requests_query.h"
#include "cachemgr/exceptions.h"
#include "common/number_conversion.h"
#include "common/saturating.h"
#include "common/text_helpers.h"

namespace reqwatch {

namespace {

// The words of a line split at every single blank, as splitString(line, " ")
// splits it: only the count and the first few words are kept.
struct Words {
    std::array<std::string_view, 5> word{};
    std::size_t count = 0;

    explicit Words(std::string_view line) {
        std::size_t start = 0;
        forEachBlank(line, [&](std::size_t blank) {
            add(line.substr(start, blank - start));
            start = blank + 1;
        });
        if (start < line.size()) {
            add(line.substr(start));
        }
    }

    // Word n, counted from 1 as the page grammar counts.
    std::string_view operator[](std::size_t n) const { return word[n - 1]; }

  private:
    // Calls `use` with the position of every blank, in order.
    template <typename Use>
    static void forEachBlank(std::string_view line, Use&& use) {
        const char* data = line.data();
        std::size_t at = 0;
#if defined(__SSE2__)
        const __m128i blank = _mm_set1_epi8(' ');
        for (; at + 16 <= line.size(); at += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
            auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, blank)));
            while (mask != 0) {
                use(at + static_cast<std::size_t>(__builtin_ctz(mask)));
                mask &= mask - 1;
            }
        }
#endif
        for (; at < line.size(); ++at) {
            if (data[at] == ' ') {
                use(at);
            }
        }
    }

    void add(std::string_view text) {
        if (count < word.size()) {
            word[count] = text;
        }
        ++count;
    }
};

// Whether the line begins with the literal; the length is known when
// compiling, so the comparison is a load or two, not a call.
template <std::size_t N>
inline bool startsWith(std::string_view line, const char (&prefix)[N]) {
    return line.size() >= N - 1 && std::memcmp(line.data(), prefix, N - 1) == 0;
}

}  // namespace

std::pair<std::string, std::string> splitHostPort(const std::string& address) {
    const auto colon = address.rfind(':');
    if (colon == std::string::npos) {
        return {};
    }
    return {address.substr(0, colon), address.substr(colon + 1)};
}

std::uint64_t PreviousEntries::hashOf(std::string_view id, std::int32_t worker) {
    const std::uint64_t hash = FlatTextIndex::hashOf(id);
    // Nearly every page has one worker: its ids hash as they are.
    return worker == 0 ? hash : hash ^ (static_cast<std::uint64_t>(worker) * 0x9e3779b97f4a7c15u);
}

PreviousEntries::PreviousEntries(const ConnectionList& previous) {
    std::size_t total = 0;
    for (const auto& connection : previous) {
        total += connection.urls.size();
    }
    if (total == 0) {
        return;
    }
    items_.reserve(total);
    byId_.reserve(total);
    for (const auto& connection : previous) {
        for (const auto& entry : connection.urls) {
            const auto hash = hashOf(entry.id, entry.worker);
            if (findItem(entry.id, entry.worker, hash) < 0) {  // the first entry of a pair wins
                byId_.insert(hash, items_.size());
                items_.push_back({entry.id, entry.size, entry.worker, &entry});
            }
        }
    }
}

std::int64_t PreviousEntries::findItem(std::string_view id, std::int32_t worker,
                                       std::uint64_t hash) const {
    return byId_.findIf(hash, [this, id, worker](std::size_t at) {
        const Item& item = items_[at];
        return item.worker == worker && item.id == id;
    });
}

const PreviousEntries::Item* PreviousEntries::itemOf(std::string_view id,
                                                     std::int32_t worker) const {
    if (byId_.empty()) {
        return nullptr;  // the first sample: nothing to look up
    }
    const std::int64_t position = findItem(id, worker, hashOf(id, worker));
    return position < 0 ? nullptr : &items_[static_cast<std::size_t>(position)];
}

const UrlEntry* PreviousEntries::find(std::string_view id, std::int32_t worker) const {
    const Item* item = itemOf(id, worker);
    return item != nullptr ? item->entry : nullptr;
}

std::int64_t PreviousEntries::sizeOf(std::string_view id, std::int32_t worker) const {
    const Item* item = itemOf(id, worker);
    return item != nullptr ? item->size : 0;
}

UrlEntry findPreviousEntry(const PreviousEntries& previous, std::string_view id,
                           std::int32_t worker) {
    const UrlEntry* entry = previous.find(id, worker);
    return entry != nullptr ? *entry : UrlEntry{};
}

std::string resolveClientName(const FetchSettings& settings, const std::string& address) {
    if (settings.hostnameLookups && settings.resolver != nullptr) {
        return settings.resolver->lookup(address);
    }
    return address;
}

ActiveRequestsParser::ActiveRequestsParser(SampleState& state, const FetchSettings& settings,
                                           std::size_t requestLimit)
    : state_(state),
      settings_(settings),
      texts_(std::make_shared<TextArena>()),
      previous_(state.previous),
      requestLimit_(requestLimit) {
    // The previous sample is the best guess of this one's size.
    state_.current.reserve(state_.previous.size());
    peers_.reserve(state_.previous.size());
    connectionByPeer_.reserve(state_.previous.size());
    usersSeen_.reserve(state_.previous.size());
}

UrlEntry* ActiveRequestsParser::currentEntry() {
    if (currentConnection_ < 0) {
        return nullptr;
    }
    return &state_.current[static_cast<std::size_t>(currentConnection_)].urls.back();
}

void ActiveRequestsParser::requestLine(std::string_view id) {
    pending_.id = texts_->store(id);  // the rest of the pending entry never changes from new
    pending_.worker = worker_;
    previousEntrySize_ = previous_.sizeOf(id, worker_);
}

void ActiveRequestsParser::addressLine(std::string_view word) {
    const auto colon = word.rfind(':');
    if (colon == std::string_view::npos || colon == 0) {
        return;  // no address before the port
    }
    if (requests_ >= requestLimit_) {
        throw sqstatException("More than " + std::to_string(requestLimit_) +
                                  " active requests in the reply from " + settings_.host + ":" +
                                  std::to_string(settings_.port),
                              sqstatException::TransportFailed);
    }
    const std::string_view address = word.substr(0, colon);
    const std::uint64_t hash = FlatTextIndex::hashOf(address);
    std::int64_t position = connectionByPeer_.find(
        address, hash, [this](std::size_t at) -> std::string_view { return peers_[at]; });
    if (position < 0) {
        Connection& connection = state_.current.emplace_back();
        connection.peer = address;
        connection.hostName = resolveClientName(settings_, connection.peer);
        connection.texts = texts_;
        peers_.push_back(texts_->store(address));
        usersSeen_.emplace_back();
        position = static_cast<std::int64_t>(state_.current.size() - 1);
        connectionByPeer_.insert(hash, static_cast<std::size_t>(position));
    }
    state_.current[static_cast<std::size_t>(position)].urls.push_back(pending_);
    currentConnection_ = static_cast<std::ptrdiff_t>(position);
    ++requests_;
}

namespace {

// Whether `lowered` is `text` with its ASCII capitals lower-cased.
bool equalsLowered(std::string_view lowered, std::string_view text) {
    if (lowered.size() != text.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (lowered[i] != lowerCaseCharacter(text[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

void ActiveRequestsParser::userLine(std::string_view login) {
    UrlEntry* entry = currentEntry();
    if (entry == nullptr) {
        return;
    }
    const auto index = static_cast<std::size_t>(currentConnection_);
    UsersSeen& seen = usersSeen_[index];
    if (!seen.many) {
        // Most clients have a login or two: compared one by one, the last
        // one first, as consecutive requests mostly carry the same.
        for (auto view = seen.few.rbegin(); view != seen.few.rend(); ++view) {
            if (equalsLowered(*view, login)) {
                entry->user = *view;
                return;
            }
        }
        entry->user = texts_->storeLowerCase(login);
    } else {
        const std::string_view lowered = texts_->storeLowerCase(login);
        const auto found = seen.many->find(lowered);
        if (found != seen.many->end()) {
            entry->user = *found;  // the copy just made is simply not used
            return;
        }
        entry->user = lowered;
    }
    state_.current[index].users.emplace_back(entry->user);
    if (seen.many) {
        seen.many->insert(entry->user);
        return;
    }
    seen.few.push_back(entry->user);
    constexpr std::size_t fewUsers = 8;
    if (seen.few.size() > fewUsers) {
        seen.many = std::make_unique<std::unordered_set<std::string_view>>(seen.few.begin(),
                                                                           seen.few.end());
        seen.few.clear();
    }
}

void ActiveRequestsParser::workerLine(std::string_view line) {
    // "by kidN {" opens the section of worker N, "} by kidN" closes it.
    constexpr std::string_view opening = "by kid";
    constexpr std::string_view closing = "} by kid";
    const bool opens = line.starts_with(opening);
    if (!opens && !line.starts_with(closing)) {
        return;
    }
    const std::string_view rest = line.substr(opens ? opening.size() : closing.size());
    std::size_t digits = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') {
        ++digits;
    }
    if (digits == 0) {
        return;
    }
    const std::string_view tail = rest.substr(digits);
    if (opens ? tail != " {" : !tail.empty()) {
        return;
    }
    worker_ = opens ? leadingInteger32(rest.substr(0, digits)) : 0;
}

void ActiveRequestsParser::parseLine(std::string_view line) {
    if (line.empty()) {
        return;
    }
    const auto expect = [this, line](const Words& words, std::size_t count) {
        if (words.count != count) {
            reportFormatChanged(state_.server, std::string(line));
        }
    };
    // Lines that no rule reads are by far the most common: decide on the
    // first character before comparing whole prefixes.
    switch (line[0]) {
        case 'S':
            if (startsWith(line, "Server: ")) {
                const Words words(line);
                expect(words, 2);
                state_.server = words[2];
            }
            return;
        case 'C':
            if (startsWith(line, "Connection: ")) {
                const Words words(line);
                expect(words, 2);
                requestLine(words[2]);
            }
            return;
        case 'p':
        case 'r':
            if (startsWith(line, "peer: ") || startsWith(line, "remote: ")) {
                const Words words(line);
                expect(words, 2);
                addressLine(words[2]);
            }
            return;
        case 'u':
            if (startsWith(line, "uri ")) {
                const Words words(line);
                expect(words, 2);
                if (UrlEntry* entry = currentEntry()) {
                    entry->uri = texts_->store(words[2]);
                    entry->count = 1;
                    entry->averageSpeed = 0;
                    entry->currentSpeed = 0;
                }
            } else if (startsWith(line, "username ")) {
                const Words words(line);
                // A missing value counts as "-".
                if (words.count != 1) {
                    expect(words, 2);
                }
                if (words.count == 1 || words[2] == "-") {
                    return;
                }
                userLine(words[2]);
            }
            return;
        case 'o':
            if (startsWith(line, "out.offset ")) {
                const Words words(line);
                expect(words, 4);
                if (UrlEntry* entry = currentEntry()) {
                    entry->size = leadingInteger64(words[4]);
                    entry->previousSize = previousEntrySize_;
                    // Every such line adds to the client's total, also a
                    // second one of the same request.
                    auto& connection = state_.current[static_cast<std::size_t>(currentConnection_)];
                    connection.size = saturatingAdd(connection.size, entry->size);
                }
            }
            return;
        case 's':
            if (startsWith(line, "start ")) {
                const Words words(line);
                expect(words, 5);
                if (UrlEntry* entry = currentEntry()) {
                    const std::string_view seconds = words[3];
                    // A start in the future (a proxy whose clock stepped
                    // back) has not run for a negative time: it counts as 0.
                    entry->elapsed = std::max<std::int64_t>(
                        0, leadingInteger32(seconds.empty() ? seconds : seconds.substr(1)));
                    auto& connection = state_.current[static_cast<std::size_t>(currentConnection_)];
                    if (entry->elapsed > connection.maxTime) {
                        connection.maxTime = entry->elapsed;
                    }
                }
            }
            return;
        case 'd':
            if (startsWith(line, "delay_pool ")) {
                const Words words(line);
                expect(words, 2);
                if (UrlEntry* entry = currentEntry()) {
                    entry->delayPool = leadingInteger32(words[2]);
                }
            }
            return;
        case 'b':
        case '}':
            workerLine(line);
            return;
        default:
            return;
    }
}

}  // namespace reqwatch
