#include "http/MyCallback.h"
#include "http/WininetHttp.h"

#include "DebugCapture.h"
#include "ScriptedServer.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace std::chrono_literals;
using Step = ScriptedServer::Step;

namespace {

struct Note {
    uint32_t context;
    int32_t status;
    double total;
    double done;
    bool operator==(const Note&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Note& n) {
    return out << "{" << n.context << "," << n.status << "," << n.total << "," << n.done << "}";
}

// Every notification, received through CMyCallback's plain function.
std::vector<Note> notes;
int32_t recordProgress(uint32_t context, int32_t status, double total, double done) {
    notes.push_back({context, status, total, done});
    return 0;
}

class Transfer : public ::testing::Test {
protected:
    Transfer() {
        notes.clear();
        callback.progress = &recordProgress;
        http.SetCallback(&callback, kContext);
    }
    static constexpr uint32_t kContext = 77;
    CMyCallback callback;
    CWininetHttp http;
    TempDir dir;
    DebugCapture capture;
};

std::string pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return bytes;
}

std::string withLength(const std::string& body, const std::string& status = "200 OK") {
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

std::wstring wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

const char kChunkedReply[] =
    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n";

TEST(MyCallback, ForwardsToItsFunctionOrDoesNothing) {
    CMyCallback callback;
    EXPECT_EQ(callback.OnProgress(1, 0, 2.0, 1.0), 0);
    EXPECT_FALSE(callback.IsAborted());
    callback.progress = [](uint32_t context, int32_t status, double total, double done) {
        return static_cast<int32_t>(context * 1000 + status * 100 + total * 10 + done);
    };
    EXPECT_EQ(callback.OnProgress(3, 2, 4.0, 5.0), 3245);
}

TEST_F(Transfer, DownloadFileWritesBlocksIntoNewFolders) {
    const std::string body = pattern(2 * 1048576 + 524288);
    ScriptedServer server(withLength(body));
    const std::string path = dir.file("new/deeper/file.bin");
    EXPECT_TRUE(http.DownloadFile(server.urlW("/file.bin").c_str(), wide(path).c_str()));
    EXPECT_TRUE(TempDir::readFile(path) == body);
    const double total = double(body.size());
    EXPECT_EQ(notes, (std::vector<Note>{{kContext, 0, total, 1048576.0},
                                        {kContext, 0, total, 2097152.0},
                                        {kContext, 0, total, total},
                                        {kContext, 2, total, total}}));
    EXPECT_EQ(server.requests()[0].substr(0, 26), "GET /file.bin HTTP/1.1\r\nHo");
    EXPECT_EQ(capture.all(), "");
    EXPECT_EQ(http.GetErrorCode(), 0);
}

TEST_F(Transfer, DownloadFileOfNothingMakesAnEmptyFile) {
    ScriptedServer server(withLength(""));
    dir.write("old.txt", "previous content");
    EXPECT_TRUE(http.DownloadFile(server.urlW().c_str(), wide(dir.file("old.txt")).c_str()));
    EXPECT_EQ(dir.read("old.txt"), "");
    EXPECT_TRUE(std::filesystem::exists(dir.file("old.txt")));
    EXPECT_EQ(notes, (std::vector<Note>{{kContext, 0, 0, 0}, {kContext, 2, 0, 0}}));
}

TEST_F(Transfer, DownloadFileLeavesNoTruncatedPartAfterThreeEmptyReads) {
    ScriptedServer server([](const std::string&, size_t) {
        return ScriptedServer::Script{
            Step::send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789"), Step::close()};
    });
    const std::string path = dir.file("part.bin");
    EXPECT_FALSE(http.DownloadFile(server.urlW().c_str(), wide(path).c_str()));
    EXPECT_FALSE(std::filesystem::exists(path)) << "no part of the body is kept";
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    EXPECT_EQ(http.GetErrorCode(), HttpErrSizeMismatch);
    EXPECT_EQ(notes, (std::vector<Note>{{kContext, 0, 100, 10}, {kContext, 1, 0, 0}}));
    const std::string emptyRead =
        "CWininetHttp::DownloadFile InternetReadFile.0,dwReadSize.0," + path + " \n";
    EXPECT_EQ(capture.writes(),
              (std::vector<std::string>{emptyRead, emptyRead, emptyRead,
                                        "CWininetHttp::DownloadFile error.8,GetLastError.18 \n"}));
}

TEST_F(Transfer, DownloadsFailBeforeTouchingTheFile) {
    struct Case {
        const char* name;
        std::string reply;
        int32_t fileError;   // DownloadFile
        int32_t bufferError; // DownloadToBuffer
    };
    const std::string pad(1024, 'p');
    const Case cases[] = {
        {"no length", kChunkedReply, HttpErrQueryInfo, HttpErrQueryInfo},
        {"not found", withLength("gone", "404 Not Found"), HttpErrNotFound, HttpErrNotFound},
        {"long header block", "HTTP/1.1 200 OK\r\nX-Pad: " + pad + "\r\nContent-Length: 1\r\n\r\nx",
         HttpErrQueryInfo, HttpErrQueryInfo},
        {"too large", withLength(std::string(1048577, 'x')), 0, HttpErrTooLarge},
        {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", HttpErrSend,
         HttpErrSend},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server(c.reply);
        notes.clear();
        if (c.fileError) {
            capture.clear();
            dir.write("keep.txt", "kept");
            EXPECT_FALSE(
                http.DownloadFile(server.urlW().c_str(), wide(dir.file("keep.txt")).c_str()));
            EXPECT_EQ(http.GetErrorCode(), c.fileError);
            EXPECT_EQ(dir.read("keep.txt"), "kept");
            EXPECT_EQ(notes, (std::vector<Note>{{kContext, 1, 0, 0}}));
            EXPECT_EQ(capture.all().rfind("CWininetHttp::DownloadFile error." +
                                              std::to_string(c.fileError) + ",GetLastError.",
                                          0),
                      0u);
        }
        char* block = reinterpret_cast<char*>(&notes);
        int32_t length = -5;
        notes.clear();
        capture.clear();
        EXPECT_FALSE(http.DownloadToBuffer(server.urlW().c_str(), &block, &length));
        EXPECT_EQ(http.GetErrorCode(), c.bufferError);
        EXPECT_EQ(block, reinterpret_cast<char*>(&notes));
        EXPECT_EQ(length, -5);
        EXPECT_TRUE(notes.empty());
        EXPECT_EQ(capture.all(), "");
    }
}

TEST_F(Transfer, DownloadToBufferTakesUpToOneMebibyte) {
    for (size_t size : {size_t(0), size_t(5), size_t(1048576)}) {
        SCOPED_TRACE(size);
        const std::string body = pattern(size);
        ScriptedServer server(withLength(body));
        char* block = nullptr;
        int32_t length = -1;
        ASSERT_TRUE(http.DownloadToBuffer(server.urlW().c_str(), &block, &length));
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(length, int32_t(size));
        EXPECT_TRUE(std::string(block, size_t(length)) == body);
        std::free(block);
    }
    EXPECT_TRUE(notes.empty());
}

TEST_F(Transfer, DownloadToBufferFailsOnAShortBody) {
    ScriptedServer server("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc");
    char* block = nullptr;
    int32_t length = 0;
    EXPECT_FALSE(http.DownloadToBuffer(server.urlW().c_str(), &block, &length));
    EXPECT_EQ(http.GetErrorCode(), HttpErrSizeMismatch);
    EXPECT_EQ(block, nullptr);
}

TEST_F(Transfer, EmptyUrlsAreRefusedWithParam) {
    char* block = nullptr;
    int32_t length = 0;
    EXPECT_FALSE(http.DownloadFile(L"", wide(dir.file("x")).c_str()));
    EXPECT_EQ(http.GetErrorCode(), HttpErrParam);
    http.Request("http:///", 1, nullptr, nullptr);
    EXPECT_FALSE(http.DownloadToBuffer(nullptr, &block, &length));
    EXPECT_EQ(http.GetErrorCode(), HttpErrParam);
    http.Request("http:///", 1, nullptr, nullptr);
    EXPECT_EQ(http.UploadFile(nullptr, dir.file("x").c_str(), "x"), "");
    EXPECT_EQ(http.GetErrorCode(), HttpErrParam);
    EXPECT_EQ(notes, (std::vector<Note>{{kContext, 1, 0, 0}, {kContext, 1, 0, 0}}));
    EXPECT_FALSE(std::filesystem::exists(dir.file("x")));
}

TEST_F(Transfer, DownloadFileToAnUncreatablePathFailsWithLocalFile) {
    ScriptedServer server(withLength("abc"));
    dir.write("plain", "a file, not a folder");
    EXPECT_FALSE(http.DownloadFile(server.urlW().c_str(), wide(dir.file("plain/sub/x")).c_str()));
    EXPECT_EQ(http.GetErrorCode(), HttpErrLocalFile);
    EXPECT_EQ(notes, (std::vector<Note>{{kContext, 1, 0, 0}}));
    EXPECT_EQ(capture.all(), "CWininetHttp::DownloadFile error.7,GetLastError.20 \n");
}

const std::string kBoundary = "----WebKitFormBoundaryloomhavenclient";

std::string multipart(const std::string& name, const std::string& content) {
    return "--" + kBoundary +
           "\r\nContent-Disposition: form-data; name=\"file_data\"; filename=\"" + name +
           "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + content + "\r\n--" + kBoundary +
           "--\r\n";
}

TEST_F(Transfer, UploadSendsTheMultipartBodyByteForByte) {
    ScriptedServer server(withLength("{\"rt\":1}"));
    dir.write("a.txt", "abc");
    EXPECT_EQ(
        http.UploadFile(server.url("/upload?Token=t").c_str(), dir.file("a.txt").c_str(), "a.txt"),
        "{\"rt\":1}");
    ASSERT_EQ(server.requests().size(), 1u);
    const std::string request = server.requests()[0];
    const std::string expectedBody = multipart("a.txt", "abc");
    ASSERT_EQ(expectedBody.size(), 199u);
    EXPECT_EQ(request, "POST /upload?Token=t HTTP/1.1\r\n"
                       "Host: 127.0.0.1:" +
                           std::to_string(server.port()) +
                           "\r\n"
                           "User-Agent: Http-connect\r\n"
                           "Content-Type:multipart/form-data; boundary=" +
                           kBoundary +
                           "\r\n"
                           "Accept:application/json\r\n"
                           "Content-Length: 199\r\n"
                           "\r\n" +
                           expectedBody);
    EXPECT_EQ(notes, (std::vector<Note>{{kContext, 0, 3, 3}, {kContext, 2, 3, 3}}));
    EXPECT_EQ(capture.all(), "");
}

TEST_F(Transfer, UploadSendsFilesOfAnySizeInBlocks) {
    struct Case {
        size_t size;
        std::vector<double> progress;
    };
    const Case cases[] = {
        {0, {}},
        {409600, {409600}},
        {1048576, {409600, 819200, 1048576}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        ScriptedServer server(withLength("stored"));
        const std::string content = pattern(c.size);
        dir.write("f.bin", content);
        notes.clear();
        EXPECT_EQ(http.UploadFile(server.url("/u").c_str(), dir.file("f.bin").c_str(), "f.bin"),
                  "stored");
        const std::string request = server.requests().at(0);
        EXPECT_TRUE(ScriptedServer::bodyOf(request) == multipart("f.bin", content));
        std::vector<Note> expected;
        for (double done : c.progress)
            expected.push_back({kContext, 0, double(c.size), done});
        expected.push_back({kContext, 2, double(c.size), double(c.size)});
        EXPECT_EQ(notes, expected);
    }
}

TEST_F(Transfer, UploadAnsweredWithNotFoundReportsFinishedThenFailed) {
    ScriptedServer server(withLength("no such page", "404 Not Found"));
    dir.write("a.txt", "abc");
    EXPECT_EQ(http.UploadFile(server.url("/u").c_str(), dir.file("a.txt").c_str(), "a.txt"), "");
    EXPECT_EQ(http.GetErrorCode(), HttpErrNotFound);
    EXPECT_EQ(notes,
              (std::vector<Note>{{kContext, 0, 3, 3}, {kContext, 2, 3, 3}, {kContext, 1, 0, 0}}));
    EXPECT_EQ(capture.all(), "CWininetHttp::UploadFile(): GetLastError.0\n");
}

TEST_F(Transfer, UploadRefusesMissingFilesAndUnsafeNamesBeforeSending) {
    ScriptedServer server(withLength("ok"));
    dir.write("a.txt", "abc");
    struct Case {
        std::string path;
        std::string name;
        int32_t error;
        std::string line;
    };
    const Case cases[] = {
        {dir.file("missing.txt"), "missing.txt", HttpErrLocalFile, "GetLastError.2\n"},
        {dir.path().string(), "folder", HttpErrLocalFile, "GetLastError.21\n"},
        {dir.file("a.txt"), "a\r\nX-Injected: 1", HttpErrParam, "GetLastError.87\n"},
        {dir.file("a.txt"), "a\nb", HttpErrParam, "GetLastError.87\n"},
        {dir.file("a.txt"), "a\"; name=\"other", HttpErrParam, "GetLastError.87\n"},
        {dir.file("a.txt"), std::string(137, 'n'), HttpErrParam, "GetLastError.87\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        notes.clear();
        capture.clear();
        EXPECT_EQ(http.UploadFile(server.url("/u").c_str(), c.path.c_str(), c.name.c_str()), "");
        EXPECT_EQ(http.GetErrorCode(), c.error);
        EXPECT_EQ(notes, (std::vector<Note>{{kContext, 1, 0, 0}}));
        EXPECT_EQ(capture.all(), "CWininetHttp::UploadFile(): " + c.line);
    }
    EXPECT_EQ(server.connectionCount(), 0u);

    // The longest name that fits the disposition line goes out whole.
    const std::string longest(136, 'n');
    EXPECT_EQ(http.UploadFile(server.url("/u").c_str(), dir.file("a.txt").c_str(), longest.c_str()),
              "ok");
    EXPECT_EQ(ScriptedServer::bodyOf(server.requests().at(0)), multipart(longest, "abc"));
}

TEST_F(Transfer, UploadToADeadServiceFailsWithSend) {
    ScriptedServer server(
        [](const std::string&, size_t) { return ScriptedServer::Script{Step::reset()}; });
    dir.write("a.txt", "abc");
    EXPECT_EQ(http.UploadFile(server.url("/u").c_str(), dir.file("a.txt").c_str(), "a.txt"), "");
    EXPECT_EQ(http.GetErrorCode(), HttpErrSend);
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes.back(), (Note{kContext, 1, 0, 0}));
}

} // namespace
