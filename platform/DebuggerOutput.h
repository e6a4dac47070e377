// The debugger output, where the program's diagnostics go (it writes no log
// file). The composition root hands these to the diagnostic sink
// (common/DebugPrint.h: diag::setSink and diag::setWideSink).
#pragma once

#include <string_view>

namespace platform {

// Windows: OutputDebugStringA with the narrow text (ANSI code page) as it
// stands. Linux: one write to standard error, a line feed added where the
// text does not end its line.
void writeDebuggerOutput(std::string_view text);

// Windows: OutputDebugStringW. Linux: the text in UTF-8, as above.
void writeDebuggerOutputW(std::wstring_view text);

} // namespace platform
