// cloud-service PORT ACCOUNTS.json
//
// The stand-in for the factory's cloud service on 127.0.0.1. Port 0 takes a
// free port; the port in use is printed on standard output as the first line.
// SIGUSR1 makes the service stop answering: connections are accepted and
// closed at once without a reply, as a dead service would leave them.
// SIGUSR2 resumes answering. SIGINT and SIGTERM end it.
#include "CloudService.h"

#include <httplib.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* host = "127.0.0.1";

cloudsvc::ServiceRequest toServiceRequest(const httplib::Request& in) {
    cloudsvc::ServiceRequest out;
    out.method = in.method;
    out.path = in.path;
    // Keep the parameters in the order they came, as the pages show them.
    const size_t question = in.target.find('?');
    if (question != std::string::npos) {
        httplib::Params ordered;
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

// The HTTP side of one answering period.
class Answering {
public:
    Answering(cloudsvc::CloudService& service, int port) {
        auto handler = [&service](const httplib::Request& req, httplib::Response& res) {
            const cloudsvc::ServiceReply reply = service.handle(toServiceRequest(req));
            res.status = reply.status;
            if (!reply.setCookie.empty())
                res.set_header("Set-Cookie", reply.setCookie);
            res.set_content(reply.body, reply.contentType.c_str());
            std::fprintf(stderr, "cloud-service: %s %s -> %d\n", req.method.c_str(),
                         req.target.c_str(), reply.status);
        };
        server_.Get(".*", handler);
        server_.Post(".*", handler);
        server_.Put(".*", handler);
        server_.Delete(".*", handler);
        port_ = port == 0 ? server_.bind_to_any_port(host)
                          : (server_.bind_to_port(host, port) ? port : -1);
        if (port_ > 0)
            thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~Answering() {
        server_.stop();
        if (thread_.joinable())
            thread_.join();
    }
    int port() const { return port_; }

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = -1;
};

// The silent period: connections are taken and closed without a byte.
class Silent {
public:
    explicit Silent(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int yes = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd_, 64) != 0) {
            std::perror("cloud-service: silent listen");
            return;
        }
        thread_ = std::thread([this] {
            while (!stop_) {
                pollfd p{fd_, POLLIN, 0};
                if (::poll(&p, 1, 50) <= 0)
                    continue;
                int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
                if (client >= 0)
                    ::close(client);
            }
        });
    }
    ~Silent() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        ::close(fd_);
    }

private:
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PORT ACCOUNTS.json\n", argv[0]);
        return 2;
    }
    const int requestedPort = std::atoi(argv[1]);
    std::ifstream file(argv[2], std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "cloud-service: cannot read %s\n", argv[2]);
        return 2;
    }
    std::vector<cloudsvc::Account> accounts;
    try {
        accounts = cloudsvc::parseAccounts(
            std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cloud-service: %s: %s\n", argv[2], e.what());
        return 2;
    }
    cloudsvc::CloudService service(std::move(accounts));

    // The signals are taken by sigwait on this thread; every other thread
    // inherits the blocked mask.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGUSR1, SIGUSR2, SIGINT, SIGTERM})
        sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    auto answering = std::make_unique<Answering>(service, requestedPort);
    const int port = answering->port();
    if (port <= 0) {
        std::fprintf(stderr, "cloud-service: cannot listen on %s:%d\n", host, requestedPort);
        return 1;
    }
    std::cout << port << std::endl;

    std::unique_ptr<Silent> silent;
    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0)
            continue;
        if (signal == SIGUSR1 && answering) {
            answering.reset();
            silent = std::make_unique<Silent>(port);
            std::fprintf(stderr, "cloud-service: not answering\n");
        } else if (signal == SIGUSR2 && silent) {
            silent.reset();
            answering = std::make_unique<Answering>(service, port);
            std::fprintf(stderr, "cloud-service: answering again\n");
        } else if (signal == SIGINT || signal == SIGTERM) {
            return 0;
        }
    }
}
