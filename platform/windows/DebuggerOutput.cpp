#include "platform/DebuggerOutput.h"

#include <string>
#include <windows.h>

namespace platform {

void writeDebuggerOutput(std::string_view text) {
    OutputDebugStringA(std::string(text).c_str());
}

void writeDebuggerOutputW(std::wstring_view text) {
    OutputDebugStringW(std::wstring(text).c_str());
}

} // namespace platform
