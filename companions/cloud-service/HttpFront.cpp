#include "HttpFront.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace cloudsvc {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kHost[] = "127.0.0.1";
// Room for the request line and headers beside the body.
constexpr size_t kHeadMax = 64 * 1024;
constexpr int kWriteTimeoutMs = 5000;

bool waitFor(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    int ready;
    do
        ready = ::poll(&p, 1, timeoutMs);
    while (ready < 0 && errno == EINTR);
    return ready > 0;
}

// One connection as the request parser sees it: reads end at the request's
// deadline or when the request has used up its bytes, whichever comes first.
class DeadlineStream : public httplib::Stream {
public:
    DeadlineStream(int fd, Clock::time_point deadline, size_t budget)
        : fd_(fd), deadline_(deadline), budget_(budget) {}

    bool is_readable() const override {
        if (start_ < end_)
            return true;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
        return left.count() > 0 && waitFor(fd_, POLLIN, static_cast<int>(left.count()));
    }
    bool is_writable() const override { return waitFor(fd_, POLLOUT, kWriteTimeoutMs); }

    ssize_t read(char* ptr, size_t size) override {
        // The parser reads the head byte by byte: serve it from a buffer.
        if (start_ == end_) {
            if (budget_ == 0 || !is_readable())
                return -1;
            ssize_t n = ::recv(fd_, buffer_, std::min(sizeof buffer_, budget_), 0);
            if (n <= 0)
                return n;
            budget_ -= static_cast<size_t>(n);
            start_ = 0;
            end_ = static_cast<size_t>(n);
        }
        const size_t n = std::min(size, end_ - start_);
        std::memcpy(ptr, buffer_ + start_, n);
        start_ += n;
        return static_cast<ssize_t>(n);
    }
    ssize_t write(const char* ptr, size_t size) override {
        if (!is_writable())
            return -1;
        return ::send(fd_, ptr, size, MSG_NOSIGNAL);
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        addressOf(::getpeername, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        addressOf(::getsockname, ip, port);
    }
    ::socket_t socket() const override { return fd_; }

private:
    template <typename Query> void addressOf(Query query, std::string& ip, int& port) const {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        char text[INET_ADDRSTRLEN] = {};
        if (query(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
            inet_ntop(AF_INET, &address.sin_addr, text, sizeof text)) {
            ip = text;
            port = ntohs(address.sin_port);
        }
    }

    int fd_;
    Clock::time_point deadline_;
    size_t budget_;
    char buffer_[4096];
    size_t start_ = 0;
    size_t end_ = 0;
};

ServiceRequest toServiceRequest(const httplib::Request& in) {
    ServiceRequest out;
    out.method = in.method;
    out.path = in.path;
    // Keep the parameters in the order they came, as the pages show them.
    const size_t question = in.target.find('?');
    if (question != std::string::npos) {
        std::string query = in.target.substr(question + 1);
        size_t start = 0;
        while (start <= query.size()) {
            size_t end = query.find('&', start);
            if (end == std::string::npos)
                end = query.size();
            const std::string pair = query.substr(start, end - start);
            if (!pair.empty()) {
                const size_t eq = pair.find('=');
                const std::string key = httplib::detail::decode_url(pair.substr(0, eq), true);
                const std::string value =
                    eq == std::string::npos
                        ? std::string()
                        : httplib::detail::decode_url(pair.substr(eq + 1), true);
                out.query.emplace_back(key, value);
            }
            start = end + 1;
        }
    }
    out.body = in.body;
    out.cookie = in.get_header_value("Cookie");
    return out;
}

} // namespace

// The request parser and router of cpp-httplib, fed one connection at a time
// by the front's own workers.
class HttpFront::Processor : public httplib::Server {
public:
    Processor(CloudService& service, const FrontOptions& options) : pool(options.workers) {
        auto handler = [&service, log = options.logRequests](const httplib::Request& req,
                                                             httplib::Response& res) {
            const ServiceReply reply = service.handle(toServiceRequest(req));
            res.status = reply.status;
            if (!reply.setCookie.empty())
                res.set_header("Set-Cookie", reply.setCookie);
            res.set_content(reply.body, reply.contentType.c_str());
            if (log)
                std::fprintf(stderr, "cloud-service: %s %s -> %d\n", req.method.c_str(),
                             req.target.c_str(), reply.status);
        };
        Get(".*", handler);
        Post(".*", handler);
        Put(".*", handler);
        Delete(".*", handler);
        set_payload_max_length(options.bodyMax);
    }

    // Answers one request and asks the client to close.
    void answer(httplib::Stream& stream) {
        bool closed = false;
        process_request(stream, true, closed, {});
    }

    httplib::ThreadPool pool;
};

HttpFront::HttpFront(CloudService& service, FrontOptions options)
    : service_(service), options_(options),
      processor_(std::make_unique<Processor>(service_, options_)) {}

HttpFront::~HttpFront() {
    if (acceptThread_.joinable()) {
        char byte = 1;
        (void)!::write(stopPipe_[1], &byte, 1);
        acceptThread_.join();
    }
    // Each connection still being served ends by its deadline at the latest.
    processor_->pool.shutdown();
    for (int fd : {listener_, stopPipe_[0], stopPipe_[1]})
        if (fd >= 0)
            ::close(fd);
}

bool HttpFront::start(int port, std::string& error) {
    if (::pipe2(stopPipe_, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return false;
    }
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, kHost, &address.sin_addr);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, SOMAXCONN) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = std::string("cannot listen on ") + kHost + ":" + std::to_string(port) + ": " +
                std::strerror(errno);
        return false;
    }
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { acceptLoop(); });
    return true;
}

void HttpFront::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents & POLLIN)
            return;
        int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors: the waiting connection stays readable, so
            // give the workers time to close some instead of spinning.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        if (!answering_) {
            ::close(fd);
            continue;
        }
        // The deadline runs from now, also while the connection waits for a
        // free worker.
        const Clock::time_point deadline = Clock::now() + options_.requestDeadline;
        processor_->pool.enqueue([this, fd, deadline] { serve(fd, deadline); });
    }
}

void HttpFront::serve(int fd, std::chrono::steady_clock::time_point deadline) {
    DeadlineStream stream(fd, deadline, kHeadMax + options_.bodyMax);
    processor_->answer(stream);
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
}

} // namespace cloudsvc
