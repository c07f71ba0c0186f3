#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cachemgr/cancel_signal.h"
#include "cachemgr/exceptions.h"
#include "cachemgr/line_bytes.h"
#include "cachemgr/manager_connection.h"
#include "support/fake_cache_manager.h"

namespace reqwatch {
namespace {

using ::testing::ElementsAre;
using testsupport::FakeCacheManager;
using testsupport::FakeReply;

// The lines of a text split in blocks of `blockSize` bytes.
std::vector<std::string> linesOf(const std::string& text, std::size_t blockSize) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t start = 0; start < text.size(); start += blockSize) {
        const char* begin = text.data() + start;
        const char* end = text.data() + std::min(text.size(), start + blockSize);
        while (begin < end) {
            const char* next = takeLineBytes(line, begin, end);
            if (next == nullptr) {
                break;
            }
            lines.push_back(line);
            line.clear();
            begin = next;
        }
    }
    return lines;
}

TEST(LineBytes, KeepsPrintableAsciiAndDropsControlAndHighBytes) {
    const std::string text =
        "HTTP/1.1 200 OK\r\n\tremote: 10.0.0.1:80\nna\xc3\xafve\x7f\x1f\x01\n\n\x80\xff\x7f\nlast";
    for (const std::size_t blockSize : {1, 2, 3, 7, 4096}) {
        EXPECT_THAT(linesOf(text, blockSize),
                    ElementsAre("HTTP/1.1 200 OK", "remote: 10.0.0.1:80", "nave", "", ""))
            << "blocks of " << blockSize;
    }
}

TEST(LineBytes, TheViewWithoutCopyAgreesWithTheCopyingRules) {
    struct Case {
        std::string bytes;
        bool viewed;  // one run of kept bytes, so no copy is needed
    };
    const Case cases[] = {
        {"plain line\n", true},
        {"\tremote: 10.0.0.1:5\n", true},
        {"HTTP/1.1 200 OK\r\n", true},
        {"\t\t  blanks stay  \r\r\n", true},
        {"\n", true},
        {"\t\r\n", true},
        {std::string(40, 'x') + "\x80" + std::string(40, 'y') + "\n", false},
        {"u\x01ri x\n", false},
        {std::string(20, 'x') + "\x7f" + std::string(20, 'y') + "\n", false},
        {"no newline", false},
        {"\tno newline\r", false},
    };
    for (const auto& item : cases) {
        const char* begin = item.bytes.data();
        const char* end = begin + item.bytes.size();
        std::string_view view;
        const char* viewed = viewLineBytes(view, begin, end);
        EXPECT_EQ(viewed != nullptr, item.viewed) << item.bytes;
        std::string copied;
        const char* taken = takeLineBytes(copied, begin, end);
        if (viewed != nullptr) {
            EXPECT_EQ(viewed, taken);
            EXPECT_EQ(std::string(view), copied);
        }
    }
}

TEST(LineBytes, AnOverLongLineIsCutAndTheNextLineIsWhole) {
    const std::string text = std::string(maxLineLength + 4321, 'x') + "\nnext\n";
    const auto lines = linesOf(text, 65536);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], std::string(maxLineLength, 'x'));
    EXPECT_EQ(lines[1], "next");
}

std::vector<std::string> receiveAll(int port, std::string* error = nullptr) {
    ManagerConnection connection;
    connection.openConnection("127.0.0.1", port);
    connection.sendRequest("GET x HTTP/1.0\n");
    std::vector<std::string> lines;
    std::string line;
    try {
        while (connection.receiveLine(line)) {
            lines.push_back(line);
        }
    } catch (const sqconnException& failure) {
        if (error == nullptr) {
            throw;
        }
        *error = failure.what();
    }
    return lines;
}

TEST(ManagerConnection, DeliversTheLinesOfASlowReplyAndNotAnUnfinishedLastLine) {
    FakeCacheManager server;
    FakeReply reply;
    reply.bytes = "first\r\n\tsecond\nthird without newline";
    reply.chunkSize = 3;
    reply.chunkDelay = std::chrono::milliseconds(1);
    server.setReply(reply);
    EXPECT_THAT(receiveAll(server.port()), ElementsAre("first", "second"));
}

TEST(ManagerConnection, SendsTheRequestAndTheClosingLineInFull) {
    FakeCacheManager server;
    server.setReply({});
    ManagerConnection connection;
    connection.openConnection("127.0.0.1", server.port());
    const std::string request(300000, 'r');  // larger than a socket buffer
    EXPECT_EQ(connection.sendRequest(request), 300002);
    std::string line;
    EXPECT_FALSE(connection.receiveLine(line));  // an empty reply has no line
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0], request + "\r\n");
}

TEST(ManagerConnection, ConnectionFailuresCarryTheSystemText) {
    int closedPort;
    {
        FakeCacheManager server;
        closedPort = server.port();
    }
    ManagerConnection connection;
    try {
        connection.openConnection("127.0.0.1", closedPort);
        FAIL() << "connected to a closed port";
    } catch (const sqconnException& error) {
        EXPECT_STREQ(error.what(), "Connection refused");
    }
    // The port keeps its low 16 bits only.
    FakeCacheManager server;
    server.setReply({"line\n"});
    connection.openConnection("127.0.0.1", server.port() + 65536);
    connection.sendRequest("x");
    std::string line;
    EXPECT_TRUE(connection.receiveLine(line));
    EXPECT_EQ(line, "line");
}

TEST(ManagerConnection, AResetMidPageIsATransportError) {
    FakeCacheManager server;
    FakeReply reply;
    reply.bytes = "HTTP/1.1 200 OK\r\nConnection: 0x1\nremote: 10.0.0.1:5\n";
    reply.reset = true;
    server.setReply(reply);
    std::string error;
    const auto lines = receiveAll(server.port(), &error);
    EXPECT_EQ(error, "Connection reset by peer");
    EXPECT_LE(lines.size(), 3u);
}

TEST(ManagerConnection, ACancelledWaitEndsAtOnce) {
    FakeCacheManager server;
    FakeReply reply;
    reply.bytes = "HTTP/1.1 200 OK\r\n";
    reply.hang = true;
    server.setReply(reply);
    CancelSignal cancel;
    ManagerConnection connection(&cancel);
    connection.openConnection("127.0.0.1", server.port());
    connection.sendRequest("GET x HTTP/1.0\n");
    std::string line;
    ASSERT_TRUE(connection.receiveLine(line));
    std::thread canceller([&cancel] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        cancel.request();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(connection.receiveLine(line), FetchCancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    canceller.join();
}

}  // namespace
}  // namespace reqwatch
