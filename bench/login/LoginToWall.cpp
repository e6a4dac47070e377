// From the operator's Enter in the login dialog to the lit wall: the time
// until the last Brovia process has started and until the last page window
// is mapped over its monitor's work area, for 3 and 8 monitors, with Brovia's
// plain windows and (when /usr/bin/chromium exists) with Chromium. Panoview
// runs for real on a virtual X server with the stand-in cloud service; each
// round signs out again before the next.
//
// Usage: bench_login_wall [rounds] [plain|chromium]   (default 5 rounds, both)
#include "LoginDesk.h"

#include "BenchClock.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>

namespace {

using bench::Clock;
using bench::median;
using bench::ms;

// n monitors of 640 x 480 side by side, the first primary with the panel
// that holds the tray icon (the sign-out goes through its double click).
constexpr int kPanel = 40;
std::string wallOf(int n) {
    std::string monitors;
    for (int i = 0; i < n; ++i)
        monitors += std::string(i ? "," : "") + "640x480";
    return "--monitors " + monitors + " --primary 0 --panel 0:" + std::to_string(kPanel);
}

// Whether every work area (640 x 480 side by side, the panel's height less
// on the first) has a browser's window lying exactly over it.
bool allMapped(LoginDesk& desk, const std::vector<pid_t>& browsers, int n) {
    std::set<int> covered;
    for (pid_t browser : browsers)
        for (const Rect& r : desk.windowsOf(browser))
            if (r.top == 0 && r.width() == 640 && r.left % 640 == 0 &&
                r.height() == (r.left == 0 ? 480 - kPanel : 480))
                covered.insert(r.left);
    return static_cast<int>(covered.size()) == n;
}

bool fail(const char* what, int n) {
    std::fprintf(stderr, "login_wall: %d monitors: %s\n", n, what);
    return false;
}

bool measure(int n, bool chromium, int rounds) {
    LoginDesk desk(wallOf(n), n, chromium);
    auto panoview = desk.startPanoview();
    const std::string login = desk.waitForLoginWindow();
    if (login.empty())
        return fail("no login dialog", n);
    std::vector<double> started, mapped;
    for (int round = 0; round < rounds; ++round) {
        if (round == 0)
            desk.typePassword(login, "123456");
        const auto enter = Clock::now();
        if (round == 0)
            desk.pressEnter();
        else if (!desk.pressLoginAgain(*panoview, login))
            return fail("the dialog did not come back for the sign-in", n);
        std::vector<pid_t> browsers;
        if (!e2e::waitFor([&] {
                return static_cast<int>((browsers = LoginDesk::browsers(panoview->pid())).size()) ==
                       n;
            }))
            return fail("not every Brovia started", n);
        const auto lastStarted = Clock::now();
        if (!e2e::waitFor([&] { return allMapped(desk, browsers, n); }, std::chrono::seconds(120)))
            return false;
        const auto lastMapped = Clock::now();
        started.push_back(ms(lastStarted - enter));
        mapped.push_back(ms(lastMapped - enter));

        // Sign out: shown again and Enter; every browser ends.
        if (!desk.pressLoginAgain(*panoview, login) ||
            !e2e::waitFor([&] { return LoginDesk::browsers(panoview->pid()).empty(); }))
            return fail("the sign-out did not end every Brovia", n);
    }
    std::printf("%8d %9s %14.1f %14.1f\n", n, chromium ? "chromium" : "plain", median(started),
                median(mapped));
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string only = argc > 2 ? argv[2] : "";
    std::vector<bool> kinds;
    if (only != "chromium")
        kinds.push_back(false);
    if (only != "plain" && access("/usr/bin/chromium", X_OK) == 0)
        kinds.push_back(true);
    std::printf("login_wall: Enter to the last Brovia started and to the last window mapped, "
                "median of %d rounds (ms)\n",
                rounds);
    std::printf("%8s %9s %14s %14s\n", "monitors", "browser", "started", "mapped");
    for (bool chromium : kinds)
        for (int n : {3, 8})
            if (!measure(n, chromium, rounds))
                return 1;
    return 0;
}
