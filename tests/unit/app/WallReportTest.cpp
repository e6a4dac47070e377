// What the running copy tells about the wall: the status document (text and
// JSON) and the metrics text from a scripted wall, a token that never shows,
// the monitors a reload names and the words it refuses, the answers'
// statuses, where the metrics file
// goes and what a failing folder costs.
#include "app/WallReport.h"
#include "DebugCapture.h"

#include "MetricsText.h"
#include "ServiceText.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <json/json.h>
#include <sstream>

namespace {

const char* kToken = "TOK-5f3a9c";

// Two monitors and an entry without one: live, crashed and reloaded, off.
WallSnapshot scriptedWall() {
    WallSnapshot s;
    s.nowMs = 1765231200000; // 2025-12-08T22:00:00Z
    s.signedIn = true;
    s.account = "admin";
    s.userName = "王厂长";
    s.service = "http://127.0.0.1:8088";
    s.keepAlive.record(true, 1765231190000);
    MonitorStatus left;
    left.entry = 0;
    left.name = "WALL0";
    left.monitor = {0, 0, 1024, 768};
    left.work = {0, 0, 1024, 736};
    left.address = "http://site/KnitUI/W_Factory.html?token=***&flag=multiscreen";
    left.pid = 4100;
    left.state = "live";
    left.count = 2;
    left.sinceMs = 1765231195000;
    left.restarts = 3;
    left.reloads = {{"crashed", 1}};
    left.lastLiveMs = 1765231200000;
    MonitorStatus right = left;
    right.entry = 1;
    right.name = "WALL\"1\"";
    right.monitor = {1024, 0, 2048, 768};
    right.pid = 4101;
    right.state = "crashed";
    right.count = 1;
    right.detail = std::string("landed on http://sso/login?token=") + kToken;
    right.restarts = 0;
    right.reloads = {{"crashed", 1}, {"hung", 2}, {"command", 1}};
    right.lastLiveMs = 0;
    MonitorStatus off;
    off.entry = 2;
    off.state = "off";
    off.address = "http://site/x?t=***";
    s.monitors = {left, right, off};
    s.service += std::string("/?t=") + kToken; // as if an address had carried it
    hideToken(s, kToken);
    return s;
}

TEST(WallStatus, JsonListsEveryEntryWithItsStateAndNoToken) {
    const std::string text = statusJson(scriptedWall());
    EXPECT_EQ(text.find(kToken), std::string::npos) << text;
    Json::Value doc;
    Json::CharReaderBuilder reader;
    std::string errors;
    std::istringstream in(text);
    ASSERT_TRUE(Json::parseFromStream(reader, in, &doc, &errors)) << errors;
    EXPECT_TRUE(doc["signedIn"].asBool());
    // UTF-8 in the document, whatever the program's narrow text is (GBK on
    // Windows).
    EXPECT_EQ(doc["user"].asString(), serviceText(u8"王厂长"));
    EXPECT_EQ(doc["keepAlive"]["ok"], true);
    EXPECT_EQ(doc["keepAlive"]["at"].asString(), "2025-12-08T21:59:50Z");
    ASSERT_EQ(doc["monitors"].size(), 3u);
    struct Row {
        const char* name;
        const char* state;
        int width;
        unsigned pid;
        const char* since;
        unsigned hung;
    };
    const Row rows[] = {{"WALL0", "live", 1024, 4100, "2025-12-08T21:59:55Z", 0},
                        {"WALL\"1\"", "crashed", 1024, 4101, "2025-12-08T21:59:55Z", 2},
                        {"", "off", 0, 0, "", 0}};
    for (unsigned i = 0; i < 3; ++i) {
        const Json::Value& m = doc["monitors"][i];
        SCOPED_TRACE(i);
        EXPECT_EQ(m["entry"].asUInt(), i);
        EXPECT_EQ(m["name"].asString(), rows[i].name);
        EXPECT_EQ(m["state"].asString(), rows[i].state);
        EXPECT_EQ(m["rect"]["width"].asInt(), rows[i].width);
        EXPECT_EQ(m["pid"].asUInt(), rows[i].pid);
        EXPECT_EQ(m["since"].isNull() ? "" : m["since"].asString(), rows[i].since);
        EXPECT_EQ(m["reloads"]["hung"].asUInt(), rows[i].hung);
    }
    EXPECT_EQ(doc["monitors"][0]["pageRect"]["height"].asInt(), 736);
    EXPECT_EQ(doc["monitors"][1]["detail"].asString(), "landed on http://sso/login?token=***");
}

TEST(WallStatus, TextIsOneLineForTheSessionAndOneForEachEntry) {
    const std::string text = statusText(scriptedWall());
    EXPECT_EQ(text.find(kToken), std::string::npos) << text;
    std::vector<std::string> lines;
    for (size_t at = 0, end; at <= text.size(); at = end + 1) {
        end = std::min(text.find('\n', at), text.size());
        lines.push_back(text.substr(at, end - at));
    }
    ASSERT_EQ(lines.size(), 4u) << text;
    EXPECT_EQ(lines[0].rfind("signed in as 王厂长 (admin) at http://127.0.0.1:8088", 0), 0u);
    EXPECT_NE(lines[0].find("keep-alive ok at 2025-12-08T21:59:50Z (10 s ago)"), std::string::npos);
    EXPECT_EQ(lines[1], "entry 0 WALL0 1024x768+0+0 live 2 since 2025-12-08T21:59:55Z (5 s) pid "
                        "4100 restarts 3 http://site/KnitUI/W_Factory.html?token=***&flag="
                        "multiscreen");
    EXPECT_NE(lines[2].find("crashed 1"), std::string::npos);
    EXPECT_NE(lines[3].find("entry 2 - 0x0+0+0 off no browser"), std::string::npos);
}

TEST(WallMetrics, EverySeriesOfEveryMonitorAndNoToken) {
    const std::string text = metricsText(scriptedWall());
    EXPECT_EQ(text.find(kToken), std::string::npos) << text;
    EXPECT_EQ(text.find("***"), std::string::npos) << "no address in the metrics";
    struct Case {
        const char* series;
        const char* value;
    };
    const Case cases[] = {
        {"panoview_signed_in", "1"},
        {"panoview_keepalive_ok", "1"},
        {"panoview_keepalive_last_success_timestamp_seconds", "1765231190.000"},
        {"panoview_page_live{monitor=\"WALL0\"}", "1"},
        {"panoview_page_live{monitor=\"WALL\\\"1\\\"\"}", "0"},
        {"panoview_page_state{monitor=\"WALL0\",state=\"live\"}", "1"},
        {"panoview_page_state{monitor=\"WALL0\",state=\"crashed\"}", "0"},
        {"panoview_page_state{monitor=\"WALL\\\"1\\\"\",state=\"crashed\"}", "1"},
        {"panoview_page_restarts_total{monitor=\"WALL0\"}", "3"},
        {"panoview_page_reloads_total{monitor=\"WALL0\",reason=\"crashed\"}", "1"},
        {"panoview_page_reloads_total{monitor=\"WALL0\",reason=\"hung\"}", "0"},
        {"panoview_page_reloads_total{monitor=\"WALL\\\"1\\\"\",reason=\"hung\"}", "2"},
        {"panoview_page_reloads_total{monitor=\"WALL\\\"1\\\"\",reason=\"command\"}", "1"},
        {"panoview_page_last_live_timestamp_seconds{monitor=\"WALL0\"}", "1765231200.000"},
        {"panoview_page_last_live_timestamp_seconds{monitor=\"WALL\\\"1\\\"\"}", "0.000"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(metricSeries(text, c.series), c.value) << c.series << "\n" << text;
    // One state at a time per monitor; the entry without a monitor has none.
    size_t ones = 0;
    for (size_t at = 0; (at = text.find(",state=\"", at)) != std::string::npos; ++at)
        ones += text.compare(text.find("} ", at) + 2, 1, "1") == 0;
    EXPECT_EQ(ones, 2u);
    EXPECT_EQ(text.find("monitor=\"\""), std::string::npos);
    EXPECT_NE(text.find("# TYPE panoview_page_restarts_total counter\n"), std::string::npos);
}

// A page that is not itself (away on another site, refused for its
// certificate, closed, one colour) shows its state and reason, when it is
// loaded next, and the reason among the reloads, in all three documents.
TEST(WallStatus, APageThatIsNotItselfSaysWhatItIsInEveryDocument) {
    struct Case {
        const char* state;
        const char* reason;
        int64_t nextMs;
        const char* textState;
        const char* reloadReason;
    } cases[] = {
        {"retrying", "certificate", 1765231260000, "retrying:certificate 1", "certificate"},
        {"retrying", "download", 1765231260000, "retrying:download 1", "download"},
        {"sign-in", "auth", 1765231260000, "sign-in:auth 1", "auth"},
        {"wandered", "", 1765231260000, "wandered 1", "wandered"},
        {"closed", "", 0, "closed 1", "closed"},
        {"still", "", 0, "still 1", "still"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.textState);
        WallSnapshot s = scriptedWall();
        MonitorStatus& m = s.monitors[0];
        m.state = c.state;
        m.reason = c.reason;
        m.count = 1;
        m.nextAttemptMs = c.nextMs;
        m.reloads = {{c.reloadReason, 1}};
        const std::string text = statusText(s);
        const std::string line = text.substr(text.find("entry 0 "));
        EXPECT_EQ(line.rfind(std::string("entry 0 WALL0 1024x768+0+0 ") + c.textState, 0), 0u)
            << line;
        EXPECT_EQ(line.find(", next attempt 2025-12-08T22:01:00Z") != std::string::npos,
                  c.nextMs != 0)
            << line;

        Json::Value doc;
        Json::CharReaderBuilder reader;
        std::istringstream in(statusJson(s));
        std::string errors;
        ASSERT_TRUE(Json::parseFromStream(reader, in, &doc, &errors)) << errors;
        EXPECT_EQ(doc["monitors"][0]["state"].asString(), c.state);
        EXPECT_EQ(doc["monitors"][0]["reason"].asString(), c.reason);
        EXPECT_EQ(doc["monitors"][0]["reloads"][c.reloadReason].asUInt(), 1u);
        EXPECT_EQ(doc["monitors"][0]["reloads"]["crashed"].asUInt(), 0u);

        const std::string metrics = metricsText(s);
        const std::string monitor = "{monitor=\"WALL0\"";
        EXPECT_EQ(metricSeries(metrics, "panoview_page_live" + monitor + "}"), "0");
        EXPECT_EQ(
            metricSeries(metrics, "panoview_page_state" + monitor + ",state=\"" + c.state + "\"}"),
            "1");
        EXPECT_EQ(metricSeries(metrics, "panoview_page_reloads_total" + monitor + ",reason=\"" +
                                            c.reloadReason + "\"}"),
                  "1");
        EXPECT_EQ(
            metricSeries(metrics, "panoview_page_reloads_total" + monitor + ",reason=\"crashed\"}"),
            "0");
    }
}

TEST(WallMetrics, SignedOutBeforeAnyKeepAlive) {
    WallSnapshot s;
    const std::string text = metricsText(s);
    EXPECT_EQ(metricSeries(text, "panoview_signed_in"), "0");
    EXPECT_EQ(metricSeries(text, "panoview_keepalive_ok"), "0");
    EXPECT_EQ(metricSeries(text, "panoview_keepalive_last_success_timestamp_seconds"), "0.000");
}

TEST(WallReload, TheEntriesARequestNames) {
    const auto monitors = scriptedWall().monitors;
    struct Case {
        const char* which;
        bool found;
        std::vector<size_t> entries;
    };
    const Case cases[] = {
        {"", true, {0, 1}},
        {"WALL0", true, {0}},
        {"1", true, {1}},
        {"2", false, {}} /* off */,
        {"WALL9", false, {}},
        {"1 WALL0", true, {0, 1}},
        {"WALL0\t0  WALL0", true, {0}},
        {" \t ", true, {0, 1}},
        {"WALL0 WALL9", false, {}},
    };
    for (const Case& c : cases) {
        std::vector<size_t> entries;
        std::string why;
        EXPECT_EQ(entriesNamed(monitors, c.which, entries, why), c.found) << c.which;
        EXPECT_EQ(entries, c.entries) << c.which;
        if (!c.found) {
            EXPECT_NE(why.find("WALL0"), std::string::npos) << "names the monitors: " << why;
        }
    }
}

// The words of a reload and their answers: an empty or blank argument is
// refused, several words reload each page once, and one unknown word
// refuses them all, quoted back so that nothing reaches a terminal raw.
TEST(RemoteAnswers, ReloadWords) {
    bool up = true;
    std::vector<size_t> reloaded;
    RemoteServices services;
    services.snapshot = [] { return scriptedWall(); };
    services.wallUp = [&] { return up; };
    services.reload = [&](size_t entry) { return reloaded.push_back(entry), true; };
    const std::string pages = "; the monitors with pages: WALL0, WALL\"1\"; nothing reloaded";
    const std::string blank =
        "the monitor name is empty or blank; nothing reloaded (--reload alone reloads every page)";
    struct Case {
        std::string request;
        bool up;
        int status;
        std::string text;
        std::vector<size_t> reloaded;
    };
    const Case cases[] = {
        {"reload", true, 0, "reloaded WALL0 WALL\"1\"", {0, 1}},
        {"reload ", true, 2, blank, {}},
        {"reload  \t ", true, 2, blank, {}},
        {"reload ", false, 2, blank, {}},
        {"reload WALL0", true, 0, "reloaded WALL0", {0}},
        {"reload 1", true, 0, "reloaded WALL\"1\"", {1}},
        {"reload WALL0 1", true, 0, "reloaded WALL0 WALL\"1\"", {0, 1}},
        {"reload 1\tWALL0", true, 0, "reloaded WALL0 WALL\"1\"", {0, 1}},
        {"reload  WALL0 WALL0 0 ", true, 0, "reloaded WALL0", {0}},
        {"reload WALL0 WALL9", true, 2, "no page on a monitor \"WALL9\"" + pages, {}},
        {"reload WALL9 2 WALL9 WALL0",
         true,
         2,
         "no page on the monitors \"WALL9\", \"2\"" + pages,
         {}},
        {"reload \x1b]0;owned\x07\x1b[2J",
         true,
         2,
         "no page on a monitor \"\\x1b]0;owned\\x07\\x1b[2J\"" + pages,
         {}},
        {"reload WALL0\r", true, 2, "no page on a monitor \"WALL0\\r\"" + pages, {}},
        {"reload a\"b\\c", true, 2, "no page on a monitor \"a\\\"b\\\\c\"" + pages, {}},
        {"reload \x7f\xc3\xa9", true, 2, "no page on a monitor \"\\x7f\\xc3\\xa9\"" + pages, {}},
        {"reload WALL0", false, 2, "not signed in: no page to reload", {}},
    };
    for (const Case& c : cases) {
        up = c.up;
        reloaded.clear();
        const RemoteAnswer answer = answerRequest(c.request, services);
        EXPECT_EQ(answer.status, c.status) << c.request;
        EXPECT_EQ(answer.text, c.text) << c.request;
        EXPECT_EQ(reloaded, c.reloaded) << c.request;
    }
    // A line feed never comes in a request line, but a word given to the
    // monitor lookup may hold one.
    std::vector<size_t> entries;
    std::string why;
    EXPECT_FALSE(entriesNamed(scriptedWall().monitors, "a\nb", entries, why));
    EXPECT_EQ(why.rfind("no page on a monitor \"a\\nb\";", 0), 0u) << why;
}

TEST(RemoteAnswers, StatusOfEachRequest) {
    bool up = true;
    std::vector<size_t> reloaded;
    std::vector<std::string> dialogs, images;
    RemoteServices services;
    services.snapshot = [] { return scriptedWall(); };
    services.wallUp = [&] { return up; };
    services.reload = [&](size_t entry) { return reloaded.push_back(entry), true; };
    services.desktopMonitors = [] {
        return std::vector<std::pair<std::string, Rect>>{{"WALL0", {0, 0, 10, 10}},
                                                         {"A/B", {10, 0, 20, 10}}};
    };
    services.saveImage = [&](const Rect&, const std::string& path, std::string&) {
        return images.push_back(path), true;
    };
    services.dialog = [&](const std::string& word) { dialogs.push_back(word); };
    struct Case {
        const char* request;
        bool up;
        int status;
        const char* text; // the start of the answer
    };
    const std::string shots = ::testing::TempDir() + "pv-shots";
    const Case cases[] = {
        {"status", true, 0, "signed in as"},
        {"status json", true, 0, "{"},
        {"status yaml", true, 2, "unknown status form"},
        {"reload WALL0", true, 0, "reloaded WALL0"},
        {"reload", true, 0, "reloaded WALL0 WALL\"1\""},
        {"reload WALL9", true, 2, "no page on a monitor \"WALL9\""},
        {"reload", false, 2, "not signed in"},
        {"login", true, 0, "the login dialog is shown"},
        {"reboot", true, 2, "unknown command: reboot"},
        {"screenshot relative", true, 2, "--screenshot needs a folder"},
    };
    for (const Case& c : cases) {
        up = c.up;
        const RemoteAnswer answer = answerRequest(c.request, services);
        EXPECT_EQ(answer.status, c.status) << c.request << ": " << answer.text;
        EXPECT_EQ(answer.text.rfind(c.text, 0), 0u) << c.request << ": " << answer.text;
        EXPECT_EQ(answer.text.find(kToken), std::string::npos);
    }
    EXPECT_EQ(reloaded, (std::vector<size_t>{0, 0, 1}));
    EXPECT_EQ(dialogs, std::vector<std::string>{"login"});
    const RemoteAnswer pictures = answerRequest("screenshot " + shots, services);
    EXPECT_EQ(pictures.status, 0);
    const std::string wall0 = (std::filesystem::path(shots) / "WALL0.png").string();
    const std::string ab = (std::filesystem::path(shots) / "A_B.png").string();
    EXPECT_EQ(images, (std::vector<std::string>{wall0, ab}));
    EXPECT_EQ(pictures.text, wall0 + "\n" + ab);
    services.saveImage = [](const Rect&, const std::string&, std::string& why) {
        return why = "no image", false;
    };
    EXPECT_EQ(answerRequest("screenshot " + shots, services).status, 2);
}

TEST(WallMetrics, WhereTheFileGoesAndOneLineForAFailingFolder) {
    const std::string exporter = kExporterTextfileFolder;
    EXPECT_EQ(metricsPath("/srv/m.prom", exporter, "/run/user/7"), "/srv/m.prom");
    EXPECT_EQ(metricsPath("", exporter, "/run/user/7"),
              "/var/lib/prometheus/node-exporter/panoview.prom");
    EXPECT_EQ(metricsPath(nullptr, "", "/run/user/7"), "/run/user/7/panoview.prom");
    EXPECT_EQ(metricsPath(nullptr, "", "/tmp/panoview-7"), "/tmp/panoview-7/panoview.prom");
    EXPECT_EQ(metricsPath(nullptr, "", ""), "") << "no folder of the user's: no file";
    // Windows: windows_exporter's folder, else the user's local folder.
    EXPECT_EQ(metricsPath(nullptr, R"(C:\Program Files\windows_exporter\textfile_inputs)",
                          R"(C:\Users\op\AppData\Local\Panoview)", "\\"),
              R"(C:\Program Files\windows_exporter\textfile_inputs\panoview.prom)");
    EXPECT_EQ(metricsPath(nullptr, "", R"(C:\Users\op\AppData\Local\Panoview)", "\\"),
              R"(C:\Users\op\AppData\Local\Panoview\panoview.prom)");

    std::vector<int> outcomes = {0, ENOSPC, ENOENT, ENOSPC, 0, 0, ENOENT};
    size_t next = 0;
    MetricsWriter writer("/x/panoview.prom", [&](const std::string&, const std::string&, int& e) {
        e = outcomes[next++];
        return e == 0;
    });
    DebugCapture capture;
    for (size_t i = 0; i < outcomes.size(); ++i)
        writer.write("panoview_signed_in 1\n");
    ASSERT_EQ(capture.writes().size(), 3u);
    EXPECT_NE(capture.writes()[0].find("cannot write the metrics file /x/panoview.prom"),
              std::string::npos);
    EXPECT_NE(capture.writes()[1].find("written again"), std::string::npos);
    EXPECT_NE(capture.writes()[2].find("cannot write"), std::string::npos);
}

} // namespace
