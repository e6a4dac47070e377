// Where Brovia.exe's lines go: each change of the page's state as one
// report line for the wall keeper (wall/PageReport.h) on the pipe Panoview
// gave it (PageReportWriter.h), and every line, those too, for whoever
// reads the debugger output. The session token of the page's
// address is "***" in every line.
#pragma once

#include "PageReportWriter.h"
#include "wall/PageReport.h"

#include <string>
#include <string_view>

class ReportLines {
public:
    void hideToken(std::string_view token) { token_ = token; }
    // One change of the page's state.
    void report(const PageReport& report);
    // One line of Brovia's own, ended by a line feed.
    void line(const std::string& text);

private:
    std::string token_;
    // Panoview's report pipe, taken from the environment when Brovia.exe
    // starts.
    PageReportWriter channel_ = PageReportWriter::fromEnvironment();
};
