// The HTTP side of the stand-in cloud service: one listening socket on
// 127.0.0.1 for the life of the object, a pool of workers, and a deadline for
// each request, so that slow or idle clients cannot hold up the others.
#pragma once

#include "CloudService.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>

namespace cloudsvc {

struct FrontOptions {
    // The time a client has to send one whole request (head and body) from
    // the moment its connection is taken; it is closed when that passes.
    std::chrono::milliseconds requestDeadline{5000};
    // Connections served at the same time; more wait for a free worker.
    size_t workers = 256;
    // The largest request body taken; a larger one is answered with 413.
    size_t bodyMax = 1024 * 1024;
    // Writes one line per request to standard error.
    bool logRequests = true;
};

class HttpFront {
public:
    explicit HttpFront(CloudService& service, FrontOptions options = {});
    ~HttpFront();
    HttpFront(const HttpFront&) = delete;
    HttpFront& operator=(const HttpFront&) = delete;

    // Listens on 127.0.0.1:port (0 takes a free port) and starts answering.
    // False with the reason when the port cannot be had.
    bool start(int port, std::string& error);
    int port() const { return port_; }

    // While not answering, connections are still accepted, then closed at
    // once without a byte, as a dead service would leave them. The socket
    // stays bound throughout, so switching back never meets a port in use.
    void setAnswering(bool answering) { answering_ = answering; }

private:
    class Processor;
    void acceptLoop();
    void serve(int fd, std::chrono::steady_clock::time_point deadline);

    CloudService& service_;
    FrontOptions options_;
    std::unique_ptr<Processor> processor_;
    int listener_ = -1;
    int stopPipe_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<bool> answering_{true};
    std::thread acceptThread_;
};

} // namespace cloudsvc
