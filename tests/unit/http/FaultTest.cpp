// The transport against a server that errs: error pages, bodies cut short or
// reset, endless bodies, early answers to uploads, ports beyond 16 bits. No
// fault may look like success, and a download may never cost the old file.
#include "http/WininetHttp.h"

#include "DebugCapture.h"
#include "ScriptedServer.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

using Step = ScriptedServer::Step;
using Script = ScriptedServer::Script;

namespace {

enum class Call { DownloadFile, DownloadToBuffer, Request, RequestW, Upload };

const char* nameOf(Call call) {
    switch (call) {
    case Call::DownloadFile:
        return "DownloadFile";
    case Call::DownloadToBuffer:
        return "DownloadToBuffer";
    case Call::Request:
        return "Request";
    case Call::RequestW:
        return "RequestW";
    case Call::Upload:
        return "UploadFile";
    }
    return "?";
}

std::string pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 13 + i / 509) & 0xff);
    return bytes;
}

std::string head(const std::string& status, const std::string& length) {
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + length + "\r\n\r\n";
}

std::string whole(const std::string& status, const std::string& body) {
    return head(status, std::to_string(body.size())) + body;
}

const std::string kOld = "the old file, whole";
const std::string kBody = pattern(100000);
const std::string kPart = kBody.substr(0, 30000);
// A body the local file takes in several stretches written out to the disk
// during the transfer.
const std::string kLargeBody = pattern(25 * 1048576 + 777);
// Far more than the socket buffers of both ends hold.
constexpr size_t kUploadSize = 24 * 1048576;
// The reply a caller sees in place of a failed call's result.
const std::string kNothing = "<nothing>";

struct Fault {
    const char* name;
    Call call;
    Script script;
    int32_t error;      // 0: the call succeeds
    std::string result; // the reply, the buffer, or the local file afterwards
    int portShift = 0;  // added to the server's port in the address
    size_t readLimit = SIZE_MAX;
};

struct Outcome {
    bool succeeded = false;
    std::string result;
};

// Runs one call on a fresh client. The local file of a download holds the
// old text beforehand; the file of an upload holds kUploadSize bytes.
Outcome run(CWininetHttp& http, Call call, const std::string& url, const TempDir& dir) {
    const std::wstring urlW(url.begin(), url.end());
    Outcome out;
    switch (call) {
    case Call::DownloadFile: {
        const std::string path = dir.file("keep.bin");
        const std::wstring pathW(path.begin(), path.end());
        out.succeeded = http.DownloadFile(urlW.c_str(), pathW.c_str());
        out.result = dir.read("keep.bin");
        break;
    }
    case Call::DownloadToBuffer: {
        char sentinel = 0;
        char* block = &sentinel;
        int32_t length = -7;
        out.succeeded = http.DownloadToBuffer(urlW.c_str(), &block, &length);
        if (out.succeeded) {
            out.result.assign(block, static_cast<size_t>(length));
            std::free(block);
        } else {
            EXPECT_EQ(block, &sentinel) << "out values untouched";
            EXPECT_EQ(length, -7);
            out.result = kNothing;
        }
        break;
    }
    case Call::Request:
    case Call::RequestW:
        out.result = call == Call::Request ? http.Request(url.c_str(), 1, nullptr, nullptr)
                                           : http.RequestW(urlW.c_str(), 1, nullptr, nullptr);
        out.succeeded = http.GetErrorCode() == 0;
        break;
    case Call::Upload:
        out.result = http.UploadFile(url.c_str(), dir.file("upload.bin").c_str(), "upload.bin");
        out.succeeded = http.GetErrorCode() == 0;
        break;
    }
    if (!out.succeeded && out.result.empty())
        out.result = kNothing;
    return out;
}

TEST(Faults, NoFaultLooksLikeSuccessAndNoDownloadCostsTheOldFile) {
    const std::string oneShort = head("200 OK", "100000") + kBody.substr(0, 99999);
    const std::string endless = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n";
    const Fault faults[] = {
        // Error pages are no downloads.
        {"403", Call::DownloadFile, {Step::send(whole("403 Forbidden", "denied"))}, 5, kOld},
        {"404", Call::DownloadFile, {Step::send(whole("404 Not Found", "gone"))}, 5, kOld},
        {"500",
         Call::DownloadFile,
         {Step::send(whole("500 Internal Server Error", "oops"))},
         5,
         kOld},
        {"403 to memory",
         Call::DownloadToBuffer,
         {Step::send(whole("403 Forbidden", "no"))},
         5,
         kNothing},
        {"503 to memory",
         Call::DownloadToBuffer,
         {Step::send(whole("503 Busy", "later"))},
         5,
         kNothing},
        // Bodies that break off.
        {"cut at 30 %",
         Call::DownloadFile,
         {Step::send(head("200 OK", "100000") + kPart)},
         8,
         kOld},
        {"one byte short", Call::DownloadFile, {Step::send(oneShort)}, 8, kOld},
        {"headers only", Call::DownloadFile, {Step::send(head("200 OK", "100000"))}, 8, kOld},
        {"large body cut after the write-back began",
         Call::DownloadFile,
         {Step::send(head("200 OK", std::to_string(kLargeBody.size() + 1)) + kLargeBody)},
         8,
         kOld},
        {"reset",
         Call::DownloadFile,
         {Step::send(head("200 OK", "100000") + kPart), Step::reset()},
         8,
         kOld},
        {"cut to memory",
         Call::DownloadToBuffer,
         {Step::send(head("200 OK", "100000") + kPart)},
         8,
         kNothing},
        // A length that is no number.
        {"length abc", Call::DownloadFile, {Step::send(head("200 OK", "abc") + "abc")}, 3, kOld},
        {"whole", Call::DownloadFile, {Step::send(whole("200 OK", kBody))}, 0, kBody},
        {"whole, large",
         Call::DownloadFile,
         {Step::send(whole("200 OK", kLargeBody))},
         0,
         kLargeBody},
        {"whole to memory", Call::DownloadToBuffer, {Step::send(whole("200 OK", kBody))}, 0, kBody},
        // Requests cut short.
        {"request cut", Call::Request, {Step::send(head("200 OK", "100000") + kPart)}, 8, kNothing},
        {"request reset",
         Call::Request,
         {Step::send(head("200 OK", "100000") + kPart), Step::reset()},
         8,
         kNothing},
        {"wide request cut",
         Call::RequestW,
         {Step::send(head("200 OK", "100000") + kPart)},
         8,
         kNothing},
        {"endless body",
         Call::Request,
         {Step::send(endless), Step::repeat(std::string(65536, 'e'), size_t(1) << 30)},
         12,
         kNothing},
        {"500 with a body",
         Call::Request,
         {Step::send(whole("500 Internal Server Error", "{\"rt\":0}"))},
         0,
         "{\"rt\":0}"},
        {"body up to its close", Call::Request, {Step::send(endless + kBody)}, 0, kBody},
        // An upload the server cuts short with an early answer.
        {"upload answered early",
         Call::Upload,
         {Step::send(whole("500 Internal Server Error", "too much")), Step::reset()},
         3,
         kNothing,
         0,
         3 * 1048576},
        {"upload answered in time",
         Call::Upload,
         {Step::send(whole("200 OK", "stored"))},
         0,
         "stored"},
        // Ports beyond 16 bits reach nothing.
        {"port + 65536",
         Call::Request,
         {Step::send(whole("200 OK", "wrapped"))},
         2,
         kNothing,
         65536},
        {"port - 65536",
         Call::RequestW,
         {Step::send(whole("200 OK", "wrapped"))},
         2,
         kNothing,
         -65536},
        {"download port + 65536",
         Call::DownloadFile,
         {Step::send(whole("200 OK", "wrapped"))},
         2,
         kOld,
         65536},
    };

    TempDir dir;
    {
        std::ofstream upload(dir.file("upload.bin"), std::ios::binary);
        upload << pattern(kUploadSize);
    }
    const std::set<std::string> files = {"keep.bin", "upload.bin"};
    for (const Fault& f : faults) {
        SCOPED_TRACE(std::string(f.name) + " (" + nameOf(f.call) + ")");
        dir.write("keep.bin", kOld);
        ScriptedServer server([&](const std::string&, size_t) { return f.script; }, f.readLimit);
        const int port = server.port() + f.portShift;
        const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/f";
        DebugCapture quiet;
        Outcome outcome;
        {
            CWininetHttp http;
            outcome = run(http, f.call, url, dir);
            EXPECT_EQ(http.GetErrorCode(), f.error);
        }
        EXPECT_EQ(outcome.succeeded, f.error == 0);
        EXPECT_EQ(outcome.result.size(), f.result.size());
        EXPECT_TRUE(outcome.result == f.result) << "not the expected bytes";
        EXPECT_EQ(server.connectionCount(), f.portShift == 0 ? 1u : 0u);
        // No temporary file is left beside the local file.
        std::set<std::string> present;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            present.insert(entry.path().filename().string());
        EXPECT_EQ(present, files);
    }
}

TEST(Faults, LeadingDigitsOfAPortStillCount) {
    // The port text is read up to its first non-digit; the proxy sees where
    // each request would have gone.
    const std::pair<const char*, const char*> cases[] = {
        {"http://wall.invalid:80abc/a", "GET http://wall.invalid/a HTTP/1.1"},
        {"http://wall.invalid:8088abc/a", "GET http://wall.invalid:8088/a HTTP/1.1"},
        {"http://wall.invalid:65535/a", "GET http://wall.invalid:65535/a HTTP/1.1"},
    };
    ScriptedServer proxy(whole("200 OK", "via proxy"));
    setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(proxy.port())).c_str(), 1);
    for (const auto& [url, requestLine] : cases) {
        SCOPED_TRACE(url);
        CWininetHttp http;
        EXPECT_EQ(http.Request(url, 1, nullptr, nullptr), "via proxy");
        EXPECT_EQ(http.GetErrorCode(), 0);
        const std::string request = proxy.requests().back();
        EXPECT_EQ(request.substr(0, request.find("\r\n")), requestLine);
    }
    unsetenv("http_proxy");
}

TEST(Faults, PathGoesOutPercentEncoded) {
    // A raw space would end the request line early; bytes above 127 are no
    // request-line text either.
    ScriptedServer server(whole("200 OK", "ok"));
    CWininetHttp http;
    const std::string url = server.url("/Knit UI/\xe5\x9b\xbe.html?name=a b&t=\xe4\xb8\xad");
    EXPECT_EQ(http.Request(url.c_str(), 1, nullptr, nullptr), "ok");
    const std::string request = server.requests().at(0);
    EXPECT_EQ(request.substr(0, request.find("\r\n")),
              "GET /Knit%20UI/%e5%9b%be.html?name=a%20b&t=%e4%b8%ad HTTP/1.1");
}

} // namespace
