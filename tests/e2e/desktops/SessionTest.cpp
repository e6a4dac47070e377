// Panoview itself on the desktops operators run (mutter, GNOME Shell, KWin,
// sway), each a real compositor started headless with three outputs
// (scripts/waywall), with the stand-in cloud service and a StatusNotifier
// tray on a session bus of the test's own: the operator signs in through the
// login dialog and one Chromium page comes up over each monitor's work area;
// a plain second start ends silently; the tray menu's 登录/注销, chosen as
// the panel reports it, and "panoview --login" each bring the signed-in
// dialog back, where Enter signs out; the tray's one activation opens the
// login dialog; the tray menu asked for at a point opens there; "panoview
// --settings" opens the settings dialog, and a click on a page's radio
// button followed by Return saves.
#include "CompositorWall.h"
#include "LoginPixels.h"
#include "Models.h"
#include "TempDir.h"
#include "WallTestSupport.h"
#include "XProbe.h"
#include "XWall.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

using e2e::Child;
using e2e::waitFor;

namespace {

constexpr int kOutputWidth = 1280, kOutputHeight = 720;

struct Desktop {
    const char* compositor;
    int panelTop;     // the desktop's panel at an output's top
    bool everyOutput; // on every output, not on the primary (the one at the origin) only
};

// The session bus of the test, with the tray on it.
class TrayBus {
public:
    explicit TrayBus(const TempDir& dir)
        : daemon_({"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address=1",
                   "--address=unix:path=" + dir.file("bus")},
                  {}, dir.file("dbus")) {
        waitFor([&] { return daemon_.stdoutText().find('\n') != std::string::npos; });
        address_ = daemon_.stdoutText().substr(0, daemon_.stdoutText().find('\n'));
        watcher_ =
            std::make_unique<Child>(std::vector<std::string>{STATUS_NOTIFIER_WATCHER},
                                    std::vector<std::string>{"DBUS_SESSION_BUS_ADDRESS=" + address_,
                                                             "QT_QPA_PLATFORM=offscreen"},
                                    dir.file("watcher"));
        waitFor([&] { return watcher_->stdoutText().find("ready\n") != std::string::npos; });
    }
    bool ready() const { return watcher_->stdoutText().find("ready\n") != std::string::npos; }
    const std::string& address() const { return address_; }
    std::string logs() const { return daemon_.stderrText() + watcher_->stderrText(); }
    // The service of the first item that registered with the tray, or "".
    std::string item() const {
        const std::string out = watcher_->stdoutText();
        const size_t at = out.find("item ");
        return at == std::string::npos ? "" : out.substr(at + 5, out.find('\n', at) - at - 5);
    }
    // A call on the item as a panel makes it (Activate, ContextMenu), with
    // the point on the desktop where the operator clicked.
    int callItem(const std::string& method, int x = 10, int y = 10) const {
        return std::system(
            ("DBUS_SESSION_BUS_ADDRESS=" + address_ + " gdbus call --session --dest " + item() +
             " --object-path /StatusNotifierItem --method " + "org.kde.StatusNotifierItem." +
             method + " " + std::to_string(x) + " " + std::to_string(y) + " >/dev/null")
                .c_str());
    }

    // The entry of the item's exported menu (com.canonical.dbusmenu) whose
    // label starts with `label`, chosen as a panel does when the operator
    // clicks it: its id read from the menu's layout, then its "clicked"
    // event. False when the item exports no menu or no such entry.
    bool chooseMenuEntry(const std::string& label) const {
        const std::string call = "DBUS_SESSION_BUS_ADDRESS=" + address_ +
                                 " gdbus call --session --dest " + item() + " --object-path ";
        const std::string menu = e2e::capture(
            call + "/StatusNotifierItem --method org.freedesktop.DBus.Properties.Get " +
            "org.kde.StatusNotifierItem Menu 2>&1");
        const size_t open = menu.find('\'');
        const size_t close = open == std::string::npos ? open : menu.find('\'', open + 1);
        if (close == std::string::npos)
            return false;
        const std::string path = menu.substr(open + 1, close - open - 1);
        const std::string layout =
            e2e::capture(call + path + " --method com.canonical.dbusmenu.GetLayout 0 10 '[]' 2>&1");
        const size_t at = layout.find("'label': <'" + label);
        const size_t entry = at == std::string::npos ? at : layout.rfind('(', at);
        if (entry == std::string::npos)
            return false;
        const int id = std::atoi(layout.c_str() + entry + 1);
        return id > 0 && std::system((call + path + " --method com.canonical.dbusmenu.Event " +
                                      std::to_string(id) + " clicked '<0>' 0 >/dev/null 2>&1")
                                         .c_str()) == 0;
    }

private:
    Child daemon_;
    std::unique_ptr<Child> watcher_;
    std::string address_;
};

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

class Session : public ::testing::Test {
protected:
    // Panoview and its Brovia in a folder of their own, with a configuration
    // for three displays against the stand-in service.
    void install(const std::string& address) {
        std::filesystem::create_directory(dir.path() / "bin");
        std::filesystem::create_directory(dir.path() / "run");
        for (const char* program : {"panoview", "Brovia", "brovia-plain", "brovia-host"})
            std::filesystem::copy_file(std::string(PANOVIEW_BIN_DIR) + "/" + program,
                                       dir.file(std::string("bin/") + program));
        const std::string page = address + "/KnitUI/W_Factory.html?token=%s&flag=multiscreen";
        std::string entries;
        for (int i = 0; i < 3; ++i)
            entries += std::string(i ? ", " : "") + R"({"pri": ")" + (i ? "false" : "true") +
                       R"(", "url": ")" + page + R"("})";
        dir.write("bin/Panoview.config", R"({"userid": "admin", "address": ")" + address +
                                             R"(", "factoryid": "F001", "web": ")" + address +
                                             R"(", "srurl": [)" + entries + "]}");
    }
    std::unique_ptr<Child> start(const std::string& name, const std::string& busAddress,
                                 const std::vector<std::string>& words = {}) {
        std::vector<std::string> argv{dir.file("bin/panoview")};
        argv.insert(argv.end(), words.begin(), words.end());
        // The pages are Debian's Chromium where it is installed, as an
        // operator's are.
        return std::make_unique<Child>(
            argv,
            std::vector<std::string>{"QT_QPA_PLATFORM=", "XDG_RUNTIME_DIR=" + dir.file("run"),
                                     "DBUS_SESSION_BUS_ADDRESS=" + busAddress,
                                     std::string("BROVIA_NO_CHROMIUM=") + (chromium() ? "0" : "1")},
            dir.file(name));
    }
    static bool chromium() { return access("/usr/bin/chromium", X_OK) == 0; }
    // A command against the desktop; one that hangs (an X server or a
    // compositor that stopped answering) ends after 30 s, so that the
    // step fails instead of the whole suite hanging.
    static std::string run(const std::string& command) {
        return e2e::capture("timeout 30 " + command);
    }
    // The one visible window whose name matches, once it is the active one
    // (so that keys reach it); "" when it did not come.
    static std::string activeWindow(const std::string& pattern) {
        std::string id;
        waitFor([&] {
            id =
                firstLine(run("xdotool search --onlyvisible --name '" + pattern + "' 2>/dev/null"));
            return !id.empty() && firstLine(run("xdotool getactivewindow 2>/dev/null")) == id;
        });
        return !id.empty() && firstLine(run("xdotool getactivewindow 2>/dev/null")) == id ? id : "";
    }
    static bool shown(const std::string& pattern) {
        return !run("xdotool search --onlyvisible --name '" + pattern + "' 2>/dev/null").empty();
    }
    static void clickAt(const std::string& window, int x, int y) {
        run("xdotool mousemove --window " + window + " " + std::to_string(x) + " " +
            std::to_string(y) + " click 1");
    }
    // The work areas covered by a page: each running Brovia of Panoview
    // whose window (its own, or its Chromium's) lies exactly over the
    // rectangle it was started with. Chromium may map its window elsewhere
    // before Brovia has fitted it: only that rectangle counts.
    std::vector<Rect> coveredAreas(XProbe& probe, const std::vector<pid_t>& browsers) {
        const std::vector<TopWindow> tops = probe.topWindows();
        std::vector<Rect> covered;
        for (pid_t pid : browsers) {
            const std::optional<Rect> asked = broviaRectangle(commandLine(pid));
            if (!asked)
                continue;
            // Its own Chromium's window, or the shared browser's.
            std::vector<pid_t> family = descendantsOf(pid);
            family.push_back(pid);
            for (pid_t host : hosts())
                for (pid_t member : descendantsOf(host))
                    family.push_back(member);
            const bool over = std::any_of(tops.begin(), tops.end(), [&](const TopWindow& top) {
                return top.outer == *asked &&
                       std::any_of(family.begin(), family.end(), [&](pid_t member) {
                           return top.pids.count(static_cast<uint32_t>(member)) != 0;
                       });
            });
            if (over)
                covered.push_back(*asked);
        }
        std::sort(covered.begin(), covered.end(),
                  [](const Rect& a, const Rect& b) { return a.left < b.left; });
        return covered;
    }
    static std::vector<pid_t> browsers(pid_t panoview) {
        std::vector<pid_t> found;
        for (pid_t pid : descendantsOf(panoview))
            // Read once: a short-lived Chromium process may end between
            // two reads.
            if (const std::vector<std::string> words = commandLine(pid);
                processRunning(pid) && !words.empty() && words[0] == "Brovia")
                found.push_back(pid);
        return found;
    }

    // In the settings dialog: a site folder typed, the primary display's and
    // the factory overview's radio buttons clicked, Return; then Return on
    // the message that tells of the save, once it is the active window. True
    // when the dialog has closed.
    static bool saveAfterARadioClick(const std::string& dialog) {
        clickAt(dialog, 200, 63); // the machine type's box
        run("xdotool type --delay 50 HosieryUI");
        clickAt(dialog, 30, 174); // the primary display's radio button
        clickAt(dialog, 30, 368); // the factory overview's radio button
        run("xdotool key Return");
        if (activeWindow("^Panoview$").empty())
            return false;
        run("xdotool key Return");
        return waitFor([&] { return !shown("^设置$"); });
    }
    bool savedTheFactoryOverview() const {
        return dir.read("bin/Panoview.config")
                   .find("/HosieryUI/W_Factory.html?token=%s&flag=multiscreen") !=
               std::string::npos;
    }

    TempDir dir;
};

class SessionOnDesktop : public Session,
                         public ::testing::WithParamInterface<std::tuple<Desktop, Model>> {};

TEST_P(SessionOnDesktop, SignInSignOutTrayAndSettings) {
    const auto [desktop, model] = GetParam();
    useModel(model);
    CompositorWall wall(desktop.compositor);
    if (!wall.started() && wall.cannotStartHere())
        GTEST_SKIP() << desktop.compositor << " cannot start on this machine: " << wall.reason();
    ASSERT_TRUE(wall.started()) << wall.reason();
    useWall(wall);
    TrayBus bus(dir);
    ASSERT_TRUE(bus.ready()) << bus.logs();
    Child service({CLOUD_SERVICE, "0", CLOUD_ACCOUNTS}, {}, dir.file("cloud-service"));
    ASSERT_TRUE(waitFor([&] { return service.stdoutText().find('\n') != std::string::npos; }));
    const std::string address = "http://127.0.0.1:" + firstLine(service.stdoutText());
    install(address);

    auto panoview = start("panoview", bus.address());
    const std::string login = activeWindow("^Loomhaven监控");
    ASSERT_FALSE(login.empty()) << panoview->stderrText();
    EXPECT_TRUE(waitFor([&] { return !bus.item().empty(); })) << "the icon is in the tray";

    // One copy per user: a plain second start says nothing and ends with 0.
    auto second = start("second", bus.address());
    EXPECT_EQ(second->wait(), 0);
    EXPECT_EQ(second->stderrText(), "");

    // Sign-in: the password and Enter light every monitor's work area.
    std::vector<Rect> expected;
    for (int i = 0; i < 3; ++i)
        expected.push_back({i * kOutputWidth, desktop.everyOutput || i == 0 ? desktop.panelTop : 0,
                            (i + 1) * kOutputWidth, kOutputHeight});
    XProbe probe(wall.display());
    const auto signIn = [&] {
        const QPoint box = pixels::kPassword.center();
        clickAt(login, box.x(), box.y());
        run("xdotool key ctrl+a");
        run("xdotool type --delay 50 123456");
        run("xdotool key Return");
        std::vector<pid_t> pages;
        std::vector<Rect> covered;
        EXPECT_TRUE(waitFor(
            [&] {
                pages = browsers(panoview->pid());
                covered = coveredAreas(probe, pages);
                return pages.size() == 3 && covered == expected;
            },
            std::chrono::seconds(chromium() ? 120 : 60)))
            << pages.size() << " Brovia, " << covered.size() << " work areas covered\n"
            << panoview->stderrText();
        EXPECT_TRUE(waitFor([&] { return !shown("^Loomhaven"); })) << "the dialog hides";
        return pages;
    };
    // Enter in the signed-in dialog: every page ends, the dialog stays,
    // signed out.
    const auto signOut = [&](const std::vector<pid_t>& pages) {
        std::vector<pid_t> family = pages;
        for (pid_t pid : pages)
            for (pid_t child : descendantsOf(pid))
                family.push_back(child);
        run("xdotool key Return");
        for (pid_t pid : family)
            EXPECT_TRUE(waitFor([pid] { return !processRunning(pid); }))
                << "process " << pid << " outlived the sign-out";
        EXPECT_TRUE(waitFor([&] { return shown("^Loomhaven监控$"); })) << "signed out";
    };
    std::vector<pid_t> pages = signIn();

    // The tray's menu as a StatusNotifier panel shows it: its sign-in entry
    // brings the signed-in dialog back, where Enter signs out.
    ASSERT_TRUE(bus.chooseMenuEntry("登录/注销")) << bus.item();
    ASSERT_FALSE(activeWindow("^Loomhaven监控 - ").empty()) << panoview->stderrText();
    signOut(pages);
    pages = signIn();

    // "panoview --login" reaches the running copy; Enter there signs out.
    auto again = start("login", bus.address(), {"--login"});
    EXPECT_EQ(again->wait(), 0) << again->stderrText();
    EXPECT_EQ(again->stdoutText(), "the login dialog is shown\n");
    ASSERT_FALSE(activeWindow("^Loomhaven监控 - ").empty()) << panoview->stderrText();
    signOut(pages);

    // The tray's one activation, as a StatusNotifier panel sends it, opens
    // the login dialog once it was closed.
    run("xdotool key Escape");
    ASSERT_TRUE(waitFor([&] { return !shown("^Loomhaven"); })) << "Escape closes the dialog";
    EXPECT_EQ(bus.callItem("Activate"), 0) << bus.item();
    EXPECT_TRUE(waitFor([&] { return shown("^Loomhaven监控$"); })) << panoview->stderrText();
    run("xdotool key Escape");
    ASSERT_TRUE(waitFor([&] { return !shown("^Loomhaven"); }));

    // A panel that shows no exported menu (swaybar of sway 1.7) asks for the
    // menu at the point where the operator clicked: it opens there, on the
    // third monitor, and Escape closes it.
    const auto menuAt = [&](int x, int y) {
        for (const auto& top : probe.topWindows())
            if (top.pids.count(static_cast<uint32_t>(panoview->pid())) && top.outer.left == x &&
                top.outer.top == y)
                return true;
        return false;
    };
    EXPECT_EQ(bus.callItem("ContextMenu", 2600, 200), 0) << bus.item();
    EXPECT_TRUE(waitFor([&] { return menuAt(2600, 200); })) << panoview->stderrText();
    run("xdotool key Escape");
    EXPECT_TRUE(waitFor([&] { return !menuAt(2600, 200); })) << "Escape closes the menu";

    // "panoview --settings": a site folder typed, the primary display's and
    // the factory overview's radio buttons clicked, Return: the settings are
    // saved.
    auto settings = start("settings", bus.address(), {"--settings"});
    EXPECT_EQ(settings->wait(), 0) << settings->stderrText();
    const std::string dialog = activeWindow("^设置$");
    ASSERT_FALSE(dialog.empty()) << panoview->stderrText();
    EXPECT_TRUE(saveAfterARadioClick(dialog)) << panoview->stderrText();
    EXPECT_TRUE(savedTheFactoryOverview()) << dir.read("bin/Panoview.config");
    EXPECT_TRUE(panoview->running());
    panoview->signal(SIGTERM);
    EXPECT_EQ(panoview->wait(), 0);
}

// mutter alone, GNOME Shell with its 32-pixel top bar on the primary output,
// KDE's KWin and sway with its 30-pixel bar on every output.
INSTANTIATE_TEST_SUITE_P(Compositors, SessionOnDesktop,
                         ::testing::Combine(::testing::Values(Desktop{"mutter", 0, true},
                                                              Desktop{"gnome-shell", 32, false},
                                                              Desktop{"kwin", 0, true},
                                                              Desktop{"sway", 30, true}),
                                            ::testing::Values(Model::Shared, Model::Own)),
                         [](const auto& info) {
                             std::string name = std::get<0>(info.param).compositor;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name + "_" + modelName(std::get<1>(info.param));
                         });

} // namespace
