#include "http/WininetHttp.h"

#include "DebugCapture.h"
#include "ScriptedServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

using namespace std::chrono_literals;
using Step = ScriptedServer::Step;

namespace {

std::string reply(const std::string& statusLine, const std::string& body,
                  const std::string& extraHeaders = "") {
    return statusLine + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
           extraHeaders + "\r\n" + body;
}

std::string ok(const std::string& body) {
    return reply("HTTP/1.1 200 OK", body);
}

// A port that nothing listens on: taken from the system, then released.
uint16_t closedPort() {
    ScriptedServer probe(std::string{});
    return probe.port();
}

// Broken exchanges fail within seconds instead of the 30 s stall limit.
const platform::InternetTimeouts kShortTimeouts{2000ms, 1s};

const char kJsonHeaders[] = "Content-type:application/json\nAccept:application/json";

TEST(Request, NullOrEmptyUrlFailsBeforeAnyHandleIsTouched) {
    // The previous exchange's connection stays open: its 404 body is never
    // read, and the server holds the connection until the client closes it.
    ScriptedServer server([](const std::string&, size_t) {
        return ScriptedServer::Script{
            Step::send("HTTP/1.1 404 Not Found\r\nContent-Length: 100\r\n\r\nsome"), Step::hold()};
    });
    auto* http = new CWininetHttp;
    DebugCapture capture;
    EXPECT_EQ(http->Request(server.url("/a").c_str(), 0, "{}", kJsonHeaders), "");
    EXPECT_EQ(http->GetErrorCode(), HttpErrNotFound);

    for (const char* url : {static_cast<const char*>(nullptr), ""}) {
        capture.clear();
        EXPECT_EQ(http->Request(url, 0, "{}", kJsonHeaders), "");
        EXPECT_EQ(http->GetErrorCode(), HttpErrUrl);
        EXPECT_EQ(capture.all(), "CWininetHttp::Request error.14,GetLastError.0 \n");
    }
    EXPECT_EQ(http->RequestW(nullptr, 0, "{}", nullptr), "");
    EXPECT_EQ(http->RequestW(L"", 1, nullptr, nullptr), "");
    EXPECT_EQ(http->GetErrorCode(), HttpErrUrl);

    EXPECT_EQ(server.connectionCount(), 1u);
    EXPECT_FALSE(server.waitForPeerClose(0, 200ms)) << "the old handles were closed";
    http->Release();
    EXPECT_TRUE(server.waitForPeerClose(0, 10s));
}

TEST(Request, SendsTheExactRequestBytes) {
    ScriptedServer server(ok("{\"rt\":1}"));
    CWininetHttp http;
    EXPECT_EQ(http.Request(server.url("/Login?x=1").c_str(), 0, "{\"a\":\"b\"}", kJsonHeaders),
              "{\"rt\":1}");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0], "POST /Login?x=1 HTTP/1.1\r\n"
                                    "Host: 127.0.0.1:" +
                                        std::to_string(server.port()) +
                                        "\r\n"
                                        "User-Agent: Http-connect\r\n"
                                        "Content-type:application/json\r\n"
                                        "Accept:application/json\r\n"
                                        "Content-Length: 9\r\n"
                                        "\r\n"
                                        "{\"a\":\"b\"}");
    EXPECT_EQ(http.GetErrorCode(), 0);
}

TEST(Request, MethodChoosesVerbAndBody) {
    struct Case {
        int32_t method;
        const char* body;
        const char* requestLine;
        const char* contentLength;
        const char* sentBody;
    };
    const Case cases[] = {
        {1, "{\"ignored\":1}", "GET /m HTTP/1.1", "", ""},
        {0, nullptr, "POST /m HTTP/1.1", "0", ""},
        {0, "{}", "POST /m HTTP/1.1", "2", "{}"},
        {2, "abc", "POST /m HTTP/1.1", "3", "abc"},
        {-1, "", "POST /m HTTP/1.1", "0", ""},
    };
    ScriptedServer server(ok("done"));
    CWininetHttp http;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        EXPECT_EQ(http.Request(server.url("/m").c_str(), c.method, c.body, nullptr), "done");
        std::string request = server.requests().back();
        EXPECT_EQ(request.substr(0, request.find("\r\n")), c.requestLine);
        EXPECT_EQ(ScriptedServer::headerValue(request, "Content-Length"), c.contentLength);
        EXPECT_EQ(ScriptedServer::bodyOf(request), c.sentBody);
        // Only the caller's headers: none of the library's own.
        EXPECT_EQ(ScriptedServer::headerValue(request, "Accept"), "");
        EXPECT_EQ(ScriptedServer::headerValue(request, "Content-Type"), "");
        EXPECT_EQ(request.find("Expect"), std::string::npos);
    }
}

TEST(Request, StatusDecidesBetweenReplyAndFailure) {
    struct Case {
        std::string statusLine;
        std::string body;
        std::string expected;
        int32_t error;
    };
    const Case cases[] = {
        {"HTTP/1.1 404 Not Found", "missing", "", HttpErrNotFound},
        {"HTTP/1.1 500 Internal Server Error", "{\"rt\":0}", "{\"rt\":0}", 0},
        {"HTTP/1.1 403 Forbidden", "no", "no", 0},
        {"HTTP/1.1 204 No Content", "", "", 0},
        {"HTTP/1.1 201 Created (404 free)", "x", "", HttpErrNotFound},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.statusLine);
        ScriptedServer server(reply(c.statusLine, c.body));
        CWininetHttp http;
        DebugCapture capture;
        EXPECT_EQ(http.Request(server.url("/s").c_str(), 0, "{}", kJsonHeaders), c.expected);
        EXPECT_EQ(http.GetErrorCode(), c.error);
        EXPECT_EQ(capture.all(), c.error ? "CWininetHttp::Request error." +
                                               std::to_string(c.error) + ",GetLastError.0 \n"
                                         : "");
    }
}

TEST(Request, HeaderBlockBeyond4096BytesFails) {
    // The block is the status line and header lines, each with a NUL, plus
    // one NUL: 4096 bytes fit, 4097 do not.
    for (size_t blockSize : {4096u, 4097u}) {
        SCOPED_TRACE(blockSize);
        std::string status = "HTTP/1.1 200 OK";
        std::string length = "Content-Length: 2";
        size_t fixed =
            status.size() + 1 + length.size() + 1 + 1 + std::string("X-Pad: ").size() + 1;
        std::string pad(blockSize - fixed, 'p');
        ScriptedServer server(status + "\r\n" + length + "\r\nX-Pad: " + pad + "\r\n\r\nok");
        CWininetHttp http;
        DebugCapture capture;
        std::string got = http.Request(server.url("/h").c_str(), 1, nullptr, nullptr);
        if (blockSize == 4096) {
            EXPECT_EQ(got, "ok");
            EXPECT_EQ(http.GetErrorCode(), 0);
        } else {
            EXPECT_EQ(got, "");
            EXPECT_EQ(http.GetErrorCode(), HttpErrQueryInfo);
            EXPECT_EQ(capture.all(), "CWininetHttp::Request error.4,GetLastError.122 \n");
        }
    }
}

TEST(Request, BodyIsReturnedByteForByte) {
    // A chunked body of many 4096-byte reads, with NUL bytes inside chunks.
    std::string body;
    for (int i = 0; i < 3000; ++i)
        body += std::string("line ") + std::to_string(i) + '\0' + "\xe4\xb8\xad\n";
    std::string chunked;
    for (size_t at = 0; at < body.size(); at += 1000) {
        std::string piece = body.substr(at, 1000);
        char size[16];
        std::snprintf(size, sizeof size, "%zx", piece.size());
        chunked += std::string(size) + "\r\n" + piece + "\r\n";
    }
    chunked += "0\r\n\r\n";
    ScriptedServer server("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunked);
    CWininetHttp http;
    std::string got = http.Request(server.url("/big").c_str(), 1, nullptr, nullptr);
    EXPECT_EQ(got.size(), body.size());
    EXPECT_TRUE(got == body);
}

TEST(Request, NoContentDecodingIsAskedOrDone) {
    std::string gzipBytes("\x1f\x8b\x08\x00\x00\x00\x00\x00", 8);
    ScriptedServer server(reply("HTTP/1.1 200 OK", gzipBytes, "Content-Encoding: gzip\r\n"));
    CWininetHttp http;
    EXPECT_EQ(http.Request(server.url("/z").c_str(), 1, nullptr, nullptr), gzipBytes);
    EXPECT_EQ(ScriptedServer::headerValue(server.requests()[0], "Accept-Encoding"), "");
}

TEST(Request, RedirectIsFollowedAndPostBecomesGet) {
    for (const char* status : {"301 Moved Permanently", "302 Found", "303 See Other"}) {
        SCOPED_TRACE(status);
        ScriptedServer server([&](const std::string& request, size_t) {
            if (request.find(" /final ") != std::string::npos)
                return ScriptedServer::Script{Step::send(ok("final body"))};
            return ScriptedServer::Script{Step::send(
                reply(std::string("HTTP/1.1 ") + status, "moved", "Location: /final\r\n"))};
        });
        CWininetHttp http;
        EXPECT_EQ(http.Request(server.url("/start").c_str(), 0, "{}", kJsonHeaders), "final body");
        auto requests = server.requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[0].substr(0, 21), "POST /start HTTP/1.1\r");
        EXPECT_EQ(requests[1].substr(0, 20), "GET /final HTTP/1.1\r");
        EXPECT_EQ(ScriptedServer::bodyOf(requests[1]), "");
    }
}

TEST(Request, RedirectThatIsNotFollowedIsTheReply) {
    // An empty Location and a secure one are not followed: the 3xx itself is
    // the reply, whatever the size of its body.
    const std::string body(300000, 'r');
    for (const char* location : {"Location: \r\n", "Location: https://127.0.0.1:1/x\r\n"}) {
        SCOPED_TRACE(location);
        ScriptedServer server(reply("HTTP/1.1 302 Found", body, location));
        CWininetHttp http;
        DebugCapture capture;
        std::string got = http.Request(server.url("/r").c_str(), 1, nullptr, nullptr);
        if (std::string(location).find("https") == std::string::npos) {
            EXPECT_TRUE(got == body);
            EXPECT_EQ(http.GetErrorCode(), 0);
        } else {
            EXPECT_EQ(got, "");
            EXPECT_EQ(http.GetErrorCode(), HttpErrSend);
        }
        EXPECT_EQ(server.connectionCount(), 1u);
    }
}

TEST(Request, ProxyComesFromTheEnvironment) {
    ScriptedServer target(ok("direct"));
    ScriptedServer proxy(ok("via proxy"));
    CWininetHttp http;
    std::string proxyUrl = "http://127.0.0.1:" + std::to_string(proxy.port());
    setenv("http_proxy", proxyUrl.c_str(), 1);
    EXPECT_EQ(http.Request(target.url("/p").c_str(), 1, nullptr, nullptr), "via proxy");
    setenv("no_proxy", "127.0.0.1", 1);
    EXPECT_EQ(http.Request(target.url("/p").c_str(), 1, nullptr, nullptr), "direct");
    unsetenv("http_proxy");
    unsetenv("no_proxy");

    ASSERT_EQ(proxy.requests().size(), 1u);
    EXPECT_EQ(proxy.requests()[0].substr(0, proxy.requests()[0].find("\r\n")),
              "GET " + target.url("/p") + " HTTP/1.1");
    ASSERT_EQ(target.requests().size(), 1u);
    EXPECT_EQ(target.requests()[0].substr(0, 17), "GET /p HTTP/1.1\r\n");
}

TEST(Request, PortZeroMeansTheDefaultHttpPort) {
    // "x1" reads as port 0, which asks for the service's default port, 80.
    // The proxy sees where the request would have gone.
    ScriptedServer proxy(ok("via proxy"));
    CWininetHttp http;
    setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(proxy.port())).c_str(), 1);
    EXPECT_EQ(http.Request("http://wall.invalid:x1/a", 1, nullptr, nullptr), "via proxy");
    unsetenv("http_proxy");
    EXPECT_EQ(http.GetErrorCode(), 0);
    ASSERT_EQ(proxy.requests().size(), 1u);
    const std::string request = proxy.requests()[0];
    EXPECT_EQ(request.substr(0, request.find("\r\n")), "GET http://wall.invalid/a HTTP/1.1");
    EXPECT_EQ(ScriptedServer::headerValue(request, "Host"), "wall.invalid");
}

TEST(Request, CookiesOfOneReplyGoWithLaterRequests) {
    ScriptedServer server(
        reply("HTTP/1.1 200 OK", "in", "Set-Cookie: session=s1; Path=/cookie-test\r\n"));
    ScriptedServer other(ok("out"));
    {
        CWininetHttp first;
        EXPECT_EQ(first.Request(server.url("/cookie-test/login").c_str(), 0, "{}", nullptr), "in");
    }
    // Another client object of the same process sends the cookie back.
    CWininetHttp second;
    EXPECT_EQ(second.Request(other.url("/cookie-test/heart").c_str(), 1, nullptr, nullptr), "out");
    EXPECT_EQ(second.Request(other.url("/elsewhere").c_str(), 1, nullptr, nullptr), "out");
    auto requests = other.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(ScriptedServer::headerValue(requests[0], "Cookie"), "session=s1");
    EXPECT_EQ(ScriptedServer::headerValue(requests[1], "Cookie"), "");
}

TEST(Request, BrokenExchangesFailWithSend) {
    const std::string fullReply = ok("never");
    struct Case {
        const char* name;
        ScriptedServer::Script script;
    };
    const Case cases[] = {
        {"stalled", {Step::hold()}},
        {"reset", {Step::reset()}},
        {"closed", {Step::close()}},
        {"stalled in headers", {Step::send("HTTP/1.1 200 OK\r\nContent-"), Step::hold()}},
        {"not HTTP", {Step::send("garbage\r\n\r\n")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server([&](const std::string&, size_t) { return c.script; });
        CWininetHttp http(kShortTimeouts);
        DebugCapture capture;
        EXPECT_EQ(http.Request(server.url("/b").c_str(), 0, "{}", kJsonHeaders), "");
        EXPECT_EQ(http.GetErrorCode(), HttpErrSend);
        EXPECT_EQ(capture.all().rfind("CWininetHttp::Request error.3,GetLastError.", 0), 0u)
            << capture.all();
    }
    CWininetHttp http;
    DebugCapture capture;
    EXPECT_EQ(http.Request(("http://127.0.0.1:" + std::to_string(closedPort()) + "/").c_str(), 0,
                           "{}", nullptr),
              "");
    EXPECT_EQ(http.GetErrorCode(), HttpErrSend);
}

TEST(Request, StallInsideTheBodyFailsWithSizeMismatch) {
    // The stall limit comes from the object's own time-outs.
    ScriptedServer server([](const std::string&, size_t) {
        return ScriptedServer::Script{
            Step::send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npartial"), Step::hold()};
    });
    CWininetHttp http(kShortTimeouts);
    DebugCapture capture;
    EXPECT_EQ(http.Request(server.url("/b").c_str(), 1, nullptr, nullptr), "");
    EXPECT_EQ(http.GetErrorCode(), HttpErrSizeMismatch);
    EXPECT_EQ(capture.all(), "CWininetHttp::Request error.8,GetLastError.28 \n");
}

TEST(Request, ErrorCodeOutlivesLaterSuccess) {
    ScriptedServer server(ok("fine"));
    CWininetHttp http;
    DebugCapture capture;
    EXPECT_EQ(http.Request("http:///nohost", 0, "{}", nullptr), "");
    EXPECT_EQ(http.GetErrorCode(), HttpErrConnect);
    EXPECT_EQ(capture.all(), "CWininetHttp::Request error.2,GetLastError.87 \n");
    EXPECT_EQ(http.Request(server.url("/").c_str(), 0, "{}", nullptr), "fine");
    EXPECT_EQ(http.GetErrorCode(), HttpErrConnect);
}

TEST(Request, WideRequestConvertsAtTheEdgeAndWritesNoDebugLine) {
    ScriptedServer server(reply("HTTP/1.1 200 OK", "w"));
    CWininetHttp http;
    DebugCapture capture;
    std::wstring url = server.urlW("/wide");
    EXPECT_EQ(
        http.RequestW(url.c_str(), 0, "{}", L"X-Name:\u4e2d\u6587\r\nAccept:*/*\n\nX-Empty: \r"),
        "w");
    std::string request = server.requests()[0];
    EXPECT_EQ(ScriptedServer::headerValue(request, "X-Name"), "\xe4\xb8\xad\xe6\x96\x87");
    EXPECT_EQ(ScriptedServer::headerValue(request, "Accept"), "*/*");
    EXPECT_NE(request.find("\r\nX-Empty:\r\n"), std::string::npos);

    EXPECT_EQ(http.RequestW(L"http:///nohost", 0, "{}", nullptr), "");
    EXPECT_EQ(http.GetErrorCode(), HttpErrConnect);
    EXPECT_EQ(capture.all(), "");
}

TEST(Request, ThreadsShareOneClientAndTheCookieStore) {
    // Two threads on one client run one exchange after the other; a third
    // on its own client runs alongside them, all on the one cookie store.
    ScriptedServer server([](const std::string& request, size_t) {
        std::string body = ScriptedServer::bodyOf(request);
        return ScriptedServer::Script{
            Step::send(reply("HTTP/1.1 200 OK", "echo:" + body,
                             "Set-Cookie: last=" + body + "; Path=/threads\r\n"))};
    });
    CWininetHttp shared;
    CWininetHttp own;
    auto worker = [&](CWininetHttp* http, const std::string& tag, int* matches) {
        for (int i = 0; i < 20; ++i) {
            std::string body = tag + std::to_string(i);
            if (http->Request(server.url("/threads/t").c_str(), 0, body.c_str(), kJsonHeaders) ==
                "echo:" + body)
                ++*matches;
        }
    };
    int a = 0, b = 0, c = 0;
    std::thread first(worker, &shared, "a", &a);
    std::thread second(worker, &shared, "b", &b);
    std::thread third(worker, &own, "c", &c);
    first.join();
    second.join();
    third.join();
    EXPECT_EQ(a, 20);
    EXPECT_EQ(b, 20);
    EXPECT_EQ(c, 20);
    EXPECT_EQ(server.connectionCount(), 60u);
    EXPECT_EQ(shared.GetErrorCode(), 0);
    // Only each thread's first request can leave before any cookie is kept.
    size_t withCookie = 0;
    for (const auto& request : server.requests())
        withCookie += ScriptedServer::headerValue(request, "Cookie").starts_with("last=");
    EXPECT_GE(withCookie, 57u);
}

} // namespace
