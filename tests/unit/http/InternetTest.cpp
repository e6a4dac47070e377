#include "platform/Internet.h"

#include "ScriptedServer.h"

#include <gtest/gtest.h>

using platform::InternetConnection;
using platform::InternetRequest;
using platform::InternetSession;

namespace {

struct Handles {
    std::unique_ptr<InternetSession> session;
    std::unique_ptr<InternetConnection> connection;
    std::unique_ptr<InternetRequest> request;
};

Handles open(const ScriptedServer& server, const char* verb, const char* path) {
    Handles h;
    h.session = InternetSession::open("Http-connect");
    h.connection = InternetConnection::open(*h.session, "127.0.0.1", server.port());
    h.request = InternetRequest::open(*h.connection, verb, path, "HTTP/1.1", true);
    return h;
}

std::string pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i % 253);
    return bytes;
}

TEST(Internet, SmallReadsPullALargeBodyThroughTheBoundedBuffer) {
    const std::string body = pattern(3 * 1048576 + 17);
    ScriptedServer server("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                          "\r\n\r\n" + body);
    Handles h = open(server, "GET", "/big");
    ASSERT_TRUE(h.request->send({}, nullptr, 0));
    std::string got;
    char buffer[1000];
    size_t count = 0;
    while (h.request->read(buffer, sizeof buffer, &count) && count > 0) {
        // A read blocks until its buffer is full or the body ends.
        if (count < sizeof buffer) {
            EXPECT_EQ(got.size() + count, body.size());
        }
        got.append(buffer, count);
    }
    EXPECT_TRUE(got == body);
    EXPECT_TRUE(h.request->read(buffer, sizeof buffer, &count));
    EXPECT_EQ(count, 0u);
}

TEST(Internet, QueriesReportTheRoomTheyNeed) {
    ScriptedServer server("HTTP/1.1 200 OK\r\nContent-Length:  12 \r\nX-A: b\r\n\r\nhello world!");
    Handles h = open(server, "GET", "");
    ASSERT_TRUE(h.request->send({}, nullptr, 0));
    EXPECT_EQ(server.requests()[0].substr(0, 16), "GET / HTTP/1.1\r\n");

    const std::string block("HTTP/1.1 200 OK\0Content-Length:  12 \0X-A: b\0", 44);
    char small[10];
    size_t size = sizeof small;
    EXPECT_FALSE(h.request->queryRawHeaders(small, &size));
    EXPECT_EQ(platform::internetLastError(), platform::kInternetErrorInsufficientBuffer);
    EXPECT_EQ(size, block.size() + 1);
    std::vector<char> exact(size);
    EXPECT_TRUE(h.request->queryRawHeaders(exact.data(), &size));
    EXPECT_EQ(std::string(exact.data(), size), block);
    EXPECT_EQ(exact[size], '\0');

    wchar_t wide[64];
    size = 64;
    EXPECT_TRUE(h.request->queryRawHeaders(wide, &size));
    EXPECT_EQ(std::wstring(wide, size), std::wstring(block.begin(), block.end()));

    char length[8];
    size = sizeof length;
    EXPECT_TRUE(h.request->queryContentLength(length, &size));
    EXPECT_EQ(std::string(length, size), "12");
}

TEST(Internet, ContentLengthQueryFailsWithoutTheHeader) {
    ScriptedServer server("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nuntil the end");
    Handles h = open(server, "GET", "/");
    ASSERT_TRUE(h.request->send({}, nullptr, 0));
    char length[8];
    size_t size = sizeof length;
    EXPECT_FALSE(h.request->queryContentLength(length, &size));
    EXPECT_EQ(platform::internetLastError(), platform::kInternetErrorHeaderNotFound);
}

TEST(Internet, PushedBodyMustMatchItsAnnouncedLength) {
    ScriptedServer server("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    {
        Handles h = open(server, "POST", "/exact");
        ASSERT_TRUE(h.request->addHeader("X-Kind:first"));
        ASSERT_TRUE(h.request->addHeader("x-kind:second"));
        ASSERT_TRUE(h.request->beginSend(3));
        size_t written = 0;
        EXPECT_TRUE(h.request->write("abcdef", 6, &written));
        EXPECT_EQ(written, 3u);
        EXPECT_TRUE(h.request->endRequest());
        char reply[8];
        size_t count = 0;
        EXPECT_TRUE(h.request->read(reply, sizeof reply, &count));
        EXPECT_EQ(std::string(reply, count), "ok");
        EXPECT_FALSE(h.request->addHeader("X-Late:1"));
    }
    const std::string request = server.requests().at(0);
    EXPECT_EQ(ScriptedServer::bodyOf(request), "abc");
    EXPECT_EQ(ScriptedServer::headerValue(request, "X-Kind"), "second");
    EXPECT_EQ(ScriptedServer::headerValue(request, "Content-Length"), "3");

    Handles h = open(server, "POST", "/short");
    ASSERT_TRUE(h.request->beginSend(10));
    size_t written = 0;
    EXPECT_TRUE(h.request->write("abc", 3, &written));
    EXPECT_FALSE(h.request->endRequest());
    EXPECT_EQ(platform::internetLastError(), 55); // the transfer library's send error
}

TEST(Internet, OperationsOutOfOrderFail) {
    ScriptedServer server("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    Handles h = open(server, "GET", "/");
    char buffer[4];
    size_t size = sizeof buffer;
    EXPECT_FALSE(h.request->read(buffer, sizeof buffer, &size));
    EXPECT_FALSE(h.request->queryRawHeaders(buffer, &size));
    EXPECT_FALSE(h.request->endRequest());
    ASSERT_TRUE(h.request->send({}, nullptr, 0));
    EXPECT_FALSE(h.request->send({}, nullptr, 0));
    EXPECT_FALSE(h.request->write("x", 1, &size));
    EXPECT_EQ(server.connectionCount(), 1u);

    // No reply can be read while the pushed body is unfinished.
    Handles push = open(server, "POST", "/");
    ASSERT_TRUE(push.request->beginSend(10));
    EXPECT_TRUE(push.request->write("abc", 3, &size));
    EXPECT_FALSE(push.request->read(buffer, sizeof buffer, &size));

    EXPECT_EQ(InternetConnection::open(*h.session, "", 80), nullptr);
    EXPECT_EQ(InternetRequest::open(*h.connection, "GET", "/", "HTTP/1.0", true), nullptr);
}

} // namespace
