// Panoview.exe: the Windows program, built by WindowsProgram.
#include "app/win32/WindowsProgram.h"
#include "common/DebugPrint.h"
#include "platform/DebuggerOutput.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLineTail, int) {
    // The program's diagnostic lines go to the debugger output, where a
    // debugger or DebugView shows them on a factory PC.
    diag::setSink(platform::writeDebuggerOutput);
    diag::setWideSink(platform::writeDebuggerOutputW);
    WindowsProgram program(commandLineTail ? commandLineTail : "");
    return program.run();
}
