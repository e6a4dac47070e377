// Brovia's page watch against a scripted Chromium: what the pipe would carry
// is answered by rules here, time is moved by the test, and the table checks
// which navigations, renderer ends, address probes and report lines follow.
#include "PageWatch.h"
#include "ChromiumMessages.h"

#include <gtest/gtest.h>
#include <json/reader.h>
#include <zlib.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

using Clock = devtools::Clock;

// What the next Page.navigate meets.
struct Load {
    enum class Kind {
        Answers,
        Refused,
        Stalls,  // the server never answers: nothing commits
        Crashes, // the renderer crashes before the load event
        Slow,    // commits, then loads on without a load event; its renderer answers
        Spins,   // commits, then a script spins for ever before the load event
        // Spins in the task that commits the document: Chromium answers
        // Page.navigate, the renderer never sends its frameNavigated.
        SpinsAtCommit,
        CertificateError, // Chromium refuses the server's certificate
        AsksPassword,     // the server asks for a user name and password (then 401)
        Downloads,        // the address answers with a download
    } kind = Kind::Answers;
    int status = 200;
    std::string landsOn{}; // the main frame's address after it (default: the page)
};

class FakeChromium {
public:
    // With a window, the page lives in a browser other pages share: its
    // target is the one the watch makes.
    explicit FakeChromium(std::string initialState, PageWatchTimings timings = {},
                          bool loadOnAttach = false,
                          std::optional<PageWindow> window = std::nullopt,
                          bool fittedFromOutside = false)
        : initial_(std::move(initialState)), shared_(window.has_value()) {
        PageWatchPort port;
        port.send = [this](const std::string& m) { take(m); };
        port.askAddress = [this](const std::string& url) {
            asked.push_back(now - start);
            askedUrl = url;
            pendingAsk = true;
        };
        port.endRenderers = [this] {
            ++renderersEnded;
            rendererSpins = false;
            rendererGone_ = true;
            if (renderersDieOnKill)
                crash();
        };
        port.report = [this](const PageReport& r) {
            reports.push_back(r);
            reportedAt.push_back(now - start);
        };
        port.wallClockMs = [this] { return int64_t(1'000'000) + ms(now - start); };
        port.browserHung = [this](const std::string&) { browserHung = true; };
        if (fittedFromOutside)
            port.windowMade = [this](const std::string& target) {
                windowsMade.push_back(target);
                madeAt.push_back(now - start);
            };
        watch = std::make_unique<PageWatch>(kUrl, port, timings);
        if (loadOnAttach)
            watch->loadOnAttach();
        if (window)
            watch->ownWindow(*window);
        watch->start(now);
    }

    static constexpr const char* kUrl =
        "http://wall.example:8080/KnitUI/W_Factory.html?token=0f4c2a9e7d1b";

    // Moves time on in steps of 100 ms, delivering what Chromium sends.
    // Whatever a tick does must have been due by nextWake: Brovia sleeps
    // until then.
    void run(Clock::duration span) {
        const Clock::time_point end = now + span;
        while (now < end)
            step();
    }
    // Runs until `done` holds, for at most `limit`; false if it never did.
    bool runUntil(const std::function<bool()>& done, Clock::duration limit = 1min) {
        const Clock::time_point end = now + limit;
        while (!done() && now < end)
            step();
        return done();
    }
    // The renderer crashed or was ended: the next one is a fresh process,
    // and until a document commits in it nothing answers for the page.
    void crash() {
        rendererSpins = false;
        rendererGone_ = true;
        event("Inspector.targetCrashed", Json::Value(Json::objectValue), "S");
        Json::Value p(Json::objectValue);
        p["targetId"] = "T";
        p["status"] = "crashed";
        event("Target.targetCrashed", p, "");
    }
    void event(const std::string& method, const Json::Value& params, const std::string& session) {
        out_.push_back(devtools::compact(chromium_messages::event(method, params, session)));
    }
    std::vector<std::string> conditions() const {
        std::vector<std::string> names;
        for (const auto& r : reports)
            names.push_back(pageStateWord(r) + " " + std::to_string(r.count));
        return names;
    }
    // What the page does by itself.
    void dialog(const std::string& type, const std::string& message) {
        Json::Value p(Json::objectValue);
        p["type"] = type;
        p["message"] = message;
        p["url"] = kUrl;
        event("Page.javascriptDialogOpening", p, "S");
    }
    void print() {
        Json::Value p(Json::objectValue);
        p["name"] = "__broviaPrinted";
        p["payload"] = kUrl;
        event("Runtime.bindingCalled", p, "S");
    }
    // The main frame goes to the address by itself (a link, a script).
    void goTo(const std::string& url) {
        Json::Value p(Json::objectValue);
        p["frame"]["id"] = "T";
        p["frame"]["loaderId"] = "G" + url;
        p["frame"]["url"] = url;
        event("Page.frameNavigated", p, "S");
        event("Page.loadEventFired", Json::Value(Json::objectValue), "S");
    }
    // window.close(): the target goes, its renderer did not crash.
    void closeWindow() {
        Json::Value detached(Json::objectValue);
        detached["reason"] = "target_closed";
        event("Inspector.detached", detached, "S");
        Json::Value session(Json::objectValue);
        session["sessionId"] = "S";
        session["targetId"] = "T";
        event("Target.detachedFromTarget", session, "");
        Json::Value target(Json::objectValue);
        target["targetId"] = "T";
        event("Target.targetDestroyed", target, "");
        createdTarget_ = false;
    }
    // Whether every report line's next attempt came: an address asked or a
    // navigation at that very time (the clock moves in steps of 100 ms), a
    // navigation within a step of the ask; the number of lines with one.
    size_t nextAttemptsThatCame() const {
        size_t due = 0;
        for (const PageReport& r : reports) {
            if (r.nextAttemptMs == 0)
                continue;
            ++due;
            const Clock::duration at = std::chrono::milliseconds(r.nextAttemptMs - 1'000'000);
            auto near = [&at](const std::vector<Clock::duration>& times, Clock::duration slack) {
                for (Clock::duration t : times)
                    if (t >= at && t - at <= slack)
                        return true;
                return false;
            };
            EXPECT_TRUE(near(asked, 100ms) || near(navigated, 100ms))
                << pageStateWord(r) << " " << r.count << " due at " << ms(at);
            EXPECT_TRUE(near(navigated, 300ms))
                << pageStateWord(r) << " " << r.count << " loaded at " << ms(at);
        }
        return due;
    }
    static int64_t ms(Clock::duration d) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
    }
    // When the first report of the condition came, from the start.
    std::optional<Clock::duration> firstReport(PageCondition condition) const {
        for (size_t i = 0; i < reports.size(); ++i)
            if (reports[i].condition == condition)
                return reportedAt[i];
        return std::nullopt;
    }
    // Held probe answers reach the pipe now.
    void releaseHeldProbes() {
        out_.insert(out_.end(), held_.begin(), held_.end());
        held_.clear();
    }
    size_t heldProbes() const { return held_.size(); }

    // The script.
    bool answerProbes = true;
    bool holdProbes = false; // their answers wait for releaseHeldProbes
    // A script spins on the renderer's main thread: nothing the renderer
    // handles is answered, until the renderer is ended.
    bool rendererSpins = false;
    bool crashOnPageCrash = true;
    bool renderersDieOnKill = true;
    std::deque<Load> loads; // one per Page.navigate; the last repeats
    // What the document is seen to be at each look after the first (which
    // sees the initial state); the last repeats. Empty: always the initial.
    std::deque<std::string> laterStates;
    int lookedAt = 0;
    std::deque<AddressAnswer> addressAnswers; // one per probe; the last repeats
    std::string picture;                      // the screenshot's data (base64 PNG); empty: none
    // What happened.
    std::unique_ptr<PageWatch> watch;
    Clock::time_point start = Clock::time_point() + 1h;
    Clock::time_point now = start;
    std::vector<Clock::duration> navigated, asked, stopped;
    std::string askedUrl;
    bool pendingAsk = false;
    int pageCrashCalls = 0, renderersEnded = 0, probes = 0;
    std::vector<Json::Value> dialogAnswers, authAnswers, shots;
    std::vector<std::string> continued; // Fetch.continueRequest's requests
    Json::Value downloadBehavior;
    std::vector<std::string> newDocumentScripts, bindings;
    std::vector<std::string> windowsMade; // PageWatchPort::windowMade's targets
    std::vector<Clock::duration> madeAt;
    std::vector<std::string> titles;  // what document.title was set to
    std::vector<std::string> methods; // every command, in the order sent
    std::vector<Json::Value> metrics; // Emulation.setDeviceMetricsOverride's
    bool browserHung = false;
    std::vector<PageReport> reports;
    std::vector<Clock::duration> reportedAt;

private:
    void step() {
        deliver();
        if (pendingAsk && !addressAnswers.empty()) {
            pendingAsk = false;
            AddressAnswer a = addressAnswers.front();
            if (addressAnswers.size() > 1)
                addressAnswers.pop_front();
            watch->addressAnswered(a, now);
        }
        const std::optional<Clock::time_point> wake = watch->nextWake();
        const size_t before = sent_ + asked.size() + renderersEnded + reports.size();
        watch->tick(now);
        if (sent_ + asked.size() + renderersEnded + reports.size() != before) {
            EXPECT_TRUE(wake && *wake <= now)
                << "a tick at " << ms(now - start) << " ms acted before its nextWake";
        }
        deliver();
        now += 100ms;
    }
    void deliver() {
        while (!out_.empty()) {
            std::string m = out_.front();
            out_.pop_front();
            watch->received(m, now);
        }
    }
    void reply(const Json::Value& command, const Json::Value& result) {
        out_.push_back(devtools::compact(chromium_messages::reply(command, result)));
    }
    void take(const std::string& text) {
        Json::Value c;
        Json::CharReaderBuilder b;
        std::unique_ptr<Json::CharReader> r(b.newCharReader());
        std::string errors;
        ASSERT_TRUE(r->parse(text.data(), text.data() + text.size(), &c, &errors)) << text;
        ++sent_;
        const std::string method = c["method"].asString();
        methods.push_back(method);
        if (method == "Emulation.setDeviceMetricsOverride")
            metrics.push_back(c["params"]);
        Json::Value empty(Json::objectValue);
        const bool rendererHandles = method.rfind("Runtime.", 0) == 0 || method == "Page.enable" ||
                                     method == "Network.enable" ||
                                     method == "Page.addScriptToEvaluateOnNewDocument";
        if (rendererHandles && (rendererSpins || rendererGone_)) {
            if (c["params"]["expression"].asString() == "1")
                ++probes;
            return;
        }
        if (method == "Target.getTargets") {
            Json::Value info(Json::objectValue);
            info["targetId"] = "T";
            info["type"] = "page";
            Json::Value result(Json::objectValue);
            result["targetInfos"] = Json::Value(Json::arrayValue);
            if (!shared_ || createdTarget_)
                result["targetInfos"].append(info);
            reply(c, result);
        } else if (method == "Target.createTarget") {
            createdTarget_ = true;
            Json::Value result(Json::objectValue);
            result["targetId"] = "T";
            reply(c, result);
        } else if (method == "Browser.getWindowForTarget") {
            Json::Value result(Json::objectValue);
            result["windowId"] = 1;
            reply(c, result);
        } else if (method == "Target.attachToTarget") {
            Json::Value result(Json::objectValue);
            result["sessionId"] = "S";
            reply(c, result);
        } else if (method == "Runtime.evaluate") {
            const std::string expression = c["params"]["expression"].asString();
            Json::Value result(Json::objectValue);
            if (expression == "1") {
                ++probes;
                if (!answerProbes)
                    return;
                result["result"]["type"] = "number";
                result["result"]["value"] = 1;
                if (holdProbes) {
                    Json::Value m(Json::objectValue);
                    m["id"] = c["id"];
                    m["result"] = result;
                    m["sessionId"] = c["sessionId"];
                    held_.push_back(devtools::compact(m));
                    return;
                }
            } else if (expression.rfind("document.title = ", 0) == 0) {
                titles.push_back(expression.substr(17));
            } else if (expression.find("readyState") != std::string::npos) {
                result["result"]["type"] = "string";
                result["result"]["value"] =
                    laterStates.empty() || lookedAt++ == 0 ? initial_ : laterStates.front();
                if (lookedAt > 1 && laterStates.size() > 1)
                    laterStates.pop_front();
            }
            reply(c, result);
        } else if (method == "Page.navigate") {
            navigate(c);
        } else if (method == "Page.crash") {
            ++pageCrashCalls;
            if (crashOnPageCrash)
                crash();
        } else if (method == "Page.stopLoading") {
            stopped.push_back(now - start);
            reply(c, empty);
        } else if (method == "Page.handleJavaScriptDialog") {
            dialogAnswers.push_back(c["params"]);
            reply(c, empty);
        } else if (method == "Fetch.continueWithAuth") {
            authAnswers.push_back(c["params"]);
            reply(c, empty);
        } else if (method == "Fetch.continueRequest") {
            continued.push_back(c["params"]["requestId"].asString());
            reply(c, empty);
        } else if (method == "Browser.setDownloadBehavior") {
            downloadBehavior = c["params"];
            reply(c, empty);
        } else if (method == "Page.addScriptToEvaluateOnNewDocument") {
            newDocumentScripts.push_back(c["params"]["source"].asString());
            reply(c, empty);
        } else if (method == "Runtime.addBinding") {
            bindings.push_back(c["params"]["name"].asString());
            reply(c, empty);
        } else if (method == "Page.captureScreenshot") {
            shots.push_back(c["params"]);
            Json::Value result(Json::objectValue);
            if (!picture.empty())
                result["data"] = picture;
            reply(c, result);
        } else {
            reply(c, empty);
        }
    }
    void navigate(const Json::Value& c) {
        navigated.push_back(now - start);
        Load load = loads.empty() ? Load{} : loads.front();
        if (loads.size() > 1)
            loads.pop_front();
        const std::string loader = "L" + std::to_string(navigated.size());
        if (load.kind == Load::Kind::Stalls)
            return;
        Json::Value result = chromium_messages::navigation(loader);
        if (load.kind == Load::Kind::Downloads) {
            // Chromium ends a navigation that turned into a download as
            // aborted, and says so before its download events.
            result["isDownload"] = true;
            result["errorText"] = "net::ERR_ABORTED";
            reply(c, result);
            Json::Value download(Json::objectValue);
            download["frameId"] = "T";
            download["guid"] = "download-" + loader;
            download["url"] = kUrl;
            download["suggestedFilename"] = "W_Factory.html";
            event("Page.downloadWillBegin", download, "S");
            event("Browser.downloadWillBegin", download, "");
            return;
        }
        if (load.kind == Load::Kind::AsksPassword) {
            Json::Value auth(Json::objectValue);
            auth["requestId"] = "interception-" + loader;
            auth["request"]["url"] = kUrl;
            auth["frameId"] = "T";
            auth["resourceType"] = "Document";
            auth["authChallenge"]["source"] = "Server";
            auth["authChallenge"]["scheme"] = "basic";
            auth["authChallenge"]["realm"] = "wall";
            event("Fetch.authRequired", auth, "S");
            load.status = 401; // what the cancelled box leaves
        }
        if (load.kind == Load::Kind::Refused || load.kind == Load::Kind::CertificateError) {
            result["errorText"] = load.kind == Load::Kind::Refused
                                      ? "net::ERR_CONNECTION_REFUSED"
                                      : "net::ERR_CERT_AUTHORITY_INVALID";
            reply(c, result);
            rendererGone_ = false; // the error page commits
            event("Page.frameNavigated",
                  chromium_messages::mainFrameNavigated(loader, "chrome-error://chromewebdata/",
                                                        kUrl),
                  "S");
            event("Page.loadEventFired", Json::Value(Json::objectValue), "S");
            return;
        }
        event("Network.requestWillBeSent", chromium_messages::documentRequest(loader), "S");
        event("Network.responseReceived",
              chromium_messages::documentResponse(loader, load.status, kUrl), "S");
        reply(c, result);
        rendererGone_ = false;
        if (load.kind == Load::Kind::SpinsAtCommit) {
            rendererSpins = true;
            return;
        }
        event("Page.frameNavigated",
              chromium_messages::mainFrameNavigated(loader, load.landsOn.empty() ? std::string(kUrl)
                                                                                 : load.landsOn),
              "S");
        if (load.kind == Load::Kind::Crashes)
            crash(); // before its load event
        else if (load.kind == Load::Kind::Spins)
            rendererSpins = true;
        else if (load.kind != Load::Kind::Slow)
            event("Page.loadEventFired", Json::Value(Json::objectValue), "S");
    }

    std::string initial_;
    bool shared_ = false;
    bool createdTarget_ = false;
    std::deque<std::string> out_;
    std::deque<std::string> held_;
    size_t sent_ = 0;
    bool rendererGone_ = false;
};

const std::string kLoaded =
    R"(["http://wall.example:8080/KnitUI/W_Factory.html?token=0f4c2a9e7d1b","complete",200])";
const std::string kRefusedAtStart = R"(["chrome-error://chromewebdata/","complete",0])";
const std::string kStillLoading = R"(["about:blank","complete",0])";

AddressAnswer status(int s) {
    return {AddressAnswer::Kind::Status, s};
}
AddressAnswer refused() {
    return {AddressAnswer::Kind::Unreachable, 0};
}

using Strings = std::vector<std::string>;

TEST(PageWatch, HealthyPageWithTimersAndSocketsIsNeverReloaded) {
    FakeChromium chromium(kLoaded);
    // An hour of a busy dashboard: its own requests, websocket frames, an
    // iframe that loads now and then.
    for (int minute = 0; minute < 60; ++minute) {
        Json::Value xhr(Json::objectValue);
        xhr["requestId"] = "x" + std::to_string(minute);
        xhr["loaderId"] = "L0";
        xhr["frameId"] = "T";
        xhr["type"] = "XHR";
        chromium.event("Network.requestWillBeSent", xhr, "S");
        xhr["errorText"] = "net::ERR_CONNECTION_RESET";
        chromium.event("Network.loadingFailed", xhr, "S");
        Json::Value frame(Json::objectValue);
        frame["frame"]["id"] = "child";
        frame["frame"]["parentId"] = "T";
        frame["frame"]["url"] = "chrome-error://chromewebdata/";
        chromium.event("Page.frameNavigated", frame, "S");
        chromium.event("Network.webSocketFrameReceived", Json::Value(Json::objectValue), "S");
        chromium.run(1min);
    }
    EXPECT_TRUE(chromium.navigated.empty());
    EXPECT_EQ(chromium.conditions(), (Strings{"loading 1", "live 1"}));
    EXPECT_GT(chromium.probes, 60 * 10); // it was watched all along
    EXPECT_EQ(chromium.pageCrashCalls, 0);
}

TEST(PageWatch, EachFaultHasItsOneRecovery) {
    struct Case {
        const char* name;
        std::string initial;
        std::function<void(FakeChromium&)> script; // runs once the page is up
        Strings conditions;
        size_t navigations;
        int pageCrashCalls, renderersEnded;
    };
    const Case cases[] = {
        {"renderer crash: loaded again at once",
         kLoaded,
         [](FakeChromium& c) {
             c.crash(); // told twice: by the session and by the browser
             c.run(5s);
         },
         {"loading 1", "live 1", "crashed 1", "live 2"},
         1,
         0,
         0},
        {"hang: two probes unanswered, renderer ended through Page.crash",
         kLoaded,
         [](FakeChromium& c) {
             c.answerProbes = false;
             c.run(15s);
             c.answerProbes = true;
             c.run(5s);
         },
         {"loading 1", "live 1", "hung 1", "live 2"},
         1,
         1,
         0},
        {"a probe that never returns and a Page.crash that does nothing: the process ended",
         kLoaded,
         [](FakeChromium& c) {
             c.answerProbes = false;
             c.crashOnPageCrash = false;
             c.run(20s);
             c.answerProbes = true;
             c.run(5s);
         },
         {"loading 1", "live 1", "hung 1", "live 2"},
         1,
         1,
         1},
        {"an ended renderer that never says so: loaded anyway",
         kLoaded,
         [](FakeChromium& c) {
             c.answerProbes = false;
             c.crashOnPageCrash = false;
             c.renderersDieOnKill = false;
             c.run(20s);
             c.answerProbes = true;
             c.run(5s);
         },
         {"loading 1", "live 1", "hung 1", "live 2"},
         1,
         1,
         1},
        {"load error at start: the address asked until it answers",
         kRefusedAtStart,
         [](FakeChromium& c) {
             c.addressAnswers = {refused(), refused(), refused(), status(200)};
             c.run(20s);
         },
         {"loading 1", "retrying 1", "loading 2", "live 1"},
         1,
         0,
         0},
        {"401: needs sign-in, never loaded again",
         kLoaded,
         [](FakeChromium& c) {
             c.loads = {{Load::Kind::Answers, 401, ""}};
             c.crash();
             c.run(10min);
         },
         {"loading 1", "live 1", "crashed 1", "sign-in 1"},
         1,
         0,
         0},
        {"another origin's login page: needs sign-in",
         kLoaded,
         [](FakeChromium& c) {
             c.loads = {{Load::Kind::Answers, 200, "https://sso.example.org/oauth2/authorize?x=1"}};
             c.crash();
             c.run(10min);
         },
         {"loading 1", "live 1", "crashed 1", "sign-in 1"},
         1,
         0,
         0},
        {"a page that crashes its renderer at every load is not loaded in a loop",
         kLoaded,
         [](FakeChromium& c) {
             c.addressAnswers = {status(200)};
             c.loads = {{Load::Kind::Crashes, 200, ""},
                        {Load::Kind::Crashes, 200, ""},
                        {Load::Kind::Crashes, 200, ""},
                        {Load::Kind::Answers, 200, ""}};
             c.crash();
             c.run(2min);
         },
         // the crashes after the first come before the page is live again
         {"loading 1", "live 1", "crashed 1", "crashed 2", "loading 2", "crashed 3", "loading 3",
          "crashed 4", "loading 4", "live 2"},
         4,
         0,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeChromium chromium(c.initial);
        chromium.run(2s);
        c.script(chromium);
        EXPECT_EQ(chromium.conditions(), c.conditions);
        EXPECT_EQ(chromium.navigated.size(), c.navigations);
        EXPECT_EQ(chromium.pageCrashCalls, c.pageCrashCalls);
        EXPECT_EQ(chromium.renderersEnded, c.renderersEnded);
        EXPECT_FALSE(chromium.browserHung);
        for (const PageReport& r : chromium.reports)
            EXPECT_EQ(r.detail.find("0f4c2a9e7d1b"), std::string::npos) << r.detail;
    }
}

// Whatever the address answers (a HEAD refused with 501, a 503), the server
// is up: the page is loaded, and the load's own 503 puts it on the next
// back-off step; one request and one load per step, until it serves.
TEST(PageWatch, ServerAnswering503IsAskedAndLoadedOncePerBackOffStepUntilItServes) {
    for (const AddressAnswer probe : {status(503), status(501), status(405)}) {
        SCOPED_TRACE(probe.status);
        FakeChromium chromium(
            R"(["http://wall.example:8080/KnitUI/W_Factory.html?token=0f4c2a9e7d1b",)"
            R"("complete",503])");
        chromium.addressAnswers = {probe};
        chromium.loads = {{Load::Kind::Answers, 503, ""},
                          {Load::Kind::Answers, 503, ""},
                          {Load::Kind::Answers, 200, ""}};
        chromium.run(40s);
        EXPECT_EQ(chromium.conditions(),
                  (Strings{"loading 1", "retrying 1", "loading 2", "retrying 2", "loading 3",
                           "retrying 3", "loading 4", "live 1"}));
        EXPECT_EQ(chromium.askedUrl, FakeChromium::kUrl);
        ASSERT_EQ(chromium.asked.size(), 3u);
        ASSERT_EQ(chromium.navigated.size(), 3u);
        // 2 s, then 4, 8 s between the asks: one request per step, each
        // followed by its load as soon as it is answered.
        for (size_t i = 0; i < chromium.asked.size(); ++i) {
            if (i > 0) {
                EXPECT_EQ(FakeChromium::ms(chromium.asked[i] - chromium.asked[i - 1]) / 1000,
                          2 << i)
                    << i;
            }
            EXPECT_LE(chromium.navigated[i] - chromium.asked[i], 200ms) << i;
        }
        // The report says when the first retry is due.
        EXPECT_EQ(chromium.reports[1].nextAttemptMs,
                  1'000'000 + FakeChromium::ms(chromium.asked[0]));
    }
}

TEST(PageWatch, BackOffDoublesToItsLongestWhileTheServerFailsAndStartsAgainOnceLive) {
    FakeChromium chromium(kRefusedAtStart);
    chromium.addressAnswers = {{AddressAnswer::Kind::NoAnswer, 0}};
    chromium.run(6min);
    std::vector<int64_t> gaps;
    for (size_t i = 1; i < chromium.asked.size(); ++i)
        gaps.push_back(FakeChromium::ms(chromium.asked[i] - chromium.asked[i - 1]) / 1000);
    EXPECT_EQ(gaps, (std::vector<int64_t>{4, 8, 16, 32, 60, 60, 60, 60}));
    EXPECT_TRUE(chromium.navigated.empty()); // no reload storm
    EXPECT_EQ(chromium.conditions(), (Strings{"loading 1", "retrying 1"}));
}

TEST(PageWatch, StalledLoadIsStoppedAfter30SecondsAndRetried) {
    FakeChromium chromium(kStillLoading);
    chromium.loads = {{Load::Kind::Stalls, 0, ""}, {Load::Kind::Answers, 200, ""}};
    chromium.addressAnswers = {status(200)};
    chromium.run(29s);
    EXPECT_TRUE(chromium.stopped.empty());
    chromium.run(4s);
    // The command line's load never finished: stopped, asked, loaded again...
    ASSERT_EQ(chromium.stopped.size(), 1u);
    EXPECT_EQ(FakeChromium::ms(chromium.stopped[0]), 30000);
    ASSERT_EQ(chromium.navigated.size(), 1u);
    // ...which stalls as well: stopped 30 s after that navigation.
    chromium.run(40s);
    ASSERT_EQ(chromium.stopped.size(), 2u);
    EXPECT_EQ(FakeChromium::ms(chromium.stopped[1] - chromium.navigated[0]), 30000);
    chromium.run(10s);
    EXPECT_EQ(chromium.conditions(), (Strings{"loading 1", "retrying 1", "loading 2", "retrying 2",
                                              "loading 3", "live 1"}));
}

// A page's own Chromium shows about:blank with the address nowhere on its
// command line: the watch asks for the address itself once it is set up, and
// a server that never answers is the stall rule's, not a hang.
TEST(PageWatch, TheAddressIsAskedForByTheWatchWhenNoCommandLineHasIt) {
    FakeChromium chromium(kStillLoading, {}, true);
    chromium.loads = {{Load::Kind::Stalls, 0, ""}, {Load::Kind::Answers, 200, ""}};
    chromium.addressAnswers = {status(200)};
    chromium.run(1s);
    ASSERT_EQ(chromium.navigated.size(), 1u) << "the watch's own load of the address";
    chromium.run(28s);
    EXPECT_TRUE(chromium.stopped.empty());
    chromium.run(4s);
    ASSERT_EQ(chromium.stopped.size(), 1u);
    EXPECT_EQ(FakeChromium::ms(chromium.stopped[0] - chromium.navigated[0]), 30000);
    chromium.run(10s);
    EXPECT_EQ(chromium.conditions(), (Strings{"loading 1", "retrying 1", "loading 2", "live 1"}));
    EXPECT_EQ(chromium.renderersEnded, 0) << "a slow server is no hang";
}

// The first load passed while Brovia attached, its events unseen (Chromium
// moved the page to another renderer as it committed): the document is
// looked at again with each probe, and the page is live at the next probe,
// not stopped as stalled 30 s later. Seen still loading, or the page not
// yet there, the look goes on until the stall rule's end.
TEST(PageWatch, FirstLoadWhoseEventsWentUnseenIsLiveAtTheNextProbe) {
    struct Case {
        std::vector<std::string> later;
        Strings conditions;
        size_t stopped;
    } cases[] = {
        {{kLoaded}, {"loading 1", "live 1"}, 0},
        {{kStillLoading, kStillLoading, kLoaded}, {"loading 1", "live 1"}, 0},
        {{R"(["http://wall.example:8080/KnitUI/W_Factory.html?token=0f4c2a9e7d1b","interactive",200])",
          kLoaded},
         {"loading 1", "live 1"},
         0},
        {{kRefusedAtStart}, {"loading 1", "retrying 1"}, 0},
        {{kStillLoading}, {"loading 1", "retrying 1"}, 1},
    };
    for (const Case& c : cases) {
        FakeChromium chromium(kStillLoading);
        chromium.loads = {{Load::Kind::Stalls, 0, ""}};
        chromium.laterStates = {c.later.begin(), c.later.end()};
        chromium.addressAnswers = {refused()};
        chromium.run(31s);
        EXPECT_EQ(chromium.conditions(), c.conditions) << c.later.back();
        EXPECT_EQ(chromium.stopped.size(), c.stopped) << c.later.back();
        EXPECT_TRUE(chromium.navigated.empty()) << c.later.back();
    }
    // Live within the first probes: by the look, not by a reload.
    FakeChromium chromium(kStillLoading);
    chromium.laterStates = {kLoaded};
    chromium.run(5s);
    EXPECT_EQ(chromium.conditions(), (Strings{"loading 1", "live 1"}));
}

// A new window's first load may answer before the watch's network events
// are on: its load event alone does not make it live; what the document
// answered decides (a 503 is tried again, a 401 is sign-in).
TEST(PageWatch, FirstLoadWhoseAnswerWentUnseenIsJudgedByItsDocument) {
    const struct {
        const char* status;
        Strings conditions;
    } cases[] = {
        {"200", {"loading 1", "live 1"}},
        {"503", {"loading 1", "retrying 1", "loading 2", "live 1"}},
        {"401", {"loading 1", "sign-in 1"}},
    };
    for (const auto& c : cases) {
        FakeChromium chromium(kStillLoading);
        const std::string url = FakeChromium::kUrl;
        chromium.laterStates = {"[\"" + url + "\",\"complete\"," + c.status + "]", kLoaded};
        chromium.addressAnswers = {status(200)};
        chromium.run(1s);
        chromium.goTo(url);
        chromium.run(10s);
        EXPECT_EQ(chromium.conditions(), c.conditions) << c.status;
    }
}

// A script that spins before the load event (the load event never comes)
// leaves its probes unanswered as a live page's would: two missed probes, 4 s
// apart with 3 s each to answer, make it hung 11 s into its load, far from
// the 30 s stall; its renderer is ended and the page loaded again on the
// back-off, since it has not come up since its load.
TEST(PageWatch, PageThatSpinsBeforeItsLoadEventIsHungAndLoadedAgainWithin20Seconds) {
    struct Case {
        const char* name;
        std::string initial;
        // Makes the load spin; returns when that load began, from the start.
        std::function<Clock::duration(FakeChromium&)> spin;
        Clock::duration hungBy; // after the load began
        Strings conditions;
    };
    auto reloadThat = [](Load::Kind kind) {
        return [kind](FakeChromium& c) {
            c.run(2s);
            c.loads = {{kind, 200, ""}, {Load::Kind::Answers, 200, ""}};
            c.crash();
            EXPECT_TRUE(c.runUntil([&] { return !c.navigated.empty(); }));
            return c.navigated[0];
        };
    };
    const Case cases[] = {
        {"Brovia's load, spinning once its document committed",
         kLoaded,
         reloadThat(Load::Kind::Spins),
         11s,
         {"loading 1", "live 1", "crashed 1", "hung 1", "loading 2", "live 2"}},
        {"Brovia's load, spinning in the task that commits it: no frameNavigated ever",
         kLoaded,
         reloadThat(Load::Kind::SpinsAtCommit),
         11s,
         {"loading 1", "live 1", "crashed 1", "hung 1", "loading 2", "live 2"}},
        {"the command line's load, spinning before Brovia attached: set-up unanswered",
         kStillLoading,
         [](FakeChromium& c) {
             c.rendererSpins = true;
             return Clock::duration(0);
         },
         10s,
         {"loading 1", "hung 1", "loading 2", "live 1"}},
        {"the command line's load, spinning after Brovia first looked at it",
         kStillLoading,
         [](FakeChromium& c) {
             c.run(1s);
             c.rendererSpins = true;
             return Clock::duration(0);
         },
         11s,
         {"loading 1", "hung 1", "loading 2", "live 1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeChromium chromium(c.initial);
        chromium.addressAnswers = {status(200)};
        const Clock::duration began = c.spin(chromium);
        const size_t before = chromium.navigated.size();
        chromium.run(40s);
        const auto hungAt = chromium.firstReport(PageCondition::Hung);
        ASSERT_TRUE(hungAt.has_value());
        EXPECT_LE(*hungAt - began, c.hungBy + 100ms);
        // Its renderer ended, the page is loaded again within 20 s of the
        // spinning load's start, never stopped as stalled.
        EXPECT_EQ(chromium.pageCrashCalls, 1);
        ASSERT_EQ(chromium.navigated.size(), before + 1);
        EXPECT_LT(chromium.navigated.back() - began, 20s);
        EXPECT_TRUE(chromium.stopped.empty());
        EXPECT_EQ(chromium.conditions(), c.conditions);
        EXPECT_FALSE(chromium.browserHung);
    }
}

// Only an unanswered probe counts: a slow server or a large page whose
// renderer answers is loading, and the stall rule alone ends it.
TEST(PageWatch, SlowLoadWhoseRendererAnswersIsNeverHung) {
    struct Case {
        const char* name;
        Load::Kind kind;
        bool probedWhileLoading;
    } cases[] = {
        {"a page that loads on for ever: probed all along", Load::Kind::Slow, true},
        // Nothing answers for a crashed page until its next document
        // commits: it is not asked before then.
        {"a server that never answers: nothing probed", Load::Kind::Stalls, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeChromium chromium(kLoaded);
        chromium.addressAnswers = {refused()};
        chromium.run(2s);
        chromium.loads = {{c.kind, 200, ""}};
        chromium.crash();
        ASSERT_TRUE(chromium.runUntil([&] { return !chromium.navigated.empty(); }));
        const int probesBefore = chromium.probes;
        chromium.run(29900ms);
        EXPECT_TRUE(chromium.stopped.empty());
        EXPECT_EQ(chromium.probes > probesBefore + 5, c.probedWhileLoading);
        chromium.run(10s);
        // Stopped as stalled 30 s after its navigation, never hung.
        EXPECT_EQ(chromium.conditions(),
                  (Strings{"loading 1", "live 1", "crashed 1", "retrying 1"}));
        ASSERT_EQ(chromium.stopped.size(), 1u);
        EXPECT_EQ(chromium.stopped[0] - chromium.navigated[0], 30s);
        EXPECT_EQ(chromium.pageCrashCalls, 0);
    }
}

// A probe sent to the document before Brovia loaded the page again says
// nothing of the new load, whether its answer comes or its deadline passes
// after that load began.
TEST(PageWatch, OldDocumentsProbeCountsForNothingInTheNextLoad) {
    // Its answer: the spinning new load is hung when it would be without it.
    std::optional<Clock::duration> hungAfter[2];
    for (const bool answerComes : {false, true}) {
        SCOPED_TRACE(answerComes ? "answered late" : "never answered");
        FakeChromium chromium(kLoaded);
        chromium.addressAnswers = {status(200)};
        chromium.run(2s);
        chromium.holdProbes = true;
        ASSERT_TRUE(chromium.runUntil([&] { return chromium.heldProbes() > 0; }));
        chromium.run(2500ms);
        chromium.loads = {{Load::Kind::Spins, 200, ""}, {Load::Kind::Answers, 200, ""}};
        chromium.crash();
        ASSERT_TRUE(chromium.runUntil([&] { return !chromium.navigated.empty(); }));
        if (answerComes)
            chromium.releaseHeldProbes(); // within its deadline
        chromium.run(20s);
        const auto hungAt = chromium.firstReport(PageCondition::Hung);
        ASSERT_TRUE(hungAt.has_value());
        hungAfter[answerComes] = *hungAt - chromium.navigated[0];
    }
    EXPECT_EQ(hungAfter[0], hungAfter[1]);

    // Its miss: one slow answer of the new load is no hang.
    FakeChromium chromium(kLoaded);
    chromium.run(2s);
    chromium.answerProbes = false;
    const int sent = chromium.probes;
    ASSERT_TRUE(chromium.runUntil([&] { return chromium.probes > sent; }));
    chromium.run(1s);
    chromium.loads = {{Load::Kind::Slow, 200, ""}};
    chromium.crash();
    ASSERT_TRUE(chromium.runUntil([&] { return !chromium.navigated.empty(); }));
    const int old = chromium.probes;
    ASSERT_TRUE(chromium.runUntil([&] { return chromium.probes > old; })); // the new load's first
    chromium.run(3500ms);                                                  // missed
    chromium.answerProbes = true;
    chromium.run(10s);
    EXPECT_EQ(chromium.conditions(), (Strings{"loading 1", "live 1", "crashed 1"}));
    EXPECT_EQ(chromium.pageCrashCalls, 0);
}

// Each hang is one report line with its own count, as a live page's is; a
// page that spins at every load is loaded again on the growing back-off, not
// in a loop.
TEST(PageWatch, PageThatSpinsAtEveryLoadIsHungEachTimeOnTheBackOff) {
    FakeChromium chromium(kLoaded);
    chromium.addressAnswers = {status(200)};
    chromium.run(2s);
    chromium.loads = {{Load::Kind::Spins, 200, ""}};
    chromium.crash();
    chromium.run(60s);
    std::vector<PageReport> hangs;
    for (const PageReport& r : chromium.reports)
        if (r.condition == PageCondition::Hung)
            hangs.push_back(r);
    ASSERT_GE(hangs.size(), 3u);
    for (size_t i = 0; i < hangs.size(); ++i) {
        EXPECT_EQ(hangs[i].count, i + 1);
        EXPECT_EQ(hangs[i].detail, "no answer to 2 probes");
        EXPECT_EQ(hangs[i].nextAttemptMs, 0);
    }
    EXPECT_EQ(chromium.conditions()[3], "hung 1");
    EXPECT_EQ(chromium.conditions()[4], "loading 2");
    // 11 s to each hang, then 2, 4, 8 s of back-off before the next load.
    ASSERT_GE(chromium.navigated.size(), 4u);
    for (size_t i = 1; i < 4; ++i)
        EXPECT_NEAR(FakeChromium::ms(chromium.navigated[i] - chromium.navigated[i - 1]),
                    11000 + (1000 << i), 200)
            << i;
    EXPECT_TRUE(chromium.stopped.empty());
}

TEST(PageWatch, FailedNavigationsGoToTheBackOffNotStraightBack) {
    FakeChromium chromium(kLoaded);
    chromium.run(2s);
    chromium.loads = {{Load::Kind::Refused, 0, ""}, {Load::Kind::Answers, 200, ""}};
    chromium.addressAnswers = {status(200)};
    chromium.crash();
    chromium.run(10s);
    ASSERT_EQ(chromium.navigated.size(), 2u);
    EXPECT_GE(chromium.navigated[1] - chromium.navigated[0], 2s);
    EXPECT_EQ(chromium.conditions(),
              (Strings{"loading 1", "live 1", "crashed 1", "retrying 1", "loading 2", "live 2"}));
}

// The PNG a screenshot comes as: 8 bits per sample, each row with its own
// filter (row y takes filter y % 5, so that every filter is read).
std::string pngOf(uint32_t width, uint32_t height, int channels,
                  const std::function<uint32_t(uint32_t x, uint32_t y)>& rgba, int depth = 8) {
    auto be32 = [](uint32_t v) {
        return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    };
    auto chunk = [&be32](const std::string& type, const std::string& data) {
        const std::string body = type + data;
        const uLong crc =
            crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
        return be32(static_cast<uint32_t>(data.size())) + body + be32(static_cast<uint32_t>(crc));
    };
    const int colourType = channels == 1 ? 0 : channels == 2 ? 4 : channels == 3 ? 2 : 6;
    std::string header = be32(width) + be32(height);
    header += {char(depth), char(colourType), 0, 0, 0};
    const size_t stride = size_t(width) * channels;
    std::vector<uint8_t> previous(stride, 0), row(stride);
    std::string raw;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t p = rgba(x, y);
            const uint8_t r = p >> 24, g = p >> 16, b = p >> 8, a = p;
            const uint8_t samples[4][4] = {{r}, {r, a}, {r, g, b}, {r, g, b, a}};
            std::copy(samples[channels - 1], samples[channels - 1] + channels,
                      row.begin() + x * channels);
        }
        const int filter = y % 5;
        raw += char(filter);
        for (size_t i = 0; i < stride; ++i) {
            const int left = i >= size_t(channels) ? row[i - channels] : 0;
            const int up = previous[i];
            const int corner = i >= size_t(channels) ? previous[i - channels] : 0;
            const int guess = left + up - corner;
            const int nearest = std::abs(guess - left) <= std::abs(guess - up) &&
                                        std::abs(guess - left) <= std::abs(guess - corner)
                                    ? left
                                : std::abs(guess - up) <= std::abs(guess - corner) ? up
                                                                                   : corner;
            const int predictions[5] = {0, left, up, (left + up) / 2, nearest};
            raw += char(row[i] - predictions[filter]);
        }
        previous = row;
    }
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &size,
             reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()));
    packed.resize(size);
    return "\x89PNG\r\n\x1a\n" + chunk("IHDR", header) + chunk("IDAT", packed.substr(0, 7)) +
           chunk("IDAT", packed.substr(7)) + chunk("IEND", "");
}

std::string base64(const std::string& bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t n = uint32_t(uint8_t(bytes[i])) << 16;
        if (i + 1 < bytes.size())
            n |= uint32_t(uint8_t(bytes[i + 1])) << 8;
        if (i + 2 < bytes.size())
            n |= uint8_t(bytes[i + 2]);
        for (size_t k = 0; k < 4; ++k)
            out += i + k <= bytes.size() ? digits[(n >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

// A 64x36 screenshot as the page's data: one colour, or a page that draws.
std::string shotOf(uint32_t colour) {
    return base64(pngOf(64, 36, 4, [colour](uint32_t, uint32_t) { return colour; }));
}
std::string drawnShot() {
    return base64(pngOf(64, 36, 4, [](uint32_t x, uint32_t y) {
        return x > 10 && x < 20 && y == 5 ? 0xffffffffu : 0x000000ffu;
    }));
}

// A page in the shared browser is zoomed through its own target, before its
// load is asked for, and again in the new window that replaces a closed one;
// a page without a zoom is left at the browser's.
TEST(PageWatch, ZoomOfAPageInTheSharedBrowserIsItsTargetsOwn) {
    struct Case {
        int percent;
        double factor; // 0: no zoom asked of the target
    };
    for (const Case& c : {Case{0, 0}, Case{150, 1.5}, Case{25, 0.25}, Case{500, 5}}) {
        SCOPED_TRACE(c.percent);
        FakeChromium chromium(kStillLoading, {}, false, PageWindow{1280, 0, 1280, 680, c.percent});
        ASSERT_TRUE(
            chromium.runUntil([&] { return chromium.watch->condition() == PageCondition::Live; }));
        const auto& sent = chromium.methods;
        const auto zoomed =
            std::find(sent.begin(), sent.end(), "Emulation.setDeviceMetricsOverride");
        if (c.factor == 0) {
            EXPECT_EQ(zoomed, sent.end());
            continue;
        }
        ASSERT_EQ(chromium.metrics.size(), 1u);
        const Json::Value& m = chromium.metrics[0];
        EXPECT_DOUBLE_EQ(m["deviceScaleFactor"].asDouble(), c.factor);
        EXPECT_DOUBLE_EQ(m["scale"].asDouble(), c.factor);
        // The window's own size, whatever it becomes.
        EXPECT_EQ(m["width"].asInt(), 0);
        EXPECT_EQ(m["height"].asInt(), 0);
        EXPECT_FALSE(m["mobile"].asBool());
        EXPECT_LT(zoomed, std::find(sent.begin(), sent.end(), "Page.navigate"));
        // The page closes its window: the new one is zoomed too.
        chromium.closeWindow();
        ASSERT_TRUE(chromium.runUntil([&] { return chromium.navigated.size() >= 2; }));
        EXPECT_EQ(chromium.metrics.size(), 2u);
    }
}

// A window fitted from outside is known by its target's title until it is
// found; the page's load waits for that, for the found window's own target
// only, and at most windowWait (3 s): a window never found still shows the
// page. A window made again after the page closed its own is looked for
// anew.
TEST(PageWatch, NewWindowsLoadOnceFoundOrAfterTheirWait) {
    struct Case {
        const char* what;
        std::optional<std::string> found; // the target said found, 1 s after it was made
        Clock::duration loadedAfterMade;
    };
    const Case cases[] = {
        {"found", "T", 1s},
        {"never found", std::nullopt, 3s},
        {"another window found", "U", 3s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeChromium chromium(kStillLoading, {}, false, PageWindow{0, 0, 1280, 720, 0}, true);
        ASSERT_TRUE(chromium.runUntil([&] { return !chromium.windowsMade.empty(); }));
        EXPECT_EQ(chromium.windowsMade, Strings{"T"});
        EXPECT_EQ(chromium.titles, Strings{"\"brovia-window T\""});
        EXPECT_EQ(PageWatch::windowTitle("T"), "brovia-window T");
        const Clock::duration made = chromium.madeAt[0];
        chromium.run(1s);
        EXPECT_TRUE(chromium.navigated.empty()) << "loaded before its window was found";
        if (c.found)
            chromium.watch->windowFound(*c.found, chromium.now);
        ASSERT_TRUE(chromium.runUntil([&] { return !chromium.navigated.empty(); }, 10s));
        EXPECT_GE(chromium.navigated[0] - made, c.loadedAfterMade);
        EXPECT_LE(chromium.navigated[0] - made, c.loadedAfterMade + 300ms);
        ASSERT_TRUE(
            chromium.runUntil([&] { return chromium.watch->condition() == PageCondition::Live; }));
        chromium.closeWindow();
        ASSERT_TRUE(chromium.runUntil([&] { return chromium.windowsMade.size() == 2; }));
        const size_t loads = chromium.navigated.size();
        chromium.watch->windowFound("T", chromium.now);
        ASSERT_TRUE(chromium.runUntil([&] { return chromium.navigated.size() > loads; }, 1s));
    }
}

TEST(PageWatchTimings, ShortRulesForATestWallTakeWholeSecondsAndNothingElse) {
    using std::chrono::milliseconds;
    const struct {
        const char* text;
        long long rule, shot; // ms; rule 0: refused
    } cases[] = {
        {"10", 10000, 2500}, {"1", 1000, 1000}, {"3600", 3600000, 900000},
        {"3", 3000, 1000},   {"0", 0, 0},       {"3601", 0, 0},
        {"-5", 0, 0},        {"", 0, 0},        {"10s", 0, 0},
        {" 10", 0, 0},       {"1e3", 0, 0},     {"99999999999", 0, 0},
    };
    for (const auto& c : cases) {
        const auto t = PageWatchTimings::withShortRules(c.text);
        ASSERT_EQ(t.has_value(), c.rule != 0) << c.text;
        if (!t)
            continue;
        EXPECT_EQ(t->wanderedFor, milliseconds(c.rule)) << c.text;
        EXPECT_EQ(t->stillFor, milliseconds(c.rule)) << c.text;
        EXPECT_EQ(t->shotEvery, milliseconds(c.shot)) << c.text;
        // Everything else is the wall's own.
        EXPECT_EQ(t->stallAfter, PageWatchTimings{}.stallAfter) << c.text;
        EXPECT_EQ(t->longestRetry, PageWatchTimings{}.longestRetry) << c.text;
        EXPECT_EQ(t->probeEvery, PageWatchTimings{}.probeEvery) << c.text;
    }
}

TEST(StillPicture, OneColourIsFoundInEveryLayoutAndAnythingElseIsNot) {
    const auto uniform = [](uint32_t c) { return [c](uint32_t, uint32_t) { return c; }; };
    struct Case {
        const char* name;
        std::string png;
        std::optional<uint32_t> colour;
    } cases[] = {
        {"RGBA, one colour", pngOf(64, 36, 4, uniform(0x10203040)), 0x10203040},
        {"RGB, one colour", pngOf(64, 36, 3, uniform(0x000000ff)), 0x000000ff},
        {"grey", pngOf(7, 9, 1, uniform(0x808080ff)), 0x808080ff},
        {"grey and alpha", pngOf(7, 9, 2, uniform(0xc0c0c080)), 0xc0c0c080},
        {"white, one pixel wide", pngOf(1, 50, 3, uniform(0xffffffff)), 0xffffffff},
        {"a full-HD monitor's black", pngOf(1920, 1080, 4, uniform(0x000000ff)), 0x000000ff},
        {"a full-HD monitor's black with a dot at its end",
         pngOf(1920, 1080, 3,
               [](uint32_t x, uint32_t y) { return x == 1919 && y == 1079 ? 0x010000ffu : 0xffu; }),
         std::nullopt},
        {"the last pixel differs",
         pngOf(64, 36, 4, [](uint32_t x, uint32_t y) { return x == 63 && y == 35 ? 2u : 1u; }),
         std::nullopt},
        {"a line across the middle",
         pngOf(64, 36, 3, [](uint32_t, uint32_t y) { return y == 18 ? 0x010101ffu : 0xffu; }),
         std::nullopt},
        {"alpha alone differs",
         pngOf(64, 36, 4, [](uint32_t x, uint32_t) { return x < 32 ? 0xff : 0xfe; }), std::nullopt},
        {"16 bits per sample", pngOf(4, 4, 3, uniform(0xff), 16), std::nullopt},
        {"cut short", pngOf(64, 36, 4, uniform(0xff)).substr(0, 60), std::nullopt},
        {"not a PNG", "GIF89a....", std::nullopt},
        {"nothing", "", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PageWatch::singleColour(c.png), c.colour) << c.name;
}

// A page whose picture is one colour for 5 minutes is loaded again; one
// that draws is left alone, however long it shows the same.
TEST(PageWatch, PageOneColourForFiveMinutesIsLoadedAgainAndADrawnOneIsNot) {
    struct Case {
        const char* name;
        // The picture at each minute of the page's life.
        std::function<std::string(int minute)> picture;
        bool signIn = false;
        bool reloaded;
    } cases[] = {
        {"black all along", [](int) { return shotOf(0x000000ff); }, false, true},
        {"white all along", [](int) { return shotOf(0xffffffff); }, false, true},
        {"a dashboard that draws and never changes", [](int) { return drawnShot(); }, false, false},
        {"one colour that changes each minute",
         [](int minute) { return shotOf(minute % 2 ? 0x000000ff : 0x202020ff); }, false, false},
        {"black for four minutes, drawn for one, again and again",
         [](int minute) { return minute % 5 == 4 ? drawnShot() : shotOf(0x000000ff); }, false,
         false},
        {"no picture at all", [](int) { return std::string(); }, false, false},
        {"a login page of one colour", [](int) { return shotOf(0xffffffff); }, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeChromium chromium(c.signIn ? R"(["https://sso.example.org/login","complete",200])"
                                       : kLoaded);
        for (int minute = 0; minute < 20 && chromium.navigated.empty(); ++minute) {
            chromium.picture = c.picture(minute);
            chromium.run(1min);
        }
        const auto still = chromium.firstReport(PageCondition::Still);
        EXPECT_EQ(still.has_value(), c.reloaded);
        EXPECT_EQ(chromium.navigated.size(), c.reloaded ? 1u : 0u);
        if (still) {
            // One colour from the first shot (a minute in) for 5 minutes.
            EXPECT_GE(*still, 6min);
            EXPECT_LE(*still, 6min + 1s);
            EXPECT_LE(chromium.navigated[0] - *still, 100ms);
            chromium.picture = drawnShot();
            chromium.run(1s);
            EXPECT_EQ(chromium.conditions(), (Strings{"loading 1", "live 1", "still 1", "live 2"}));
        }
        // One small shot a minute of the live page, none of a login page.
        if (c.signIn) {
            EXPECT_TRUE(chromium.shots.empty());
            continue;
        }
        ASSERT_GE(chromium.shots.size(), 5u);
        EXPECT_LE(chromium.shots.size(), 21u);
        // The viewport as the monitor shows it: a clip would have Chromium
        // emulate a small viewport, which the wall would see.
        EXPECT_FALSE(chromium.shots[0].isMember("clip"));
        EXPECT_EQ(chromium.shots[0]["format"].asString(), "png");
    }
}

// A retrying page, whatever brought it there, is loaded at the next attempt
// its report names; the address's answer, a HEAD refused with 501 as
// Python's http.server does, holds nothing up.
TEST(PageWatch, EveryRetryingStateHasANextAttemptThatComes) {
    struct Case {
        const char* name;
        std::string initial;
        std::function<void(FakeChromium&)> script; // runs once the page is up
        Strings conditions;
        size_t due; // report lines with a next attempt
    };
    auto reloadMeets = [](std::deque<Load> loads) {
        return [loads](FakeChromium& c) {
            c.loads = loads;
            c.crash();
        };
    };
    const Load answers{Load::Kind::Answers, 200, ""};
    const Case cases[] = {
        {"a refused connection",
         kLoaded,
         reloadMeets({{Load::Kind::Refused}, answers}),
         {"loading 1", "live 1", "crashed 1", "retrying 1", "loading 2", "live 2"},
         1},
        {"an error page at start",
         kRefusedAtStart,
         [](FakeChromium&) {},
         {"loading 1", "retrying 1", "loading 2", "live 1"},
         1},
        {"a 503 twice",
         kLoaded,
         reloadMeets({{Load::Kind::Answers, 503}, {Load::Kind::Answers, 503}, answers}),
         {"loading 1", "live 1", "crashed 1", "retrying 1", "loading 2", "retrying 2", "loading 3",
          "live 2"},
         2},
        {"a load that stalls",
         kLoaded,
         reloadMeets({{Load::Kind::Stalls}, answers}),
         {"loading 1", "live 1", "crashed 1", "retrying 1", "loading 2", "live 2"},
         1},
        {"an untrusted certificate, twice",
         kLoaded,
         reloadMeets({{Load::Kind::CertificateError}, {Load::Kind::CertificateError}, answers}),
         {"loading 1", "live 1", "crashed 1", "retrying:certificate 1", "loading 2",
          "retrying:certificate 2", "loading 3", "live 2"},
         2},
        {"a download",
         kLoaded,
         reloadMeets({{Load::Kind::Downloads}, answers}),
         {"loading 1", "live 1", "crashed 1", "retrying:download 1", "loading 2", "live 2"},
         1},
        {"a user name and password box, twice",
         kLoaded,
         reloadMeets({{Load::Kind::AsksPassword}, {Load::Kind::AsksPassword}, answers}),
         {"loading 1", "live 1", "crashed 1", "sign-in:auth 1", "loading 2", "sign-in:auth 2",
          "loading 3", "live 2"},
         2},
        {"a main frame gone to another site",
         kLoaded,
         [](FakeChromium& c) { c.goTo("https://news.example.com/today"); },
         {"loading 1", "live 1", "wandered 1", "loading 2", "live 2"},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeChromium chromium(c.initial);
        chromium.addressAnswers = {status(501)};
        chromium.run(2s);
        c.script(chromium);
        chromium.run(3min);
        EXPECT_EQ(chromium.conditions(), c.conditions);
        EXPECT_EQ(chromium.nextAttemptsThatCame(), c.due);
        EXPECT_EQ(chromium.watch->condition(), PageCondition::Live);
        // Its state and reason, never live, until it is loaded again.
        for (const PageReport& r : chromium.reports) {
            if (r.nextAttemptMs != 0) {
                EXPECT_NE(r.condition, PageCondition::Live);
            }
        }
    }
}

// Each load of the user name and password box is cancelled, at once, and
// every request paused on its way out is let go.
TEST(PageWatch, PasswordBoxesAreCancelledAndEveryPausedRequestIsLetGo) {
    FakeChromium chromium(kLoaded);
    chromium.addressAnswers = {status(401)};
    chromium.run(2s);
    chromium.loads = {{Load::Kind::AsksPassword}};
    chromium.crash();
    for (const std::string id : {"r1", "r2", "r3"}) {
        Json::Value paused(Json::objectValue);
        paused["requestId"] = id;
        paused["request"]["url"] = FakeChromium::kUrl;
        chromium.event("Fetch.requestPaused", paused, "S");
        chromium.run(5s);
    }
    chromium.run(1min);
    EXPECT_EQ(chromium.continued, (Strings{"r1", "r2", "r3"}));
    ASSERT_GE(chromium.authAnswers.size(), 3u);
    EXPECT_EQ(chromium.authAnswers.size(), chromium.navigated.size());
    for (const Json::Value& answer : chromium.authAnswers)
        EXPECT_EQ(answer["authChallengeResponse"]["response"].asString(), "CancelAuth");
    // Loaded again on the growing back-off: 2, 4, 8, 16 s.
    for (size_t i = 1; i < 4; ++i)
        EXPECT_EQ(FakeChromium::ms(chromium.navigated[i] - chromium.navigated[i - 1]) / 1000,
                  1 << i)
            << i;
    EXPECT_EQ(chromium.watch->condition(), PageCondition::NeedsSignIn);
    // The address in what is told has its token hidden.
    for (const PageReport& r : chromium.reports)
        EXPECT_EQ(r.detail.find("0f4c2a9e7d1b"), std::string::npos) << r.detail;
    EXPECT_NE(chromium.reports.back().detail.find("token=***"), std::string::npos);
}

// Nothing modal stays on the wall: each dialog answered at once as its
// Cancel button (beforeunload: leave), each print without a preview, one
// report line each with its count; the page stays live and is not loaded
// again.
TEST(PageWatch, DialogsAndPrintsAreAnsweredAtOnceAndThePageRunsOn) {
    FakeChromium chromium(kLoaded);
    chromium.run(2s);
    struct Case {
        const char* type;
        bool accept;
    } cases[] = {{"alert", false}, {"confirm", false}, {"prompt", false}, {"beforeunload", true}};
    for (const Case& c : cases) {
        chromium.dialog(c.type, std::string("Sure? ") + c.type);
        chromium.run(1s);
        ASSERT_FALSE(chromium.dialogAnswers.empty());
        EXPECT_EQ(chromium.dialogAnswers.back()["accept"].asBool(), c.accept) << c.type;
        EXPECT_NE(chromium.reports.back().detail.find(c.type), std::string::npos) << c.type;
    }
    chromium.print();
    chromium.print();
    chromium.run(1min);
    EXPECT_EQ(chromium.dialogAnswers.size(), 4u);
    EXPECT_EQ(chromium.conditions(),
              (Strings{"loading 1", "live 1", "live:dialog 1", "live:dialog 2", "live:dialog 3",
                       "live:dialog 4", "live:print 1", "live:print 2"}));
    EXPECT_EQ(chromium.reports.back().detail.find("0f4c2a9e7d1b"), std::string::npos);
    EXPECT_TRUE(chromium.navigated.empty());
    EXPECT_EQ(chromium.pageCrashCalls, 0);
    EXPECT_EQ(chromium.watch->condition(), PageCondition::Live);
    // Printing is a no-op that tells the watch, in every document; downloads
    // are refused.
    EXPECT_EQ(chromium.bindings, (Strings{"__broviaPrinted"}));
    ASSERT_EQ(chromium.newDocumentScripts.size(), 1u);
    EXPECT_NE(chromium.newDocumentScripts[0].find("window.print = "), std::string::npos);
    EXPECT_EQ(chromium.downloadBehavior["behavior"].asString(), "deny");
    EXPECT_TRUE(chromium.downloadBehavior["eventsEnabled"].asBool());
}

// The page stays the page: a main frame gone to another site is loaded back
// a minute later unless it comes back first; the page's own site, wherever
// its server keeps it, is never "away"; a closed window is no crash.
TEST(PageWatch, PageThatLeavesItsSiteOrClosesItsWindowIsBroughtBack) {
    struct Case {
        const char* name;
        std::function<void(FakeChromium&)> script;
        Strings conditions;
        std::vector<Clock::duration> navigatedAfter; // the script's start
    };
    const Case cases[] = {
        {"another site, for good",
         [](FakeChromium& c) { c.goTo("https://news.example.com/today"); },
         {"loading 1", "live 1", "wandered 1", "loading 2", "live 2"},
         {60s}},
        {"another site, back by itself within the minute",
         [](FakeChromium& c) {
             c.goTo("https://news.example.com/today");
             c.run(30s);
             c.goTo(FakeChromium::kUrl);
         },
         {"loading 1", "live 1", "wandered 1", "live 2"},
         {}},
        {"another page of the same site",
         [](FakeChromium& c) { c.goTo("http://wall.example:8080/KnitUI/W_Other.html"); },
         {"loading 1", "live 1"},
         {}},
        {"the page's site moved by its server, then a page there",
         [](FakeChromium& c) {
             c.loads = {{Load::Kind::Answers, 200, "https://wall2.example/KnitUI/W_Factory.html"}};
             c.crash();
             c.run(5s);
             c.goTo("https://wall2.example/KnitUI/W_Other.html");
         },
         {"loading 1", "live 1", "crashed 1", "live 2"},
         {0s}},
        {"the page's own script sends its load to another site before the load event",
         [](FakeChromium& c) {
             c.loads = {{Load::Kind::Slow}};
             c.crash();
             c.run(1s);
             c.goTo("https://wall2.example/KnitUI/W_Factory.html");
             c.run(5s);
             c.goTo("https://wall2.example/KnitUI/W_Other.html");
         },
         {"loading 1", "live 1", "crashed 1", "live 2"},
         {0s}},
        {"window.close()",
         [](FakeChromium& c) { c.closeWindow(); },
         {"loading 1", "live 1", "closed 1", "live 2"},
         {0s}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeChromium chromium(kLoaded);
        chromium.run(2s);
        const Clock::duration began = chromium.now - chromium.start;
        c.script(chromium);
        chromium.run(90s);
        EXPECT_EQ(chromium.conditions(), c.conditions);
        ASSERT_EQ(chromium.navigated.size(), c.navigatedAfter.size());
        for (size_t i = 0; i < c.navigatedAfter.size(); ++i)
            EXPECT_NEAR(FakeChromium::ms(chromium.navigated[i] - began),
                        FakeChromium::ms(c.navigatedAfter[i]), 300);
        EXPECT_EQ(chromium.watch->condition(), PageCondition::Live);
        EXPECT_FALSE(chromium.browserHung);
    }
}

TEST(PageWatch, BrowserThatDoesNotAnswerItsOwnCallsIsReported) {
    PageWatchPort port;
    bool hung = false;
    std::vector<std::string> sent;
    port.send = [&](const std::string& m) { sent.push_back(m); };
    port.askAddress = [](const std::string&) {};
    port.endRenderers = [] {};
    port.report = [](const PageReport&) {};
    port.wallClockMs = [] { return int64_t(0); };
    port.browserHung = [&](const std::string&) { hung = true; };
    PageWatch watch("http://h/p", port);
    const Clock::time_point t0{};
    watch.start(t0);
    EXPECT_FALSE(sent.empty());
    watch.tick(t0 + 9s);
    EXPECT_FALSE(hung);
    ASSERT_TRUE(watch.nextWake().has_value());
    watch.tick(*watch.nextWake());
    EXPECT_TRUE(hung);
}

TEST(DevToolsSession, RepliesMatchTheirCallsAndLateRepliesAreDropped) {
    std::vector<std::string> sent;
    std::vector<std::string> events;
    devtools::Session session([&](const std::string& m) { sent.push_back(m); },
                              [&](const devtools::Event& e) { events.push_back(e.method); });
    const Clock::time_point t0{};
    std::vector<std::string> got;
    auto record = [&](const char* name) {
        return [&got, name](const devtools::Reply& r) {
            got.push_back(std::string(name) +
                          (r.answered ? (r.ok ? " ok" : " error " + r.error) : " unanswered"));
        };
    };
    const int a = session.call("A.a", Json::Value(), "", t0 + 1s, record("a"));
    const int b = session.call("B.b", Json::Value(), "S", t0 + 5s, record("b"));
    EXPECT_NE(sent[1].find("\"sessionId\":\"S\""), std::string::npos) << sent[1];
    session.expire(t0 + 2s);
    session.received(R"({"id":)" + std::to_string(a) + R"(,"result":{}})", t0 + 3s); // late
    session.received(R"({"id":)" + std::to_string(b) + R"(,"error":{"message":"no"}})", t0 + 3s);
    session.received(R"({"method":"Page.loadEventFired","params":{}})", t0 + 3s);
    session.received("not json", t0 + 3s);
    session.received(R"({"id":"x"})", t0 + 3s);
    EXPECT_EQ(got, (Strings{"a unanswered", "b error no"}));
    EXPECT_EQ(events, (Strings{"Page.loadEventFired"}));
    EXPECT_EQ(session.pending(), 0u);
    EXPECT_EQ(session.malformed(), 2u);
    EXPECT_FALSE(session.nextDeadline().has_value());
}

TEST(DevToolsSession, MessagesAreCutAtNulWhateverTheChunks) {
    const std::string stream = std::string("{\"a\":1}") + '\0' + "{\"b\":2}" + '\0' + "{\"c\"";
    for (size_t chunk : {1u, 2u, 7u, 100u}) {
        devtools::MessageSplitter splitter;
        Strings messages;
        for (size_t at = 0; at < stream.size(); at += chunk)
            for (auto& m : splitter.feed(std::string_view(stream).substr(at, chunk)))
                messages.push_back(m);
        EXPECT_EQ(messages, (Strings{"{\"a\":1}", "{\"b\":2}"})) << chunk;
        EXPECT_FALSE(splitter.overflowed());
    }
    devtools::MessageSplitter small(8);
    EXPECT_TRUE(small.feed("123456789").empty());
    EXPECT_TRUE(small.overflowed());
    EXPECT_TRUE(small.feed(std::string("1") + '\0').empty());
}

} // namespace
