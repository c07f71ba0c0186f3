#include "cachemgr/active_requests_parser.h"

#include <array>

#include "cachemgr/active_requests_query.h"
#include "cachemgr/exceptions.h"
#include "common/number_conversion.h"
#include "common/saturating.h"

namespace reqwatch {

namespace {

// The words of a line split at every single blank, as splitString(line, " ")
// splits it: only the count and the first few words are kept.
struct Words {
    std::array<std::string_view, 5> word{};
    std::size_t count = 0;

    explicit Words(std::string_view line) {
        std::size_t start = 0;
        for (;;) {
            const std::size_t blank = line.find(' ', start);
            if (blank == std::string_view::npos) {
                break;
            }
            add(line.substr(start, blank - start));
            start = blank + 1;
        }
        if (start < line.size()) {
            add(line.substr(start));
        }
    }

    // Word n, counted from 1 as the page grammar counts.
    std::string_view operator[](std::size_t n) const { return word[n - 1]; }

  private:
    void add(std::string_view text) {
        if (count < word.size()) {
            word[count] = text;
        }
        ++count;
    }
};

inline bool startsWith(std::string_view line, std::string_view prefix) {
    return line.starts_with(prefix);
}

}  // namespace

std::pair<std::string, std::string> splitHostPort(const std::string& address) {
    const auto colon = address.rfind(':');
    if (colon == std::string::npos) {
        return {};
    }
    return {address.substr(0, colon), address.substr(colon + 1)};
}

PreviousEntries::PreviousEntries(const ConnectionList& previous) {
    std::size_t total = 0;
    for (const auto& connection : previous) {
        total += connection.urls.size();
    }
    entries_.reserve(total);
    byId_.reserve(total);
    const auto idOf = [this](std::size_t position) -> std::string_view {
        return entries_[position]->id;
    };
    for (const auto& connection : previous) {
        for (const auto& entry : connection.urls) {
            const auto hash = FlatTextIndex::hashOf(entry.id);
            if (byId_.find(entry.id, hash, idOf) < 0) {  // the first entry of an id wins
                byId_.insert(hash, entries_.size());
                entries_.push_back(&entry);
            }
        }
    }
}

const UrlEntry* PreviousEntries::find(std::string_view id) const {
    if (byId_.empty()) {
        return nullptr;  // the first sample: nothing to look up
    }
    const std::int64_t position =
        byId_.find(id, FlatTextIndex::hashOf(id),
                   [this](std::size_t at) -> std::string_view { return entries_[at]->id; });
    return position < 0 ? nullptr : entries_[static_cast<std::size_t>(position)];
}

UrlEntry findPreviousEntry(const PreviousEntries& previous, std::string_view id) {
    const UrlEntry* entry = previous.find(id);
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
    : state_(state), settings_(settings), previous_(state.previous), requestLimit_(requestLimit) {
    // The previous sample is the best guess of this one's size.
    state_.current.reserve(state_.previous.size());
    connectionByPeer_.reserve(state_.previous.size());
    usersSeen_.reserve(state_.previous.size());
}

UrlEntry* ActiveRequestsParser::currentEntry() {
    if (currentConnection_ < 0) {
        return nullptr;
    }
    return &state_.current[static_cast<std::size_t>(currentConnection_)]
                .urls[static_cast<std::size_t>(currentUrl_)];
}

void ActiveRequestsParser::requestLine(std::string_view id) {
    pending_.id = id;  // the rest of the pending entry never changes from new
    const UrlEntry* previous = previous_.find(id);
    previousEntrySize_ = previous != nullptr ? previous->size : 0;
}

void ActiveRequestsParser::addressLine(std::string_view word) {
    const auto colon = word.rfind(':');
    if (colon == std::string_view::npos || colon == 0) {
        return;  // no address before the port
    }
    if (++requests_ > requestLimit_) {
        throw sqstatException("More than " + std::to_string(requestLimit_) +
                                  " active requests in the reply from " + settings_.host + ":" +
                                  std::to_string(settings_.port),
                              sqstatException::TransportFailed);
    }
    const std::string_view address = word.substr(0, colon);
    const std::uint64_t hash = FlatTextIndex::hashOf(address);
    std::int64_t position = connectionByPeer_.find(
        address, hash,
        [this](std::size_t at) -> std::string_view { return state_.current[at].peer; });
    if (position < 0) {
        Connection connection;
        connection.peer = address;
        connection.hostName = resolveClientName(settings_, connection.peer);
        state_.current.push_back(std::move(connection));
        usersSeen_.emplace_back();
        position = static_cast<std::int64_t>(state_.current.size() - 1);
        connectionByPeer_.insert(hash, static_cast<std::size_t>(position));
    }
    auto& connection = state_.current[static_cast<std::size_t>(position)];
    connection.urls.push_back(pending_);
    currentConnection_ = static_cast<std::ptrdiff_t>(position);
    currentUrl_ = static_cast<std::ptrdiff_t>(connection.urls.size() - 1);
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
                    entry->uri = words[2];
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
                if (UrlEntry* entry = currentEntry()) {
                    std::string user(words[2]);
                    toLowerCase(user);
                    const auto index = static_cast<std::size_t>(currentConnection_);
                    if (usersSeen_[index].insert(user).second) {
                        state_.current[index].users.push_back(user);
                    }
                    entry->user = std::move(user);
                }
            }
            return;
        case 'o':
            if (startsWith(line, "out.offset ")) {
                const Words words(line);
                expect(words, 4);
                if (UrlEntry* entry = currentEntry()) {
                    entry->size = leadingInteger64(words[4]);
                    entry->previousSize = previousEntrySize_;
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
                    entry->elapsed =
                        leadingInteger32(seconds.empty() ? seconds : seconds.substr(1));
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
        default:
            return;
    }
}

}  // namespace reqwatch
