// The sample that the report tests share: a busy client with two requests
// and a quiet one with three requests for one URL.
#pragma once

#include "cachemgr/records.h"
#include "support/kept_text.h"

namespace reqwatch {

inline UrlEntry exampleRequest(const std::string& id, const std::string& uri, std::int64_t size,
                               std::int64_t elapsed, std::int64_t average, std::int64_t current,
                               std::int32_t delayPool, const std::string& user) {
    UrlEntry entry;
    entry.id = testsupport::keep(id);
    entry.count = 1;
    entry.uri = testsupport::keep(uri);
    entry.size = size;
    entry.elapsed = elapsed;
    entry.averageSpeed = average;
    entry.currentSpeed = current;
    entry.delayPool = delayPool;
    entry.user = testsupport::keep(user);
    return entry;
}

inline Connection busyClient() {
    Connection connection;
    connection.peer = "192.168.0.10";
    connection.hostName = "ws10.office.example.org";
    connection.users = {"alice"};
    connection.urls = {
        exampleRequest("0x1", "10.0.0.9:443", 5550097, 75, 74001, 81920, 0, "alice"),
        exampleRequest("0x2", "10.0.0.7:80", 800, 3, 266, 0, 0, "alice"),
    };
    connection.size = 5550897;
    connection.maxTime = 75;
    connection.averageSpeed = 74267;
    connection.currentSpeed = 81920;
    return connection;
}

// Already merged: one entry standing for three requests.
inline Connection quietClient() {
    Connection connection;
    connection.peer = "192.168.0.11";
    connection.hostName = "192.168.0.11";
    UrlEntry merged = exampleRequest("0x5", "10.0.0.5:443", 300, 0, 0, 0, 2, "");
    merged.count = 3;
    connection.urls = {merged};
    connection.size = 300;
    return connection;
}

// The same quiet client as the page gives it, before merging.
inline Connection quietClientUnmerged() {
    Connection connection = quietClient();
    connection.urls = {exampleRequest("0x5", "10.0.0.5:443", 100, 0, 0, 0, 2, ""),
                       exampleRequest("0x6", "10.0.0.5:443", 100, 0, 0, 0, 2, ""),
                       exampleRequest("0x7", "10.0.0.5:443", 100, 0, 0, 0, 2, "")};
    return connection;
}

}  // namespace reqwatch
