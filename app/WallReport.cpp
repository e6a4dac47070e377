#include "app/WallReport.h"

#include "common/DebugPrint.h"
#include "platform/NarrowText.h"

#include <json/json.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>

#include <cinttypes>
#include <cstdio>

namespace {

// Every state a page can be in, as the metrics list them: what a page
// browser reports, then the wall's own.
std::vector<std::string_view> pageStates() {
    std::vector<std::string_view> states(std::begin(kPageStateNames), std::end(kPageStateNames));
    for (std::string_view own : {"starting", "restarting", "off"})
        states.push_back(own);
    return states;
}

void replaceAll(std::string& text, const std::string& what, const std::string& with) {
    if (what.empty())
        return;
    for (size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

// UTC in ISO 8601 ("2026-12-08T22:13:26Z"); empty for 0 (never). The
// calendar of std::chrono needs no C library's time conversion.
std::string isoTime(int64_t ms) {
    if (ms <= 0)
        return {};
    namespace chrono = std::chrono;
    const chrono::sys_seconds moment{chrono::seconds(ms / 1000)};
    const chrono::sys_days day = chrono::floor<chrono::days>(moment);
    const chrono::year_month_day date(day);
    const chrono::hh_mm_ss time(moment - day);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(time.hours().count()),
                  int(time.minutes().count()), int(time.seconds().count()));
    return text;
}

// "12 s ago" style age of a moment, for the text lines.
std::string age(int64_t nowMs, int64_t thenMs) {
    const int64_t s = (nowMs - thenMs) / 1000;
    return std::to_string(s < 0 ? 0 : s) + " s";
}

std::string seconds(int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%" PRId64 ".%03d", ms / 1000, static_cast<int>(ms % 1000));
    return text;
}

Json::Value rectJson(const Rect& r) {
    Json::Value v(Json::objectValue);
    v["left"] = r.left;
    v["top"] = r.top;
    v["width"] = r.width();
    v["height"] = r.height();
    return v;
}

Json::Value timeJson(int64_t ms) {
    return ms > 0 ? Json::Value(isoTime(ms)) : Json::Value(Json::nullValue);
}

std::string rectText(const Rect& r) {
    return std::to_string(r.width()) + "x" + std::to_string(r.height()) + "+" +
           std::to_string(r.left) + "+" + std::to_string(r.top);
}

// A label value of the text format, which is UTF-8: backslash, quote and
// line feed escaped.
std::string labelValue(const std::string& narrow) {
    std::string out;
    for (char c : platform::utf8FromNarrow(narrow)) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

} // namespace

void hideToken(WallSnapshot& snapshot, const std::string& token) {
    const std::string mask = "***";
    for (std::string* text : {&snapshot.account, &snapshot.userName, &snapshot.service})
        replaceAll(*text, token, mask);
    for (MonitorStatus& m : snapshot.monitors)
        for (std::string* text : {&m.name, &m.address, &m.detail})
            replaceAll(*text, token, mask);
}

std::string statusText(const WallSnapshot& s) {
    std::string text;
    if (s.signedIn)
        text = "signed in as " + s.userName + " (" + s.account + ") at " + s.service;
    else
        text = "signed out (account " + s.account + ", service " + s.service + ")";
    if (s.keepAlive.lastMs == 0)
        text += "; no keep-alive yet";
    else
        text += std::string("; keep-alive ") + (s.keepAlive.lastOk ? "ok" : "failed") + " at " +
                isoTime(s.keepAlive.lastMs) + " (" + age(s.nowMs, s.keepAlive.lastMs) + " ago)";
    text += "\n";
    for (const MonitorStatus& m : s.monitors) {
        text += "entry " + std::to_string(m.entry) + " " + (m.name.empty() ? "-" : m.name) + " " +
                rectText(m.monitor) + " " + m.state + (m.reason.empty() ? "" : ":" + m.reason);
        if (m.count > 0)
            text += " " + std::to_string(m.count);
        if (m.sinceMs > 0)
            text += " since " + isoTime(m.sinceMs) + " (" + age(s.nowMs, m.sinceMs) + ")";
        if (m.nextAttemptMs > 0)
            text += ", next attempt " + isoTime(m.nextAttemptMs);
        text += m.pid ? " pid " + std::to_string(m.pid) : std::string(" no browser");
        text += " restarts " + std::to_string(m.restarts) + " " + m.address;
        if (!m.detail.empty())
            text += " (" + m.detail + ")";
        text += "\n";
    }
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

WallSnapshot wallSnapshot(const SystemConfig& config, const KeepAliveRecord& keepAlive,
                          std::vector<MonitorStatus> monitors, int64_t nowMs) {
    WallSnapshot s;
    s.nowMs = nowMs;
    s.signedIn = config.signedIn;
    s.account = config.userId;
    s.userName = config.userName;
    s.service = config.serviceAddress;
    s.keepAlive = keepAlive;
    s.monitors = std::move(monitors);
    hideToken(s, config.token);
    hideToken(s, config.password);
    return s;
}

std::vector<std::pair<std::string, Rect>> desktopMonitorsOf(const SystemConfig& config) {
    std::vector<std::pair<std::string, Rect>> monitors;
    if (config.primaryMonitor.rcMonitor.width() > 0)
        monitors.emplace_back(config.primaryMonitor.szDevice, config.primaryMonitor.rcMonitor);
    for (const MonitorInfo& m : config.extendedMonitors)
        monitors.emplace_back(m.szDevice, m.rcMonitor);
    return monitors;
}

std::string statusJson(const WallSnapshot& s) {
    // JSON is UTF-8: the program's narrow texts (GBK on a Chinese Windows
    // system) are turned into it.
    const auto text = [](const std::string& narrow) { return platform::utf8FromNarrow(narrow); };
    Json::Value doc(Json::objectValue);
    doc["signedIn"] = s.signedIn;
    doc["account"] = text(s.account);
    doc["user"] = text(s.userName);
    doc["service"] = text(s.service);
    doc["time"] = timeJson(s.nowMs);
    Json::Value keepAlive(Json::objectValue);
    keepAlive["ok"] =
        s.keepAlive.lastMs == 0 ? Json::Value(Json::nullValue) : Json::Value(s.keepAlive.lastOk);
    keepAlive["at"] = timeJson(s.keepAlive.lastMs);
    keepAlive["atMs"] = Json::Int64(s.keepAlive.lastMs);
    keepAlive["lastSuccess"] = timeJson(s.keepAlive.lastOkMs);
    doc["keepAlive"] = keepAlive;
    Json::Value monitors(Json::arrayValue);
    for (const MonitorStatus& m : s.monitors) {
        Json::Value v(Json::objectValue);
        v["entry"] = Json::UInt64(m.entry);
        v["name"] = text(m.name);
        v["rect"] = rectJson(m.monitor);
        v["pageRect"] = rectJson(m.work);
        v["address"] = text(m.address);
        v["pid"] = m.pid;
        v["state"] = m.state;
        v["reason"] = m.reason;
        v["count"] = m.count;
        v["since"] = timeJson(m.sinceMs);
        v["sinceMs"] = Json::Int64(m.sinceMs);
        v["nextAttempt"] = timeJson(m.nextAttemptMs);
        v["detail"] = text(m.detail);
        v["restarts"] = Json::UInt64(m.restarts);
        Json::Value reloads(Json::objectValue);
        for (const std::string_view name : kPageReloadReasons) {
            const std::string reason(name);
            auto it = m.reloads.find(reason);
            reloads[reason] = Json::UInt64(it == m.reloads.end() ? 0 : it->second);
        }
        v["reloads"] = reloads;
        v["lastLive"] = timeJson(m.lastLiveMs);
        monitors.append(v);
    }
    doc["monitors"] = monitors;
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, doc) + "\n";
}

std::string metricsText(const WallSnapshot& s) {
    std::string out;
    auto family = [&out](const char* name, const char* type, const char* help) {
        out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    };
    family("panoview_signed_in", "gauge", "1 while the wall is signed in to the service.");
    out += std::string("panoview_signed_in ") + (s.signedIn ? "1" : "0") + "\n";
    family("panoview_keepalive_ok", "gauge", "1 when the last keep-alive succeeded.");
    out += std::string("panoview_keepalive_ok ") + (s.keepAlive.lastOk ? "1" : "0") + "\n";
    family("panoview_keepalive_last_success_timestamp_seconds", "gauge",
           "When the last keep-alive succeeded (Unix time, 0 for never).");
    out +=
        "panoview_keepalive_last_success_timestamp_seconds " + seconds(s.keepAlive.lastOkMs) + "\n";

    std::vector<const MonitorStatus*> shown;
    for (const MonitorStatus& m : s.monitors)
        if (!m.name.empty())
            shown.push_back(&m);
    auto label = [](const MonitorStatus& m) { return "monitor=\"" + labelValue(m.name) + "\""; };
    family("panoview_page_live", "gauge", "1 while the monitor's page is live.");
    for (const MonitorStatus* m : shown)
        out += "panoview_page_live{" + label(*m) + "} " + (m->state == "live" ? "1" : "0") + "\n";
    family("panoview_page_state", "gauge", "1 for the state the monitor's page is in.");
    for (const MonitorStatus* m : shown)
        for (const std::string_view state : pageStates())
            out += "panoview_page_state{" + label(*m) + ",state=\"" + std::string(state) + "\"} " +
                   (m->state == state ? "1" : "0") + "\n";
    family("panoview_page_restarts_total", "counter",
           "Page browsers started again after they ended.");
    for (const MonitorStatus* m : shown)
        out +=
            "panoview_page_restarts_total{" + label(*m) + "} " + std::to_string(m->restarts) + "\n";
    family("panoview_page_reloads_total", "counter", "Pages loaded again, by reason.");
    for (const MonitorStatus* m : shown)
        for (const std::string_view name : kPageReloadReasons) {
            const std::string reason(name);
            auto it = m->reloads.find(reason);
            out += "panoview_page_reloads_total{" + label(*m) + ",reason=\"" + reason + "\"} " +
                   std::to_string(it == m->reloads.end() ? 0 : it->second) + "\n";
        }
    family("panoview_page_last_live_timestamp_seconds", "gauge",
           "The last moment the monitor's page was known live (Unix time, 0 for never).");
    for (const MonitorStatus* m : shown)
        out += "panoview_page_last_live_timestamp_seconds{" + label(*m) + "} " +
               seconds(m->lastLiveMs) + "\n";
    return out;
}

namespace {

// The words of a text separated by blanks and tabs.
std::vector<std::string> blankSeparated(const std::string& text) {
    std::vector<std::string> words;
    size_t at = 0;
    while ((at = text.find_first_not_of(" \t", at)) != std::string::npos) {
        const size_t end = std::min(text.find_first_of(" \t", at), text.size());
        words.push_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

// A caller's word in quotes, as C writes it: control bytes, and every byte
// outside printable ASCII, as escapes, so that nothing of it reaches the
// caller's terminal raw.
std::string quoted(const std::string& word) {
    std::string out = "\"";
    for (const char c : word) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\\':
        case '"':
            out += '\\';
            out += c;
            continue;
        case '\n':
            out += "\\n";
            continue;
        case '\t':
            out += "\\t";
            continue;
        case '\r':
            out += "\\r";
            continue;
        default:
            break;
        }
        if (byte < 0x20 || byte >= 0x7f) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + '"';
}

// The words after an option up to the next option, joined by blanks; none
// when no word follows it.
std::optional<std::string> optionArgument(const std::vector<std::string>& words, size_t option) {
    std::optional<std::string> argument;
    for (size_t i = option + 1; i < words.size() && words[i].rfind("--", 0) != 0; ++i)
        argument = argument ? *argument + " " + words[i] : words[i];
    return argument;
}

} // namespace

bool entriesNamed(const std::vector<MonitorStatus>& monitors, const std::string& which,
                  std::vector<size_t>& entries, std::string& why) {
    entries.clear();
    const std::vector<std::string> words = blankSeparated(which);
    std::vector<bool> known(words.size(), false);
    std::string names;
    for (const MonitorStatus& m : monitors) {
        if (m.name.empty() || m.state == "off")
            continue;
        names += (names.empty() ? "" : ", ") + m.name;
        bool named = words.empty();
        for (size_t i = 0; i < words.size(); ++i)
            if (words[i] == m.name || words[i] == std::to_string(m.entry))
                named = known[i] = true;
        if (named)
            entries.push_back(m.entry);
    }
    // Each unknown word once, in the order given.
    std::vector<std::string> unknown;
    for (size_t i = 0; i < words.size(); ++i)
        if (!known[i] && std::find(unknown.begin(), unknown.end(), words[i]) == unknown.end())
            unknown.push_back(words[i]);
    if (!entries.empty() && unknown.empty())
        return true;
    // One unknown word and nothing is reloaded: a script learns of its typo
    // before any page goes.
    entries.clear();
    if (words.empty()) {
        why = "no monitor shows a page";
        return false;
    }
    std::string list;
    for (const std::string& word : unknown)
        list += (list.empty() ? "" : ", ") + quoted(word);
    why = (unknown.size() == 1 ? "no page on a monitor " : "no page on the monitors ") + list +
          "; the monitors with pages: " + (names.empty() ? "none" : names) + "; nothing reloaded";
    return false;
}

RemoteRequest parseRequest(const std::string& line) {
    const size_t blank = line.find(' ');
    if (blank == std::string::npos)
        return {line, {}, false};
    return {line.substr(0, blank), line.substr(blank + 1), true};
}

std::string queryRequest(const std::vector<std::string>& words, const std::string& workingFolder,
                         std::string& why) {
    why.clear();
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w == "--status") {
            for (const std::string& other : words)
                if (other == "--json")
                    return "status json";
            return "status";
        }
        if (w == "--reload") {
            const std::optional<std::string> monitors = optionArgument(words, i);
            return monitors ? "reload " + *monitors : "reload";
        }
        if (w == "--screenshot") {
            // A folder with blanks arrives whole, also as several words.
            std::string folder = optionArgument(words, i).value_or("");
            if (folder.empty()) {
                why = "--screenshot needs the folder to write the pictures in";
                return {};
            }
            if (folder[0] != '/')
                folder = workingFolder + "/" + folder;
            return "screenshot " + folder;
        }
    }
    return {};
}

namespace {

// A monitor's name as a file name: anything but letters, digits, '-', '_'
// and '.' becomes '_'.
std::string fileNameOf(const std::string& name) {
    std::string out;
    for (char c : name)
        out += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ||
                (c == '.' && !out.empty()))
                   ? c
                   : '_';
    return out;
}

RemoteAnswer screenshots(const std::string& folder, const RemoteServices& services) {
    if (folder.empty() || !std::filesystem::path(folder).is_absolute())
        return {2, "--screenshot needs a folder"};
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        return {2, "cannot make the folder " + folder + ": " + error.message()};
    std::string written;
    int index = 0;
    for (const auto& [name, area] : services.desktopMonitors()) {
        const std::string base = name.empty() ? "monitor" + std::to_string(index) : name;
        ++index;
        const std::string path =
            (std::filesystem::path(folder) / (fileNameOf(base) + ".png")).string();
        std::string why;
        if (!services.saveImage(area, path, why))
            return {2, written + "cannot write " + path + ": " + why};
        written += path + "\n";
    }
    if (written.empty())
        return {2, "no monitor to take a picture of"};
    written.pop_back();
    return {0, written};
}

} // namespace

RemoteAnswer answerRequest(const std::string& line, const RemoteServices& services) {
    const RemoteRequest request = parseRequest(line);
    if (request.word == "login" || request.word == "settings") {
        services.dialog(request.word);
        return {0, request.word == "login" ? "the login dialog is shown"
                                           : "the settings dialog is shown"};
    }
    if (request.word == "status") {
        if (!request.argument.empty() && request.argument != "json")
            return {2, "unknown status form: " + request.argument};
        const WallSnapshot snapshot = services.snapshot();
        std::string text = request.argument == "json" ? statusJson(snapshot) : statusText(snapshot);
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        return {0, text};
    }
    if (request.word == "reload") {
        // Only the word alone means the whole wall: an argument without a
        // monitor in it is a script's empty variable.
        if (request.argumentGiven && blankSeparated(request.argument).empty())
            return {2, "the monitor name is empty or blank; nothing reloaded (--reload alone "
                       "reloads every page)"};
        if (!services.wallUp())
            return {2, "not signed in: no page to reload"};
        const WallSnapshot snapshot = services.snapshot();
        std::vector<size_t> entries;
        std::string why;
        if (!entriesNamed(snapshot.monitors, request.argument, entries, why))
            return {2, why};
        std::string done, failed;
        for (size_t entry : entries) {
            const std::string name = snapshot.monitors[entry].name;
            (services.reload(entry) ? done : failed) += (name.empty() ? "" : " ") + name;
        }
        if (!failed.empty())
            return {2, "no page browser could be started on" + failed};
        return {0, "reloaded" + done};
    }
    if (request.word == "screenshot")
        return screenshots(request.argument, services);
    return {2, "unknown command: " + request.word};
}

std::string metricsPath(const char* chosen, const std::string& exporterFolder,
                        const std::string& runtimeFolder, std::string_view separator) {
    if (chosen && *chosen)
        return chosen;
    const std::string& folder = !exporterFolder.empty() ? exporterFolder : runtimeFolder;
    if (folder.empty())
        return {};
    return folder + std::string(separator) + "panoview.prom";
}

bool MetricsWriter::write(const std::string& text) {
    int error = 0;
    if (replace_(path_, text, error)) {
        if (failing_)
            DebugPrint("Panoview: the metrics file %s is written again\n", path_.c_str());
        failing_ = false;
        return true;
    }
    if (!failing_)
        DebugPrint("Panoview: cannot write the metrics file %s (%s); the wall goes on\n",
                   path_.c_str(), std::strerror(error));
    failing_ = true;
    return false;
}
