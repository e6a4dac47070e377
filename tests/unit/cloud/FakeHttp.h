// An IHttp that records every Request and answers with a scripted reply.
#pragma once

#include "http/IHttp.h"

#include <optional>
#include <string>
#include <vector>

struct RecordedRequest {
    std::string url;
    int32_t method = -1;
    std::optional<std::string> body;    // nullopt: no body was handed over
    std::optional<std::string> headers; // nullopt: no header text
};

class FakeHttp : public IHttp {
public:
    // The reply every Request returns; shared with the test that scripts it.
    explicit FakeHttp(std::string* reply, std::vector<RecordedRequest>* log = nullptr)
        : reply_(reply), log_(log) {}

    std::string Request(const char* url, int32_t method, const char* body,
                        const char* headers) override {
        if (log_) {
            RecordedRequest r;
            r.url = url ? url : "";
            r.method = method;
            if (body)
                r.body = body;
            if (headers)
                r.headers = headers;
            log_->push_back(r);
        }
        return *reply_;
    }
    std::string RequestW(const wchar_t*, int32_t, const char*, const wchar_t*) override {
        return {};
    }
    bool DownloadFile(const wchar_t*, const wchar_t*) override { return false; }
    bool DownloadToBuffer(const wchar_t*, char**, int32_t*) override { return false; }
    std::string UploadFile(const char*, const char*, const char*) override { return {}; }
    void SetCallback(IHttpCallback*, uint32_t) override {}
    int32_t GetErrorCode() override { return 0; }
    void Release() override { delete this; }

private:
    std::string* reply_;
    std::vector<RecordedRequest>* log_;
};
