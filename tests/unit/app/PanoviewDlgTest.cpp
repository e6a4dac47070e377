#include "app/PanoviewDlg.h"
#include "common/Globals.h"

#include <deque>
#include <gtest/gtest.h>

namespace {

// The main window's desktop, scripted: every call is written to `log`;
// questions, menu choices and keep-alive results come from queues.
struct ScriptedDesktop {
    std::vector<std::string> log;
    std::deque<bool> answers;
    std::deque<uint32_t> menuChoices;
    std::deque<int32_t> keepAlive;
    std::vector<std::string> questions;
    std::vector<std::string> tooltips;

    PanoviewDlgServices services() {
        PanoviewDlgServices s;
        s.addTrayIcon = [this](const std::string& tip) {
            tooltips.push_back(tip);
            log.push_back("icon+");
        };
        s.deleteTrayIcon = [this] { log.push_back("icon-"); };
        s.cursorPosition = [] { return ScreenPoint{640, 1060}; };
        s.showMenu = [this](const std::vector<TrayMenuItem>& menu, ScreenPoint at) {
            log.push_back("menu@" + std::to_string(at.x) + "," + std::to_string(at.y) + "/" +
                          std::to_string(menu.size()));
            uint32_t id = menuChoices.empty() ? 0 : menuChoices.front();
            if (!menuChoices.empty())
                menuChoices.pop_front();
            return id;
        };
        s.startTimer = [this](int id, int ms) {
            log.push_back("timer" + std::to_string(id) + "=" + std::to_string(ms));
        };
        s.stopTimer = [this](int id) { log.push_back("timer" + std::to_string(id) + " stop"); };
        s.askYesNo = [this](const std::string& caption, const std::string& text) {
            questions.push_back(caption + ":" + text);
            bool yes = answers.front();
            answers.pop_front();
            log.push_back(yes ? "ask>yes" : "ask>no");
            return yes;
        };
        s.openUrl = [this](const std::string& url) { log.push_back("open " + url); };
        s.createLoginDialog = [this] { log.push_back("login create"); };
        s.showLoginDialog = [this] { log.push_back("login show"); };
        s.runSettingsDialog = [this] { log.push_back("settings"); };
        s.heartpacket = [this](const std::string& address, const std::string& token) {
            log.push_back("heart " + address + " " + token);
            int32_t result = keepAlive.front();
            keepAlive.pop_front();
            return result;
        };
        s.stopBrowsers = [this] { log.push_back("stop browsers"); };
        s.exitProcess = [this](int status) { log.push_back("exit " + std::to_string(status)); };
        return s;
    }
};

using Log = std::vector<std::string>;

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        UseEnglish = 0;
        config.serviceAddress = "http://svc";
        config.displays = {{1, "u%s", 0}};
    }
    void TearDown() override { UseEnglish = 0; }
    void signIn(const std::string& token = "TOK") {
        config.signedIn = true;
        config.token = token;
    }
    SystemConfig config;
    ScriptedDesktop desktop;
};

TEST_F(MainWindow, StartUpAddsTheIconThenTheFirstDialogThenTheTimer) {
    struct Case {
        const char* tail;
        bool configured;
        Log log;
    };
    const Case cases[] = {
        {"", true, {"icon+", "login create", "login show", "timer1=30000"}},
        {"/english", true, {"icon+", "login create", "login show", "timer1=30000"}},
        {"/set", true, {"icon+", "settings", "timer1=30000"}},
        {"", false, {"icon+", "settings", "timer1=30000"}},
    };
    for (const Case& c : cases) {
        ScriptedDesktop d;
        SystemConfig cfg;
        if (c.configured)
            cfg.displays = {{1, "u%s", 0}};
        CPanoviewDlg window(cfg, d.services());
        window.OnInitDialog(c.tail);
        EXPECT_EQ(d.log, c.log) << c.tail << (c.configured ? "" : " unconfigured");
    }
}

TEST_F(MainWindow, TrayMessagesAndMenuCommands) {
    CPanoviewDlg window(config, desktop.services());
    EXPECT_EQ(window.OnTrayNotify(129, WM_LBUTTONDBLCLK), 1) << "another icon's message";
    EXPECT_EQ(window.OnTrayNotify(kTrayIconId, 513), 0) << "a single click does nothing";
    EXPECT_EQ(desktop.log, Log{});

    // A double click and the login command show the one login dialog.
    EXPECT_EQ(window.OnTrayNotify(kTrayIconId, WM_LBUTTONDBLCLK), 0);
    desktop.menuChoices = {ID_TRAY_LOGIN, ID_TRAY_SETTINGS, ID_TRAY_ABOUT, 0};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(window.OnTrayNotify(kTrayIconId, WM_RBUTTONUP), 0);
    EXPECT_EQ(desktop.log, (Log{"login create", "login show", "menu@640,1060/6", "login show",
                                "menu@640,1060/6", "settings", "menu@640,1060/6",
                                "open http://www.loomhaven.example", "menu@640,1060/6"}));

    // With no display configured the login command opens the settings.
    desktop.log.clear();
    config.displays.clear();
    window.OnTrayNotify(kTrayIconId, WM_LBUTTONDBLCLK);
    window.OnCommand(ID_TRAY_LOGIN);
    EXPECT_EQ(desktop.log, (Log{"settings", "settings"}));
}

TEST_F(MainWindow, TheMenuIsOneChineseTableInBothLanguages) {
    const std::vector<std::pair<uint32_t, std::string>> expected{{32772, "登录/注销(&L)"},
                                                                 {32777, "系统设置(&S)"},
                                                                 {0, ""},
                                                                 {32774, "关于我们(&W)"},
                                                                 {0, ""},
                                                                 {32776, "退出(&Q)"}};
    std::vector<std::pair<uint32_t, std::string>> menu;
    for (const TrayMenuItem& item : trayMenu())
        menu.emplace_back(item.id, item.text);
    EXPECT_EQ(menu, expected);
    EXPECT_EQ(trayTooltip(), "Loomhaven多屏监控系统");
    UseEnglish = 1;
    EXPECT_EQ(trayTooltip(), "Loomhaven multi screen monitoring system");
}

TEST_F(MainWindow, ExitAskedInTheOperatorsLanguage) {
    for (int english : {0, 1}) {
        UseEnglish = english;
        ScriptedDesktop d;
        d.answers = {false, true};
        CPanoviewDlg window(config, d.services());
        window.OnCommand(ID_TRAY_EXIT); // No: nothing changes
        EXPECT_EQ(d.log, Log{"ask>no"});
        window.OnCommand(ID_TRAY_EXIT); // Yes: browsers, icon, status 0; no sign-out
        EXPECT_EQ(d.log, (Log{"ask>no", "ask>yes", "stop browsers", "icon-", "exit 0"}));
        EXPECT_EQ(d.questions[0],
                  english ? "Tips:Are you sure you want to exit?" : "提示:确定要退出吗？");
    }
}

TEST_F(MainWindow, KeepAliveOnlyWhileSignedInWithAToken) {
    CPanoviewDlg window(config, desktop.services());
    window.OnTimer(kKeepAliveTimer); // signed out
    config.signedIn = true;          // signed in, no token yet
    window.OnTimer(kKeepAliveTimer);
    config.signedIn = false;
    config.token = "TOK"; // a token but signed out
    window.OnTimer(kKeepAliveTimer);
    signIn();
    window.OnTimer(2); // another timer
    EXPECT_EQ(desktop.log, Log{});
    desktop.keepAlive = {1};
    window.OnTimer(kKeepAliveTimer);
    EXPECT_EQ(desktop.log, Log{"heart http://svc TOK"});
}

TEST_F(MainWindow, AFailedKeepAliveStopsTheTimerBeforeAskingAndNoSlowsItForGood) {
    signIn();
    desktop.keepAlive = {0, 1, 1, -5, 2};
    desktop.answers = {false, false, true};
    CPanoviewDlg window(config, desktop.services());
    for (int tick = 0; tick < 5; ++tick)
        window.OnTimer(kKeepAliveTimer);
    const std::string heart = "heart http://svc TOK";
    EXPECT_EQ(desktop.log, (Log{heart, "timer1 stop", "ask>no", "timer1=180000", heart, heart,
                                heart, "timer1 stop", "ask>no", "timer1=180000", heart,
                                "timer1 stop", "ask>yes", "stop browsers", "icon-", "exit 0"}));
    EXPECT_EQ(window.keepAlivePeriod(), kKeepAliveSlowPeriodMs);
    EXPECT_EQ(desktop.questions[0],
              "提示:检测到与服务通讯异常，为了保证正常运行\n建议重新启动程序，是否立即退出软件？");
}

TEST_F(MainWindow, TrayHostBackAndOtherEnds) {
    UseEnglish = 1;
    CPanoviewDlg window(config, desktop.services());
    EXPECT_EQ(window.OnTaskbarCreated(), 0);
    window.DestroyWindow(); // a signal: the icon goes, the browsers stay
    EXPECT_EQ(desktop.log, (Log{"icon+", "icon-"}));
    EXPECT_EQ(desktop.tooltips, Log{"Loomhaven multi screen monitoring system"});
}

} // namespace
