// Several pages in one shared Chromium, through brovia-host's relay: a
// scripted browser behind the real HostRelay, one real PageWatch per page.
// A hung page is recovered in a window of its own while the others run on,
// each connection is kept to what it made, and the unfinished messages held
// for the connections stay within their bounds.
#include "HostRelay.h"
#include "PageWatch.h"

#include <gtest/gtest.h>
#include <json/reader.h>

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>

using namespace std::chrono_literals;

namespace {

using Clock = devtools::Clock;

Json::Value parsed(const std::string& text) {
    Json::Value v;
    Json::CharReaderBuilder b;
    std::unique_ptr<Json::CharReader> r(b.newCharReader());
    std::string errors;
    r->parse(text.data(), text.data() + text.size(), &v, &errors);
    return v;
}

// The browser: targets made on request, each with a window and a session;
// a hung target answers nothing on its session, and Page.crash does not
// end it (the case where only closing the target helps).
struct ScriptedBrowser {
    struct Target {
        std::string session;
        int window = 0;
        Json::Value asked; // createTarget's parameters
        bool fullscreen = false;
        bool hung = false;
        int commands = 0; // on its session
        // Its methods on its session, in order.
        std::vector<std::string> methods{};
    };
    std::map<std::string, Target> targets;
    std::vector<std::string> closed;
    std::deque<std::string> out; // to the relay
    int made = 0;
    int loads = 0;

    void reply(const Json::Value& c, const Json::Value& result) {
        Json::Value m(Json::objectValue);
        m["id"] = c["id"];
        m["result"] = result;
        if (c.isMember("sessionId"))
            m["sessionId"] = c["sessionId"];
        out.push_back(devtools::compact(m));
    }
    void event(const std::string& method, const Json::Value& params,
               const std::string& session = "") {
        Json::Value m(Json::objectValue);
        m["method"] = method;
        m["params"] = params;
        if (!session.empty())
            m["sessionId"] = session;
        out.push_back(devtools::compact(m));
    }
    std::string targetOfSession(const std::string& s) const {
        for (const auto& [id, t] : targets)
            if (t.session == s)
                return id;
        return {};
    }
    void take(const std::string& text) {
        const Json::Value c = parsed(text);
        const std::string method = c["method"].asString();
        Json::Value r(Json::objectValue);
        if (c.isMember("sessionId")) {
            auto it = targets.find(targetOfSession(c["sessionId"].asString()));
            if (it == targets.end() || it->second.hung)
                return;
            ++it->second.commands;
            it->second.methods.push_back(method);
            if (method == "Page.navigate") {
                // The window's page loads and shows.
                it->second.asked["url"] = c["params"]["url"];
                r["frameId"] = it->first;
                r["loaderId"] = "L" + std::to_string(++loads);
                reply(c, r);
                Json::Value frame(Json::objectValue);
                frame["frame"]["id"] = it->first;
                frame["frame"]["url"] = c["params"]["url"];
                event("Page.frameNavigated", frame, it->second.session);
                event("Page.loadEventFired", Json::Value(Json::objectValue), it->second.session);
                return;
            }
            if (method == "Runtime.evaluate" &&
                c["params"]["expression"].asString().rfind("JSON.stringify", 0) == 0) {
                Json::Value facts(Json::arrayValue);
                facts.append(it->second.asked["url"]);
                facts.append("complete");
                facts.append(200);
                r["result"]["value"] = devtools::compact(facts);
            }
            reply(c, r);
            return;
        }
        const std::string target = c["params"]["targetId"].asString();
        if (method == "Target.createTarget") {
            const std::string id = "T" + std::to_string(++made);
            targets[id] = Target{"S" + std::to_string(made), made, c["params"]};
            r["targetId"] = id;
        } else if (method == "Target.getTargets") {
            r["targetInfos"] = Json::Value(Json::arrayValue);
            for (const auto& [id, t] : targets) {
                Json::Value info(Json::objectValue);
                info["targetId"] = id;
                info["type"] = "page";
                r["targetInfos"].append(info);
            }
        } else if (method == "Target.attachToTarget") {
            r["sessionId"] = targets.at(target).session;
        } else if (method == "Browser.getWindowForTarget") {
            r["windowId"] = targets.at(target).window;
        } else if (method == "Browser.setWindowBounds") {
            for (auto& [id, t] : targets)
                if (t.window == c["params"]["windowId"].asInt())
                    t.fullscreen = c["params"]["bounds"]["windowState"] == "fullscreen";
        } else if (method == "Target.closeTarget") {
            closed.push_back(target);
            targets.erase(target);
            r["success"] = true;
            reply(c, r);
            Json::Value p(Json::objectValue);
            p["targetId"] = target;
            event("Target.targetDestroyed", p);
            return;
        }
        reply(c, r);
    }
};

// The wall: the relay with the scripted browser behind it, and pages on
// connections 1, 2, 3, ...
struct SharedWall {
    ScriptedBrowser browser;
    std::map<int, std::deque<std::string>> toPage;
    HostRelay relay{{[this](const std::string& m) { browser.take(m); },
                     [this](int client, const std::string& m) { toPage[client].push_back(m); }}};
    struct Page {
        std::unique_ptr<PageWatch> watch;
        std::vector<std::string> reports;
        int renderersEnded = 0;
    };
    std::map<int, Page> pages;
    Clock::time_point now = Clock::time_point() + 1h;

    SharedWall() { relay.start(); }
    void open(int client, const PageWindow& window) {
        relay.connected(client);
        Page& page = pages[client];
        PageWatchPort port;
        port.send = [this, client](const std::string& m) { relay.fromClient(client, m); };
        port.askAddress = [](const std::string&) {};
        port.endRenderers = [&page] { ++page.renderersEnded; };
        port.report = [&page](const PageReport& r) {
            page.reports.push_back(std::string(pageConditionName(r.condition)) + " " +
                                   std::to_string(r.count));
        };
        port.wallClockMs = [] { return int64_t(0); };
        port.browserHung = [](const std::string&) { ADD_FAILURE() << "browser reported hung"; };
        page.watch =
            std::make_unique<PageWatch>("http://wall.example/p" + std::to_string(client), port);
        page.watch->ownWindow(window);
        page.watch->start(now);
    }
    void deliver() {
        for (bool moved = true; moved;) {
            moved = false;
            while (!browser.out.empty()) {
                const std::string m = browser.out.front();
                browser.out.pop_front();
                relay.fromBrowser(m);
                moved = true;
            }
            for (auto& [client, queue] : toPage)
                while (!queue.empty()) {
                    const std::string m = queue.front();
                    queue.pop_front();
                    if (pages.count(client))
                        pages[client].watch->received(m, now);
                    moved = true;
                }
        }
    }
    void run(Clock::duration span) {
        for (const Clock::time_point end = now + span; now < end; now += 100ms) {
            deliver();
            for (auto& [client, page] : pages)
                page.watch->tick(now);
            deliver();
        }
    }
    // The target a page's connection made last.
    std::string targetOf(int client) const {
        std::string found;
        for (const auto& [id, t] : browser.targets)
            if (t.asked["url"].asString() == "http://wall.example/p" + std::to_string(client))
                found = id;
        return found;
    }
};

const PageWindow kWindows[] = {{0, 0, 640, 480}, {640, 0, 640, 480}, {1280, 0, 640, 480}};

TEST(SharedBrowser, EachPageGetsAFullScreenWindowOverItsRectangle) {
    SharedWall wall;
    for (int i = 0; i < 3; ++i)
        wall.open(i + 1, kWindows[i]);
    wall.run(2s);
    ASSERT_EQ(wall.browser.targets.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const auto& t = wall.browser.targets.at(wall.targetOf(i + 1));
        EXPECT_TRUE(t.asked["newWindow"].asBool());
        // Made empty; the page's load comes once a server's password box
        // would be cancelled.
        const auto fetch = std::find(t.methods.begin(), t.methods.end(), "Fetch.enable");
        const auto load = std::find(t.methods.begin(), t.methods.end(), "Page.navigate");
        EXPECT_TRUE(fetch < load && load != t.methods.end()) << i;
        EXPECT_EQ(t.asked["left"].asInt(), kWindows[i].left);
        EXPECT_EQ(t.asked["width"].asInt(), kWindows[i].width);
        EXPECT_TRUE(t.fullscreen) << i;
        EXPECT_EQ(wall.pages[i + 1].reports, (std::vector<std::string>{"loading 1", "live 1"}));
    }
}

TEST(SharedBrowser, AHungPageIsRecoveredInANewWindowWhileTheOthersRunOn) {
    SharedWall wall;
    for (int i = 0; i < 3; ++i)
        wall.open(i + 1, kWindows[i]);
    wall.run(5s);
    const std::string hung = wall.targetOf(2);
    const std::string first = wall.targetOf(1), third = wall.targetOf(3);
    const int firstBefore = wall.browser.targets.at(first).commands;
    wall.browser.targets.at(hung).hung = true;
    wall.run(40s);

    // Only the hung page's target was closed, and a new window for it came
    // over the same rectangle; no renderer was ended by process.
    EXPECT_EQ(wall.browser.closed, std::vector<std::string>{hung});
    const std::string replacement = wall.targetOf(2);
    ASSERT_FALSE(replacement.empty());
    EXPECT_NE(replacement, hung);
    EXPECT_EQ(wall.browser.targets.at(replacement).asked["left"].asInt(), 640);
    EXPECT_TRUE(wall.browser.targets.at(replacement).fullscreen);
    const auto& recovered = wall.pages[2].reports;
    EXPECT_EQ(recovered.front(), "loading 1");
    EXPECT_NE(std::find(recovered.begin(), recovered.end(), "hung 1"), recovered.end());
    EXPECT_EQ(recovered.back(), "live 2");
    for (int client : {1, 2, 3})
        EXPECT_EQ(wall.pages[client].renderersEnded, 0) << client;
    // The others ran on: still probed (answered), never reloaded or told of
    // anything.
    EXPECT_GT(wall.browser.targets.at(first).commands, firstBefore);
    EXPECT_EQ(wall.targetOf(1), first);
    EXPECT_EQ(wall.targetOf(3), third);
    for (int client : {1, 3})
        EXPECT_EQ(wall.pages[client].reports, (std::vector<std::string>{"loading 1", "live 1"}));
}

// Each connection sees and touches only what it made; its end closes its
// targets and no others.
TEST(SharedBrowser, ConnectionsAreKeptToTheirOwnTargets) {
    SharedWall wall;
    wall.open(1, kWindows[0]);
    wall.open(2, kWindows[1]);
    wall.run(1s);
    const std::string mine = wall.targetOf(1), theirs = wall.targetOf(2);
    const std::string theirSession = wall.browser.targets.at(theirs).session;

    struct Case {
        const char* what;
        std::string message;
        bool refused;
    };
    const Case cases[] = {
        {"attach to another's target",
         R"({"id":900,"method":"Target.attachToTarget","params":{"targetId":")" + theirs + "\"}}",
         true},
        {"close another's target",
         R"({"id":901,"method":"Target.closeTarget","params":{"targetId":")" + theirs + "\"}}",
         true},
        {"a command on another's session",
         R"({"id":902,"method":"Runtime.evaluate","params":{},"sessionId":")" + theirSession +
             "\"}",
         true},
        {"a browser command no page needs", R"({"id":903,"method":"Browser.close"})", true},
        {"its own target's window",
         R"({"id":904,"method":"Browser.getWindowForTarget","params":{"targetId":")" + mine +
             "\"}}",
         false},
    };
    for (const Case& c : cases) {
        wall.toPage[1].clear();
        const size_t targets = wall.browser.targets.size();
        wall.relay.fromClient(1, c.message);
        while (!wall.browser.out.empty()) {
            wall.relay.fromBrowser(wall.browser.out.front());
            wall.browser.out.pop_front();
        }
        ASSERT_EQ(wall.toPage[1].size(), 1u) << c.what;
        const Json::Value answer = parsed(wall.toPage[1].front());
        EXPECT_EQ(answer["id"].asInt(), parsed(c.message)["id"].asInt()) << c.what;
        EXPECT_EQ(answer.isMember("error"), c.refused) << c.what;
        EXPECT_EQ(wall.browser.targets.size(), targets) << c.what;
    }
    wall.toPage[1].clear();

    // Target.getTargets lists the connection's own only.
    wall.relay.fromClient(2, R"({"id":7,"method":"Target.getTargets"})");
    wall.relay.fromBrowser(wall.browser.out.back());
    wall.browser.out.clear();
    const Json::Value listed = parsed(wall.toPage[2].back());
    ASSERT_EQ(listed["result"]["targetInfos"].size(), 1u);
    EXPECT_EQ(listed["result"]["targetInfos"][0]["targetId"].asString(), theirs);

    // An event of one page's target reaches its owner only.
    wall.toPage.clear();
    wall.relay.fromBrowser(R"({"method":"Target.targetCrashed","params":{"targetId":")" + mine +
                           "\"}}");
    EXPECT_EQ(wall.toPage[1].size(), 1u);
    EXPECT_TRUE(wall.toPage[2].empty());

    // A connection that ends takes exactly its own window with it.
    wall.pages.erase(1);
    wall.relay.disconnected(1);
    EXPECT_EQ(wall.browser.closed, std::vector<std::string>{mine});
    EXPECT_EQ(wall.relay.targetsOf(2), 1u);
    EXPECT_EQ(wall.relay.clients(), 1u);
}

} // namespace

namespace {

// The relay with small limits and a browser that only counts what reaches
// it: each connection's unfinished message at most 100 bytes, all of them
// together at most 250.
struct BoundedRelay {
    std::vector<std::string> toBrowser;
    HostRelay relay{
        {[this](const std::string& m) { toBrowser.push_back(m); }, [](int, const std::string&) {}},
        HostRelay::Limits{100, 250}};
    BoundedRelay() {
        for (int client = 1; client <= 4; ++client)
            relay.connected(client);
    }
};

// A command of `size` bytes, its closing brace left off.
std::string unfinishedCommand(size_t size) {
    std::string text = R"({"id":1,"method":"Browser.getVersion","params":{"pad":")";
    text += std::string(size - text.size() - 2, 'x');
    return text + "\"}";
}

// The unfinished messages of all connections together stay within their
// bound: the connection that would go beyond it is the one to drop, and
// every other goes on, its message delivered once it ends; each message
// keeps to the bound of one connection as well.
TEST(SharedBrowser, UnfinishedMessagesOfAllConnectionsStayWithinTheirBound) {
    BoundedRelay r;
    EXPECT_FALSE(r.relay.fromClientBytes(1, unfinishedCommand(90)));
    EXPECT_FALSE(r.relay.fromClientBytes(2, unfinishedCommand(90)));
    EXPECT_EQ(r.relay.unfinishedBytes(), 180u);

    // 180 + 80 > 250: the third connection goes, and what it sent is not
    // held.
    const auto dropped = r.relay.fromClientBytes(3, unfinishedCommand(80));
    ASSERT_TRUE(dropped);
    EXPECT_NE(dropped->find("250"), std::string::npos) << *dropped;
    EXPECT_EQ(r.relay.unfinishedBytes(), 180u);
    r.relay.disconnected(3);

    // The first two run on: their messages end and reach the browser.
    EXPECT_FALSE(r.relay.fromClientBytes(1, std::string("}") + '\0'));
    EXPECT_FALSE(r.relay.fromClientBytes(2, std::string("}") + '\0'));
    EXPECT_EQ(r.toBrowser.size(), 2u);
    EXPECT_EQ(r.relay.unfinishedBytes(), 0u);

    // Room made by ended messages and by gone connections is room again.
    EXPECT_FALSE(r.relay.fromClientBytes(4, unfinishedCommand(80)));
    EXPECT_FALSE(r.relay.fromClientBytes(1, unfinishedCommand(90)));
    EXPECT_TRUE(r.relay.fromClientBytes(2, unfinishedCommand(90)));
    r.relay.disconnected(2);
    r.relay.disconnected(1);
    EXPECT_EQ(r.relay.unfinishedBytes(), 80u);
    r.relay.connected(5);
    EXPECT_FALSE(r.relay.fromClientBytes(5, unfinishedCommand(90)));
    EXPECT_EQ(r.relay.unfinishedBytes(), 170u);

    // One message beyond a connection's own bound drops it, whether it grows
    // over reads or comes whole in one.
    r.relay.connected(6);
    r.relay.connected(7);
    EXPECT_FALSE(r.relay.fromClientBytes(6, unfinishedCommand(60)));
    EXPECT_TRUE(r.relay.fromClientBytes(6, std::string(41, 'x')));
    EXPECT_TRUE(r.relay.fromClientBytes(7, unfinishedCommand(101) + "}" + '\0'));
    for (int client : {4, 5, 6, 7})
        r.relay.disconnected(client);
    EXPECT_EQ(r.relay.unfinishedBytes(), 0u);
    EXPECT_EQ(r.toBrowser.size(), 2u);
}

} // namespace
