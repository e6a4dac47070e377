// Time from a page's fault to its page browser reporting it live again,
// median of N rounds (default 5), for three faults:
//   crash   the page's renderer killed with SIGKILL;
//   hang    the page's script starts looping for ever (it tells the server
//           the moment before);
//   return  the server, refusing connections, starts answering again.
// Usage: bench_page_recovery [rounds]   (needs Chromium; one wall at a time)
#include "Renderers.h"
#include "ScriptedServer.h"
#include "TempDir.h"
#include "XWall.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

std::string reply(const std::string& script) {
    const std::string html =
        "<html><body style=\"background:#446\"><script>" + script + "</script></body></html>";
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n"
           "Content-Length: " +
           std::to_string(html.size()) + "\r\n\r\n" + html;
}

size_t count(const std::string& text, const std::string& word) {
    size_t n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++n;
    return n;
}

// A page server bound to a free port that refuses connections until it is
// told to listen, and can be told to stop listening again.
class ReturningServer {
public:
    ReturningServer() { open(); }
    ~ReturningServer() { down(); }
    uint16_t port() const { return port_; }
    void up() {
        listen(fd_, 16);
        serving_ = true;
        thread_ = std::thread([this] {
            while (serving_) {
                const int c = accept(fd_, nullptr, nullptr);
                if (c < 0)
                    continue;
                // Chromium opens spare connections it may never use: a read
                // gives up after 2 s, so that the server can go down.
                const timeval patience{2, 0};
                setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
                char buffer[4096];
                (void)!read(c, buffer, sizeof buffer);
                const std::string r = reply("setInterval(() => {}, 50);");
                (void)!write(c, r.data(), r.size());
                close(c);
            }
        });
    }
    void down() {
        if (!serving_) {
            return;
        }
        serving_ = false;
        shutdown(fd_, SHUT_RDWR);
        thread_.join();
        close(fd_);
        open(port_);
    }

private:
    void open(uint16_t port = 0) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t n = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
        port_ = ntohs(a.sin_port);
    }
    int fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> serving_{false};
    std::thread thread_;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    e2e::XWall wall("--monitors 640x480 --primary 0");
    TempDir state;
    std::mutex m;
    Clock::time_point hangAt;
    ScriptedServer server([&](const std::string& request, size_t) {
        if (request.find("GET /looping") == 0) {
            std::lock_guard<std::mutex> lock(m);
            hangAt = Clock::now();
        }
        if (request.find("GET /hang") == 0)
            return ScriptedServer::Script{ScriptedServer::Step::send(
                reply("setTimeout(() => fetch('/looping').then(() => { while (true) {} }),"
                      " 2000);"))};
        return ScriptedServer::Script{
            ScriptedServer::Step::send(reply("setInterval(() => {}, 50);"))};
    });
    ReturningServer returning;
    auto start = [&](const std::string& url) {
        return std::make_unique<e2e::Child>(
            std::vector<std::string>{BROVIA_PROGRAM, "/left", "0", "/top", "0", "/bottom", "480",
                                     "/right", "640", "/url", url},
            std::vector<std::string>{"DISPLAY=" + wall.display(),
                                     "XDG_STATE_HOME=" + state.path().string()},
            state.file("brovia"));
    };
    const std::string log = state.path().string() + "/panoview/brovia-0,0.log";
    auto lives = [&] { return count(e2e::readFile(log), "page live "); };
    auto ms = [](Clock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count();
    };
    std::vector<double> crash, hang, back;

    {
        auto brovia = start(server.url("/page"));
        e2e::waitFor([&] { return lives() >= 1; }, 120s);
        for (int i = 0; i < rounds; ++i) {
            const size_t before = lives();
            const auto fault = Clock::now();
            for (pid_t r : e2e::renderersBelow(brovia->pid()))
                kill(r, SIGKILL);
            if (e2e::waitFor([&] { return lives() > before; }, 60s)) {
                crash.push_back(ms(Clock::now() - fault));
                std::printf("crash round %d: %.0f ms\n", i, crash.back());
                std::fflush(stdout);
            }
            std::this_thread::sleep_for(2s);
        }
    }
    {
        auto brovia = start(server.url("/hang"));
        e2e::waitFor([&] { return lives() >= 1; }, 120s);
        for (int i = 0; i < rounds; ++i) {
            const size_t before = lives();
            if (!e2e::waitFor(
                    [&] {
                        std::lock_guard<std::mutex> lock(m);
                        return hangAt != Clock::time_point();
                    },
                    60s))
                break;
            if (e2e::waitFor([&] { return lives() > before; }, 60s)) {
                std::lock_guard<std::mutex> lock(m);
                hang.push_back(ms(Clock::now() - hangAt));
                std::printf("hang round %d: %.0f ms\n", i, hang.back());
                std::fflush(stdout);
                hangAt = {};
            }
        }
    }
    {
        const std::string url = "http://127.0.0.1:" + std::to_string(returning.port()) + "/page";
        auto brovia = start(url);
        for (int i = 0; i < rounds; ++i) {
            const size_t before = lives();
            // Refused for a while (the page is retrying), then back.
            e2e::waitFor(
                [&] { return e2e::readFile(log).find("page retrying") != std::string::npos; },
                120s);
            std::this_thread::sleep_for(std::chrono::seconds(5 + 3 * i));
            const auto fault = Clock::now();
            returning.up();
            if (e2e::waitFor([&] { return lives() > before; }, 90s)) {
                back.push_back(ms(Clock::now() - fault));
                std::printf("return round %d: %.0f ms\n", i, back.back());
                std::fflush(stdout);
            }
            returning.down();
            // The page's own next reload fails: only a crash makes Brovia load it again.
            for (pid_t r : e2e::renderersBelow(brovia->pid()))
                kill(r, SIGKILL);
            e2e::waitFor([&] { return count(e2e::readFile(log), "page retrying") > size_t(i + 1); },
                         60s);
        }
    }
    std::printf("rounds %d\n", rounds);
    std::printf("renderer killed -> live again: median %.0f ms (%zu rounds)\n", median(crash),
                crash.size());
    std::printf("script loops for ever -> live again: median %.0f ms (%zu rounds)\n", median(hang),
                hang.size());
    std::printf("server back after refusing -> live again: median %.0f ms (%zu rounds)\n",
                median(back), back.size());
    return 0;
}
