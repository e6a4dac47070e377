// Usage: bench_page_cases [SECONDS] [shared|own] [PICTURE.png]
//
// The rows of the page-cases suite (tests/e2e/page_cases/PageCases.h) on a
// signed-in wall with Debian's Chromium and the wall's own periods (the
// wander rule's 60 s, the still rule's 5 minutes): after SECONDS (90 by
// default) from Enter in the login dialog, one table of what each monitor
// shows, the state `panoview --status --json` reports and the reloads by
// reason, and whether the bystander stayed live and no page browser started
// again; then the same for a wall without Chromium. With PICTURE, the whole
// wall as it was at the table's moment. Run it under the wall lock:
//   flock /tmp/panoview-wall.lock build/bin/bench_page_cases 90 shared
#include "PageCases.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

using namespace std::chrono_literals;

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 90;
    const bool shared = argc <= 2 || std::string(argv[2]) != "own";
    const std::string picture = argc > 3 ? argv[3] : "";
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: bench_page_cases [SECONDS] [shared|own] [PICTURE.png]\n");
        return 2;
    }
    if (access("/usr/bin/chromium", X_OK) != 0) {
        std::printf("Debian's Chromium is not installed: no table\n");
        return 0;
    }
    {
        cases::CaseWall wall(cases::chromiumCases(), shared, "");
        auto panoview = wall.start();
        if (!wall.signIn()) {
            std::fprintf(stderr, "no login dialog\n%s", panoview->stderrText().c_str());
            return 1;
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        std::vector<cases::Seen> seen;
        while (std::chrono::steady_clock::now() < end) {
            seen = wall.look();
            std::this_thread::sleep_for(1s);
        }
        seen = wall.look();
        if (!picture.empty())
            wall.wall.run("import -window root " + picture);
        std::cout << wall.table(
            seen, std::string(shared ? "shared browser" : "a Chromium per page") + ", " +
                      std::to_string(seconds) + " s after Enter, the wall's own periods");
        const auto asked = wall.asked();
        std::cout << "head501 asked: HEAD "
                  << (asked.count("HEAD /head501") ? asked.at("HEAD /head501") : 0)
                  << ", Brovia's GET "
                  << (asked.count("probe GET /head501") ? asked.at("probe GET /head501") : 0)
                  << "; files in the operator's home: " << wall.filesInHome().size() << "\n";
    }
    const std::vector<cases::PageCase> rows = {
        {"bystander", "any page, Chromium missing", {"no-browser"}, "", 0, 0, 0x1d3557},
        {"alert", "any page, Chromium missing", {"no-browser"}, "", 0, 0, 0x1d3557},
    };
    cases::CaseWall plain(rows, shared, "", "/nonexistent/chromium");
    auto panoview = plain.start();
    if (!plain.signIn())
        return 1;
    std::vector<cases::Seen> seen;
    e2e::waitFor(
        [&] {
            seen = plain.look();
            return cases::CaseWall::holds(rows[0], seen[0]) &&
                   cases::CaseWall::holds(rows[1], seen[1]);
        },
        60s);
    std::cout << plain.table(seen, "no Chromium (BROVIA_CHROMIUM=/nonexistent/chromium)");
    return 0;
}
