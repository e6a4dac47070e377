#include "ReportLines.h"

#include "common/HiddenToken.h"
#include "platform/DebuggerOutput.h"

// Each report goes to the wall keeper's pipe and, as every line, to the
// debugger output.
void ReportLines::report(const PageReport& report) {
    const std::string text = formatPageReport(report);
    channel_.reportLine(hideTokenIn(text, token_));
    line(text);
}

void ReportLines::line(const std::string& text) {
    platform::writeDebuggerOutput("Brovia: " + hideTokenIn(text, token_));
}
