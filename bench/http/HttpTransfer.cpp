// Drives the HTTP client from the command line:
//   http_transfer get URL                 prints the reply body
//   http_transfer download URL FILE       fetches URL into FILE
//   http_transfer upload URL FILE NAME    sends FILE as the form file NAME
//   http_transfer posts URL COUNT         sends COUNT small JSON POSTs
// Writes the outcome and the process's peak resident memory to standard error
// and exits 0 on success.
#include "common/Utf8.h"
#include "http/MyCallback.h"
#include "http/WininetHttp.h"

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

// The bytes moved by the latest transfer, from its progress notifications.
double moved = 0;
int32_t recordProgress(uint32_t, int32_t status, double, double done) {
    if (status != 1)
        moved = done;
    return 0;
}

long peakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int finish(bool ok, CWininetHttp& http) {
    std::fprintf(stderr, "%s error=%d moved=%.0f peak_rss_kib=%ld\n", ok ? "ok" : "failed",
                 http.GetErrorCode(), moved, peakResidentKiB());
    return ok ? 0 : 1;
}

int usage() {
    std::fprintf(stderr, "usage: http_transfer get URL | download URL FILE | "
                         "upload URL FILE NAME | posts URL COUNT\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return usage();
    const std::string command = argv[1];
    const char* url = argv[2];
    CWininetHttp http;
    CMyCallback callback;
    callback.progress = &recordProgress;
    http.SetCallback(&callback, 0);
    if (command == "get" && argc == 3) {
        std::string reply = http.Request(url, 1, nullptr, nullptr);
        fwrite(reply.data(), 1, reply.size(), stdout);
        return finish(http.GetErrorCode() == 0, http);
    }
    if (command == "download" && argc == 4) {
        std::wstring wideUrl = utf8::toWide(url);
        std::wstring widePath = utf8::toWide(argv[3]);
        return finish(http.DownloadFile(wideUrl.c_str(), widePath.c_str()), http);
    }
    if (command == "upload" && argc == 5) {
        std::string reply = http.UploadFile(url, argv[3], argv[4]);
        fwrite(reply.data(), 1, reply.size(), stdout);
        return finish(http.GetErrorCode() == 0, http);
    }
    if (command == "posts" && argc == 4) {
        int count = std::atoi(argv[3]);
        int answered = 0;
        for (int i = 0; i < count; ++i) {
            std::string body = "{\"userid\":\"bench\",\"seq\":" + std::to_string(i) + "}";
            if (!http.Request(url, 0, body.c_str(),
                              "Content-type:application/json\nAccept:application/json")
                     .empty())
                ++answered;
        }
        std::fprintf(stderr, "answered=%d of %d\n", answered, count);
        return finish(answered == count, http);
    }
    return usage();
}
