#include "cachemgr/active_requests_query.h"

#include <chrono>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cachemgr/base64.h"
#include "report/value_formatting.h"
#include "support/fake_cache_manager.h"
#include "support/recording_relay.h"

namespace reqwatch {
namespace {

using ::testing::HasSubstr;
using testsupport::cacheManagerReply;
using testsupport::FakeCacheManager;
using testsupport::FakeReply;

const std::string onePage =
    "Connection: 0x1\n\tremote: 10.0.0.1:5000\nuri http://origin/file\n"
    "out.offset 4096, out.size 4096\nstart 1.0 (2.5 seconds ago)\nusername -\ndelay_pool 1\n";

FetchSettings settingsFor(const FakeCacheManager& server, const std::string& pass = "") {
    return {"127.0.0.1", server.port(), pass, false, nullptr};
}

// The fetch's failure, or an empty text when it succeeded.
sqstatException fetchFailure(SampleState& state, const FetchSettings& settings) {
    try {
        fetchActiveRequests(state, settings);
    } catch (const sqstatException& error) {
        return error;
    }
    return sqstatException("", sqstatException::Kind{});
}

TEST(Base64, EncodesWithPadding) {
    EXPECT_EQ(base64Encode(""), "");
    EXPECT_EQ(base64Encode("f"), "Zg==");
    EXPECT_EQ(base64Encode("fo"), "Zm8=");
    EXPECT_EQ(base64Encode("foo"), "Zm9v");
    EXPECT_EQ(base64Encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(base64Encode("admin:secret"), "YWRtaW46c2VjcmV0");
    EXPECT_EQ(base64Encode("\xff\xfe\x80"), "//6A");
}

TEST(ActiveRequestsQuery, SendsTheRequestWithAnOptionalAuthorizationLine) {
    FakeCacheManager server;
    server.setReply({cacheManagerReply(onePage)});
    SampleState state;
    fetchActiveRequests(state, settingsFor(server));
    fetchActiveRequests(state, settingsFor(server, "secret"));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], "GET cache_object://localhost/active_requests HTTP/1.0\n\r\n");
    EXPECT_EQ(requests[1],
              "GET cache_object://localhost/active_requests HTTP/1.0\n"
              "Authorization: Basic YWRtaW46c2VjcmV0\n\r\n");
}

TEST(ActiveRequestsQuery, ReturnsTheCompletedSample) {
    FakeCacheManager server;
    server.setReply({cacheManagerReply(onePage)});
    SampleState state;
    const ConnectionList connections = fetchActiveRequests(state, settingsFor(server));
    ASSERT_EQ(connections.size(), 1u);
    EXPECT_EQ(connections[0].peer, "10.0.0.1");
    EXPECT_EQ(connections[0].urls[0].averageSpeed, 2048);
    EXPECT_EQ(connections[0].urls[0].delayPool, 1);
    EXPECT_EQ(state.requestCount, 1);
    EXPECT_EQ(state.server, "squid/5.7");
    EXPECT_NE(state.sampleTime, 0);
    EXPECT_EQ(state.previous.size(), 1u);
}

TEST(ActiveRequestsQuery, AcceptsOnlyTheTwoOkStatusLines) {
    struct Case {
        std::string statusLine;
        bool accepted;
    };
    const Case cases[] = {
        {"HTTP/1.0 200 OK", true},
        {"HTTP/1.1 200 OK", true},
        {"HTTP/1.1 200 OK\r", true},
        {"HTTP/1.1 200 OK ", false},
        {"HTTP/1.1 401 Unauthorized", false},
        {"HTTP/1.1 404 Not Found", false},
        {"SSH-2.0-OpenSSH_9.2", false},
    };
    for (const auto& item : cases) {
        FakeCacheManager server;
        server.setReply({item.statusLine + "\nConnection: close\n\n" + onePage});
        SampleState state;
        const auto failure = fetchFailure(state, settingsFor(server));
        if (item.accepted) {
            EXPECT_STREQ(failure.what(), "") << item.statusLine;
            continue;
        }
        EXPECT_EQ(failure.kind, sqstatException::AccessDenied);
        std::string shown = item.statusLine;
        EXPECT_EQ(std::string(failure.what()), "Access to squid statistic denied: " + shown);
    }
}

TEST(ActiveRequestsQuery, FailuresKeepTheLastGoodSampleAsReference) {
    FakeCacheManager server;
    server.setReply({cacheManagerReply(onePage)});
    SampleState state;
    fetchActiveRequests(state, settingsFor(server));
    const std::time_t goodTime = state.sampleTime;

    FakeReply cut;
    cut.bytes = cacheManagerReply(onePage);
    cut.cutAfter = cut.bytes.size() - 20;
    FakeReply reset = cut;
    reset.reset = true;
    struct Case {
        FakeReply reply;
        std::int32_t kind;
        std::string message;
    };
    const std::string endpoint = "127.0.0.1:" + std::to_string(server.port());
    const Case cases[] = {
        {{}, sqstatException::TransportFailed, "Empty reply from " + endpoint},
        {reset, sqstatException::TransportFailed, "Connection reset by peer"},
        {{"HTTP/1.1 403 Forbidden\r\n\r\n"},
         sqstatException::AccessDenied,
         "Access to squid statistic denied: HTTP/1.1 403 Forbidden"},
        {{cacheManagerReply("uri a b\n")},
         sqstatException::FormatChanged,
         "Warning!!! Please send bug report. active_requests format changed - 'uri a b'. "
         "squid/5.7. reqwatch-2015-02-08"},
    };
    for (const auto& item : cases) {
        server.setReply(item.reply);
        const auto failure = fetchFailure(state, settingsFor(server));
        EXPECT_EQ(failure.kind, item.kind) << item.message;
        EXPECT_EQ(std::string(failure.what()), item.message);
        EXPECT_EQ(state.requestCount, 0);
        EXPECT_EQ(state.sampleTime, goodTime);
        ASSERT_EQ(state.previous.size(), 1u);
        EXPECT_EQ(state.previous[0].peer, "10.0.0.1");
    }
    // A reply cut off mid-line loses only that line: the fetch succeeds.
    server.setReply(cut);
    EXPECT_STREQ(fetchFailure(state, settingsFor(server)).what(), "");
}

TEST(ActiveRequestsQuery, AnUnreachableProxyNamesHostAndPort) {
    int closedPort;
    {
        FakeCacheManager server;
        closedPort = server.port();
    }
    SampleState state;
    state.current.resize(2);
    const auto failure = fetchFailure(state, {"127.0.0.1", closedPort, "", false, nullptr});
    EXPECT_EQ(failure.kind, sqstatException::ConnectFailed);
    EXPECT_EQ(std::string(failure.what()),
              "Connection refused while connecting to 127.0.0.1:" + std::to_string(closedPort));
    EXPECT_EQ(state.current.size(), 2u);  // untouched when connecting failed
}

// Two samples whose status lines are read 1.5 s apart by the clock.
SampleInstant pinnedClock() {
    static int calls = 0;
    return {1800000000 + calls, 5000000 + 1500 * calls++};
}

TEST(ActiveRequestsQuery, ACurrentSpeedIsMeasuredInMillisecondsBetweenSamples) {
    FakeCacheManager server;
    const std::string grown = std::string(onePage).replace(onePage.find("4096, out.size 4096"), 19,
                                                           "104096, out.size 104096");
    server.setReplies({{cacheManagerReply(onePage)}, {cacheManagerReply(grown)}});
    SampleState state;
    FetchSettings settings = settingsFor(server);
    settings.clock = &pinnedClock;
    fetchActiveRequests(state, settings);
    const auto second = fetchActiveRequests(state, settings);
    ASSERT_EQ(second.size(), 1u);
    const UrlEntry& request = second[0].urls[0];
    EXPECT_EQ(request.previousSize, 4096);
    // 100 000 bytes in 1.5 s; in whole seconds it would be 97.7 or 48.8 KB/s.
    EXPECT_EQ(request.currentSpeed, 66666);
    EXPECT_EQ(formatSpeed(request.currentSpeed), "65.1 KB/s");
    EXPECT_EQ(state.totalCurrentSpeed, request.currentSpeed);
}

}  // namespace
}  // namespace reqwatch

namespace reqwatch {
namespace {

const std::string legacyRequest = "GET cache_object://localhost/active_requests HTTP/1.0\n\r\n";
const std::string modernRequest = "GET /squid-internal-mgr/active_requests HTTP/1.0\n\r\n";

// A proxy that serves the page only for one of the two request forms.
testsupport::FakeCacheManager::Responder acceptingOnly(const std::string& accepted,
                                                       const std::string& refusal) {
    return [accepted, refusal](const std::string& request) {
        return testsupport::FakeReply{request == accepted ? cacheManagerReply(onePage)
                                                          : refusal + "\r\n\r\n"};
    };
}

TEST(ActiveRequestsQuery, FallsBackToTheModernPathAndKeepsToIt) {
    FakeCacheManager server;
    server.setResponder(acceptingOnly(modernRequest, "HTTP/1.1 400 Bad Request"));
    SampleState state;
    EXPECT_EQ(fetchActiveRequests(state, settingsFor(server)).size(), 1u);
    EXPECT_EQ(server.requests(), (std::vector<std::string>{legacyRequest, modernRequest}));
    fetchActiveRequests(state, settingsFor(server));
    EXPECT_EQ(server.requests().size(), 3u);  // straight to the modern path
    EXPECT_EQ(server.requests()[2], modernRequest);

    // The same proxy turns back to the legacy URL only: one fallback, and the
    // legacy URL comes first again.
    server.setResponder(acceptingOnly(legacyRequest, "HTTP/1.1 404 Not Found"));
    fetchActiveRequests(state, settingsFor(server));
    fetchActiveRequests(state, settingsFor(server));
    EXPECT_EQ(server.requests(),
              (std::vector<std::string>{legacyRequest, modernRequest, modernRequest, modernRequest,
                                        legacyRequest, legacyRequest}));
}

TEST(ActiveRequestsQuery, BothFormsRefusedReportTheSecondStatusLine) {
    FakeCacheManager server;
    server.setResponder([](const std::string& request) {
        return testsupport::FakeReply{request.find("cache_object") != std::string::npos
                                          ? "HTTP/1.1 400 Bad Request\r\n\r\n"
                                          : "HTTP/1.1 401 Unauthorized\r\n\r\n"};
    });
    SampleState state;
    const auto failure = fetchFailure(state, settingsFor(server, "wrong"));
    EXPECT_EQ(failure.kind, sqstatException::AccessDenied);
    EXPECT_STREQ(failure.what(), "Access to squid statistic denied: HTTP/1.1 401 Unauthorized");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1],
              "GET /squid-internal-mgr/active_requests HTTP/1.0\n"
              "Authorization: Basic YWRtaW46d3Jvbmc=\n\r\n");
}

TEST(ActiveRequestsQuery, ARefusedLoginIsToldAtOnceWithoutTheOtherForm) {
    // After a good fetch by the modern path, a wrong password: the proxy's
    // 401 is what the user must see, not the legacy URL's 400.
    FakeCacheManager server;
    server.setResponder(acceptingOnly(modernRequest, "HTTP/1.1 400 Bad Request"));
    SampleState state;
    fetchActiveRequests(state, settingsFor(server));
    for (const std::string refusal :
         {"HTTP/1.1 401 Unauthorized", "HTTP/1.1 407 Proxy Authentication Required"}) {
        server.setResponder([refusal](const std::string&) {
            return testsupport::FakeReply{refusal + "\r\nServer: squid/7.6\r\n\r\n"};
        });
        const std::size_t before = server.requests().size();
        const auto failure = fetchFailure(state, settingsFor(server, "wrong"));
        EXPECT_EQ(failure.kind, sqstatException::AccessDenied);
        EXPECT_EQ(std::string(failure.what()), "Access to squid statistic denied: " + refusal);
        ASSERT_EQ(server.requests().size(), before + 1) << "asked again after " << refusal;
        EXPECT_THAT(server.requests().back(), HasSubstr("/squid-internal-mgr/"));
    }
}

TEST(ActiveRequestsQuery, TheRefusedReplyOfANewerProxyIsReadToItsEnd) {
    // Squid 7.6 answers the legacy request with 400 and an HTML page; the
    // page is read and dropped, so that the connection ends cleanly, and the
    // next request asks by the modern path at once.
    FakeCacheManager server;
    const std::string refused = testsupport::readFixture("squid-7.6-legacy-request-400.txt");
    const std::string page = testsupport::readFixture("squid-7.6-active_requests.txt");
    server.setResponder([refused, page](const std::string& request) {
        if (request == modernRequest) {
            return testsupport::FakeReply{page};
        }
        // In pieces, as a proxy writes a page: most of it comes after the
        // status line has been read.
        testsupport::FakeReply reply{refused};
        reply.chunkSize = 256;
        reply.chunkDelay = std::chrono::milliseconds(5);
        return reply;
    });
    testsupport::RecordingRelay relay(server.port());
    FetchSettings settings = settingsFor(server);
    settings.port = relay.port();
    SampleState state;
    const auto first = fetchActiveRequests(state, settings);
    EXPECT_EQ(first.size(), 6u);
    EXPECT_EQ(state.requestCount, 7);
    fetchActiveRequests(state, settings);
    ASSERT_TRUE(relay.waitUntilIdle(std::chrono::seconds(5)));
    EXPECT_EQ(server.requests(),
              (std::vector<std::string>{legacyRequest, modernRequest, modernRequest}));
    EXPECT_EQ(relay.completedCount(), 3u) << "a connection ended with unread data";
}

TEST(ActiveRequestsQuery, AFetchPastItsTimeLimitFailsNamingTheProxy) {
    FakeCacheManager server;
    FakeReply silent;
    silent.hang = true;  // accepts, reads the request, never answers
    server.setReply(silent);
    FetchSettings settings = settingsFor(server);
    settings.timeoutMilliseconds = 1000;
    SampleState state;
    const auto started = std::chrono::steady_clock::now();
    const auto failure = fetchFailure(state, settings);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(failure.kind, sqstatException::TransportFailed);
    EXPECT_EQ(std::string(failure.what()),
              "Timed out after 1 s waiting for 127.0.0.1:" + std::to_string(server.port()));
    EXPECT_GE(took, std::chrono::milliseconds(1000));
    EXPECT_LT(took, std::chrono::milliseconds(3000));
}

}  // namespace
}  // namespace reqwatch
