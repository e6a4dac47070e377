// How fast the wall comes up: for 1, 4, 8 and 16 display assignments, the
// time from the launch's start to the last Brovia process started, and to the
// last Brovia window mapped over its work area (Brovia's plain window, no
// Chromium), on a virtual X server.
//
// Usage: bench_wall_up [rounds]   (default 5 rounds per size; prints medians)
#include "XProbe.h"

#include "TempDir.h"
#include "WallTestSupport.h"
#include "common/Globals.h"
#include "platform/Instance.h"
#include "wall/Launcher.h"

#include "BenchClock.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>

namespace {

using bench::Clock;
using bench::median;
using bench::ms;

// n work areas of 640 x 360 in a 4 x 4 grid over the 2560 x 1440 screen:
// the first is the primary display's, the others extended displays'.
LaunchJob jobFor(int n) {
    LaunchJob job;
    job.token = "BENCHTOKEN";
    for (int i = 0; i < n; ++i) {
        Rect cell{(i % 4) * 640, (i / 4) * 360, (i % 4) * 640 + 640, (i / 4) * 360 + 360};
        if (i == 0)
            job.primaryWorkArea = cell;
        else
            job.extendedWorkAreas.push_back(cell);
        job.displays.push_back({static_cast<uint8_t>(i == 0),
                                "http://127.0.0.1/KnitUI/status.html?token=%s&flag=multiscreen",
                                0});
    }
    return job;
}

struct Round {
    double started = 0; // last process started
    double mapped = 0;  // last window mapped over its work area
};

bool runRound(XProbe& probe, int n, Round& round) {
    LaunchJob job = jobFor(n);
    std::vector<Rect> places{job.primaryWorkArea};
    places.insert(places.end(), job.extendedWorkAreas.begin(), job.extendedWorkAreas.end());

    const auto start = Clock::now();
    Launcher launcher(
        processLauncherServices(PANOVIEW_BIN_DIR)); // Brovia is built beside the bench
    std::vector<uint32_t> pids =
        runLaunch(job, [&](const Rect& workArea, const std::string& address, uint32_t& pid) {
            return launcher.StartProcess(workArea, address, pid);
        });
    const auto started = Clock::now();
    std::map<pid_t, Rect> expected;
    for (size_t i = 0; i < pids.size(); ++i)
        expected[static_cast<pid_t>(pids[i])] = places[i];
    if (expected.count(0))
        return false;

    bool allMapped = eventually(
        [&] {
            size_t placed = 0;
            for (const auto& top : probe.topWindows())
                for (uint32_t pid : top.pids) {
                    auto it = expected.find(static_cast<pid_t>(pid));
                    placed += it != expected.end() && it->second == top.outer;
                }
            return placed == expected.size();
        },
        std::chrono::seconds(60));
    const auto mapped = Clock::now();

    launcher.StopBrowsers();
    eventually([&] {
        return std::none_of(pids.begin(), pids.end(),
                            [](uint32_t pid) { return processExists(static_cast<pid_t>(pid)); });
    });
    round.started = ms(started - start);
    round.mapped = ms(mapped - start);
    return allMapped;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    setenv("BROVIA_NO_CHROMIUM", "1", 1);

    VirtualWall wall(PANOVIEW_SOURCE_DIR, "--monitors 2560x1440 --primary 0");
    setenv("DISPLAY", wall.display().c_str(), 1);
    XProbe probe(wall.display());

    std::printf("wall_up: Brovia plain windows on %s, median of %d rounds\n",
                wall.display().c_str(), rounds);
    std::printf("%8s %14s %14s %16s %16s\n", "browsers", "started ms", "mapped ms",
                "started ms/each", "mapped ms/each");
    for (int n : {1, 4, 8, 16}) {
        std::vector<double> started, mapped;
        for (int r = 0; r < rounds; ++r) {
            Round round;
            if (!runRound(probe, n, round)) {
                std::fprintf(stderr, "wall_up: %d browsers did not all come up\n", n);
                return 1;
            }
            started.push_back(round.started);
            mapped.push_back(round.mapped);
        }
        std::printf("%8d %14.2f %14.2f %16.2f %16.2f\n", n, median(started), median(mapped),
                    median(started) / n, median(mapped) / n);
    }
    return 0;
}
