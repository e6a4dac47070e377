#include "app/PanoviewDlg.h"
#include "Language.h"

#include <deque>
#include <gtest/gtest.h>

namespace {

// The main window's desktop and the rest of the program, scripted: every
// call is written to `log`; questions, menu choices and keep-alive results
// come from queues.
struct ScriptedDesktop : IPanoviewView {
    std::vector<std::string> log;
    std::deque<bool> answers;
    std::deque<uint32_t> menuChoices;
    std::deque<int32_t> keepAlive;
    std::vector<std::string> questions;
    std::vector<std::string> tooltips;

    void showTrayIcon(const std::string& tip) override {
        tooltips.push_back(tip);
        log.push_back("icon+");
    }
    void hideTrayIcon() override { log.push_back("icon-"); }
    uint32_t showMenu(const std::vector<TrayMenuItem>& menu) override {
        log.push_back("menu/" + std::to_string(menu.size()));
        uint32_t id = menuChoices.empty() ? 0 : menuChoices.front();
        if (!menuChoices.empty())
            menuChoices.pop_front();
        return id;
    }
    void startKeepAliveTimer(int ms) override { log.push_back("timer=" + std::to_string(ms)); }
    void stopKeepAliveTimer() override { log.push_back("timer stop"); }
    void watchTrayHost(int ms) override { log.push_back("watch " + std::to_string(ms)); }
    bool askYesNo(const std::string& caption, const std::string& text) override {
        questions.push_back(caption + ":" + text);
        bool yes = answers.front();
        answers.pop_front();
        log.push_back(yes ? "ask>yes" : "ask>no");
        return yes;
    }
    void openUrl(const std::string& url) override { log.push_back("open " + url); }

    PanoviewDlgServices services() {
        PanoviewDlgServices s;
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
        s.endLeftoverBrowsers = [this] { log.push_back("end leftovers"); };
        s.exitProcess = [this](int status) { log.push_back("exit " + std::to_string(status)); };
        return s;
    }
};

using Log = std::vector<std::string>;

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        config.serviceAddress = "http://svc";
        config.displays = {{1, "u%s", 0}};
    }
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
        {"", true, {"icon+", "watch 2000", "login create", "login show", "timer=30000"}},
        {"/english", true, {"icon+", "watch 2000", "login create", "login show", "timer=30000"}},
        {"/set", true, {"icon+", "watch 2000", "settings", "timer=30000"}},
        {"", false, {"icon+", "watch 2000", "settings", "timer=30000"}},
    };
    for (const Case& c : cases) {
        ScriptedDesktop d;
        SystemConfig cfg;
        if (c.configured)
            cfg.displays = {{1, "u%s", 0}};
        CPanoviewDlg window(d, cfg, d.services());
        window.OnInitDialog(c.tail);
        // The pages of an earlier run go before anything is shown.
        Log expected{"end leftovers"};
        expected.insert(expected.end(), c.log.begin(), c.log.end());
        EXPECT_EQ(d.log, expected) << c.tail << (c.configured ? "" : " unconfigured");
    }
}

TEST_F(MainWindow, TrayMessagesAndMenuCommands) {
    CPanoviewDlg window(desktop, config, desktop.services());
    window.OnTrayNotify(TrayClick::Other); // a single click does nothing
    EXPECT_EQ(desktop.log, Log{});
    // A StatusNotifier tray's activation is its only click: the login command.
    window.OnTrayNotify(TrayClick::Activate);
    EXPECT_EQ(desktop.log, (Log{"login create", "login show"}));
    desktop.log.clear();

    // A double click and the login command show the one login dialog.
    window.OnTrayNotify(TrayClick::Double);
    desktop.menuChoices = {ID_TRAY_LOGIN, ID_TRAY_SETTINGS, ID_TRAY_ABOUT, 0};
    for (int i = 0; i < 4; ++i)
        window.OnTrayNotify(TrayClick::Context);
    EXPECT_EQ(desktop.log, (Log{"login show", "menu/6", "login show", "menu/6", "settings",
                                "menu/6", "open http://www.loomhaven.example", "menu/6"}));

    // With no display configured the login command opens the settings.
    desktop.log.clear();
    config.displays.clear();
    window.OnTrayNotify(TrayClick::Double);
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
    ScopedLanguage english(true);
    EXPECT_EQ(trayTooltip(), "Loomhaven multi screen monitoring system");
}

TEST_F(MainWindow, ExitAskedInTheOperatorsLanguage) {
    for (bool english : {false, true}) {
        ScopedLanguage language(english);
        ScriptedDesktop d;
        d.answers = {false, true};
        CPanoviewDlg window(d, config, d.services());
        window.OnCommand(ID_TRAY_EXIT); // No: nothing changes
        EXPECT_EQ(d.log, Log{"ask>no"});
        window.OnCommand(ID_TRAY_EXIT); // Yes: browsers, icon, status 0; no sign-out
        EXPECT_EQ(d.log, (Log{"ask>no", "ask>yes", "stop browsers", "icon-", "exit 0"}));
        EXPECT_EQ(d.questions[0],
                  english ? "Tips:Are you sure you want to exit?" : "提示:确定要退出吗？");
    }
}

TEST_F(MainWindow, KeepAliveOnlyWhileSignedInWithAToken) {
    CPanoviewDlg window(desktop, config, desktop.services());
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
    CPanoviewDlg window(desktop, config, desktop.services());
    for (int tick = 0; tick < 5; ++tick)
        window.OnTimer(kKeepAliveTimer);
    const std::string heart = "heart http://svc TOK";
    EXPECT_EQ(desktop.log, (Log{heart, "timer stop", "ask>no", "timer=180000", heart, heart, heart,
                                "timer stop", "ask>no", "timer=180000", heart, "timer stop",
                                "ask>yes", "stop browsers", "icon-", "exit 0"}));
    EXPECT_EQ(window.keepAlivePeriod(), kKeepAliveSlowPeriodMs);
    EXPECT_EQ(desktop.questions[0],
              "提示:检测到与服务通讯异常，为了保证正常运行\n建议重新启动程序，是否立即退出软件？");
}

TEST_F(MainWindow, TrayHostBackAndOtherEnds) {
    ScopedLanguage english(true);
    CPanoviewDlg window(desktop, config, desktop.services());
    window.OnTaskbarCreated();
    window.DestroyWindow();
    EXPECT_EQ(desktop.log, (Log{"icon+", "icon-"}));
    // The session ends (a logout's signal): the wall goes as on Exit, with no
    // question and no sign-out; the caller ends the process.
    desktop.log.clear();
    window.OnEndSession();
    EXPECT_EQ(desktop.log, (Log{"stop browsers", "icon-"}));
    EXPECT_EQ(desktop.tooltips, Log{"Loomhaven multi screen monitoring system"});
}

TEST_F(MainWindow, CommandsOfALaterStartRunAsFromTheMenu) {
    const std::pair<const char*, RemoteCommand> words[] = {
        {"login", RemoteCommand::Login}, {"settings", RemoteCommand::Settings},
        {"Login", RemoteCommand::None},  {"", RemoteCommand::None},
        {"status", RemoteCommand::None},
    };
    for (const auto& [word, command] : words)
        EXPECT_EQ(remoteCommand(word), command) << word;
    CPanoviewDlg window(desktop, config, desktop.services());
    window.OnRemoteCommand(RemoteCommand::Login);
    window.OnRemoteCommand(RemoteCommand::Settings);
    window.OnRemoteCommand(RemoteCommand::None);
    EXPECT_EQ(desktop.log, (Log{"login create", "login show", "settings"}));
}

} // namespace
