// The sign-in hand-offs with real threads: the sign-in worker and the launch
// worker are detached threads, and a queue of the test's own stands in for
// the UI thread. Many rounds of sign-in and sign-out, refusals among them,
// each checked; under ThreadSanitizer (make test-tsan) any unordered access
// to SystemConfig or the dialog's state fails the run.
#include "DebugCapture.h"
#include "ScriptedCloud.h"

#include "cloud/LoginDlg.h"
#include "platform/Threads.h"
#include "wall/Launcher.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <gtest/gtest.h>
#include <thread>

namespace {

// The UI thread's message queue: any thread posts, the test's thread runs.
class UiQueue {
public:
    // Notifies under the lock: once the call is taken, the poster no longer
    // touches the queue, which may then end with the test.
    void post(std::function<void()> call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(std::move(call));
        ready_.notify_one();
    }
    // Runs the next queued call; false when none came within the hang guard.
    bool runNext() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!ready_.wait_for(lock, std::chrono::seconds(60), [this] { return !calls_.empty(); }))
            return false;
        std::function<void()> call = std::move(calls_.front());
        calls_.pop_front();
        lock.unlock();
        call();
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> calls_;
};

// The window, touched only from the UI thread.
struct View : ILoginView {
    void setButtonText(const std::string& text) override { button = text; }
    void setButtonEnabled(bool on) override { enabled = on; }
    void setTitle(const std::string& text) override { title = text; }
    void setAccountText(const std::string& text) override { account = text; }
    std::string accountText() override { return account; }
    std::string passwordText() override { return password; }
    void centreOn(const Rect&) override {}
    void hideWindow() override { visible = false; }
    void showMessage(const std::string&, const std::string&) override { ++messages; }

    std::string button, title, account = "admin", password = "123456";
    bool enabled = true, visible = true;
    int messages = 0;
};

TEST(LoginThreads, ManySignInAndSignOutRoundsWithRealWorkers) {
    DebugCapture diagnostics; // the refusals' lines
    SystemConfig config;
    config.serviceAddress = "http://cloud.test";
    config.factoryId = "F001";
    config.primaryMonitor.rcWork = {0, 0, 800, 600};
    config.extendedMonitors.resize(2);
    config.extendedMonitors[0].rcWork = {800, 0, 1600, 600};
    config.extendedMonitors[1].rcWork = {1600, 0, 2400, 600};
    for (int i = 0; i < 3; ++i)
        config.displays.push_back({uint8_t(i == 0), "http://pages.test/p.html?token=%s", 0});

    // Browsers "start" with fresh ids after a short pause, so that a
    // sign-out often meets a launch that still runs.
    std::atomic<pid_t> nextPid{1000};
    std::atomic<int> stops{0};
    std::mutex startedMutex;
    std::vector<std::string> startedAddresses;
    LauncherServices launcherServices;
    launcherServices.spawn = [&](const std::string&, const std::vector<std::string>& args,
                                 const std::string&, pid_t& pid, std::function<void(pid_t)>,
                                 platform::ChildPipe*, const Rect*) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        pid = ++nextPid;
        std::lock_guard<std::mutex> lock(startedMutex);
        startedAddresses.push_back(args.back());
        return 0;
    };
    launcherServices.killByName = [&](const std::string&) {
        ++stops;
        return 0;
    };
    launcherServices.startThread = platform::startDetachedThread;
    Launcher launcher(launcherServices);

    scripted::Cloud cloud;
    cloud.answer("/Enter", scripted::kOk);
    std::unique_ptr<LSystem> shared = cloud.client();
    UiQueue ui;
    View view;
    // The program's wiring, with the scripted cloud and the test's UI queue.
    LoginServices services;
    services.startThread = platform::startDetachedThread;
    services.postToUiThread = [&ui](std::function<void()> call) { ui.post(std::move(call)); };
    services.startLaunchThread = [&](SystemConfig& c) { return launcher.startLaunchThread(c); };
    services.stopBrowsers = [&] { launcher.StopBrowsers(); };
    services.sharedClient = [&]() -> LSystem& { return *shared; };
    services.localClient = [&] { return cloud.client(); };
    CLoginDlg dialog(view, config, services);
    dialog.OnInitDialog();

    constexpr int kRounds = 150;
    int expectedStops = 0;
    size_t expectedNotices = 0;
    for (int round = 0; round < kRounds; ++round) {
        const std::string token = "T" + std::to_string(round);
        const bool refused = round % 5 == 4;
        cloud.answer("/Login", refused ? scripted::kLoginRefused
                                       : R"({"rt":"1","data":"{\"Token\":\")" + token +
                                             R"(\",\"uname\":\"U)" + std::to_string(round) +
                                             R"(\"}"})");
        view.visible = true;
        dialog.OnBnClickedOk();
        ASSERT_FALSE(view.enabled) << round;
        ASSERT_EQ(view.button, "登录中");
        ASSERT_TRUE(ui.runNext()) << "no sign-in result in round " << round;
        ASSERT_TRUE(view.enabled);
        if (refused) {
            ++expectedNotices;
            ASSERT_FALSE(config.signedIn);
            ASSERT_EQ(view.button, "登录");
            ASSERT_TRUE(view.visible);
            continue;
        }
        ASSERT_TRUE(config.signedIn);
        ASSERT_EQ(config.token, token);
        ASSERT_EQ(view.title, "Loomhaven监控 - U" + std::to_string(round));
        ASSERT_FALSE(view.visible);

        // Every third round the service refuses the first sign-out: still
        // signed in, nothing stopped.
        if (round % 3 == 0) {
            cloud.answer("/Logout", R"({"rt":"0","tips":"busy"})");
            dialog.OnBnClickedOk();
            ++expectedNotices;
            ASSERT_TRUE(config.signedIn);
            ASSERT_EQ(view.button, "登出");
        }
        cloud.answer("/Logout", scripted::kOk);
        dialog.OnBnClickedOk();
        ++expectedStops;
        ASSERT_FALSE(config.signedIn);
        ASSERT_TRUE(config.token.empty());
        ASSERT_EQ(view.button, "登录");
        ASSERT_EQ(view.title, "Loomhaven监控");
        ASSERT_EQ(stops.load(), expectedStops);
        // The stop waited for the launch: all three browsers of this round
        // had started, with this round's token, before it.
        for (const auto& display : config.displays)
            ASSERT_GT(display.processId, static_cast<uint32_t>(nextPid.load() - 3)) << round;
        std::lock_guard<std::mutex> lock(startedMutex);
        ASSERT_EQ(startedAddresses.size(), 3u) << round;
        for (const auto& address : startedAddresses)
            ASSERT_EQ(address, "http://pages.test/p.html?token=" + token);
        startedAddresses.clear();
    }
    launcher.waitForLaunch();
    EXPECT_EQ(view.messages, 0);
    EXPECT_EQ(cloud.notices().size(), expectedNotices);
}

} // namespace
