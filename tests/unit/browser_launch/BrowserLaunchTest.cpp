// Which browser a page gets on Windows, what forbids driving it, and the
// command line and profile it starts with, against lookups that answer from
// tables.
#include "BrowserLaunch.h"
#include "common/CommandLineWords.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <map>
#include <set>

namespace {

struct Machine {
    std::map<std::string, std::string> environment;
    std::map<std::string, std::string> appPaths; // "HKLM:image" or "HKCU:image"
    std::set<std::string> files;

    BrowserLookups lookups() const {
        return {[this](const std::string& name) {
                    const auto it = environment.find(name);
                    return it == environment.end() ? std::string() : it->second;
                },
                [this](bool machine, const std::string& image) {
                    const auto it = appPaths.find((machine ? "HKLM:" : "HKCU:") + image);
                    return it == appPaths.end() ? std::string() : it->second;
                },
                [this](const std::string& path) { return files.count(path) > 0; }};
    }
};

const std::string kEdge86 = R"(C:\Program Files (x86)\Microsoft\Edge\Application\msedge.exe)";
const std::string kEdge64 = R"(C:\Program Files\Microsoft\Edge\Application\msedge.exe)";
const std::string kEdgeUser = R"(C:\Users\op\AppData\Local\Microsoft\Edge\Application\msedge.exe)";
const std::string kChrome = R"(C:\Program Files\Google\Chrome\Application\chrome.exe)";
const std::string kStandIn = R"(Z:\tests\standin-browser.exe)";

Machine usual() {
    Machine m;
    m.environment = {{"ProgramFiles(x86)", R"(C:\Program Files (x86))"},
                     {"ProgramFiles", R"(C:\Program Files)"},
                     {"LOCALAPPDATA", R"(C:\Users\op\AppData\Local)"}};
    return m;
}

TEST(BrowserChoice, EdgeFirstThenChromeAndANamedBrowserWins) {
    struct Case {
        const char* name;
        std::function<void(Machine&)> setUp;
        std::string chosen;
    };
    const Case cases[] = {
        {"nothing installed", [](Machine&) {}, ""},
        {"Edge in its usual 32-bit folder", [](Machine& m) { m.files = {kEdge86}; }, kEdge86},
        {"Edge in Program Files", [](Machine& m) { m.files = {kEdge64}; }, kEdge64},
        {"Edge for the user alone", [](Machine& m) { m.files = {kEdgeUser}; }, kEdgeUser},
        {"App Paths of the machine before the folders",
         [](Machine& m) {
             m.files = {kEdge86, R"(D:\Edge\msedge.exe)"};
             m.appPaths["HKLM:msedge.exe"] = R"("D:\Edge\msedge.exe")";
         },
         R"(D:\Edge\msedge.exe)"},
        {"App Paths of the user when the machine has none",
         [](Machine& m) {
             m.files = {kEdge86, R"(E:\msedge.exe)"};
             m.appPaths["HKCU:msedge.exe"] = R"(E:\msedge.exe)";
         },
         R"(E:\msedge.exe)"},
        {"an App Paths entry whose file went is passed over",
         [](Machine& m) {
             m.files = {kEdge64};
             m.appPaths["HKLM:msedge.exe"] = R"(D:\gone\msedge.exe)";
         },
         kEdge64},
        {"Chrome where Edge is missing", [](Machine& m) { m.files = {kChrome}; }, kChrome},
        {"Edge before Chrome whatever the order of finding",
         [](Machine& m) {
             m.files = {kChrome, kEdgeUser};
             m.appPaths["HKLM:chrome.exe"] = kChrome;
         },
         kEdgeUser},
        {"BROVIA_BROWSER before Edge",
         [](Machine& m) {
             m.files = {kEdge86, kStandIn};
             m.environment["BROVIA_BROWSER"] = kStandIn;
         },
         kStandIn},
        {"a BROVIA_BROWSER that is missing gives no other browser",
         [](Machine& m) {
             m.files = {kEdge86};
             m.environment["BROVIA_BROWSER"] = kStandIn;
         },
         ""},
        {"no ProgramFiles variables: only App Paths",
         [](Machine& m) {
             m.environment.clear();
             m.files = {kEdge86};
         },
         ""},
    };
    for (const Case& c : cases) {
        Machine m = usual();
        c.setUp(m);
        const BrowserChoice choice = chooseBrowser(m.lookups());
        EXPECT_EQ(choice.path, c.chosen) << c.name;
        // A line says what was looked for whenever nothing was chosen.
        EXPECT_EQ(choice.lookedAt.empty(), !c.chosen.empty()) << c.name << ": " << choice.lookedAt;
    }
}

TEST(BrowserChoice, TheLineWithoutABrowserNamesWhatWasLookedFor) {
    const BrowserChoice none = chooseBrowser(usual().lookups());
    for (const std::string& part : {std::string("msedge.exe in App Paths"), kEdge86, kEdgeUser,
                                    std::string("chrome.exe in App Paths"), kChrome})
        EXPECT_NE(none.lookedAt.find(part), std::string::npos) << none.lookedAt;
    Machine named = usual();
    named.environment["BROVIA_BROWSER"] = kStandIn;
    EXPECT_EQ(chooseBrowser(named.lookups()).lookedAt, kStandIn + " (BROVIA_BROWSER)");
}

TEST(BrowserPolicies, DevToolsForbiddenByEitherPolicyInEitherHive) {
    struct Case {
        const char* name;
        std::string browser;
        std::map<std::string, uint32_t> set; // "HKLM:name" or "HKCU:name"
        std::string says;                    // part of the reason; empty: allowed
    };
    const Case cases[] = {
        {"no policy", kEdge86, {}, ""},
        {"remote debugging allowed", kEdge86, {{"HKLM:RemoteDebuggingAllowed", 1}}, ""},
        {"remote debugging forbidden for the machine",
         kEdge86,
         {{"HKLM:RemoteDebuggingAllowed", 0}},
         R"(HKLM\SOFTWARE\Policies\Microsoft\Edge\RemoteDebuggingAllowed=0)"},
        {"remote debugging forbidden for the user",
         kEdge86,
         {{"HKCU:RemoteDebuggingAllowed", 0}},
         R"(HKCU\SOFTWARE\Policies\Microsoft\Edge\RemoteDebuggingAllowed=0)"},
        {"developer tools disallowed",
         kEdge64,
         {{"HKCU:DeveloperToolsAvailability", 2}},
         "DeveloperToolsAvailability=2"},
        {"developer tools allowed except for extensions",
         kEdge64,
         {{"HKLM:DeveloperToolsAvailability", 0}, {"HKCU:DeveloperToolsAvailability", 1}},
         ""},
        {"Chrome's own key",
         kChrome,
         {{"HKLM:RemoteDebuggingAllowed", 0}},
         R"(HKLM\SOFTWARE\Policies\Google\Chrome\RemoteDebuggingAllowed=0)"},
        {"a stand-in is governed by no browser's policy",
         kStandIn,
         {{"HKLM:RemoteDebuggingAllowed", 0}},
         ""},
        {"a name that only ends like Edge's",
         R"(C:\tools\notmsedge.exe)",
         {{"HKLM:RemoteDebuggingAllowed", 0}},
         ""},
    };
    for (const Case& c : cases) {
        std::string keyAsked;
        const std::string why = devToolsForbiddenBy(
            c.browser,
            [&](bool machine, const std::string& key,
                const std::string& name) -> std::optional<uint32_t> {
                keyAsked = key;
                const auto it = c.set.find((machine ? "HKLM:" : "HKCU:") + name);
                return it == c.set.end() ? std::nullopt : std::optional<uint32_t>(it->second);
            });
        if (c.says.empty()) {
            EXPECT_EQ(why, "") << c.name;
        } else {
            EXPECT_NE(why.find(c.says), std::string::npos) << c.name << ": " << why;
            EXPECT_EQ(keyAsked, policyKey(c.browser)) << c.name;
        }
    }
    EXPECT_EQ(policyKey(R"(C:\X\MSEDGE.EXE)"), R"(SOFTWARE\Policies\Microsoft\Edge)");
}

Json::Value parsed(const std::string& text) {
    Json::Value value;
    std::istringstream in(text);
    in >> value;
    return value;
}

TEST(BrowserProfile, EachStartFindsACleanLastExit) {
    struct Case {
        const char* name;
        std::string before;
        bool keepsTheRest;
    };
    const Case cases[] = {
        {"ended while running",
         R"({"profile":{"exit_type":"Crashed","exited_cleanly":false,"name":"Wall"},"zoom":1})",
         true},
        {"no profile object yet", R"({"zoom":1})", true},
        {"missing", "", false},
        {"cut short mid-write", R"({"profile":{"exit_type":"Cra)", false},
        {"not an object", R"([1,2])", false},
        {"a profile that is no object", R"({"profile":"x","zoom":1})", false},
    };
    for (const Case& c : cases) {
        const Json::Value after = parsed(preferencesWithCleanExit(c.before));
        EXPECT_EQ(after["profile"]["exit_type"].asString(), "Normal") << c.name;
        EXPECT_TRUE(after["profile"]["exited_cleanly"].asBool()) << c.name;
        if (c.keepsTheRest)
            EXPECT_EQ(after["zoom"].asInt(), 1) << c.name;
        else
            EXPECT_EQ(after, parsed(kWallPreferences)) << c.name;
    }
    EXPECT_EQ(parsed(preferencesWithCleanExit(R"({"profile":{"name":"Wall"}})"))["profile"]["name"],
              "Wall");
}

PagePlacement page(int left, int top, int right, int bottom) {
    PagePlacement p;
    p.left = left;
    p.top = top;
    p.right = right;
    p.bottom = bottom;
    p.url = "http://wall.example/KnitUI/W_Factory.html?token=0f4c2a9e7d1b";
    return p;
}

TEST(BrowserProfile, ANumberPerRectangleStableAcrossStarts) {
    const PagePlacement rects[] = {page(0, 0, 1920, 1080),    page(1920, 0, 3840, 1080),
                                   page(3840, 0, 5760, 1080), page(0, 0, 1920, 1048),
                                   page(-1920, 0, 0, 1080),   page(0, 0, 1080, 1920),
                                   page(10, 0, 1920, 1080),   page(1, 0, 1920, 1080)};
    std::set<uint32_t> numbers;
    for (const PagePlacement& p : rects)
        numbers.insert(profileNumber(p));
    EXPECT_EQ(numbers.size(), std::size(rects));
    PagePlacement other = rects[0];
    other.url = "http://elsewhere.example/";
    other.zoomPercent = 150;
    EXPECT_EQ(profileNumber(other), profileNumber(rects[0]));
    EXPECT_EQ(profileNumber(page(0, 0, 1920, 1080)), 3430808386u); // the folder a wall keeps
}

TEST(BrowserWindow, FullScreenOnlyOverAWholeMonitor) {
    const std::vector<Rect> monitors = {
        {0, 0, 1920, 1080}, {1920, 0, 3840, 1080}, {-1280, 56, 0, 1080}};
    EXPECT_TRUE(coversAMonitor(page(0, 0, 1920, 1080), monitors));
    EXPECT_TRUE(coversAMonitor(page(-1280, 56, 0, 1080), monitors));
    EXPECT_FALSE(coversAMonitor(page(0, 0, 1920, 1048), monitors)); // a work area
    EXPECT_FALSE(coversAMonitor(page(0, 0, 3840, 1080), monitors)); // two monitors
    EXPECT_FALSE(coversAMonitor(page(0, 0, 1920, 1080), {}));
}

TEST(BrowserCommandLine, AppWindowAndPipesNoAddress) {
    PagePlacement p = page(1920, 0, 3840, 1048);
    const std::string profile = R"(C:\Users\John Smith\AppData\Local\Panoview\pages\7)";
    std::vector<std::string> args = windowsBrowserArguments(kEdge86, profile, p, 0x1a4, 0x1ac);
    const auto has = [&](const std::string& word) {
        return std::find(args.begin(), args.end(), word) != args.end();
    };
    EXPECT_EQ(args.front(), kEdge86);
    for (const char* word :
         {"--no-first-run", "--remote-debugging-pipe", "--remote-debugging-io-pipes=420,428",
          "--app=about:blank", "--window-position=1920,0", "--window-size=1920,1048",
          "--disable-session-crashed-bubble", "--no-default-browser-check"})
        EXPECT_TRUE(has(word)) << word;
    EXPECT_TRUE(has("--user-data-dir=" + profile));
    // The switches that belong to Linux only stay off.
    for (const std::string& word : args) {
        EXPECT_EQ(word.find("token"), std::string::npos) << word;
        EXPECT_EQ(word.find("wall.example"), std::string::npos) << word;
        EXPECT_EQ(word.rfind("--ozone", 0), std::string::npos) << word;
        EXPECT_EQ(word.rfind("--password-store", 0), std::string::npos) << word;
        EXPECT_NE(word, "--start-fullscreen"); // a full-screen window cannot be placed
    }
    EXPECT_FALSE(std::any_of(args.begin(), args.end(), [](const std::string& w) {
        return w.rfind("--force-device-scale-factor", 0) == 0;
    }));
    for (auto [percent, factor] :
         {std::pair{150, "1.50"}, {25, "0.25"}, {105, "1.05"}, {500, "5.00"}}) {
        p.zoomPercent = percent;
        args = windowsBrowserArguments(kEdge86, profile, p, 1, 2);
        EXPECT_EQ(args.back(), std::string("--force-device-scale-factor=") + factor);
    }
    // Quoted where the folders hold blanks, as the runtime reads them back.
    const std::string line = commandLineOf({kEdge86, "--user-data-dir=" + profile, "--app=x"});
    EXPECT_EQ(line, "\"" + kEdge86 + "\" \"--user-data-dir=" + profile + "\" --app=x");
}

TEST(CommandLineWords, EachWordReadsBackWhole) {
    struct Case {
        std::string word, written;
    };
    const Case cases[] = {
        {"plain", "plain"},
        {"", "\"\""},
        {"two words", "\"two words\""},
        {"tab\there", "\"tab\there\""},
        {R"(say "hi")", R"("say \"hi\"")"},
        {R"(C:\folder with blank\)", R"("C:\folder with blank\\")"},
        {R"(a\\"b)", R"("a\\\\\"b")"},
        {R"(C:\no\blank\)", R"(C:\no\blank\)"},
    };
    for (const Case& c : cases) {
        std::string line;
        appendCommandLineWord(line, c.word);
        EXPECT_EQ(line, c.written) << c.word;
    }
}

} // namespace
