#include "report/json_output.h"

#include <nlohmann/json.hpp>

#include <ostream>

#include "report/value_formatting.h"
#include "select/client_filters.h"
#include "select/url_compaction.h"

namespace reqwatch {

namespace {

using Json = nlohmann::json;

// Writes one sample's object into a text. The structure (fixed keys,
// integers, null) is written as it is; every text value, which comes from
// the proxy or the name service, is quoted and escaped by the JSON library's
// own serializer, one reused for the whole sample, so that a busy proxy's
// 100 000 requests cost no document and no allocation each.
class JsonWriter {
  public:
    explicit JsonWriter(std::string& text)
        : text_(text),
          serializer_(nlohmann::detail::output_adapter<char, std::string>(text), ' ',
                      Json::error_handler_t::replace),
          scratch_(std::string()) {}

    JsonWriter& key(std::string_view name) {
        if (needsComma_) {
            text_ += ',';
        }
        text_ += '"';
        text_ += name;  // the program's own keys: plain letters
        text_ += "\":";
        needsComma_ = false;
        return *this;
    }
    void number(std::int64_t value) {
        separate();
        appendNumber(text_, value);
        needsComma_ = true;
    }
    void numberOrNull(bool known, std::int64_t value) {
        if (known) {
            number(value);
        } else {
            null();
        }
    }
    void fraction(double value) {
        separate();
        serializer_.dump(Json(value), false, false, 0);
        needsComma_ = true;
    }
    void string(std::string_view value) {
        separate();
        scratch_.get_ref<std::string&>().assign(value);
        serializer_.dump(scratch_, false, false, 0);
        needsComma_ = true;
    }
    void stringOrNull(std::string_view value) {
        if (value.empty()) {
            null();
        } else {
            string(value);
        }
    }
    void null() {
        separate();
        text_ += "null";
        needsComma_ = true;
    }
    void open(char bracket) {
        separate();
        text_ += bracket;
        needsComma_ = false;
    }
    void close(char bracket) {
        text_ += bracket;
        needsComma_ = true;
    }

  private:
    // A value after another one in an array or object; after a key, none.
    void separate() {
        if (needsComma_) {
            text_ += ',';
        }
    }

    std::string& text_;
    nlohmann::detail::serializer<Json> serializer_;
    Json scratch_;
    bool needsComma_ = false;
};

void writeRequest(JsonWriter& json, const UrlEntry& url, bool currentKnown) {
    json.open('{');
    json.key("id").string(url.id);
    json.key("worker").number(url.worker);
    json.key("uri").string(url.uri);
    json.key("count").number(url.count);
    json.key("user").stringOrNull(url.user);
    json.key("size").number(url.size);
    json.key("elapsed").number(url.elapsed);
    json.key("averageSpeed").number(url.averageSpeed);
    json.key("currentSpeed").numberOrNull(currentKnown, url.currentSpeed);
    json.key("delayPool").numberOrNull(url.delayPool >= 0, url.delayPool);
    json.close('}');
}

void writeClient(JsonWriter& json, const Connection& connection, bool currentKnown,
                 bool namesLookedUp) {
    json.open('{');
    json.key("address").string(connection.peer);
    if (namesLookedUp) {
        json.key("hostName").string(connection.hostName);
    } else {
        json.key("hostName").null();
    }
    json.key("logins").open('[');
    for (const auto& login : connection.users) {
        json.string(login);
    }
    json.close(']');
    json.key("size").number(connection.size);
    json.key("longestTime").number(connection.maxTime);
    json.key("averageSpeed").number(connection.averageSpeed);
    json.key("currentSpeed").numberOrNull(currentKnown, connection.currentSpeed);
    json.key("requests").open('[');
    for (const auto& url : connection.urls) {
        writeRequest(json, url, currentKnown);
    }
    json.close(']');
    json.close('}');
}

}  // namespace

void writeJsonSample(const SampleSummary& summary, const Options& options,
                     ConnectionList& connections, std::ostream& out) {
    if (options.compactSameUrls) {
        compactUrls(connections);
    }
    constexpr std::size_t block = 64 * 1024;
    std::string text;
    text.reserve(2 * block);
    JsonWriter json(text);
    const bool known = summary.currentSpeedsKnown;
    json.open('{');
    json.key("proxy").open('{');
    json.key("host").string(summary.host);
    json.key("port").number(summary.port);
    json.close('}');
    json.key("time").number(static_cast<std::int64_t>(summary.time));
    json.key("requestCount").number(summary.requestCount);
    json.key("clientCount").number(summary.clientCount);
    json.key("averageSpeed").number(summary.averageSpeed);
    json.key("currentSpeed").numberOrNull(known, summary.currentSpeed);
    if (known) {
        json.key("interval").fraction(static_cast<double>(summary.intervalMilliseconds) / 1000);
    } else {
        json.key("interval").null();
    }
    json.key("clients").open('[');
    // Written out in blocks as it grows.
    for (const auto& connection : connections) {
        if (isFilteredOut(connection, options)) {
            continue;
        }
        writeClient(json, connection, known, summary.namesLookedUp);
        if (text.size() >= block) {
            out.write(text.data(), static_cast<std::streamsize>(text.size()));
            text.clear();
        }
    }
    json.close(']');
    json.close('}');
    text += '\n';
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace reqwatch
