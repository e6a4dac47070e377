// The one line a page browser (Brovia) writes each time its page changes
// state, on the inherited descriptor that BROVIA_REPORT_FD names. Brovia
// formats it and the wall keeper parses it; both include this header, so the
// format lives here only.
//
//   page <state> <count> <next> [<detail>]\n
//
//   state   loading | live | retrying | crashed | hung | sign-in
//   count   how many times this browser's page has entered the state (1 the
//           first time), a decimal number from 1
//   next    for retrying, when the next attempt is due, in milliseconds since
//           the Unix epoch (wall-clock time); 0 for every other state
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
};

struct PageReport {
    PageCondition condition = PageCondition::Loading;
    uint32_t count = 1;
    int64_t nextAttemptMs = 0;
    std::string detail;

    bool operator==(const PageReport&) const = default;
};

inline constexpr size_t kPageReportLineMax = 512;

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
    }
    return "loading";
}

inline std::optional<PageCondition> pageConditionNamed(std::string_view name) {
    for (PageCondition c :
         {PageCondition::Loading, PageCondition::Live, PageCondition::Retrying,
          PageCondition::Crashed, PageCondition::Hung, PageCondition::NeedsSignIn})
        if (pageConditionName(c) == name)
            return c;
    return std::nullopt;
}

// The report as one line, line feed included. Line breaks and other control
// characters in the detail become spaces, and a long detail is cut so that
// the line keeps to its limit.
inline std::string formatPageReport(const PageReport& report) {
    std::string line = "page " + std::string(pageConditionName(report.condition)) + " " +
                       std::to_string(report.count) + " " +
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
    const auto condition = pageConditionNamed(*state);
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
