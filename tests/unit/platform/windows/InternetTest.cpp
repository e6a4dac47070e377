// The HTTP client over WinInet against a loopback server: the request line,
// the "Http-connect" user agent, the header text and the body bytes as they
// are (GBK, unconverted), the reply byte for byte and in the narrow text,
// the status rules, a body that breaks off, downloads and the multipart
// upload.
#include "http/WininetHttp.h"

#include "DebugCapture.h"
#include "LoopbackServer.h"
#include "TempDir.h"
#include "platform/NarrowText.h"

#include <gtest/gtest.h>

namespace {

std::string reply(const std::string& status, const std::string& body,
                  const std::string& extra = "") {
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n" + extra + "\r\n" + body;
}

std::wstring wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

// {"tips":"登录失败"} in UTF-8, as the service sends it, and the tips in GBK.
const std::string kUtf8Reply =
    "{\"rt\":\"0\",\"tips\":\"\xE7\x99\xBB\xE5\xBD\x95\xE5\xA4\xB1\xE8\xB4\xA5\"}";
const std::string kGbkReply = "{\"rt\":\"0\",\"tips\":\"\xB5\xC7\xC2\xBC\xCA\xA7\xB0\xDC\"}";

} // namespace

// A POST as the service client sends it: the body's GBK bytes go out as they
// are, the header text's two lines arrive as two header lines, and the UTF-8
// reply comes back byte for byte, to be read in GBK.
TEST(WindowsInternet, PostSendsTheBodyUnconvertedAndReturnsTheReply) {
    LoopbackServer server({reply("200 OK", kUtf8Reply)});
    CWininetHttp http;
    const std::string body = "{\"loginName\":\"\xD5\xC5\xC8\xFD\",\"loginPwd\":\"p\"}\n";
    const std::string answer =
        http.Request(server.url("/Login").c_str(), 0, body.c_str(),
                     "Content-type:application/json\nAccept:application/json");
    EXPECT_EQ(answer, kUtf8Reply);
    EXPECT_EQ(platform::narrowFromUtf8(answer), kGbkReply);

    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")), "POST /Login HTTP/1.1");
    EXPECT_EQ(LoopbackServer::header(requests[0], "User-Agent"), "Http-connect");
    EXPECT_EQ(LoopbackServer::header(requests[0], "Content-type"), "application/json");
    EXPECT_EQ(LoopbackServer::header(requests[0], "Accept"), "application/json");
    EXPECT_EQ(LoopbackServer::header(requests[0], "Content-Length"), std::to_string(body.size()));
    EXPECT_EQ(LoopbackServer::bodyOf(requests[0]), body);
}

// Method 1 is a GET with no body, whatever body is given; the query stays
// on the request line.
TEST(WindowsInternet, GetSendsNoBody) {
    LoopbackServer server({reply("200 OK", "{\"rt\":\"1\",\"data\":1}")});
    CWininetHttp http;
    EXPECT_EQ(http.Request(server.url("/heartpacket?Token=t1").c_str(), 1, "ignored", nullptr),
              "{\"rt\":\"1\",\"data\":1}");
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")),
              "GET /heartpacket?Token=t1 HTTP/1.1");
    EXPECT_EQ(LoopbackServer::bodyOf(requests[0]), "");
    EXPECT_EQ(LoopbackServer::header(requests[0], "User-Agent"), "Http-connect");
}

// The status rules: "404" in the status line fails with 5 (and its line in
// the debugger output), any other status gives its body; a body shorter than
// its length fails; nobody listening fails at the send.
TEST(WindowsInternet, StatusRulesAndBrokenReplies) {
    struct Case {
        std::string reply;
        std::string expected;
        int32_t error;
    } cases[] = {
        {reply("404 Not Found", "gone"), "", 5},
        {reply("500 Internal Server Error", "{\"rt\":\"0\"}"), "{\"rt\":\"0\"}", 0},
        {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\nonly ten b", "", 8},
        {reply("200 OK", std::string("a\0b", 3)), std::string("a\0b", 3), 0},
    };
    for (const Case& c : cases) {
        LoopbackServer server({c.reply});
        CWininetHttp http;
        DebugCapture capture;
        EXPECT_EQ(http.Request(server.url("/x").c_str(), 0, nullptr, nullptr), c.expected)
            << c.reply;
        EXPECT_EQ(http.GetErrorCode(), c.error) << c.reply;
        if (c.error != 0) {
            EXPECT_EQ(
                capture.all().rfind("CWininetHttp::Request error." + std::to_string(c.error), 0),
                0u)
                << capture.all();
        }
    }
    // A port nobody listens on: the server is gone once it has its port.
    std::string refused;
    {
        LoopbackServer server({reply("200 OK", "")});
        refused = server.url("/x");
    }
    CWininetHttp http;
    EXPECT_EQ(http.Request(refused.c_str(), 0, nullptr, nullptr), "");
    EXPECT_EQ(http.GetErrorCode(), 3);
}

// A download lands whole, in the folder its path names; one that breaks off
// leaves the file that was there as it was.
TEST(WindowsInternet, DownloadReplacesTheFileOnlyWhenWhole) {
    TempDir dir;
    LoopbackServer server(
        {reply("200 OK", "new content"),
         "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\nshort"});
    CWininetHttp http;
    const std::wstring path = wide(dir.file("sub\\page.bin"));
    ASSERT_TRUE(http.DownloadFile(wide(server.url("/f")).c_str(), path.c_str()));
    EXPECT_EQ(dir.read("sub\\page.bin"), "new content");
    EXPECT_FALSE(http.DownloadFile(wide(server.url("/f")).c_str(), path.c_str()));
    EXPECT_EQ(http.GetErrorCode(), 8);
    EXPECT_EQ(dir.read("sub\\page.bin"), "new content");

    char* block = nullptr;
    int32_t length = 0;
    LoopbackServer small({reply("200 OK", "12345")});
    ASSERT_TRUE(http.DownloadToBuffer(wide(small.url("/b")).c_str(), &block, &length));
    EXPECT_EQ(std::string(block, length), "12345");
    std::free(block);
}

// The multipart upload: the announced length and the body's bytes.
TEST(WindowsInternet, UploadSendsTheMultipartBody) {
    TempDir dir;
    dir.write("a.txt", "abc");
    LoopbackServer server({reply("200 OK", "{\"rt\":\"1\"}")});
    CWininetHttp http;
    EXPECT_EQ(http.UploadFile(server.url("/up").c_str(), dir.file("a.txt").c_str(), "a.txt"),
              "{\"rt\":\"1\"}");
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")), "POST /up HTTP/1.1");
    EXPECT_EQ(LoopbackServer::header(requests[0], "Content-Length"), "199");
    EXPECT_EQ(LoopbackServer::header(requests[0], "Content-Type"),
              "multipart/form-data; boundary=----WebKitFormBoundaryloomhavenclient");
    EXPECT_EQ(LoopbackServer::bodyOf(requests[0]),
              "------WebKitFormBoundaryloomhavenclient\r\n"
              "Content-Disposition: form-data; name=\"file_data\"; filename=\"a.txt\"\r\n"
              "Content-Type: application/octet-stream\r\n\r\n"
              "abc\r\n------WebKitFormBoundaryloomhavenclient--\r\n");
}
