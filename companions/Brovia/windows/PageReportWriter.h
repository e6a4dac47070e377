// Brovia.exe's reports to Panoview.exe: one line (wall/PageReport.h) for
// each change of its page's state, written to the inherited pipe handle
// that BROVIA_REPORT_FD names (a decimal handle value on Windows; the same
// variable names a descriptor on Linux). Without that variable, or with one
// that names no pipe, nothing is written.
#pragma once

#include <cstdint>
#include <string>

class PageReportWriter {
public:
    // Takes the handle the environment names, and takes the variable out of
    // the environment, so that a program Brovia.exe starts does not take
    // the handle for its own.
    static PageReportWriter fromEnvironment();

    // Writes one whole report line (formatPageReport's, line feed included).
    // False when nothing could be written (no pipe, or Panoview has gone).
    bool reportLine(const std::string& line);
    bool connected() const { return handle_ != 0; }

private:
    explicit PageReportWriter(uintptr_t handle) : handle_(handle) {}
    uintptr_t handle_ = 0; // HANDLE
};

// The handle a BROVIA_REPORT_FD value names: a decimal number from 1,
// nothing else; 0 for none.
uintptr_t reportHandleNamed(const char* value);
