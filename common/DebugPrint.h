// Diagnostic output: the program writes no log file; every diagnostic goes as
// one write to a sink, which is standard error unless a test replaces it.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace diag {

using Sink = std::function<void(std::string_view)>;

// Replaces the sink; an empty function restores standard error. Returns the
// previous sink so that a caller can put it back.
Sink setSink(Sink sink);

// Where wide diagnostic text goes as it stands (OutputDebugStringW on
// Windows). While none is set (an empty function), wide text is converted to
// UTF-8 and goes to the narrow sink. Returns the previous one.
using WideSink = std::function<void(std::wstring_view)>;
WideSink setWideSink(WideSink sink);

// The default sink: one write to standard error, a line feed added where
// the text does not end its line.
void writeToStandardError(std::string_view text);

} // namespace diag

// Hands one text to the diagnostic sink as one write (the debugger output of
// the desktop). The text is written as it stands: no line end is added.
void OutputDebugText(std::string_view text);

// Wide diagnostic text: to the wide sink where one is set, else converted to
// UTF-8 and handed to the sink.
void OutputDebugTextW(std::wstring_view text);

// The printf dialect DebugPrint's formats are checked against: the C99 one
// (%zu, %lld) that std::vsnprintf follows. The Windows build names it
// gnu_printf, since there the compiler takes "printf" for the older dialect
// of the system's C library.
#ifndef PANOVIEW_PRINTF_FORMAT
#define PANOVIEW_PRINTF_FORMAT printf
#endif

// Formats one printf-style line into a zero-filled 1024-byte buffer (at most
// 1023 characters; a longer line is cut there) and hands it to the sink.
void DebugPrint(const char* format, ...) __attribute__((format(PANOVIEW_PRINTF_FORMAT, 1, 2)));
