// The monitoring pages a wall test shows, served on loopback (port 0): each
// shows its name and token in its title and fills the window with a colour of
// its own, so that a test can tell the pages apart on the screen.
#pragma once

#include <cstdint>
#include <cstdio>
#include <httplib.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class PageServer {
public:
    PageServer() {
        server_.Get(R"(/KnitUI/(\w+)\.html)", [this](const httplib::Request& request,
                                                     httplib::Response& response) {
            const std::string page = request.matches[1];
            const std::string token = request.get_param_value("token");
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(page + "?" + token);
            }
            char colour[8];
            std::snprintf(colour, sizeof colour, "#%06x", colourOf(page));
            response.set_content(
                "<html><head><title>" + title(page, token) +
                    "</title></head><body style=\"margin:0;background:" + std::string(colour) +
                    ";color:#fff;font:64px sans-serif\"><p>KnitUI " + page + "</p><p>token " +
                    token + "</p></body></html>",
                "text/html");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~PageServer() {
        server_.stop();
        thread_.join();
    }
    static uint32_t colourOf(const std::string& page) {
        return page == "status" ? 0x2a9d8f : page == "record" ? 0xe76f51 : 0x457b9d;
    }
    static std::string title(const std::string& page, const std::string& token) {
        return "KnitUI " + page + " " + token;
    }
    int port() const { return port_; }
    std::vector<std::string> requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> requests_;
};
