// Brovia's page watch against a scripted Chromium: what the pipe would carry
// is answered by rules here, time is moved by the test, and the table checks
// which navigations, renderer ends, address probes and report lines follow.
#include "PageWatch.h"

#include <gtest/gtest.h>
#include <json/reader.h>

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
    } kind = Kind::Answers;
    int status = 200;
    std::string landsOn; // the main frame's address after it (default: the page)
};

class FakeChromium {
public:
    explicit FakeChromium(std::string initialState, PageWatchTimings timings = {})
        : initial_(std::move(initialState)) {
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
        watch = std::make_unique<PageWatch>(kUrl, port, timings);
        watch->start(now);
    }

    static constexpr const char* kUrl = "http://wall.example:8080/KnitUI/W_Factory.html?token=t";

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
        Json::Value m(Json::objectValue);
        m["method"] = method;
        m["params"] = params;
        if (!session.empty())
            m["sessionId"] = session;
        out_.push_back(devtools::compact(m));
    }
    std::vector<std::string> conditions() const {
        std::vector<std::string> names;
        for (const auto& r : reports)
            names.push_back(std::string(pageConditionName(r.condition)) + " " +
                            std::to_string(r.count));
        return names;
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
    // What happened.
    std::unique_ptr<PageWatch> watch;
    Clock::time_point start = Clock::time_point() + 1h;
    Clock::time_point now = start;
    std::vector<Clock::duration> navigated, asked, stopped;
    std::string askedUrl;
    bool pendingAsk = false;
    int pageCrashCalls = 0, renderersEnded = 0, probes = 0;
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
        Json::Value m(Json::objectValue);
        m["id"] = command["id"];
        m["result"] = result;
        if (command.isMember("sessionId"))
            m["sessionId"] = command["sessionId"];
        out_.push_back(devtools::compact(m));
    }
    void take(const std::string& text) {
        Json::Value c;
        Json::CharReaderBuilder b;
        std::unique_ptr<Json::CharReader> r(b.newCharReader());
        std::string errors;
        ASSERT_TRUE(r->parse(text.data(), text.data() + text.size(), &c, &errors)) << text;
        ++sent_;
        const std::string method = c["method"].asString();
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
            result["targetInfos"].append(info);
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
        Json::Value frame(Json::objectValue);
        frame["id"] = "T";
        frame["loaderId"] = loader;
        if (load.kind == Load::Kind::Stalls)
            return;
        Json::Value result(Json::objectValue);
        result["frameId"] = "T";
        result["loaderId"] = loader;
        if (load.kind == Load::Kind::Refused) {
            result["errorText"] = "net::ERR_CONNECTION_REFUSED";
            reply(c, result);
            rendererGone_ = false; // the error page commits
            frame["url"] = "chrome-error://chromewebdata/";
            frame["unreachableUrl"] = kUrl;
            Json::Value p(Json::objectValue);
            p["frame"] = frame;
            event("Page.frameNavigated", p, "S");
            event("Page.loadEventFired", Json::Value(Json::objectValue), "S");
            return;
        }
        Json::Value sent(Json::objectValue);
        sent["requestId"] = loader;
        sent["loaderId"] = loader;
        sent["frameId"] = "T";
        sent["type"] = "Document";
        event("Network.requestWillBeSent", sent, "S");
        Json::Value response = sent;
        response["response"]["status"] = load.status;
        response["response"]["url"] = kUrl;
        event("Network.responseReceived", response, "S");
        reply(c, result);
        rendererGone_ = false;
        if (load.kind == Load::Kind::SpinsAtCommit) {
            rendererSpins = true;
            return;
        }
        frame["url"] = load.landsOn.empty() ? std::string(kUrl) : load.landsOn;
        Json::Value p(Json::objectValue);
        p["frame"] = frame;
        event("Page.frameNavigated", p, "S");
        if (load.kind == Load::Kind::Crashes)
            crash(); // before its load event
        else if (load.kind == Load::Kind::Spins)
            rendererSpins = true;
        else if (load.kind != Load::Kind::Slow)
            event("Page.loadEventFired", Json::Value(Json::objectValue), "S");
    }

    std::string initial_;
    std::deque<std::string> out_;
    std::deque<std::string> held_;
    size_t sent_ = 0;
    bool rendererGone_ = false;
};

const std::string kLoaded =
    R"(["http://wall.example:8080/KnitUI/W_Factory.html?token=t","complete",200])";
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
    }
}

TEST(PageWatch, ServerAnswering503IsAskedOncePerBackOffStepThenLoaded) {
    FakeChromium chromium(R"(["http://wall.example:8080/KnitUI/W_Factory.html?token=t",)"
                          R"("complete",503])");
    chromium.addressAnswers = {status(503), status(503), status(503), status(200)};
    chromium.run(40s);
    EXPECT_EQ(chromium.conditions(), (Strings{"loading 1", "retrying 1", "loading 2", "live 1"}));
    EXPECT_EQ(chromium.askedUrl, FakeChromium::kUrl);
    ASSERT_EQ(chromium.asked.size(), 4u);
    // 2 s, then 4, 8, 16 s between the asks: one request per step.
    for (size_t i = 1; i < chromium.asked.size(); ++i)
        EXPECT_EQ(FakeChromium::ms(chromium.asked[i] - chromium.asked[i - 1]) / 1000, 2 << i) << i;
    ASSERT_EQ(chromium.navigated.size(), 1u);
    // Loaded as soon as it answers (the scripted answer comes one step later).
    EXPECT_LE(chromium.navigated[0] - chromium.asked.back(), 200ms);
    // The report says when the first retry is due.
    EXPECT_EQ(chromium.reports[1].nextAttemptMs, 1'000'000 + FakeChromium::ms(chromium.asked[0]));
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
        {{R"(["http://wall.example:8080/KnitUI/W_Factory.html?token=t","interactive",200])",
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
