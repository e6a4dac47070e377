// On Linux the debugger output is standard error.
#include "platform/DebuggerOutput.h"

#include "common/DebugPrint.h"
#include "common/Utf8.h"

namespace platform {

void writeDebuggerOutput(std::string_view text) {
    diag::writeToStandardError(text);
}

void writeDebuggerOutputW(std::wstring_view text) {
    diag::writeToStandardError(utf8::fromWide(text));
}

} // namespace platform
