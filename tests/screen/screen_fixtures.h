// Samples for the screen tests.
#pragma once

#include "cachemgr/records.h"
#include "support/kept_text.h"

namespace reqwatch {

inline UrlEntry screenRequest(const std::string& id, const std::string& uri, std::int64_t size) {
    UrlEntry entry;
    entry.id = testsupport::keep(id);
    entry.count = 1;
    entry.uri = testsupport::keep(uri);
    entry.size = size;
    entry.elapsed = 10;
    entry.averageSpeed = size / 10;
    return entry;
}

// A client with its requests; sizes and speeds are the sums of them.
inline Connection screenClient(const std::string& peer, std::vector<UrlEntry> urls,
                               StringList users = {}) {
    Connection connection;
    connection.peer = peer;
    connection.hostName = peer;
    connection.users = std::move(users);
    for (const auto& url : urls) {
        connection.size += url.size;
        connection.averageSpeed += url.averageSpeed;
        connection.maxTime = std::max(connection.maxTime, url.elapsed);
    }
    connection.urls = std::move(urls);
    return connection;
}

// Two clients with two URLs each, the larger first.
inline ConnectionList twoClients() {
    return {screenClient("10.0.0.1",
                         {screenRequest("0x1", "http://a.example/one", 9000),
                          screenRequest("0x2", "http://a.example/two", 8000)},
                         {"alice"}),
            screenClient("10.0.0.2",
                         {screenRequest("0x3", "http://b.example/three", 3000),
                          screenRequest("0x4", "http://b.example/four", 2000)},
                         {"bob"})};
}

// `count` clients with `urls` requests each, sizes falling in list order.
inline ConnectionList manyClients(int count, int urls) {
    ConnectionList list;
    for (int i = 0; i < count; ++i) {
        std::vector<UrlEntry> requests;
        for (int u = 0; u < urls; ++u) {
            requests.push_back(
                screenRequest("0x" + std::to_string(i) + "-" + std::to_string(u),
                              "http://host" + std::to_string(i) + "/u" + std::to_string(u),
                              1000000 - i * 1000 - u));
        }
        list.push_back(screenClient("10.1.0." + std::to_string(i + 1), std::move(requests)));
    }
    return list;
}

}  // namespace reqwatch
