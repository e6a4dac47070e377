// Under a window manager (openbox), Brovia's Chromium page covers the whole
// rectangle it was given: no title bar, no border. Chromium's own
// diagnostics go to Brovia's log, not to its terminal.
#include "ScriptedServer.h"
#include "TempDir.h"
#include "XProbe.h"
#include "XWall.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>

using namespace std::chrono_literals;

namespace {

constexpr uint32_t kPageColour = 0x3a7d44;

std::string solidPage() {
    char colour[8];
    std::snprintf(colour, sizeof colour, "#%06x", kPageColour);
    const std::string html = "<html><head><title>solid</title></head><body style=\"margin:0;"
                             "background:" +
                             std::string(colour) + "\"></body></html>";
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\nContent-Length: " +
           std::to_string(html.size()) + "\r\n\r\n" + html;
}

TEST(BroviaPage, ChromiumPageCoversItsWholeRectangleUnderOpenbox) {
    if (access("/usr/bin/chromium", X_OK) != 0)
        GTEST_SKIP() << "Debian's Chromium is not installed";
    e2e::XWall wall("--monitors 640x480,640x480 --primary 0");
    ScriptedServer pages(solidPage());
    TempDir state;
    XProbe probe(wall.display());
    // The corners and the middle of the rectangle: a title bar or a border
    // would show at the top or the edges.
    const std::pair<int, int> points[] = {{640, 0}, {1279, 0}, {640, 479}, {1279, 479}, {960, 240}};
    auto covered = [&] {
        for (auto [x, y] : points)
            if (probe.colourAt(x, y) != kPageColour)
                return false;
        return true;
    };
    // The wall's stop in another suite on this machine ends every Brovia of
    // the user: a Brovia ended so is started again, at most three times.
    std::unique_ptr<e2e::Child> brovia;
    bool pageCovers = false;
    for (int attempt = 0; attempt < 3 && !pageCovers; ++attempt) {
        brovia = std::make_unique<e2e::Child>(
            std::vector<std::string>{BROVIA_PROGRAM, "/left", "640", "/top", "0", "/bottom", "480",
                                     "/right", "1280", "/url",
                                     pages.url("/KnitUI/W_Factory.html?token=t")},
            std::vector<std::string>{"DISPLAY=" + wall.display(),
                                     "XDG_STATE_HOME=" + state.path().string()},
            state.file("brovia"));
        e2e::waitFor([&] { return covered() || !brovia->running(); }, 120s);
        pageCovers = covered();
    }
    std::ostringstream shown;
    for (auto [x, y] : points)
        shown << " (" << x << "," << y << ")=" << std::hex << probe.colourAt(x, y) << std::dec;
    const std::string shot =
        "import -window root -display " + wall.display() + " " + std::string(PAGE_SCREENSHOT);
    EXPECT_EQ(std::system(shot.c_str()), 0) << shot;
    EXPECT_TRUE(pageCovers) << "shown:" << shown.str() << "; see " << PAGE_SCREENSHOT;
    EXPECT_TRUE(brovia->running()) << brovia->stderrText();

    // Chromium's lines ("[pid:thread:date:LEVEL:file] ...") stay out of
    // Brovia's standard error; the log for this position exists.
    EXPECT_TRUE(std::filesystem::exists(state.path() / "panoview/brovia-640,0.log"));
    EXPECT_EQ(brovia->stderrText().find("\n["), std::string::npos) << brovia->stderrText();
    EXPECT_NE(brovia->stderrText().rfind("[", 0), 0u) << brovia->stderrText();
}

} // namespace
