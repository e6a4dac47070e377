// shellclient.exe
//
// The stand-in for the desktop shell client on Windows, for the tests and
// the demo: a hidden top-level window of the class "Tolvan_shellclient_Main"
// that takes every notice Panoview sends it with WM_COPYDATA and prints it,
// caption and message as the bytes came, as one line on standard output
// (line ends inside it as blanks; "[data N] " before it when its data
// identifier is not 1). The first line says that it listens. A second copy
// ends with status 1 and leaves the first one alone.
#include <cstdio>
#include <string>
#include <windows.h>

namespace {

constexpr const char* kWindowClass = "Tolvan_shellclient_Main";
// A notice larger than this is not taken.
constexpr DWORD kLargestNotice = 16u << 20;

void printNotice(ULONG_PTR dataId, std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    if (dataId != 1)
        std::printf("[data %lu] ", static_cast<unsigned long>(dataId));
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

LRESULT CALLBACK noticeProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_COPYDATA) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(l);
        if (!data || data->cbData > kLargestNotice || (data->cbData && !data->lpData))
            return FALSE;
        printNotice(data->dwData,
                    std::string(static_cast<const char*>(data->lpData), data->cbData));
        return TRUE;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, w, l);
}

} // namespace

int main() {
    if (FindWindowA(kWindowClass, nullptr)) {
        std::fprintf(stderr, "shellclient: another shell client runs\n");
        return 1;
    }
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = noticeProcedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassA(&windowClass) ||
        !CreateWindowExA(0, kWindowClass, "shellclient", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                         CW_USEDEFAULT, 320, 120, nullptr, nullptr, windowClass.hInstance,
                         nullptr)) {
        std::fprintf(stderr, "shellclient: no window, error %lu\n", GetLastError());
        return 1;
    }
    std::printf("listening as the window class %s\n", kWindowClass);
    std::fflush(stdout);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    return 0;
}
