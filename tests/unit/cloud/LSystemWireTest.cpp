// Each call of LSystem as it arrives at a loopback server, over the real HTTP
// client.
#include "DebugCapture.h"
#include "NoticeListener.h"
#include "ScriptedServer.h"
#include "TempDir.h"

#include "cloud/LSystem.h"
#include "http/WininetHttp.h"
#include "platform/ShellClient.h"

#include <gtest/gtest.h>

namespace {

std::string okReply(const std::string& body, const std::string& extraHeaders = "") {
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n" + extraHeaders +
           "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
           body;
}

std::string requestLine(const std::string& raw) {
    return raw.substr(0, raw.find("\r\n"));
}

// The header lines every call carries, and its body bytes.
void expectServiceHeaders(const std::string& raw) {
    EXPECT_EQ(ScriptedServer::headerValue(raw, "User-Agent"), "Http-connect") << raw;
    EXPECT_EQ(ScriptedServer::headerValue(raw, "Content-type"), "application/json") << raw;
    EXPECT_EQ(ScriptedServer::headerValue(raw, "Accept"), "application/json") << raw;
}

struct WireCase {
    const char* name;
    std::string line; // request line
    std::string body;
    std::function<int32_t(LSystem&, const std::string&)> call;
};

TEST(LSystemWire, EachCallsRequest) {
    const std::vector<WireCase> cases = {
        {"Login", "POST /Login HTTP/1.1", "{\"loginName\":\"admin\",\"loginPwd\":\"密码\"}\n",
         [](LSystem& c, const std::string& a) {
             std::string token, name;
             return LSystem::Login(a, token, c, "admin", "密码", name);
         }},
        {"EnterFactory", "POST /Enter?Token=t-1 HTTP/1.1", "{\"fid\":\"F001\"}\n",
         [](LSystem& c, const std::string& a) {
             return LSystem::EnterFactory(a, "F001", c, "t-1");
         }},
        {"EnterFactoryEmptyToken", "POST /Enter?Token= HTTP/1.1", "{\"fid\":\"\"}\n",
         [](LSystem& c, const std::string& a) { return LSystem::EnterFactory(a, "", c, ""); }},
        {"heartpacket", "GET /heartpacket?Token=t-1 HTTP/1.1", "",
         [](LSystem& c, const std::string& a) { return LSystem::heartpacket(a, c, "t-1"); }},
        {"heartpacketEmptyToken", "GET /heartpacket?Token= HTTP/1.1", "",
         [](LSystem& c, const std::string& a) { return LSystem::heartpacket(a, c, ""); }},
        {"Logout", "POST /Logout HTTP/1.1", "",
         [](LSystem& c, const std::string& a) { return LSystem::Logout(c, a); }},
        {"LoginTrailingSlash", "POST //Login HTTP/1.1",
         "{\"loginName\":\"a\",\"loginPwd\":\"b\"}\n",
         [](LSystem& c, const std::string& a) {
             std::string token, name;
             return LSystem::Login(a + "/", token, c, "a", "b", name);
         }},
    };
    for (const WireCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server(okReply(R"({"rt":"1","data":1})"));
        LSystem client;
        DebugCapture capture;
        c.call(client, "http://127.0.0.1:" + std::to_string(server.port()));
        ASSERT_EQ(server.requests().size(), 1u);
        const std::string raw = server.requests()[0];
        EXPECT_EQ(requestLine(raw), c.line);
        expectServiceHeaders(raw);
        EXPECT_EQ(ScriptedServer::bodyOf(raw), c.body);
        if (c.line.rfind("POST", 0) == 0) {
            EXPECT_EQ(ScriptedServer::headerValue(raw, "Content-Length"),
                      std::to_string(c.body.size()));
        }
    }
}

// The reply travels byte for byte to the reply rules: status codes other
// than 404 keep their body; a 404 is a failed exchange.
TEST(LSystemWire, RepliesOverHttp) {
    TempDir dir;
    const auto nobody = [&] {
        return LSystem(std::make_unique<CWininetHttp>(), shellClientAt(dir.file("none.sock")));
    };
    {
        ScriptedServer server(okReply(R"({"rt":"1","data":"{\"Token\":\"w\",\"uname\":\"名\"}"})"));
        LSystem client = nobody();
        std::string token, name;
        EXPECT_EQ(LSystem::Login(server.url(""), token, client, "a", "b", name), 1);
        EXPECT_EQ(token, "w");
        EXPECT_EQ(name, "名");
    }
    {
        const std::string body = R"({"rt":"0","tips":"服务器忙"})";
        ScriptedServer server("HTTP/1.1 500 Internal Server Error\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\n\r\n" + body);
        LSystem client = nobody();
        DebugCapture capture;
        EXPECT_EQ(LSystem::EnterFactory(server.url(""), "F", client, "t"), 0);
        EXPECT_EQ(capture.writes(),
                  (std::vector<std::string>{"LSystem::EnterFactory()", "服务器忙"}));
    }
    {
        ScriptedServer server("HTTP/1.1 404 Not Found\r\nContent-Length: 2\r\n\r\n{}");
        LSystem client = nobody();
        DebugCapture capture;
        EXPECT_EQ(LSystem::heartpacket(server.url(""), client, "t"), 0);
        const auto writes = capture.writes();
        ASSERT_GE(writes.size(), 5u);
        // The transport's own line comes first; then the keep-alive's lines.
        const std::vector<std::string> tail(writes.end() - 5, writes.end());
        EXPECT_EQ(tail, (std::vector<std::string>{"LSystem::heartpacket()\n",
                                                  "Request:", server.url("/heartpacket?Token=t"),
                                                  "Response:", ""}));
    }
}

// The session cookie set by the sign-in reply comes back with the sign-out,
// which carries no token of its own.
TEST(LSystemWire, SignOutCarriesTheSignInCookie) {
    ScriptedServer server([](const std::string& request, size_t) {
        if (requestLine(request).find("/Login") != std::string::npos)
            return ScriptedServer::Script{ScriptedServer::Step::send(
                okReply(R"({"rt":"1","data":"{\"Token\":\"c\"}"})",
                        "Set-Cookie: PVSESSION=wire-cookie-1; Path=/\r\n"))};
        return ScriptedServer::Script{
            ScriptedServer::Step::send(okReply(R"({"rt":"1","data":1})"))};
    });
    LSystem client;
    std::string token, name;
    ASSERT_EQ(LSystem::Login(server.url(""), token, client, "a", "b", name), 1);
    LSystem signOut;
    EXPECT_EQ(LSystem::Logout(signOut, server.url("")), 1);
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_NE(
        ScriptedServer::headerValue(server.requests()[1], "Cookie").find("PVSESSION=wire-cookie-1"),
        std::string::npos);
}

} // namespace
