// Under a window manager (openbox), Brovia's Chromium page covers the whole
// rectangle it was given: no title bar, no border. Chromium's own
// diagnostics go to Brovia's log, not to its terminal. A zoomed page in the
// shared browser draws at its zoom.
#include "ScriptedServer.h"
#include "TempDir.h"
#include "WallTestSupport.h"
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

// A point of the root window and the colour the page shows there.
struct Point {
    int x, y;
    uint32_t colour;
};

// Brovia started with the words until the root shows every point's colour.
// The wall's stop in another suite on this machine ends every Brovia of the
// user: a Brovia ended so is started again, at most three times. The root
// is saved as the screenshot, and `shown` says what each point showed.
struct Drawn {
    std::unique_ptr<e2e::Child> brovia;
    bool drawn = false;
    std::string shown;
};
Drawn showUntilDrawn(XProbe& probe, const std::string& display, std::vector<std::string> words,
                     const std::vector<std::string>& env, const std::string& logPrefix,
                     const std::vector<Point>& points, const std::string& screenshot) {
    auto drawn = [&] {
        for (const Point& p : points)
            if (probe.colourAt(p.x, p.y) != p.colour)
                return false;
        return true;
    };
    words.insert(words.begin(), BROVIA_PROGRAM);
    Drawn result;
    for (int attempt = 0; attempt < 3 && !result.drawn; ++attempt) {
        result.brovia = std::make_unique<e2e::Child>(words, env, logPrefix);
        e2e::waitFor([&] { return drawn() || !result.brovia->running(); }, 120s);
        result.drawn = drawn();
    }
    std::ostringstream shown;
    for (const Point& p : points)
        shown << " (" << p.x << "," << p.y << ")=" << std::hex << probe.colourAt(p.x, p.y)
              << std::dec;
    result.shown = shown.str() + "; see " + screenshot;
    const std::string shot = "import -window root -display " + display + " " + screenshot;
    EXPECT_EQ(std::system(shot.c_str()), 0) << shot;
    return result;
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
    std::vector<Point> points;
    for (auto [x, y] : {std::pair{640, 0}, {1279, 0}, {640, 479}, {1279, 479}, {960, 240}})
        points.push_back({x, y, kPageColour});
    const Drawn page =
        showUntilDrawn(probe, wall.display(),
                       {"/left", "640", "/top", "0", "/bottom", "480", "/right", "1280", "/url",
                        pages.url("/KnitUI/W_Factory.html?token=t")},
                       {"DISPLAY=" + wall.display(), "XDG_STATE_HOME=" + state.path().string()},
                       state.file("brovia"), points, PAGE_SCREENSHOT);
    const std::unique_ptr<e2e::Child>& brovia = page.brovia;
    EXPECT_TRUE(page.drawn) << "shown:" << page.shown;
    EXPECT_TRUE(brovia->running()) << brovia->stderrText();

    // Chromium's lines ("[pid:thread:date:LEVEL:file] ...") stay out of
    // Brovia's standard error; the log for this position exists.
    EXPECT_TRUE(std::filesystem::exists(state.path() / "panoview/brovia-640,0.log"));
    EXPECT_EQ(brovia->stderrText().find("\n["), std::string::npos) << brovia->stderrText();
    EXPECT_NE(brovia->stderrText().rfind("[", 0), 0u) << brovia->stderrText();
}

constexpr uint32_t kBackground = 0x000000, kTopLeft = 0xff0000, kBottomRight = 0x0000ff;

// A black page with a square of 100 by 100 CSS pixels in its top left
// corner and another in its bottom right one.
std::string squaresPage() {
    const std::string square = "position:fixed;width:100px;height:100px;";
    const std::string html = "<html><head><title>squares</title></head><body style=\"margin:0;"
                             "background:#000\"><div style=\"" +
                             square + "left:0;top:0;background:#f00\"></div><div style=\"" +
                             square + "right:0;bottom:0;background:#00f\"></div></body></html>";
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\nContent-Length: " +
           std::to_string(html.size()) + "\r\n\r\n" + html;
}

// The page's zoom goes with it into the shared browser: at 150 % each square
// covers 150 by 150 pixels of the monitor, the one in the top left corner
// and the one the page lays out in the bottom right corner of its
// viewport (the monitor's size at 150 %) alike. The page is a window of
// brovia-host's Chromium: Brovia starts no Chromium of its own.
TEST(BroviaPage, ZoomedPageInTheSharedBrowserDrawsAtItsZoom) {
    if (access("/usr/bin/chromium", X_OK) != 0)
        GTEST_SKIP() << "Debian's Chromium is not installed";
    e2e::XWall wall("--monitors 640x480,640x480 --primary 0");
    ScriptedServer pages(squaresPage());
    TempDir state;
    std::filesystem::create_directory(state.path() / "run");
    XProbe probe(wall.display());
    // Inside each square near its far edge at 150 %, and just beyond it.
    const std::vector<Point> points = {
        {640 + 140, 140, kTopLeft},          {640 + 160, 40, kBackground},
        {640 + 40, 160, kBackground},        {1280 - 140, 480 - 140, kBottomRight},
        {1280 - 160, 480 - 40, kBackground}, {1280 - 40, 480 - 160, kBackground},
    };
    const Drawn page =
        showUntilDrawn(probe, wall.display(),
                       {"/left", "640", "/top", "0", "/bottom", "480", "/right", "1280", "/url",
                        pages.url("/squares"), "/zoom", "150"},
                       {"DISPLAY=" + wall.display(), "XDG_STATE_HOME=" + state.path().string(),
                        "XDG_RUNTIME_DIR=" + state.file("run")},
                       state.file("brovia"), points, ZOOM_SCREENSHOT);
    const std::unique_ptr<e2e::Child>& brovia = page.brovia;
    EXPECT_TRUE(page.drawn) << "shown:" << page.shown;
    ASSERT_TRUE(brovia->running()) << brovia->stderrText();
    for (pid_t below : descendantsOf(brovia->pid())) {
        const std::vector<std::string> words = commandLine(below);
        EXPECT_TRUE(words.empty() || words[0].find("chromium") == std::string::npos)
            << "Brovia runs a Chromium of its own: " << words[0];
    }
    EXPECT_TRUE(std::filesystem::exists(state.file("run") + "/brovia-host.socket"));
}

} // namespace
