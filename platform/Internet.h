// Internet handles in the manner of the desktop's HTTP stack: a session (the
// agent name), a connection (host and port) and a request (verb, path,
// version) with blocking operations. Every request speaks plain HTTP/1.1,
// follows redirects, decodes no content encoding and shares one cookie store
// with every other request of the process.
//
// On Windows these are WinInet's own handles (InternetOpenA with the system's
// proxy configuration, InternetConnectA, HttpOpenRequestA with
// INTERNET_FLAG_RELOAD, ...). On Linux they are libcurl's, each request on a
// fresh connection, with the proxy from http_proxy and no_proxy and the
// cookies in memory.
//
// Failing calls record a last-error code for the calling thread, read with
// internetLastError(): a transfer failure records the transfer library's
// error number (WinInet's ERROR_INTERNET_* on Windows), a too small query
// buffer kInternetErrorInsufficientBuffer and a missing header
// kInternetErrorHeaderNotFound.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

inline constexpr int32_t kInternetErrorInvalidParameter = 87;
inline constexpr int32_t kInternetErrorInsufficientBuffer = 122;
inline constexpr int32_t kInternetErrorHeaderNotFound = 12150;
inline constexpr int32_t kInternetErrorInvalidHandleState = 12019;

// The last-error code of the calling thread.
int32_t internetLastError();
void setInternetLastError(int32_t code);

// The request target as it goes on the request line: every byte that may not
// stand there (space, control bytes, DEL, bytes above 127) written as %XX;
// escapes already in the text stay as they are.
std::string percentEncodedTarget(std::string_view target);

// How long a request waits for its connection, and how long its transfer may
// move no byte (counted in whole seconds) before it fails.
struct InternetTimeouts {
    std::chrono::milliseconds connect{60000};
    std::chrono::seconds stall{30};
};

class InternetSession {
public:
    // Null when the HTTP library cannot be initialised. Every request opened
    // under the session keeps its time-outs.
    static std::unique_ptr<InternetSession> open(std::string_view agent,
                                                 InternetTimeouts timeouts = {});
    const std::string& agent() const { return agent_; }
    const InternetTimeouts& timeouts() const { return timeouts_; }

private:
    InternetSession(std::string_view agent, InternetTimeouts timeouts)
        : agent_(agent), timeouts_(timeouts) {}
    std::string agent_;
    InternetTimeouts timeouts_;
    // The desktop's own handle where its HTTP stack has one (WinInet's
    // session on Windows), closed with the last object that holds it; none
    // over libcurl.
    std::shared_ptr<void> handle_;
    friend class InternetConnection;
};

class InternetConnection {
public:
    // Nothing is connected yet: the connection is made by each request's send.
    // Port 0 stands for the default HTTP port, 80. Null when the host is empty.
    static std::unique_ptr<InternetConnection> open(const InternetSession& session,
                                                    std::string_view host, uint16_t port);
    const std::string& agent() const { return agent_; }
    const InternetTimeouts& timeouts() const { return timeouts_; }
    const std::string& host() const { return host_; }
    uint16_t port() const { return port_; }

private:
    InternetConnection(const InternetSession& session, std::string_view host, uint16_t port)
        : agent_(session.agent()), timeouts_(session.timeouts()), host_(host), port_(port) {}
    std::string agent_;
    InternetTimeouts timeouts_;
    std::string host_;
    uint16_t port_;
    // WinInet's connection handle on Windows (it keeps the session's handle
    // open while it lives); none over libcurl.
    std::shared_ptr<void> session_;
    std::shared_ptr<void> handle_;
    friend class InternetRequest;
};

class InternetRequest {
public:
    // verb "GET", "POST" or another method name; the path goes on the request
    // line as it stands (an empty path asks for "/"), except that spaces,
    // control bytes and bytes above 127 go out percent-encoded. Only "HTTP/1.1" is
    // spoken. Nothing is ever served from a cache, so the reload flag changes
    // nothing. Null when the transfer cannot be set up.
    static std::unique_ptr<InternetRequest> open(const InternetConnection& connection,
                                                 std::string_view verb, std::string_view path,
                                                 std::string_view version, bool reload);
    ~InternetRequest();
    InternetRequest(const InternetRequest&) = delete;
    InternetRequest& operator=(const InternetRequest&) = delete;

    // Adds one header line before the request is sent; a later line of the
    // same name replaces an earlier one.
    bool addHeader(std::string_view line);

    // Sends the request with the header text (lines separated by CR, LF or
    // both) and the body, and blocks until the headers of the final reply
    // have arrived. A GET sends no body.
    bool send(std::string_view headers, const void* body, size_t length);

    // Starts a request whose body of the announced length is written with
    // write(); endRequest() then waits for the reply headers. write fails
    // when the transfer ended (broken, or answered early by the server)
    // before the announced body was through; endRequest fails whenever fewer
    // bytes than announced were written.
    bool beginSend(uint64_t bodyLength);
    bool write(const void* data, size_t size, size_t* written);
    bool endRequest();

    // The final reply's status line and header lines, each ended by a NUL,
    // and one more NUL at the end. On entry *size is the room offered (bytes,
    // or wide characters); on success it is the count copied without the last
    // NUL; when the room is too small the call fails and *size is the room
    // needed.
    bool queryRawHeaders(char* buffer, size_t* size) const;
    bool queryRawHeaders(wchar_t* buffer, size_t* size) const;

    // The value of the final reply's Content-Length header, with a NUL after
    // it when there is room. *size as for queryRawHeaders. Fails when the
    // reply has no such header.
    bool queryContentLength(char* buffer, size_t* size) const;
    bool queryContentLength(wchar_t* buffer, size_t* size) const;

    // Reads up to size bytes of the reply body; blocks until size bytes have
    // come or the body ends. *count is 0 at the end of the body. Fails when
    // no byte is left and the transfer broke off.
    bool read(void* buffer, size_t size, size_t* count);

private:
    struct Transfer;
    explicit InternetRequest(std::unique_ptr<Transfer> transfer);
    std::unique_ptr<Transfer> transfer_;
};

} // namespace platform
