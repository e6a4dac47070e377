// What real dashboards do to a wall, one monitor each, on a signed-in wall
// with Debian's Chromium: pages that raise JavaScript dialogs, print, start
// a download, ask for a user name and password, sit behind a self-signed
// certificate, answer 503 once on a server without HEAD, go to another site,
// turn black and still, or close their window; beside them a page that
// draws and never changes, which must be left alone. The pages come from a
// scripted server on a free loopback port (and openssl's s_server for the
// certificate). The end-to-end suite and the benchmark share this wall: the
// suite on short rules until every row holds, the benchmark for 90 s with
// the wall's own periods; both print the same table.
#pragma once

#include "LoginDesk.h"
#include "ScriptedServer.h"

#include <json/json.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace cases {

using namespace std::chrono_literals;

constexpr uint32_t kAnyColour = 0xffffffffu; // the row does not check the monitor

// One row: a page at /<name> and what the wall must make of it.
struct PageCase {
    std::string name;
    std::string does; // what the page does, for the table
    // The states (state or state:reason, as --status --json gives them) the
    // page may be in once the wall has dealt with it.
    std::set<std::string> states;
    std::string reload;            // the one reason it is loaded again for, or none
    unsigned fewest = 0, most = 0; // reloads for that reason (most 0: unbounded)
    uint32_t colour = kAnyColour;  // the page's own drawing the monitor shows then
    // A reason the page may be loaded again for once beside its own: now
    // and then the watch sees a load's certificate error first as
    // Chromium's error page (retrying, without the reason the next loads
    // name).
    std::string firstLoad{};
};

// Every row a wall with Chromium has; the no-browser row is a wall of its
// own (Chromium is the whole wall's).
inline std::vector<PageCase> chromiumCases() {
    return {
        {"bystander", "draws a box and never changes", {"live"}, "", 0, 0, 0x224488},
        {"alert", "alert() 1.5 s after its load", {"live:dialog"}, "", 0, 0, 0x2e8b57},
        {"confirm", "confirm(); red when OK is pressed", {"live:dialog"}, "", 0, 0, 0x1e90ff},
        {"prompt", "prompt(); red unless cancelled", {"live:dialog"}, "", 0, 0, 0xdaa520},
        {"beforeunload",
         "asks 'leave?' and goes on after a click",
         {"live:dialog"},
         "",
         0,
         0,
         0x8a2be2},
        {"print", "window.print() 1.5 s after its load", {"live:print"}, "", 0, 0, 0x20b2aa},
        {"download",
         "its address is an attachment (report.bin)",
         {"retrying:download", "loading"},
         "download",
         2},
        {"auth",
         "401 with WWW-Authenticate: Basic",
         {"sign-in:auth", "loading"},
         "auth",
         1,
         0,
         0xcd853f},
        {"https",
         "self-signed certificate",
         {"retrying:certificate", "loading"},
         "certificate",
         2,
         0,
         kAnyColour,
         "retrying"},
        {"head501", "HEAD 501 always, GET 503 once then 200", {"live"}, "retrying", 1, 1, 0x3cb371},
        {"wander",
         "goes to another site after its first load",
         {"live"},
         "wandered",
         1,
         1,
         0x4682b4},
        {"still", "black, nothing drawn", {"live", "still", "loading"}, "still", 1, 0, 0x000000},
        // A window of the shared browser is closed and made again (closed
        // once); a page's own Chromium refuses the script (its app window
        // has more than the page in its history) and the page stays.
        {"close", "window.close() after its first load", {"live"}, "closed", 0, 1, 0x6b8e23},
    };
}

// A page of the given background with a white box in its corner (so that
// its picture is not one colour) and a script.
inline std::string page(const std::string& colour, const std::string& script, bool box = true,
                        const std::string& status = "200 OK", const std::string& extra = "") {
    const std::string html =
        "<html><body style=\"margin:0;height:100vh;background:" + colour + "\">" +
        (box ? "<div style=\"width:40px;height:30px;background:#fff\"></div>" : "") + "<script>" +
        script + "</script></body></html>";
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/html\r\nConnection: close\r\n" + extra +
           "Content-Length: " + std::to_string(html.size()) + "\r\n\r\n" + html;
}

inline std::string pathOf(const std::string& request) {
    const size_t from = request.find(' ') + 1;
    const std::string target = request.substr(from, request.find(' ', from) - from);
    return target.substr(0, target.find('?'));
}

inline std::string hex(uint32_t colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%06x", colour & 0xffffff);
    return text;
}

// What the wall says of one monitor, and what it shows there.
struct Seen {
    std::string state; // state[:reason]
    std::map<std::string, unsigned> reloads;
    unsigned restarts = 0;
    unsigned pid = 0;
    uint32_t colour = 0;
    std::string detail;
    int left = 0, top = 0; // of the page's rectangle
};

// The case wall: LoginDesk's Panoview with one monitor per row, each page
// from the scripted server, signed in by the test.
class CaseWall : public LoginDesk {
public:
    // shortRules: BROVIA_TEST_SHORT_RULES (empty: the wall's own periods).
    CaseWall(std::vector<PageCase> rows, bool shared, std::string shortRules,
             std::string chromium = "")
        : LoginDesk(wallOptions(rows.size()), int(rows.size()), true), rows_(std::move(rows)),
          shared_(shared), shortRules_(std::move(shortRules)), chromium_(std::move(chromium)),
          elsewhere_(page("#ff8c00", "")),
          server_([this](const std::string& request, size_t) { return answer(request); }) {
        for (const char* folder : {"state", "home"})
            std::filesystem::create_directory(dir.path() / folder);
        startHttps();
        std::string entries;
        for (size_t i = 0; i < rows_.size(); ++i) {
            const std::string url =
                rows_[i].name == "https" && httpsPort_
                    ? "https://127.0.0.1:" + std::to_string(httpsPort_) + "/https"
                    : server_.url("/" + rows_[i].name);
            entries += std::string(i ? ", " : "") + R"({"pri": ")" + (i ? "false" : "true") +
                       R"(", "url": ")" + url + "?token=%s&flag=multiscreen\"}";
        }
        dir.write("bin/Panoview.config", R"({"userid": "admin", "address": ")" + address +
                                             R"(", "factoryid": "F001", "web": ")" + address +
                                             R"(", "srurl": [)" + entries + "]}");
    }
    ~CaseWall() {
        if (https_)
            https_->signal(SIGTERM);
    }

    const std::vector<PageCase>& rows() const { return rows_; }
    bool httpsServed() const { return httpsPort_ != 0; }

    std::vector<std::string> env() const {
        std::vector<std::string> e = environment();
        e.push_back("XDG_STATE_HOME=" + dir.file("state"));
        e.push_back("HOME=" + dir.file("home"));
        e.push_back(std::string("BROVIA_SHARED=") + (shared_ ? "1" : "0"));
        e.push_back("BROVIA_TEST_SHORT_RULES=" + shortRules_);
        e.push_back("BROVIA_CHROMIUM=" + chromium_);
        return e;
    }
    std::unique_ptr<e2e::Child> start() {
        return std::make_unique<e2e::Child>(std::vector<std::string>{dir.file("bin/panoview")},
                                            env(), dir.file("panoview"));
    }
    // Signs in through the login dialog as the operator does; false when
    // the dialog never came.
    bool signIn() {
        const std::string login = waitForLoginWindow();
        if (login.empty())
            return false;
        typePassword(login, "123456");
        pressEnter();
        return true;
    }

    // `panoview --status --json`; null when it did not answer.
    Json::Value status() {
        e2e::Child ask({dir.file("bin/panoview"), "--status", "--json"}, env(), dir.file("ask"));
        Json::Value doc;
        if (ask.wait(30s) != 0)
            return doc;
        Json::CharReaderBuilder reader;
        std::string errors;
        std::istringstream in(ask.stdoutText());
        if (!Json::parseFromStream(reader, in, &doc, &errors))
            doc = Json::Value();
        return doc;
    }

    // One look at the wall: each row's state, reloads and colour. The
    // bystander must stay live from its first live on, and no page browser
    // may be started again: what broke either is kept for the table.
    std::vector<Seen> look() {
        const Json::Value doc = status();
        std::vector<Seen> seen(rows_.size());
        for (const Json::Value& m : doc["monitors"]) {
            const size_t i = m["entry"].asUInt();
            if (i >= seen.size())
                continue;
            Seen& s = seen[i];
            s.state = m["state"].asString() +
                      (m["reason"].asString().empty() ? "" : ":" + m["reason"].asString());
            for (const std::string& reason : m["reloads"].getMemberNames())
                if (m["reloads"][reason].asUInt())
                    s.reloads[reason] = m["reloads"][reason].asUInt();
            s.restarts = m["restarts"].asUInt();
            s.pid = m["pid"].asUInt();
            s.detail = m["detail"].asString();
            const Json::Value& r = m["rect"];
            s.left = m["pageRect"]["left"].asInt();
            s.top = m["pageRect"]["top"].asInt();
            s.colour = probe.colourAt(r["left"].asInt() + r["width"].asInt() / 2,
                                      r["top"].asInt() + r["height"].asInt() / 2);
        }
        for (size_t i = 0; i < seen.size(); ++i) {
            if (pids_.size() == seen.size() && pids_[i] && seen[i].pid != pids_[i])
                broken_.insert(rows_[i].name + " started again");
            if (rows_[i].name == "bystander") {
                if (seen[i].state == "live")
                    bystanderLive_ = true;
                else if (bystanderLive_)
                    broken_.insert("the bystander was " + seen[i].state + ": " + seen[i].detail);
            }
        }
        if (pids_.empty())
            for (const Seen& s : seen)
                pids_.push_back(s.pid);
        else
            for (size_t i = 0; i < seen.size(); ++i)
                pids_[i] = pids_[i] ? pids_[i] : seen[i].pid;
        clickForBeforeUnload(seen);
        return seen;
    }
    // What broke the other pages' run while the cases ran; empty when the
    // bystander stayed live from its first live on and no browser restarted.
    std::set<std::string> others() const { return broken_; }

    // Whether the row holds what the issue asks of it in this look.
    static bool holds(const PageCase& row, const Seen& s) {
        if (!row.states.count(s.state))
            return false;
        if (row.colour != kAnyColour && (s.colour & 0xffffff) != row.colour)
            return false;
        for (const auto& [reason, count] : s.reloads)
            if (reason != row.reload && !(reason == row.firstLoad && count == 1))
                return false;
        const auto it = s.reloads.find(row.reload);
        const unsigned n = it == s.reloads.end() ? 0 : it->second;
        return row.reload.empty() || (n >= row.fewest && (row.most == 0 || n <= row.most));
    }

    // The browser's requests for a row's page (Brovia's own address probes
    // not counted).
    unsigned loadsOf(const std::string& name) {
        std::lock_guard<std::mutex> lock(m_);
        return loads_[name];
    }
    // What the server was asked, by "METHOD path" (probes "probe GET ...").
    std::map<std::string, unsigned> asked() {
        std::lock_guard<std::mutex> lock(m_);
        return asked_;
    }

    // The table: one line per row.
    std::string table(const std::vector<Seen>& seen, const std::string& title) const {
        std::string out = title + "\n";
        char line[512];
        std::snprintf(line, sizeof line, "%-13s %-40s %-9s %-22s %-24s %s\n", "case", "the page",
                      "monitor", "--status --json", "reloads", "holds");
        out += line;
        for (size_t i = 0; i < rows_.size() && i < seen.size(); ++i) {
            std::string reloads;
            for (const auto& [reason, count] : seen[i].reloads)
                reloads += (reloads.empty() ? "" : ",") + reason + "=" + std::to_string(count);
            if (seen[i].restarts)
                reloads += " restarts=" + std::to_string(seen[i].restarts);
            std::snprintf(line, sizeof line, "%-13s %-40s %-9s %-22s %-24s %s\n",
                          rows_[i].name.c_str(), rows_[i].does.c_str(), hex(seen[i].colour).c_str(),
                          seen[i].state.c_str(), reloads.empty() ? "-" : reloads.c_str(),
                          holds(rows_[i], seen[i]) ? "yes" : "NO");
            out += line;
        }
        out += "the other pages: ";
        if (broken_.empty())
            out += "the bystander live throughout, no page browser started again\n";
        for (const std::string& b : broken_)
            out += b + "; ";
        if (!broken_.empty())
            out += "\n";
        return out;
    }

    // The page's log (Brovia's lines and its Chromium's), for a row that
    // does not hold.
    std::string logOf(const Seen& s) const {
        return e2e::readFile(dir.file("state") + "/panoview/brovia-" + std::to_string(s.left) +
                             "," + std::to_string(s.top) + ".log");
    }

    // Files the wall wrote in the operator's home (Downloads above all).
    std::vector<std::string> filesInHome() const {
        std::vector<std::string> found;
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(dir.file("home"), ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
            if (it->path().filename() == "report.bin" ||
                it->path().string().find("/Downloads/") != std::string::npos)
                found.push_back(it->path().string());
        return found;
    }

private:
    // Small monitors side by side (a window of the shared browser is not
    // made much smaller than 480x360); the first, primary one (the
    // bystander's) holds the login dialog, which is 485 pixels high.
    static std::string wallOptions(size_t monitors) {
        std::string list = "480x540";
        for (size_t i = 1; i < monitors; ++i)
            list += ",480x360";
        return "--monitors " + list + " --primary 0";
    }

    // The self-signed server: openssl's s_server on a free port with a
    // certificate made now. Without openssl the row has no server.
    void startHttps() {
        if (access("/usr/bin/openssl", X_OK) != 0)
            return;
        const std::string key = dir.file("tls.key"), cert = dir.file("tls.crt");
        e2e::capture("/usr/bin/openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "
                     "/CN=127.0.0.1 -keyout " +
                     key + " -out " + cert + " 2>/dev/null");
        https_ = std::make_unique<e2e::Child>(
            std::vector<std::string>{"/usr/bin/openssl", "s_server", "-accept", "127.0.0.1:0",
                                     "-cert", cert, "-key", key, "-www"},
            std::vector<std::string>{}, dir.file("https"));
        e2e::waitFor([&] { return https_->stdoutText().find("ACCEPT") != std::string::npos; });
        const std::string out = https_->stdoutText();
        const size_t colon = out.find(':', out.find("ACCEPT"));
        if (colon != std::string::npos)
            httpsPort_ = std::atoi(out.c_str() + colon + 1);
    }

    ScriptedServer::Script answer(const std::string& request) {
        using Step = ScriptedServer::Step;
        const std::string method = request.substr(0, request.find(' '));
        const std::string path = pathOf(request);
        const bool probe = ScriptedServer::headerValue(request, "User-Agent") == "Brovia";
        unsigned load = 0;
        {
            std::lock_guard<std::mutex> lock(m_);
            ++asked_[(probe ? "probe " : "") + method + " " + path];
            if (!probe && method == "GET")
                load = ++loads_[path.substr(1)];
        }
        const auto send = [](std::string bytes) {
            return ScriptedServer::Script{Step::send(bytes)};
        };
        if (path == "/head501" && method == "HEAD")
            return send("HTTP/1.1 501 Not Implemented\r\nContent-Length: 0\r\n"
                        "Connection: close\r\n\r\n");
        if (path == "/head501")
            return send(load == 1 ? page("#550000", "", true, "503 Service Unavailable")
                                  : page("#3cb371", ""));
        if (path == "/bystander")
            return send(page("#224488", ""));
        if (path == "/alert")
            return send(page("#777777", "setTimeout(() => { alert('shift change');"
                                        " document.body.style.background = '#2e8b57'; }, 1500);"));
        if (path == "/confirm")
            return send(page("#777777", "setTimeout(() => { document.body.style.background ="
                                        " confirm('restart line 3?') ? '#ff0000' : '#1e90ff';"
                                        " }, 1500);"));
        if (path == "/prompt")
            return send(page("#777777", "setTimeout(() => { document.body.style.background ="
                                        " prompt('operator?', 'x') === null ? '#daa520' :"
                                        " '#ff0000'; }, 1500);"));
        if (path == "/beforeunload")
            return send(page("#777777",
                             "addEventListener('beforeunload', e => { e.preventDefault();"
                             " e.returnValue = 'unsaved'; });"
                             " addEventListener('click', () => setTimeout(() =>"
                             " location.href = '/beforeunload-left', 300));"));
        if (path == "/beforeunload-left")
            return send(page("#8a2be2", ""));
        if (path == "/print")
            return send(page("#777777", "setTimeout(() => { window.print();"
                                        " document.body.style.background = '#20b2aa'; }, 1500);"));
        if (path == "/download")
            return send("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                        "Content-Disposition: attachment; filename=\"report.bin\"\r\n"
                        "Content-Length: 6\r\nConnection: close\r\n\r\nreport");
        if (path == "/auth")
            return send(page("#cd853f", "", true, "401 Unauthorized",
                             "WWW-Authenticate: Basic realm=\"factory\"\r\n"));
        if (path == "/wander")
            return send(page("#4682b4", load == 1 ? "setTimeout(() => location.href = '" +
                                                        elsewhere_.url("/elsewhere") + "', 1500);"
                                                  : ""));
        if (path == "/still")
            return send(page("#000000", "", false));
        if (path == "/close")
            return send(
                page("#6b8e23", load == 1 ? "setTimeout(() => window.close(), 1500);" : ""));
        return send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    }

    // A page may ask "leave this page?" only once someone has used it: the
    // beforeunload page is clicked once it is live, until it has gone on.
    void clickForBeforeUnload(const std::vector<Seen>& seen) {
        for (size_t i = 0; i < rows_.size(); ++i)
            if (rows_[i].name == "beforeunload" && seen[i].state.rfind("live", 0) == 0 &&
                loadsOf("beforeunload-left") == 0) {
                const Json::Value doc = status();
                for (const Json::Value& m : doc["monitors"])
                    if (m["entry"].asUInt() == i)
                        wall.run("xdotool mousemove " +
                                 std::to_string(m["rect"]["left"].asInt() + 100) + " " +
                                 std::to_string(m["rect"]["top"].asInt() + 100) + " click 1");
            }
    }

    std::vector<PageCase> rows_;
    bool shared_;
    std::string shortRules_, chromium_;
    ScriptedServer elsewhere_; // another site: another port is another origin
    std::mutex m_;
    std::map<std::string, unsigned> loads_, asked_;
    ScriptedServer server_;
    std::unique_ptr<e2e::Child> https_;
    int httpsPort_ = 0;
    std::vector<unsigned> pids_;
    bool bystanderLive_ = false;
    std::set<std::string> broken_;
};

} // namespace cases
