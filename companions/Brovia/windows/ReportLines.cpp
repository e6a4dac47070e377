#include "ReportLines.h"

#include "common/HiddenToken.h"
#include "platform/DebuggerOutput.h"

// The wall keeper reads the report lines from the debugger output until it
// gives Brovia.exe a channel of its own; each line is written through here
// alone.
void ReportLines::report(const PageReport& report) {
    line(formatPageReport(report));
}

void ReportLines::line(const std::string& text) {
    platform::writeDebuggerOutput("Brovia: " + hideTokenIn(text, token_));
}
