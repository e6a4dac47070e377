// Internet handles over WinInet: InternetOpenA (the system's proxy
// configuration), InternetConnectA (HTTP), HttpOpenRequestA with
// INTERNET_FLAG_RELOAD, HttpSendRequestA, HttpSendRequestExA /
// InternetWriteFile / HttpEndRequestA for a pushed body, HttpQueryInfoA/W and
// InternetReadFile, all blocking. WinInet follows redirects and keeps the
// cookies itself. Every failing call records WinInet's error code.
#include "platform/Internet.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <windows.h>

// After windows.h, whose types it uses.
#include <wininet.h>

namespace platform {

namespace {

bool fail() {
    const DWORD error = GetLastError();
    setInternetLastError(error != 0 ? static_cast<int32_t>(error) : ERROR_INTERNET_INTERNAL_ERROR);
    return false;
}

bool failWith(int32_t code) {
    setInternetLastError(code);
    return false;
}

std::shared_ptr<void> owned(HINTERNET handle) {
    return std::shared_ptr<void>(handle, [](void* h) { InternetCloseHandle(h); });
}

void setTimeout(HINTERNET handle, DWORD option, uint64_t milliseconds) {
    DWORD value = static_cast<DWORD>(std::min<uint64_t>(milliseconds, ULONG_MAX));
    InternetSetOptionA(handle, option, &value, sizeof value);
}

} // namespace

std::unique_ptr<InternetSession> InternetSession::open(std::string_view agent,
                                                       InternetTimeouts timeouts) {
    HINTERNET handle = InternetOpenA(std::string(agent).c_str(), INTERNET_OPEN_TYPE_PRECONFIG,
                                     nullptr, nullptr, 0);
    if (!handle) {
        fail();
        return nullptr;
    }
    // The handles opened under the session take its time-outs.
    setTimeout(handle, INTERNET_OPTION_CONNECT_TIMEOUT, timeouts.connect.count());
    setTimeout(handle, INTERNET_OPTION_SEND_TIMEOUT, timeouts.stall.count() * 1000);
    setTimeout(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, timeouts.stall.count() * 1000);
    std::unique_ptr<InternetSession> session(new InternetSession(agent, timeouts));
    session->handle_ = owned(handle);
    return session;
}

std::unique_ptr<InternetConnection> InternetConnection::open(const InternetSession& session,
                                                             std::string_view host, uint16_t port) {
    if (host.empty() || !session.handle_) {
        setInternetLastError(kInternetErrorInvalidParameter);
        return nullptr;
    }
    // Port 0 asks for the service's default port.
    HINTERNET handle = InternetConnectA(
        static_cast<HINTERNET>(session.handle_.get()), std::string(host).c_str(),
        port ? port : INTERNET_DEFAULT_HTTP_PORT, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (!handle) {
        fail();
        return nullptr;
    }
    std::unique_ptr<InternetConnection> connection(
        new InternetConnection(session, host, port ? port : INTERNET_DEFAULT_HTTP_PORT));
    connection->session_ = session.handle_;
    connection->handle_ = owned(handle);
    return connection;
}

struct InternetRequest::Transfer {
    std::shared_ptr<void> session;
    std::shared_ptr<void> connection;
    HINTERNET request = nullptr;
    bool get = false;
    bool started = false;
    bool headersReady = false;
    // A pushed body: its announced length and the bytes written so far.
    bool pushing = false;
    uint64_t announced = 0;
    uint64_t written = 0;
    // The reply body: how long the reply says it is (when it says), and how
    // much has come; WinInet ends a body whose connection closed early as if
    // it were whole, so a short one is told apart here.
    bool lengthKnown = false;
    uint64_t expected = 0;
    uint64_t received = 0;
    bool broken = false;

    ~Transfer() {
        if (request)
            InternetCloseHandle(request);
    }

    bool ready() const { return headersReady || failWith(kInternetErrorInvalidHandleState); }

    // Once the reply's headers are in: the length its body is owed.
    void replyArrived() {
        headersReady = true;
        char value[32] = {};
        DWORD size = sizeof value - 1;
        char status[8] = {};
        DWORD statusSize = sizeof status - 1;
        if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE, status, &statusSize, nullptr))
            return;
        const long code = std::strtol(status, nullptr, 10);
        // Replies that never carry a body, whatever their length header says.
        if (code == 204 || code == 304 || (code >= 100 && code < 200))
            return;
        if (HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, value, &size, nullptr)) {
            char* end = nullptr;
            expected = std::strtoull(value, &end, 10);
            lengthKnown = end != value;
        }
    }
};

InternetRequest::InternetRequest(std::unique_ptr<Transfer> transfer)
    : transfer_(std::move(transfer)) {}

InternetRequest::~InternetRequest() = default;

// Nothing is ever served from a cache: every request carries
// INTERNET_FLAG_RELOAD, so the reload flag changes nothing.
std::unique_ptr<InternetRequest> InternetRequest::open(const InternetConnection& connection,
                                                       std::string_view verb, std::string_view path,
                                                       std::string_view version, bool) {
    if (version != "HTTP/1.1" || verb.empty() || !connection.handle_) {
        setInternetLastError(kInternetErrorInvalidParameter);
        return nullptr;
    }
    const std::string target = path.empty() ? "/" : percentEncodedTarget(path);
    HINTERNET handle = HttpOpenRequestA(static_cast<HINTERNET>(connection.handle_.get()),
                                        std::string(verb).c_str(), target.c_str(), "HTTP/1.1",
                                        nullptr, nullptr, INTERNET_FLAG_RELOAD, 0);
    if (!handle) {
        fail();
        return nullptr;
    }
    auto t = std::make_unique<Transfer>();
    t->session = connection.session_;
    t->connection = connection.handle_;
    t->request = handle;
    t->get = verb == "GET";
    return std::unique_ptr<InternetRequest>(new InternetRequest(std::move(t)));
}

bool InternetRequest::addHeader(std::string_view line) {
    Transfer& t = *transfer_;
    const size_t colon = line.find(':');
    if (t.started || colon == std::string_view::npos || colon == 0 ||
        line.find_first_of("\r\n") != std::string_view::npos)
        return failWith(kInternetErrorInvalidHandleState);
    return HttpAddRequestHeadersA(t.request, line.data(), static_cast<DWORD>(line.size()),
                                  HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE) ||
           fail();
}

bool InternetRequest::send(std::string_view headers, const void* body, size_t length) {
    Transfer& t = *transfer_;
    if (t.started)
        return failWith(kInternetErrorInvalidHandleState);
    if (headers.size() > ULONG_MAX || length > ULONG_MAX)
        return failWith(kInternetErrorInvalidParameter);
    // A GET sends no body.
    if (t.get || !body) {
        body = nullptr;
        length = 0;
    }
    t.started = true;
    if (!HttpSendRequestA(t.request, headers.empty() ? nullptr : headers.data(),
                          static_cast<DWORD>(headers.size()), const_cast<void*>(body),
                          static_cast<DWORD>(length)))
        return fail();
    t.replyArrived();
    return true;
}

bool InternetRequest::beginSend(uint64_t bodyLength) {
    Transfer& t = *transfer_;
    if (t.started)
        return failWith(kInternetErrorInvalidHandleState);
    // WinInet announces a body of at most 32 bits.
    if (bodyLength > ULONG_MAX)
        return failWith(kInternetErrorInvalidParameter);
    INTERNET_BUFFERSA buffers{};
    buffers.dwStructSize = sizeof buffers;
    buffers.dwBufferTotal = static_cast<DWORD>(bodyLength);
    t.started = true;
    t.pushing = true;
    t.announced = bodyLength;
    return HttpSendRequestExA(t.request, &buffers, nullptr, HSR_INITIATE, 0) || fail();
}

bool InternetRequest::write(const void* data, size_t size, size_t* written) {
    Transfer& t = *transfer_;
    *written = 0;
    if (!t.pushing || t.headersReady)
        return failWith(kInternetErrorInvalidHandleState);
    // Never more than the announced body.
    size = static_cast<size_t>(std::min<uint64_t>(size, t.announced - t.written));
    const char* bytes = static_cast<const char*>(data);
    while (*written < size) {
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(size - *written, 1 << 20));
        DWORD done = 0;
        if (!InternetWriteFile(t.request, bytes + *written, piece, &done))
            return fail();
        if (done == 0)
            return failWith(ERROR_INTERNET_CONNECTION_ABORTED);
        *written += done;
        t.written += done;
    }
    return true;
}

bool InternetRequest::endRequest() {
    Transfer& t = *transfer_;
    if (!t.pushing || t.headersReady)
        return failWith(kInternetErrorInvalidHandleState);
    // A shortened body makes no valid request.
    if (t.written < t.announced)
        return failWith(ERROR_INTERNET_CONNECTION_ABORTED);
    if (!HttpEndRequestA(t.request, nullptr, 0, 0))
        return fail();
    t.replyArrived();
    return true;
}

namespace {

// HttpQueryInfoA/W of one level into the caller's room. HttpQueryInfo counts
// bytes; the wide form counts wide characters here.
template <typename Char>
bool queryInfo(HINTERNET request, DWORD level, Char* buffer, size_t* size) {
    DWORD bytes =
        static_cast<DWORD>(std::min<size_t>(*size, ULONG_MAX / sizeof(Char)) * sizeof(Char));
    bool ok;
    if constexpr (sizeof(Char) == 1)
        ok = HttpQueryInfoA(request, level, buffer, &bytes, nullptr);
    else
        ok = HttpQueryInfoW(request, level, buffer, &bytes, nullptr);
    *size = (bytes + sizeof(Char) - 1) / sizeof(Char);
    return ok || fail();
}

} // namespace

bool InternetRequest::queryRawHeaders(char* buffer, size_t* size) const {
    return transfer_->ready() &&
           queryInfo(transfer_->request, HTTP_QUERY_RAW_HEADERS, buffer, size);
}

bool InternetRequest::queryRawHeaders(wchar_t* buffer, size_t* size) const {
    return transfer_->ready() &&
           queryInfo(transfer_->request, HTTP_QUERY_RAW_HEADERS, buffer, size);
}

bool InternetRequest::queryContentLength(char* buffer, size_t* size) const {
    return transfer_->ready() &&
           queryInfo(transfer_->request, HTTP_QUERY_CONTENT_LENGTH, buffer, size);
}

bool InternetRequest::queryContentLength(wchar_t* buffer, size_t* size) const {
    return transfer_->ready() &&
           queryInfo(transfer_->request, HTTP_QUERY_CONTENT_LENGTH, buffer, size);
}

bool InternetRequest::read(void* buffer, size_t size, size_t* count) {
    Transfer& t = *transfer_;
    *count = 0;
    if (!t.ready())
        return false;
    char* out = static_cast<char*>(buffer);
    while (*count < size && !t.broken) {
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(size - *count, 1 << 20));
        DWORD done = 0;
        if (!InternetReadFile(t.request, out + *count, piece, &done)) {
            fail();
            t.broken = true;
            break;
        }
        if (done == 0) {
            // The end of the body: one shorter than its length broke off.
            if (t.lengthKnown && t.received < t.expected) {
                setInternetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
                t.broken = true;
            }
            break;
        }
        *count += done;
        t.received += done;
    }
    // What came before a break is handed over; the next read fails.
    return *count > 0 || !t.broken;
}

} // namespace platform
