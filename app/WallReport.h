// What the running copy tells about itself: the status document of
// `panoview --status` (text lines, or JSON), the health metrics in the
// Prometheus text format, both from one snapshot of the wall, the monitors a
// reload names, and the request lines of the command words that ask the
// running copy (--status, --reload, --screenshot). Plain C++.
#pragma once

#include "wall/WallKeeper.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The keep-alive's last outcomes; times in milliseconds since the Unix epoch,
// 0 for none yet.
struct KeepAliveRecord {
    int64_t lastMs = 0;
    bool lastOk = false;
    int64_t lastOkMs = 0;
    void record(bool ok, int64_t atMs) {
        lastMs = atMs;
        lastOk = ok;
        if (ok)
            lastOkMs = atMs;
    }
};

// The wall at one moment.
struct WallSnapshot {
    int64_t nowMs = 0;
    bool signedIn = false;
    std::string account;  // the configured account (userid)
    std::string userName; // the name the service gave at sign-in
    std::string service;  // the service address
    KeepAliveRecord keepAlive;
    std::vector<MonitorStatus> monitors;
};

// The wall at `nowMs` as the program's record, the keep-alive and the wall
// keeper have it, with the session's token and password hidden.
WallSnapshot wallSnapshot(const SystemConfig& config, const KeepAliveRecord& keepAlive,
                          std::vector<MonitorStatus> monitors, int64_t nowMs);

// Every monitor of the desktop the record holds: its name and whole
// rectangle, the primary first.
std::vector<std::pair<std::string, Rect>> desktopMonitorsOf(const SystemConfig& config);

// Every occurrence of the token in every text of the snapshot becomes "***"
// (a page's detail may quote an address that carries it).
void hideToken(WallSnapshot& snapshot, const std::string& token);

// The status document: one line for the session, then one line per display
// entry.
std::string statusText(const WallSnapshot& snapshot);
// The same as one JSON object (formatted, with a final line feed).
std::string statusJson(const WallSnapshot& snapshot);
// The metrics file's content in the Prometheus text exposition format.
std::string metricsText(const WallSnapshot& snapshot);

// The display entries a reload means: every entry with a page on a monitor
// when `which` holds no word, else those on the monitors it names or of the
// entry numbers it gives (words separated by blanks or tabs), each once, in
// the entries' order. False, with the reason, when there is none, or when a
// word names no monitor with a page: the reason quotes those words (control
// bytes, backslash and quote escaped) and names the monitors there are.
bool entriesNamed(const std::vector<MonitorStatus>& monitors, const std::string& which,
                  std::vector<size_t>& entries, std::string& why);

// A request line as the running copy reads it: the word, and after its first
// blank the argument. `argumentGiven` tells "reload " (an empty argument, as
// an empty variable of a script gives) from "reload".
struct RemoteRequest {
    std::string word;
    std::string argument;
    bool argumentGiven = false;
};
RemoteRequest parseRequest(const std::string& line);

// The request line for the running copy that a command line's words ask for
// with --status [--json], --reload [MONITOR...] or --screenshot DIR (a
// relative folder taken from `workingFolder`): "status", "status json",
// "reload WALL2", "reload WALL1 WALL2", "screenshot /abs/dir". An option's
// argument is the words up to the next option, joined by blanks; an empty
// one stays ("reload " for --reload ""), for the running copy to refuse.
// Empty when the words hold none of them; `why` then says what is wrong when
// they hold one badly (a --screenshot without its folder).
std::string queryRequest(const std::vector<std::string>& words, const std::string& workingFolder,
                         std::string& why);

// What the running copy's answers need from the program.
struct RemoteServices {
    // The wall now, token hidden.
    std::function<WallSnapshot()> snapshot;
    // Whether the operator is signed in and the wall is up.
    std::function<bool()> wallUp;
    // Ends and starts again the page browser of a display entry.
    std::function<bool(size_t entry)> reload;
    // Every monitor of the desktop: its name and whole rectangle.
    std::function<std::vector<std::pair<std::string, Rect>>()> desktopMonitors;
    // Writes the X server's image of the rectangle as a PNG; false with the
    // reason.
    std::function<bool(const Rect& area, const std::string& path, std::string& why)> saveImage;
    // The login or settings command, run after the answer has gone.
    std::function<void(const std::string& word)> dialog;
};

struct RemoteAnswer {
    int status = 0; // 0 done, 2 refused or failed
    std::string text;
};

// The running copy's answer to one request line.
RemoteAnswer answerRequest(const std::string& line, const RemoteServices& services);

// Where the metrics file goes: `chosen` (PANOVIEW_METRICS) when it is set;
// else panoview.prom in the exporter's textfile folder (the node exporter's
// on Linux, windows_exporter's textfile_inputs on Windows) when that folder
// exists and may be written (`exporterFolder`, empty when not); else
// panoview.prom in the user's runtime folder (its own private folder where
// the session has none); empty when there is no such folder either.
// `separator` joins a folder and the file's name.
std::string metricsPath(const char* chosen, const std::string& exporterFolder,
                        const std::string& runtimeFolder, std::string_view separator = "/");
inline constexpr const char* kExporterTextfileFolder = "/var/lib/prometheus/node-exporter";

// Keeps the metrics file: each write replaces it whole. A failing folder
// (gone, full, not writable) costs one diagnostic line until a write works
// again, which is said in one line too.
class MetricsWriter {
public:
    using Replace =
        std::function<bool(const std::string& path, const std::string& bytes, int& error)>;
    MetricsWriter(std::string path, Replace replace)
        : path_(std::move(path)), replace_(std::move(replace)) {}
    bool write(const std::string& text);
    const std::string& path() const { return path_; }

private:
    std::string path_;
    Replace replace_;
    bool failing_ = false;
};
