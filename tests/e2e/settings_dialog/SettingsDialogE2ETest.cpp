// "panoview /set" on a virtual wall of three monitors: the settings dialog
// comes up centred on the primary monitor, names the displays in its
// diagnostic lines, and an operator's save (mouse and keyboard through
// xdotool) is what the next start reads; without a display configured a
// normal start opens the dialog too.
#include "TempDir.h"
#include "XWall.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

using e2e::Child;
using e2e::waitFor;
using e2e::XWall;

namespace {

// A window's client rectangle and its frame's extents.
struct Placement {
    int x = 0, y = 0, width = 0, height = 0;
    int left = 0, right = 0, top = 0, bottom = 0;
};

int numberAfter(const std::string& text, const std::string& label) {
    const size_t at = text.find(label);
    return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + label.size());
}

Placement placementOf(const XWall& wall, const std::string& window) {
    // xwininfo gives the client's absolute position (xdotool would count the
    // frame twice under openbox).
    const std::string info = wall.run("xwininfo -id " + window);
    Placement p;
    p.x = numberAfter(info, "Absolute upper-left X:");
    p.y = numberAfter(info, "Absolute upper-left Y:");
    p.width = numberAfter(info, "Width:");
    p.height = numberAfter(info, "Height:");
    std::string extents = wall.run("xprop -id " + window + " _NET_FRAME_EXTENTS");
    const size_t eq = extents.find('=');
    if (eq != std::string::npos) {
        std::replace(extents.begin(), extents.end(), ',', ' ');
        std::istringstream(extents.substr(eq + 1)) >> p.left >> p.right >> p.top >> p.bottom;
    }
    return p;
}

} // namespace

TEST(SettingsDialogE2E, OperatorChoosesThePageOfTheSecondExtendedItem) {
    // Three 1280x1080 monitors side by side, the middle one (WALL1) primary.
    XWall wall("--monitors 1280x1080,1280x1080,1280x1080 --primary 1");
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "run");
    const std::string program = dir.file("panoview");
    std::filesystem::copy_file(std::string(PANOVIEW_BIN_DIR) + "/panoview", program);
    const std::vector<std::string> env{"DISPLAY=" + wall.display(),
                                       "QT_QPA_PLATFORM=", "XDG_RUNTIME_DIR=" + dir.file("run")};

    Child settings({program, "/set"}, env, dir.file("set"));
    std::string window;
    ASSERT_TRUE(waitFor([&] { return !(window = wall.windowNamed("设置")).empty(); }))
        << settings.stderrText();

    // Centred on the primary monitor (x 1280 to 2560), frame and all: the
    // dialog centres itself once more when the window manager has framed it.
    Placement p;
    auto frameCentred = [&] {
        p = placementOf(wall, window);
        const int frameWidth = p.width + p.left + p.right;
        const int frameHeight = p.height + p.top + p.bottom;
        // Each half taken by integer division.
        return p.top > 0 && p.x - p.left == 1280 + 1280 / 2 - frameWidth / 2 &&
               p.y - p.top == 1080 / 2 - frameHeight / 2;
    };
    EXPECT_TRUE(waitFor(frameCentred)) << p.x << "," << p.y << " frame " << p.left << "," << p.right
                                       << "," << p.top << "," << p.bottom;
    EXPECT_EQ(p.width, 459);
    EXPECT_EQ(p.height, 464);

    // The primary display and the two others, in discovery order.
    const std::string said = settings.stderrText();
    EXPECT_NE(said.find("pri.WALL1,screen,screen\n"), std::string::npos) << said;
    EXPECT_LT(said.find("vem.WALL0,WALL0,WALL0\n"), said.find("vem.WALL2,WALL2,WALL2\n")) << said;

    // A site folder typed as the machine type (Latin keys: a click that
    // follows Chinese typed through xdotool's keymap changes is sometimes
    // lost); the list opened by its arrow and its second item ([WALL2])
    // taken with the keys; the factory overview clicked; Enter.
    auto clickAt = [&](int x, int y) {
        wall.run("xdotool mousemove --window " + window + " " + std::to_string(x) + " " +
                 std::to_string(y) + " click 1");
    };
    clickAt(200, 63); // box 1012
    wall.run("xdotool type --delay 50 HosieryUI");
    clickAt(420, 210); // the arrow of box 1005
    // Keys sent before the list is mapped would be lost.
    ASSERT_TRUE(waitFor([&] { return wall.popupShown(settings.pid()); })) << "the list opened";
    wall.run("xdotool key Down Return"); // the open list starts on its first item
    clickAt(30, 368);                    // radio 1014, factory overview
    wall.run("xdotool key Return");

    std::string message;
    ASSERT_TRUE(waitFor([&] { return !(message = wall.windowNamed("Panoview")).empty(); }));
    ASSERT_TRUE(waitFor([&] {
        return std::to_string(std::atol(wall.run("xdotool getactivewindow").c_str())) == message;
    })) << "the message has the keyboard";
    wall.run("xdotool key Return");
    ASSERT_TRUE(waitFor([&] { return wall.windowNamed("设置").empty(); }));

    const std::string saved = dir.read("Panoview.config");
    EXPECT_EQ(saved, "{\n"
                     "\t\"userid\":\t\"\",\n"
                     "\t\"address\":\t\"http://127.0.0.1:8088\",\n"
                     "\t\"factoryid\":\t\"\",\n"
                     "\t\"web\":\t\"http://127.0.0.1\",\n"
                     "\t\"srurl\":\t[{\n"
                     "\t\t\t\"pri\":\t\"false\",\n"
                     "\t\t\t\"url\":\t\"http://127.0.0.1/HosieryUI/W_Factory.html?token=%s&"
                     "flag=multiscreen\"\n"
                     "\t\t}]\n"
                     "}");
    // The program goes on with its hidden main window until it is ended.
    EXPECT_TRUE(settings.running());
    settings.signal(SIGTERM);
    EXPECT_EQ(settings.wait(), 0);

    // A normal start reads the saved file and, with a display configured,
    // opens the login dialog. It launches the wall only after a sign-in;
    // that the one entry, not primary, goes to the first extended display is
    // the settings_dialog unit suite's launch of the same file.
    {
        Child normal({program}, env, dir.file("normal"));
        ASSERT_TRUE(waitFor([&] { return normal.stderrText().find(saved) != std::string::npos; }))
            << normal.stderrText();
        EXPECT_TRUE(waitFor([&] {
            return !wall.run("xdotool search --onlyvisible --name '^Loomhaven监控'").empty();
        }));
        EXPECT_TRUE(wall.windowNamed("设置").empty()) << "no settings dialog";
    } // ended, so that the next start may take the instance lock

    // No display configured: the login command opens the settings dialog
    // instead. Ended while it is open: status 0, nothing written.
    const std::string unconfigured = R"({"userid": "op", "srurl": []})";
    dir.write("Panoview.config", unconfigured);
    Child ended({program}, env, dir.file("ended"));
    ASSERT_TRUE(waitFor([&] { return !wall.windowNamed("设置").empty(); })) << ended.stderrText();
    ended.signal(SIGTERM);
    EXPECT_EQ(ended.wait(), 0);
    EXPECT_EQ(dir.read("Panoview.config"), unconfigured);
}
