// The one line a page browser (Brovia) writes each time its page changes
// state, on the inherited descriptor that BROVIA_REPORT_FD names. Brovia
// formats it and the wall keeper parses it; both include this header, so the
// format lives here only.
//
//   page <state>[:<reason>] <count> <next> [<detail>]\n
//
//   state   loading | live | retrying | crashed | hung | sign-in | closed |
//           still | wandered | no-browser
//   reason  what brought the state about, where the state alone does not
//           say it (kPageReasons): retrying:certificate, retrying:download,
//           sign-in:auth, and the answered dialogs and intercepted prints of
//           a page that keeps running (live:dialog, loading:print, ...)
//   count   how many times this browser's page has entered the state, or
//           for a line with a reason how many times that reason has come
//           (1 the first time), a decimal number from 1
//   next    when the page is loaded again next (retrying, wandered, and
//           sign-in:auth), in milliseconds since the Unix epoch (wall-clock
//           time); 0 when no load is due
//   detail  free text to the end of the line (what happened), without a
//           line break; may be empty
//
// A line is at most kPageReportLineMax bytes, its line feed included.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum class PageCondition {
    Loading,     // a load that Brovia started has not finished yet
    Live,        // loaded and answering
    Retrying,    // the load failed, answered 5xx or stalled; tried again at `next`
    Crashed,     // the renderer crashed or the page went; loaded again
    Hung,        // the page stopped answering; its renderer ended and loaded again
    NeedsSignIn, // 401/403 or another origin's login page: a session to renew
    Closed,      // the page closed its own window (window.close()); loaded again
    Still,       // the page's picture stayed one colour for minutes; loaded again
    Wandered,    // the main frame left the page's origin; loaded back at `next`
    NoBrowser,   // no browser to show the page: a plain window names its address
};

struct PageReport {
    PageCondition condition = PageCondition::Loading;
    uint32_t count = 1;
    int64_t nextAttemptMs = 0;
    std::string detail;
    std::string reason{}; // empty, or one of kPageReasons

    bool operator==(const PageReport&) const = default;
};

inline constexpr size_t kPageReportLineMax = 512;

// The reasons a line may name beside its state. The first ones stand for a
// load of the page again, as the states crashed, hung, retrying, closed,
// still and wandered do; dialog and print are answered without a load.
inline constexpr std::string_view kPageReasons[] = {
    "certificate", // the load met a certificate error (net::ERR_CERT_*)
    "download",    // the page started a download, which was refused
    "auth",        // the server asked for a user name and password (cancelled)
    "dialog",      // a JavaScript dialog, answered at once
    "print",       // window.print(), which opens no preview on a wall
};

// Every state name a line may carry, as the status and the metrics list them.
inline constexpr std::string_view kPageStateNames[] = {
    "loading", "live",   "retrying", "crashed",  "hung",
    "sign-in", "closed", "still",    "wandered", "no-browser"};

// Every reason a page is loaded again for, as the metrics count them: the
// states that stand for a load, the reasons that do, and the wall's own
// reload (--reload).
inline constexpr std::string_view kPageReloadReasons[] = {
    "crashed",  "hung",        "retrying", "closed", "still",
    "wandered", "certificate", "download", "auth",   "command"};

inline std::string_view pageConditionName(PageCondition condition) {
    switch (condition) {
    case PageCondition::Loading:
        return "loading";
    case PageCondition::Live:
        return "live";
    case PageCondition::Retrying:
        return "retrying";
    case PageCondition::Crashed:
        return "crashed";
    case PageCondition::Hung:
        return "hung";
    case PageCondition::NeedsSignIn:
        return "sign-in";
    case PageCondition::Closed:
        return "closed";
    case PageCondition::Still:
        return "still";
    case PageCondition::Wandered:
        return "wandered";
    case PageCondition::NoBrowser:
        return "no-browser";
    }
    return "loading";
}

inline std::optional<PageCondition> pageConditionNamed(std::string_view name) {
    for (PageCondition c : {PageCondition::Loading, PageCondition::Live, PageCondition::Retrying,
                            PageCondition::Crashed, PageCondition::Hung, PageCondition::NeedsSignIn,
                            PageCondition::Closed, PageCondition::Still, PageCondition::Wandered,
                            PageCondition::NoBrowser})
        if (pageConditionName(c) == name)
            return c;
    return std::nullopt;
}

inline bool isPageReason(std::string_view reason) {
    for (std::string_view known : kPageReasons)
        if (known == reason)
            return true;
    return false;
}

// What the report's page was loaded again for, as kPageReloadReasons names
// it; empty when the line stands for no load (live, loading, sign-in, and
// the answered dialogs and prints). Its count counts that reason's loads.
inline std::string_view pageReloadReason(const PageReport& report) {
    if (report.reason == "certificate" || report.reason == "download" || report.reason == "auth")
        return report.reason;
    if (!report.reason.empty())
        return {};
    switch (report.condition) {
    case PageCondition::Retrying:
    case PageCondition::Crashed:
    case PageCondition::Hung:
    case PageCondition::Closed:
    case PageCondition::Still:
    case PageCondition::Wandered:
        return pageConditionName(report.condition);
    default:
        return {};
    }
}

// "retrying" or "retrying:certificate": the state word of the report's line.
inline std::string pageStateWord(const PageReport& report) {
    std::string word(pageConditionName(report.condition));
    if (!report.reason.empty())
        word += ":" + report.reason;
    return word;
}

// The report as one line, line feed included. Line breaks and other control
// characters in the detail become spaces, and a long detail is cut so that
// the line keeps to its limit.
inline std::string formatPageReport(const PageReport& report) {
    std::string line = "page " + pageStateWord(report) + " " + std::to_string(report.count) + " " +
                       std::to_string(report.nextAttemptMs < 0 ? 0 : report.nextAttemptMs);
    if (!report.detail.empty()) {
        line += ' ';
        for (char ch : report.detail) {
            if (line.size() + 1 >= kPageReportLineMax)
                break;
            line += static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f ? ' ' : ch;
        }
    }
    return line + '\n';
}

// One report line, with or without its line feed; nullopt for anything
// else (a foreign line, a bad number, an unknown state, an overlong line).
inline std::optional<PageReport> parsePageReport(std::string_view line) {
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    if (line.size() + 1 > kPageReportLineMax)
        return std::nullopt;
    auto word = [&line]() -> std::optional<std::string_view> {
        const size_t end = line.find(' ');
        std::string_view w = line.substr(0, end);
        line = end == std::string_view::npos ? std::string_view() : line.substr(end + 1);
        if (w.empty())
            return std::nullopt;
        return w;
    };
    auto number = [](std::string_view text, auto& value) {
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        return ec == std::errc() && end == text.data() + text.size();
    };
    const auto tag = word();
    if (!tag || *tag != "page")
        return std::nullopt;
    const auto state = word();
    const auto count = word();
    const auto next = word();
    if (!state || !count || !next)
        return std::nullopt;
    PageReport report;
    const size_t colon = state->find(':');
    const auto condition = pageConditionNamed(state->substr(0, colon));
    if (colon != std::string_view::npos) {
        report.reason = std::string(state->substr(colon + 1));
        if (!isPageReason(report.reason))
            return std::nullopt;
    }
    if (!condition || !number(*count, report.count) || report.count == 0 ||
        !number(*next, report.nextAttemptMs) || report.nextAttemptMs < 0)
        return std::nullopt;
    report.condition = *condition;
    report.detail = std::string(line);
    for (char ch : report.detail)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f)
            return std::nullopt;
    return report;
}
