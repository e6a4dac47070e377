// The HTTP client interface of the service client and the file transfers.
#pragma once

#include <cstdint>
#include <string>

// Failure values, thrown at the failing step and caught inside the same
// operation; they never leave an IHttp operation.
enum HttpInterfaceError : int32_t {
    HttpErrOpen = 1,
    HttpErrConnect = 2,
    HttpErrSend = 3,
    HttpErrQueryInfo = 4,
    HttpErrNotFound = 5,
    HttpErrParam = 6,
    HttpErrLocalFile = 7,
    HttpErrSizeMismatch = 8,
    HttpErrTooLarge = 12, // a reply or in-memory download above its limit
    HttpErrAddHeader = 13,
    HttpErrUrl = 14,
    HttpErrNoMemory = 15,
};

// Progress of long transfers. Status 0: running, 1: failed, 2: finished.
class IHttpCallback {
public:
    virtual ~IHttpCallback() = default;
    virtual int32_t OnProgress(uint32_t context, int32_t status, double total, double done) = 0;
    // Whether the receiver has asked to stop; the client never calls it.
    virtual bool IsAborted() = 0;
};

class IHttp {
public:
    virtual ~IHttp() = default;
    // One exchange; method 1 is GET, every other value POST. Returns the reply
    // body byte for byte, empty on failure: also when the body breaks off
    // before its end (HttpErrSizeMismatch) or passes 16 MiB (HttpErrTooLarge).
    virtual std::string RequestW(const wchar_t* url, int32_t method, const char* body,
                                 const wchar_t* headers) = 0;
    virtual std::string Request(const char* url, int32_t method, const char* body,
                                const char* headers) = 0;
    // Fails on every status of 400 and above; the local file is replaced
    // only by a whole body and stays as it was on any failure.
    virtual bool DownloadFile(const wchar_t* url, const wchar_t* localPath) = 0;
    // On success *block is a new malloc'ed block the caller frees.
    virtual bool DownloadToBuffer(const wchar_t* url, char** block, int32_t* length) = 0;
    // An upload whose body could not be sent whole fails with HttpErrSend.
    virtual std::string UploadFile(const char* url, const char* localPath,
                                   const char* fileName) = 0;
    virtual void SetCallback(IHttpCallback* callback, uint32_t context) = 0;
    virtual int32_t GetErrorCode() = 0;
    virtual void Release() = 0;
};
