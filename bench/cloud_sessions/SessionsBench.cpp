// cloud_sessions_bench [SESSIONS] [RUNS]
//
// Runs the stand-in cloud service in this process on a free loopback port,
// signs in SESSIONS times (100000 by default), then times RUNS keep-alives
// (1000 by default) for one of those sessions: over HTTP with the client
// Panoview uses, and as the service's own handling without the socket. The
// same is measured with one session first, for comparison. Prints median,
// 10th and 90th percentile in microseconds.
#include "CloudService.h"
#include "HttpFront.h"

#include "common/DebugPrint.h"
#include "http/WininetHttp.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <json/json.h>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
    double median, p10, p90;
};

Figures measure(int runs, const std::function<bool()>& operation) {
    std::vector<double> times;
    int failures = 0;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        failures += operation() ? 0 : 1;
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    if (failures)
        std::fprintf(stderr, "%d of %d keep-alives failed\n", failures, runs);
    std::sort(times.begin(), times.end());
    auto at = [&](double q) { return times[static_cast<size_t>(q * (times.size() - 1))]; };
    return {at(0.5), at(0.1), at(0.9)};
}

std::string signIn(cloudsvc::CloudService& service) {
    const cloudsvc::ServiceReply reply =
        service.handle({"POST", "/Login", {}, R"({"loginName":"admin","loginPwd":"123456"})", ""});
    Json::Value value, data;
    Json::Reader reader;
    reader.parse(reply.body, value, false);
    reader.parse(value["data"].asString(), data, false);
    return data["Token"].asString();
}

void report(size_t sessions, int runs, cloudsvc::CloudService& service, int port,
            const std::string& token) {
    CWininetHttp http;
    const std::string url =
        "http://127.0.0.1:" + std::to_string(port) + "/heartpacket?Token=" + token;
    const Figures overHttp = measure(runs, [&] {
        return http.Request(url.c_str(), 1, nullptr, nullptr).find("\"data\":1") !=
               std::string::npos;
    });
    const Figures handling = measure(runs, [&] {
        return service.handle({"GET", "/heartpacket", {{"Token", token}}, "", ""})
                   .body.find("\"data\":1") != std::string::npos;
    });
    std::printf("%7zu sessions: keep-alive over HTTP %8.1f %8.1f %8.1f   handling alone %7.1f "
                "%7.1f %7.1f\n",
                sessions, overHttp.median, overHttp.p10, overHttp.p90, handling.median,
                handling.p10, handling.p90);
}

} // namespace

int main(int argc, char** argv) {
    const size_t sessions = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    const int runs = std::max(1, argc > 2 ? std::atoi(argv[2]) : 1000);
    diag::setSink([](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); });
    cloudsvc::CloudService service(cloudsvc::parseAccounts(
        R"({"accounts":[{"loginName":"admin","loginPwd":"123456","factories":["F001"]}]})"));
    cloudsvc::FrontOptions options;
    options.logRequests = false;
    cloudsvc::HttpFront front(service, options);
    std::string error;
    if (!front.start(0, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::printf("%d keep-alives each (microseconds: median, p10, p90)\n", runs);
    const std::string first = signIn(service);
    report(1, runs, service, front.port(), first);
    const auto start = Clock::now();
    for (size_t i = 1; i < sessions; ++i)
        signIn(service);
    const double signInSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    report(service.sessionCount(), runs, service, front.port(), first);
    std::printf("%zu sign-ins took %.1f s\n", sessions - 1, signInSeconds);
    return 0;
}
