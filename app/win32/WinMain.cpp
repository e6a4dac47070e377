// Panoview.exe: the Windows program, built by WindowsProgram.
#include "app/win32/WindowsProgram.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLineTail, int) {
    WindowsProgram program(commandLineTail ? commandLineTail : "");
    return program.run();
}
