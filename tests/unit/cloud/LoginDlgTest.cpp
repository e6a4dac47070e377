// The login dialog's rules against a scripted window and a scripted cloud:
// what each press of button 1 shows, asks the service, stores and starts.
// Workers and queued calls are held and run by the test in their order, so
// that each case sees the click, the worker and the result one after the
// other.
#include "DebugCapture.h"
#include "ScriptedCloud.h"

#include "Language.h"
#include "cloud/LoginDlg.h"

#include <gtest/gtest.h>

namespace {

using Events = std::vector<std::string>;

// The window and the program around the dialog, recording what they are told
// in one list, in order.
class Harness : public ILoginView {
public:
    Harness() {
        config.serviceAddress = "http://cloud.test";
        config.factoryId = "F001";
        config.primaryMonitor.rcMonitor = {1280, 0, 2560, 1080};
        cloud.answer("/Login", scripted::kLoginOk);
        cloud.answer("/Enter", scripted::kOk);
        cloud.answer("/Logout", scripted::kOk);
    }

    void setButtonText(const std::string& text) override { events.push_back("button " + text); }
    void setButtonEnabled(bool on) override { events.push_back(on ? "enabled" : "disabled"); }
    void setTitle(const std::string& title) override { events.push_back("title " + title); }
    void setAccountText(const std::string& text) override {
        account = text;
        events.push_back("account " + text);
    }
    std::string accountText() override { return account; }
    std::string passwordText() override { return password; }
    void centreOn(const Rect& r) override {
        events.push_back("centre " + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
                         std::to_string(r.right) + "," + std::to_string(r.bottom));
    }
    void hideWindow() override { events.push_back("hide"); }
    void showMessage(const std::string& caption, const std::string& text) override {
        events.push_back("message " + caption + ": " + text);
    }

    LoginServices services() {
        LoginServices s;
        s.sharedClient = [this]() -> LSystem& { return *shared; };
        s.localClient = [this] {
            events.push_back("local client");
            return cloud.client();
        };
        s.startThread = [this](std::function<void()> work) {
            events.push_back("thread userId=" + config.userId + " password=" + config.password);
            if (!threadsWork)
                return false;
            workers.push_back(std::move(work));
            return true;
        };
        s.postToUiThread = [this](std::function<void()> call) {
            events.push_back("post token=" + config.token + " userName=" + config.userName);
            queued.push_back(std::move(call));
        };
        s.startLaunchThread = [this](SystemConfig& c) {
            events.push_back("launch token=" + c.token + state(c));
            return true;
        };
        s.stopBrowsers = [this] { events.push_back("stop token=" + config.token + state(config)); };
        return s;
    }
    static std::string state(const SystemConfig& c) {
        return c.signedIn ? " signedIn" : " signedOut";
    }

    // The click, then the worker it started, then the result it queued.
    void click() {
        dialog.OnBnClickedOk();
        for (auto& work : std::exchange(workers, {}))
            work();
        for (auto& call : std::exchange(queued, {}))
            call();
    }

    DebugCapture diagnostics;
    SystemConfig config;
    scripted::Cloud cloud;
    std::unique_ptr<LSystem> shared = cloud.client();
    std::string account, password;
    bool threadsWork = true;
    Events events;
    std::vector<std::function<void()>> workers, queued;
    CLoginDlg dialog{*this, config, services()};
};

class LoginDialog : public ::testing::Test {};

TEST_F(LoginDialog, InitDialogFillsTheDefaultAccountWholeAndNamesTheState) {
    struct Case {
        const char* name;
        int english;
        std::string userId;
        bool signedIn;
        Events expected;
    };
    const std::string centre = "centre 1280,0,2560,1080";
    const Case cases[] = {
        {"no default account", 0, "", false, {"button 登录", centre}},
        {"default account", 0, "admin", false, {"account admin", "button 登录", centre}},
        // Longer than the 11 characters an operator may type: put in whole.
        {"15-character account",
         1,
         "factory-admin-7",
         false,
         {"account factory-admin-7", "button Login", centre}},
        {"signed in", 0, "admin", true, {"account admin", "button 登出", centre}},
        {"signed in, English", 1, "", true, {"button Logout", centre}},
    };
    for (const Case& c : cases) {
        ScopedLanguage language(c.english);
        Harness h;
        h.config.userId = c.userId;
        h.config.signedIn = c.signedIn;
        h.dialog.OnInitDialog();
        EXPECT_EQ(h.events, c.expected) << c.name;
    }
}

// One press of button 1, from signed out or signed in, with the cloud's
// answers scripted per case.
TEST_F(LoginDialog, ButtonPressesThroughTheirResults) {
    struct Case {
        const char* name = "";
        int english = 0;
        bool signedIn = false;
        std::string account = "admin";
        std::string password = "123456";
        std::string login = scripted::kLoginOk;
        std::string enter = scripted::kOk;
        std::string logout = scripted::kOk;
        Events events;
        std::vector<std::string> requests;
        std::vector<std::string> notices;
        // SystemConfig afterwards.
        std::string token;
        std::string userName;
        bool signedInAfter = false;
    };
    const std::string refusal = "警告|登录失败,返回:账号或密码错误";
    std::vector<Case> cases;
    {
        Case c;
        c.name = "empty account";
        c.account = "";
        c.events = {"message Panoview: 账号密码不能为空！"};
        cases.push_back(c);
    }
    {
        Case c;
        c.name = "empty password, English";
        c.english = 1;
        c.password = "";
        c.events = {"message Panoview: Account password cannot be empty!"};
        cases.push_back(c);
    }
    {
        Case c;
        c.name = "both empty";
        c.account = c.password = "";
        c.events = {"message Panoview: 账号密码不能为空！"};
        cases.push_back(c);
    }
    // A sign-in that succeeds: signed in as 王厂长 with token T1, unless the
    // case changes it.
    auto signIn = [&](const char* name, int english) {
        Case c;
        c.name = name;
        c.english = english;
        c.events = {english ? "button Logining" : "button 登录中",
                    "disabled",
                    "thread userId=admin password=123456",
                    "post token=T1 userName=王厂长",
                    english ? "button Logout" : "button 登出",
                    english ? "title Loomhaven Monitor - 王厂长" : "title Loomhaven监控 - 王厂长",
                    "hide",
                    "launch token=T1 signedIn",
                    "enabled"};
        c.requests = {"POST /Login", "POST /Enter?Token=T1"};
        c.token = "T1";
        c.userName = "王厂长";
        c.signedInAfter = true;
        return c;
    };
    cases.push_back(signIn("success", 0));
    cases.push_back(signIn("success, English", 1));
    {
        // Blanks are a password: only empty fields are refused.
        Case c = signIn("blank password", 0);
        c.password = "   ";
        c.events[2] = "thread userId=admin password=   ";
        cases.push_back(c);
    }
    {
        Case c = signIn("empty user name", 0);
        c.login = R"({"rt":"1","data":"{\"Token\":\"T1\",\"uname\":\"\"}"})";
        c.events[3] = "post token=T1 userName=";
        c.events[5] = "title Loomhaven监控 - ";
        c.userName = "";
        cases.push_back(c);
    }
    {
        // No session data: signed in all the same, the pages get an empty
        // token, and the factory is entered with it.
        Case c = signIn("reply without token", 0);
        c.login = R"({"rt":"1","data":"no session here"})";
        c.events[3] = "post token= userName=";
        c.events[5] = "title Loomhaven监控 - ";
        c.events[7] = "launch token= signedIn";
        c.requests[1] = "POST /Enter?Token=";
        c.token = c.userName = "";
        cases.push_back(c);
    }
    {
        // Entering the factory is refused: signed in all the same.
        Case c = signIn("factory refused", 0);
        c.enter = serviceText(u8R"({"rt":"0","tips":"无权进入工厂"})");
        c.notices = {"警告|进入工厂失败,返回:无权进入工厂"};
        cases.push_back(c);
    }
    // A sign-in the service refuses or that fails on the way: no message of
    // the dialog's own, the title stays, the button comes back.
    auto failedSignIn = [](const char* name, int english, std::string reply) {
        Case c;
        c.name = name;
        c.english = english;
        c.login = std::move(reply);
        c.events = {english ? "button Logining" : "button 登录中", "disabled",
                    "thread userId=admin password=123456",         "post token= userName=",
                    english ? "button Login" : "button 登录",      "enabled"};
        c.requests = {"POST /Login"};
        return c;
    };
    cases.push_back(failedSignIn("sign-in refused", 0, scripted::kLoginRefused));
    cases.back().notices = {refusal};
    cases.push_back(failedSignIn("failed exchange, English", 1, ""));
    // A confirmed sign-out: texts first, then the browsers end while the
    // token is still held, then the token, then the flag.
    auto signOut = [](const char* name, int english) {
        Case c;
        c.name = name;
        c.english = english;
        c.signedIn = true;
        c.userName = "U0";
        c.events = {"local client", english ? "button Login" : "button 登录",
                    english ? "title Loomhaven Monitor" : "title Loomhaven监控",
                    "stop token=T0 signedIn"};
        c.requests = {"POST /Logout"};
        return c;
    };
    cases.push_back(signOut("sign-out confirmed", 0));
    cases.push_back(signOut("sign-out confirmed, English", 1));
    // The fields do not matter while signed in.
    cases.push_back(signOut("sign-out with empty fields", 0));
    cases.back().account = cases.back().password = "";
    for (const std::string& refusedReply : {serviceText(u8R"({"rt":"0","tips":"会话不存在"})"),
                                            std::string(R"({"rt":"1","data":0})"), std::string()}) {
        Case c;
        c.name = "sign-out refused";
        c.signedIn = true;
        c.logout = refusedReply;
        c.events = {"local client"};
        c.requests = {"POST /Logout"};
        if (std::string(refusedReply).find("tips") != std::string::npos)
            c.notices = {"警告|登出失败,返回:会话不存在"};
        c.token = "T0";
        c.userName = "U0";
        c.signedInAfter = true;
        cases.push_back(c);
    }

    for (const Case& c : cases) {
        ScopedLanguage language(c.english);
        Harness h;
        h.cloud.answer("/Login", c.login);
        h.cloud.answer("/Enter", c.enter);
        h.cloud.answer("/Logout", c.logout);
        h.account = c.account;
        h.password = c.password;
        if (c.signedIn) {
            h.config.signedIn = true;
            h.config.token = "T0";
            h.config.userName = "U0";
            h.config.userId = "earlier";
        }
        h.click();
        EXPECT_EQ(h.events, c.events) << c.name;
        EXPECT_EQ(h.cloud.requests(), c.requests) << c.name;
        EXPECT_EQ(h.cloud.notices(), c.notices) << c.name;
        EXPECT_EQ(h.config.token, c.token) << c.name;
        EXPECT_EQ(h.config.userName, c.userName) << c.name;
        EXPECT_EQ(h.config.signedIn, c.signedInAfter) << c.name;
        // A refused click leaves the account as it was; a sign-in copies it.
        const bool signInStarted = !c.signedIn && !c.account.empty() && !c.password.empty();
        EXPECT_EQ(h.config.userId, signInStarted ? c.account
                                   : c.signedIn  ? "earlier"
                                                 : "")
            << c.name;
        EXPECT_EQ(h.config.password, signInStarted ? c.password : "") << c.name;
    }
}

TEST_F(LoginDialog, LongDefaultAccountSignsInWhole) {
    Harness h;
    h.config.userId = "factory-admin-7";
    h.dialog.OnInitDialog();
    h.password = "123456";
    h.click();
    EXPECT_EQ(h.config.userId, "factory-admin-7");
    ASSERT_EQ(h.cloud.bodies().size(), 2u);
    EXPECT_EQ(h.cloud.bodies()[0], "{\"loginName\":\"factory-admin-7\",\"loginPwd\":\"123456\"}\n");
}

TEST_F(LoginDialog, SignInAgainAfterSignOutWithTheNewToken) {
    Harness h;
    h.account = "admin";
    h.password = "123456";
    h.click(); // in with T1
    h.click(); // out
    h.cloud.answer("/Login", R"({"rt":"1","data":"{\"Token\":\"T2\",\"uname\":\"U\"}"})");
    h.events.clear();
    h.click(); // in again
    EXPECT_EQ(h.config.token, "T2");
    EXPECT_TRUE(h.config.signedIn);
    EXPECT_EQ(h.events.at(7), "launch token=T2 signedIn");
    EXPECT_EQ(h.events.at(5), "title Loomhaven监控 - U");
}

// Without a worker no result would come: the sign-in fails at once and the
// button comes back, instead of staying disabled.
TEST_F(LoginDialog, NoWorkerThreadGivesTheButtonBack) {
    Harness h;
    h.threadsWork = false;
    h.account = "admin";
    h.password = "123456";
    h.click();
    EXPECT_EQ(h.events, (Events{"button 登录中", "disabled", "thread userId=admin password=123456",
                                "button 登录", "enabled"}));
    EXPECT_TRUE(h.cloud.requests().empty());
    EXPECT_FALSE(h.config.signedIn);
    EXPECT_EQ(h.diagnostics.all(),
              "CLoginDlg::SignInThread(): no thread could be started for the sign-in\n");
}

} // namespace
