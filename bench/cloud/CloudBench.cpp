// cloud_bench [RUNS]
//
// Starts the stand-in cloud service on a free loopback port and measures, over
// RUNS runs each (1000 by default): a Login + EnterFactory pair, a heartpacket
// through LSystem, and the same keep-alive request made by libcurl with a
// fresh easy handle each time. Prints the median, 10th and 90th percentile.
#include "cloud/LSystem.h"
#include "common/DebugPrint.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <curl/curl.h>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Service {
    pid_t pid = -1;
    int port = 0;
};

Service startService() {
    int out[2];
    if (pipe(out) != 0)
        std::exit(1);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char* argv[] = {const_cast<char*>(CLOUD_SERVICE), const_cast<char*>("0"),
                    const_cast<char*>(CLOUD_ACCOUNTS), nullptr};
    Service service;
    if (posix_spawn(&service.pid, CLOUD_SERVICE, &actions, nullptr, argv, environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", CLOUD_SERVICE);
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    close(out[0]);
    service.port = std::atoi(line.c_str());
    if (service.port <= 0) {
        std::fprintf(stderr, "cloud-service gave no port\n");
        std::exit(1);
    }
    return service;
}

struct Figures {
    double median, p10, p90;
};

// Runs the operation `runs` times and returns its times in microseconds.
Figures measure(int runs, const std::function<bool()>& operation, const char* name) {
    std::vector<double> times;
    int failures = 0;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        if (!operation())
            ++failures;
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    if (failures)
        std::fprintf(stderr, "%s: %d of %d runs failed\n", name, failures, runs);
    std::sort(times.begin(), times.end());
    auto at = [&](double q) { return times[static_cast<size_t>(q * (times.size() - 1))]; };
    return {at(0.5), at(0.1), at(0.9)};
}

size_t collect(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// The keep-alive request as LSystem sends it, by plain libcurl.
bool curlHeartpacket(const std::string& url) {
    CURL* curl = curl_easy_init();
    if (!curl)
        return false;
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Content-type:application/json");
    headers = curl_slist_append(headers, "Accept:application/json");
    std::string reply;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Http-connect");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    const bool ok =
        curl_easy_perform(curl) == CURLE_OK && reply.find("\"data\":1") != std::string::npos;
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return ok;
}

void print(const char* name, const Figures& f) {
    std::printf("%-42s %10.1f %10.1f %10.1f\n", name, f.median, f.p10, f.p90);
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 1000;
    if (runs <= 0)
        return 2;
    diag::setSink([](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); });
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const Service service = startService();
    const std::string address = "http://127.0.0.1:" + std::to_string(service.port);

    LSystem client; // the one client of the run, as the program keeps its shared one
    std::string token, name;
    const Figures pair = measure(
        runs,
        [&] {
            return LSystem::Login(address, token, client, "admin", "123456", name) == 1 &&
                   LSystem::EnterFactory(address, "F001", client, token) == 1;
        },
        "Login+EnterFactory");
    const Figures heart = measure(
        runs, [&] { return LSystem::heartpacket(address, client, token) == 1; }, "heartpacket");
    const std::string url = address + "/heartpacket?Token=" + token;
    const Figures curl = measure(
        runs, [&] { return curlHeartpacket(url); }, "libcurl");

    std::printf("%d runs each against cloud-service on %s (microseconds)\n", runs, address.c_str());
    std::printf("%-42s %10s %10s %10s\n", "", "median", "p10", "p90");
    print("LSystem Login + EnterFactory", pair);
    print("LSystem heartpacket", heart);
    print("libcurl heartpacket (fresh easy handle)", curl);
    std::printf("heartpacket ratio LSystem/libcurl (median): %.2f\n", heart.median / curl.median);

    kill(service.pid, SIGTERM);
    waitpid(service.pid, nullptr, 0);
    curl_global_cleanup();
    return 0;
}
