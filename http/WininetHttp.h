// The HTTP client over the platform's internet handles. Each operation holds
// the object's lock from start to return, closes the handles the previous
// operation left open, opens its own and leaves them open until the next
// operation or the object's end.
#pragma once

#include "http/IHttp.h"
#include "platform/Internet.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

class CWininetHttp : public IHttp {
public:
    // The time-outs hold for every operation of the object: 60 s to connect,
    // 30 s without a byte moving, unless the owner gives others.
    explicit CWininetHttp(platform::InternetTimeouts timeouts = {});
    ~CWininetHttp() override;
    CWininetHttp(const CWininetHttp&) = delete;
    CWininetHttp& operator=(const CWininetHttp&) = delete;

    std::string RequestW(const wchar_t* url, int32_t method, const char* body,
                         const wchar_t* headers) override;
    std::string Request(const char* url, int32_t method, const char* body,
                        const char* headers) override;
    bool DownloadFile(const wchar_t* url, const wchar_t* localPath) override;
    bool DownloadToBuffer(const wchar_t* url, char** block, int32_t* length) override;
    std::string UploadFile(const char* url, const char* localPath, const char* fileName) override;
    void SetCallback(IHttpCallback* callback, uint32_t context) override;
    int32_t GetErrorCode() override;
    void Release() override;

private:
    void closeHandles();
    // Opening steps shared by every operation; they throw HttpInterfaceError.
    void openHandles(const std::string& host, int32_t port, const std::string& path,
                     const char* verb);
    void openHandles(const wchar_t* url, const char* verb);
    std::string exchange(const std::string& url, int32_t method, const char* body,
                         std::string_view headers);
    // The status check of every operation; downloads also refuse every
    // status of 400 and above.
    void checkStatus(char* buffer, size_t room, bool refuseErrorStatus = false);
    std::string readReply(char* buffer, size_t room);
    void notify(int32_t status, double total, double done);
    // The transfers' steps; they throw HttpInterfaceError.
    bool downloadFile(const wchar_t* url, const wchar_t* localPath);
    bool downloadToBuffer(const wchar_t* url, char** block, int32_t* length);
    std::string uploadFile(const char* url, const char* localPath, const char* fileName);

    const platform::InternetTimeouts timeouts_;
    uint32_t context_ = 0;
    std::atomic<int32_t> errorCode_{0};
    IHttpCallback* callback_ = nullptr;
    std::unique_ptr<platform::InternetSession> session_;
    std::unique_ptr<platform::InternetConnection> connection_;
    std::unique_ptr<platform::InternetRequest> request_;
    std::recursive_mutex lock_;
};
