// Internet handles over libcurl. Each request drives its own easy handle in
// its own multi handle, so that the caller pulls the reply body in bounded
// pieces (the write callback pauses the transfer while its buffer is full)
// and pushes an upload body piece by piece (the read callback pauses the
// transfer until the next write).
#include "platform/Internet.h"

#include "common/Utf8.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <vector>

namespace platform {

namespace {

// Socket reads and upload pieces of libcurl; the reply buffer takes the
// pieces that arrive while no read is waiting.
constexpr long kReceiveBufferSize = 128 * 1024;
constexpr long kUploadBufferSize = 256 * 1024;
constexpr size_t kReplyBufferSize = 64 * 1024;
constexpr long kMaxRedirects = 10;

// libcurl's global state and the process-wide cookie store, made once and kept
// for the life of the process.
struct CurlGlobal {
    bool ready = false;
    CURLSH* share = nullptr;
    std::mutex locks[CURL_LOCK_DATA_LAST];
};

void lockShare(CURL*, curl_lock_data data, curl_lock_access, void* user) {
    static_cast<CurlGlobal*>(user)->locks[data].lock();
}

void unlockShare(CURL*, curl_lock_data data, void* user) {
    static_cast<CurlGlobal*>(user)->locks[data].unlock();
}

CurlGlobal& curlGlobal() {
    static CurlGlobal* global = [] {
        auto* g = new CurlGlobal;
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
            return g;
        g->share = curl_share_init();
        if (!g->share)
            return g;
        curl_share_setopt(g->share, CURLSHOPT_LOCKFUNC, lockShare);
        curl_share_setopt(g->share, CURLSHOPT_UNLOCKFUNC, unlockShare);
        curl_share_setopt(g->share, CURLSHOPT_USERDATA, g);
        g->ready =
            curl_share_setopt(g->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE) == CURLSHE_OK;
        return g;
    }();
    return *global;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

// The name of a header line, colon included ("Accept:"); empty without one.
std::string_view headerName(std::string_view line) {
    size_t colon = line.find(':');
    return colon == std::string_view::npos ? std::string_view() : line.substr(0, colon + 1);
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// Copies text and a NUL into the caller's room, WinInet-style: *size is the
// room on entry and the count copied (without the NUL) on success.
template <typename Char>
bool copyOut(const std::basic_string<Char>& text, Char* buffer, size_t* size) {
    if (!buffer || text.size() + 1 > *size) {
        *size = text.size() + 1;
        setInternetLastError(kInternetErrorInsufficientBuffer);
        return false;
    }
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = Char();
    *size = text.size();
    return true;
}

} // namespace

std::unique_ptr<InternetSession> InternetSession::open(std::string_view agent,
                                                       InternetTimeouts timeouts) {
    if (!curlGlobal().ready)
        return nullptr;
    return std::unique_ptr<InternetSession>(new InternetSession(agent, timeouts));
}

std::unique_ptr<InternetConnection> InternetConnection::open(const InternetSession& session,
                                                             std::string_view host, uint16_t port) {
    if (host.empty()) {
        setInternetLastError(kInternetErrorInvalidParameter);
        return nullptr;
    }
    // Port 0 asks for the service's default port, as the desktop's stack has it.
    constexpr uint16_t kDefaultHttpPort = 80;
    return std::unique_ptr<InternetConnection>(
        new InternetConnection(session, host, port ? port : kDefaultHttpPort));
}

struct InternetRequest::Transfer {
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    CURLU* url = nullptr;
    curl_slist* headerList = nullptr;
    bool urlValid = true;
    std::string verb;
    std::vector<std::string> addedHeaders;
    bool started = false;
    bool done = false;
    CURLcode result = CURLE_OK;

    // Reply headers: the block being received and the final reply's block.
    std::vector<std::string> blockLines;
    long blockStatus = 0;
    bool blockHasLocation = false;
    std::vector<std::string> lastBlock;
    std::vector<std::string> finalLines;
    bool headersComplete = false;

    // Reply body: straight into the waiting read's buffer, the rest into the
    // reply buffer; the transfer pauses when neither has room.
    char* direct = nullptr;
    size_t directRoom = 0;
    std::vector<char> reply;
    size_t replyStart = 0;
    size_t replyEnd = 0;
    bool receivePaused = false;

    // Pushed request body.
    bool pushing = false;
    const char* source = nullptr;
    size_t sourceLeft = 0;
    uint64_t announced = 0;
    uint64_t handedOut = 0;
    bool sendPaused = false;

    ~Transfer() {
        if (multi && easy)
            curl_multi_remove_handle(multi, easy);
        if (easy)
            curl_easy_cleanup(easy);
        if (multi)
            curl_multi_cleanup(multi);
        if (url)
            curl_url_cleanup(url);
        curl_slist_free_all(headerList);
    }

    size_t replySize() const { return replyEnd - replyStart; }

    size_t takeReply(char* buffer, size_t size) {
        size_t n = std::min(size, replySize());
        if (n > 0)
            std::memcpy(buffer, reply.data() + replyStart, n);
        replyStart += n;
        if (replyStart == replyEnd)
            replyStart = replyEnd = 0;
        return n;
    }

    void keepReply(const char* data, size_t n) {
        if (replyEnd + n > reply.size()) {
            if (replySize() > 0)
                std::memmove(reply.data(), reply.data() + replyStart, replySize());
            replyEnd -= replyStart;
            replyStart = 0;
            if (replyEnd + n > reply.size())
                reply.resize(std::max(replyEnd + n, kReplyBufferSize));
        }
        std::memcpy(reply.data() + replyEnd, data, n);
        replyEnd += n;
    }

    static size_t onHeader(char* data, size_t size, size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        size_t length = size * count;
        if (t->headersComplete)
            return length; // trailers of a chunked body
        std::string_view line(data, length);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.remove_suffix(1);
        if (line.starts_with("HTTP/")) {
            t->blockLines.clear();
            t->blockHasLocation = false;
            size_t space = line.find(' ');
            t->blockStatus =
                space == std::string_view::npos
                    ? 0
                    : std::strtol(std::string(line.substr(space + 1)).c_str(), nullptr, 10);
        } else if (line.empty()) {
            // The end of one reply's headers. A redirect that libcurl follows
            // and an interim 1xx reply are not the final reply.
            bool followed = t->blockStatus >= 300 && t->blockStatus < 400 &&
                            t->blockStatus != 304 && t->blockHasLocation;
            if (!t->blockLines.empty() && t->blockStatus >= 200 && !followed) {
                t->finalLines = std::move(t->blockLines);
                t->headersComplete = true;
            } else if (!t->blockLines.empty()) {
                t->lastBlock = std::move(t->blockLines);
            }
            t->blockLines.clear();
            return length;
        } else if (startsWithNoCase(line, "Location:")) {
            t->blockHasLocation = true;
        }
        t->blockLines.emplace_back(line);
        return length;
    }

    // A reply that libcurl did not follow after all (a redirect it refused)
    // is the final one once its body comes or the transfer ends.
    void promoteLastBlock() {
        if (!headersComplete && !lastBlock.empty()) {
            finalLines = std::move(lastBlock);
            headersComplete = true;
        }
    }

    static size_t onBody(char* data, size_t size, size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        t->promoteLastBlock();
        size_t length = size * count;
        size_t room =
            t->directRoom + (kReplyBufferSize - std::min(kReplyBufferSize, t->replySize()));
        if (length > room && t->replySize() > 0) {
            t->receivePaused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        size_t n = std::min(length, t->directRoom);
        if (n > 0) {
            std::memcpy(t->direct, data, n);
            t->direct += n;
            t->directRoom -= n;
        }
        if (n < length)
            t->keepReply(data + n, length - n);
        return length;
    }

    static size_t onUpload(char* buffer, size_t size, size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        if (t->handedOut >= t->announced)
            return 0;
        if (t->sourceLeft == 0) {
            t->sendPaused = true;
            return CURL_READFUNC_PAUSE;
        }
        size_t n = std::min<uint64_t>({size * count, t->sourceLeft, t->announced - t->handedOut});
        std::memcpy(buffer, t->source, n);
        t->source += n;
        t->sourceLeft -= n;
        t->handedOut += n;
        return n;
    }

    // Tells libcurl which directions stay paused.
    void applyPause() {
        curl_easy_pause(easy,
                        (receivePaused ? CURLPAUSE_RECV : 0) | (sendPaused ? CURLPAUSE_SEND : 0));
    }

    void collectDone() {
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
                done = true;
                result = msg->data.result;
                if (result == CURLE_OK)
                    promoteLastBlock();
            }
        }
    }

    void end(CURLcode code) {
        curl_multi_remove_handle(multi, easy);
        done = true;
        result = code;
    }

    // Runs the transfer until reached() holds. False when it ended first or
    // when it cannot move on without the caller (stuck()).
    template <typename Reached, typename Stuck> bool drive(Reached reached, Stuck stuck) {
        for (;;) {
            if (reached())
                return true;
            if (done)
                return false;
            int running = 0;
            if (curl_multi_perform(multi, &running) != CURLM_OK) {
                end(CURLE_OUT_OF_MEMORY);
                return false;
            }
            collectDone();
            if (reached())
                return true;
            if (done || stuck())
                return false;
            curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        }
    }

    // The header list: the caller's lines, and empty lines that keep libcurl
    // from adding Expect, Accept and Content-Type headers of its own.
    bool buildHeaderList(std::string_view text) {
        std::vector<std::string> lines;
        auto addCallerLine = [&](std::string_view line) {
            // libcurl drops "Name:" with an empty value; "Name;" sends it.
            std::string_view name = headerName(line);
            if (!name.empty() && trimmed(line.substr(name.size())).empty())
                lines.push_back(std::string(name.substr(0, name.size() - 1)) + ";");
            else
                lines.emplace_back(line);
        };
        for (const auto& line : addedHeaders)
            addCallerLine(line);
        while (!text.empty()) {
            size_t end = text.find_first_of("\r\n");
            if (end != 0)
                addCallerLine(text.substr(0, end));
            if (end == std::string_view::npos)
                break;
            text.remove_prefix(end + 1);
        }
        // Checked first by libcurl, these keep it from adding an Expect,
        // Accept or Content-Type header of its own.
        lines.insert(lines.begin(), {"Expect:", "Accept:", "Content-Type:"});
        for (const auto& line : lines) {
            curl_slist* next = curl_slist_append(headerList, line.c_str());
            if (!next)
                return false;
            headerList = next;
        }
        return curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList) == CURLE_OK;
    }

    bool start() {
        if (!urlValid) {
            done = true;
            result = CURLE_URL_MALFORMAT;
            return false;
        }
        if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
            done = true;
            result = CURLE_OUT_OF_MEMORY;
            return false;
        }
        started = true;
        return true;
    }

    bool fail(CURLcode fallback) {
        setInternetLastError(done && result != CURLE_OK ? result : fallback);
        return false;
    }

    const std::string* findHeader(std::string_view name) const {
        for (size_t i = 1; i < finalLines.size(); ++i) {
            if (startsWithNoCase(finalLines[i], name))
                return &finalLines[i];
        }
        return nullptr;
    }

    std::string rawHeaders() const {
        std::string block;
        for (const auto& line : finalLines) {
            block += line;
            block += '\0';
        }
        return block;
    }

    bool contentLength(std::string* value) const {
        const std::string* line = findHeader("Content-Length:");
        if (!line) {
            setInternetLastError(kInternetErrorHeaderNotFound);
            return false;
        }
        *value = std::string(trimmed(std::string_view(*line).substr(15)));
        return true;
    }

    bool headersReady() const {
        if (!headersComplete)
            setInternetLastError(kInternetErrorInvalidHandleState);
        return headersComplete;
    }
};

InternetRequest::InternetRequest(std::unique_ptr<Transfer> transfer)
    : transfer_(std::move(transfer)) {}

InternetRequest::~InternetRequest() = default;

std::unique_ptr<InternetRequest> InternetRequest::open(const InternetConnection& connection,
                                                       std::string_view verb, std::string_view path,
                                                       std::string_view version, bool) {
    if (version != "HTTP/1.1" || verb.empty())
        return nullptr;
    auto t = std::make_unique<Transfer>();
    t->verb = verb;
    t->easy = curl_easy_init();
    t->multi = curl_multi_init();
    t->url = curl_url();
    if (!t->easy || !t->multi || !t->url)
        return nullptr;

    // The address is set part by part, so that the host and path reach the
    // wire as given and a host that is no host name fails at send. Spaces,
    // control bytes and bytes above 127 are no request-line text: they go
    // out percent-encoded, in the path and in the query alike.
    const std::string target = percentEncodedTarget(path);
    std::string_view pathView(target);
    std::string pathText(pathView.substr(0, pathView.find('?')));
    std::string port = std::to_string(connection.port());
    t->urlValid = curl_url_set(t->url, CURLUPART_SCHEME, "http", 0) == CURLUE_OK &&
                  curl_url_set(t->url, CURLUPART_HOST, connection.host().c_str(), 0) == CURLUE_OK &&
                  curl_url_set(t->url, CURLUPART_PORT, port.c_str(), 0) == CURLUE_OK &&
                  curl_url_set(t->url, CURLUPART_PATH, pathText.empty() ? "/" : pathText.c_str(),
                               0) == CURLUE_OK;
    if (size_t q = pathView.find('?'); t->urlValid && q != std::string_view::npos) {
        std::string query(pathView.substr(q + 1));
        t->urlValid = curl_url_set(t->url, CURLUPART_QUERY, query.c_str(), 0) == CURLUE_OK;
    }

    CurlGlobal& global = curlGlobal();
    CURL* e = t->easy;
    const long connectMs = static_cast<long>(connection.timeouts().connect.count());
    const long stallSeconds = static_cast<long>(connection.timeouts().stall.count());
    bool ok = curl_easy_setopt(e, CURLOPT_CURLU, t->url) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http") == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http") == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_USERAGENT, connection.agent().c_str()) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_HTTP_CONTENT_DECODING, 0L) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, connectMs) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, stallSeconds) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kReceiveBufferSize) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferSize) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_SHARE, global.share) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_COOKIEFILE, "") == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Transfer::onHeader) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_HEADERDATA, t.get()) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::onBody) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_WRITEDATA, t.get()) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_READFUNCTION, &Transfer::onUpload) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_READDATA, t.get()) == CURLE_OK;
    if (!ok)
        return nullptr;
    if (verb == "GET")
        ok = curl_easy_setopt(e, CURLOPT_HTTPGET, 1L) == CURLE_OK;
    else
        ok = curl_easy_setopt(e, CURLOPT_POST, 1L) == CURLE_OK &&
             (verb == "POST" ||
              curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, t->verb.c_str()) == CURLE_OK);
    if (!ok)
        return nullptr;
    return std::unique_ptr<InternetRequest>(new InternetRequest(std::move(t)));
}

bool InternetRequest::addHeader(std::string_view line) {
    Transfer& t = *transfer_;
    std::string_view name = headerName(line);
    if (t.started || name.size() < 2 || line.find_first_of("\r\n") != std::string_view::npos) {
        setInternetLastError(kInternetErrorInvalidHandleState);
        return false;
    }
    std::erase_if(t.addedHeaders, [&](const std::string& h) { return startsWithNoCase(h, name); });
    t.addedHeaders.emplace_back(line);
    return true;
}

bool InternetRequest::send(std::string_view headers, const void* body, size_t length) {
    Transfer& t = *transfer_;
    if (t.started) {
        setInternetLastError(kInternetErrorInvalidHandleState);
        return false;
    }
    if (!t.buildHeaderList(headers))
        return t.fail(CURLE_OUT_OF_MEMORY);
    if (t.verb != "GET") {
        if (curl_easy_setopt(t.easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(length)) != CURLE_OK ||
            curl_easy_setopt(t.easy, CURLOPT_COPYPOSTFIELDS, body && length ? body : "") !=
                CURLE_OK)
            return t.fail(CURLE_OUT_OF_MEMORY);
    }
    if (!t.start())
        return t.fail(CURLE_FAILED_INIT);
    if (!t.drive([&] { return t.headersComplete; }, [&] { return t.receivePaused; }))
        return t.fail(CURLE_GOT_NOTHING);
    return true;
}

bool InternetRequest::beginSend(uint64_t bodyLength) {
    Transfer& t = *transfer_;
    if (t.started) {
        setInternetLastError(kInternetErrorInvalidHandleState);
        return false;
    }
    t.pushing = true;
    t.announced = bodyLength;
    if (!t.buildHeaderList({}) ||
        curl_easy_setopt(t.easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(bodyLength)) != CURLE_OK)
        return t.fail(CURLE_OUT_OF_MEMORY);
    if (!t.start())
        return t.fail(CURLE_FAILED_INIT);
    // Returns once the request headers are out and libcurl asks for the body.
    if (!t.drive([&] { return t.sendPaused || t.headersComplete; },
                 [&] { return t.receivePaused; }))
        return t.fail(CURLE_GOT_NOTHING);
    return true;
}

bool InternetRequest::write(const void* data, size_t size, size_t* written) {
    Transfer& t = *transfer_;
    *written = 0;
    if (!t.pushing || !t.started) {
        setInternetLastError(kInternetErrorInvalidHandleState);
        return false;
    }
    uint64_t before = t.handedOut;
    t.source = static_cast<const char*>(data);
    t.sourceLeft = size;
    if (t.sendPaused) {
        t.sendPaused = false;
        t.applyPause();
    }
    t.drive([&] { return t.sourceLeft == 0 || t.handedOut >= t.announced; },
            [&] { return t.receivePaused; });
    *written = static_cast<size_t>(t.handedOut - before);
    t.source = nullptr;
    t.sourceLeft = 0;
    // The transfer ended before the announced body was through: whether it
    // broke or the server answered early, the rest cannot be sent.
    if (*written < size && t.done && t.handedOut < t.announced)
        return t.fail(CURLE_SEND_ERROR);
    return true;
}

bool InternetRequest::endRequest() {
    Transfer& t = *transfer_;
    if (!t.pushing || !t.started) {
        setInternetLastError(kInternetErrorInvalidHandleState);
        return false;
    }
    // A shortened body cannot make a valid request, also when the server
    // answered early and ended the transfer before the body was through.
    if (t.handedOut < t.announced) {
        if (!t.done)
            t.end(CURLE_SEND_ERROR);
        return t.fail(CURLE_SEND_ERROR);
    }
    if (!t.drive([&] { return t.headersComplete; },
                 [&] { return t.sendPaused || t.receivePaused; }))
        return t.fail(CURLE_GOT_NOTHING);
    return true;
}

bool InternetRequest::queryRawHeaders(char* buffer, size_t* size) const {
    if (!transfer_->headersReady())
        return false;
    return copyOut(transfer_->rawHeaders(), buffer, size);
}

bool InternetRequest::queryRawHeaders(wchar_t* buffer, size_t* size) const {
    if (!transfer_->headersReady())
        return false;
    return copyOut(utf8::toWide(transfer_->rawHeaders()), buffer, size);
}

bool InternetRequest::queryContentLength(char* buffer, size_t* size) const {
    std::string value;
    if (!transfer_->headersReady() || !transfer_->contentLength(&value))
        return false;
    return copyOut(value, buffer, size);
}

bool InternetRequest::queryContentLength(wchar_t* buffer, size_t* size) const {
    std::string value;
    if (!transfer_->headersReady() || !transfer_->contentLength(&value))
        return false;
    return copyOut(utf8::toWide(value), buffer, size);
}

bool InternetRequest::read(void* buffer, size_t size, size_t* count) {
    Transfer& t = *transfer_;
    *count = 0;
    if (!t.started || !t.headersReady())
        return false;
    char* out = static_cast<char*>(buffer);
    size_t copied = t.takeReply(out, size);
    if (copied < size && !t.done) {
        t.direct = out + copied;
        t.directRoom = size - copied;
        if (t.receivePaused) {
            t.receivePaused = false;
            t.applyPause();
        }
        // A body still owed to the server would keep it waiting.
        t.drive([&] { return t.directRoom == 0; }, [&] { return t.sendPaused; });
        copied = size - t.directRoom;
        t.direct = nullptr;
        t.directRoom = 0;
    }
    *count = copied;
    if (copied == 0 && t.done && t.result != CURLE_OK)
        return t.fail(t.result);
    return true;
}

} // namespace platform
