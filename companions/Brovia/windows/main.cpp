// Brovia.exe /left L /top T /bottom B /right R /url U
//
// The page browser of the Windows wall. The page shows in a browser of its
// own (BrowserPage.h): the program BROVIA_BROWSER names, else Microsoft
// Edge, else Google Chrome (BrowserLaunch.h says where each is looked for),
// watched over DevTools and brought back when it crashes, hangs, fails or
// stalls, each change of its state reported to the wall keeper (ReportLines.h).
//
// Without a browser, or where the browser's policies forbid DevTools
// (RemoteDebuggingAllowed 0, DeveloperToolsAvailability 2), or when it cannot
// be started, the plain page shows instead: a frameless window (WS_POPUP)
// exactly over the rectangle with the page's address (its session token as
// "***") and one line that says why, until it is closed or ended (taskkill
// /F /IM Brovia.exe); the page is reported no-browser. The window's title is
// the address as shown. The address is the rest of the command line. A
// command line it does not understand ends it with status 2 and one line of
// the debugger output.
//
// The session token is Brovia's alone: once read, its characters are
// overwritten with '*' in the process's command line, which other programs
// of the session can read.
#include "BrowserLaunch.h"
#include "BrowserPage.h"
#include "PageCommandLine.h"
#include "ReportLines.h"
#include "SystemLookups.h"
#include "common/HiddenToken.h"

#include <string>
#include <windows.h>

namespace {

constexpr const char* kWindowClass = "Brovia_Page";
// The wall's colours, as on the Linux plain page.
constexpr COLORREF kPaper = RGB(0x1d, 0x35, 0x57);
constexpr COLORREF kInk = RGB(0xf1, 0xfa, 0xee);
constexpr COLORREF kEdge = RGB(0xa8, 0xda, 0xdc);

// The address as shown, and below it why no browser shows the page.
std::string shownAddress;
std::string shownWhy;

// Over the characters of the token in the command line the process keeps
// for itself (the A copy) and in the one other programs read (the W text).
void hideTokenFromCommandLine(const std::string& token) {
    starTokenInPlace(GetCommandLineA());
    if (token.empty())
        return;
    const int size = MultiByteToWideChar(CP_ACP, 0, token.data(), int(token.size()), nullptr, 0);
    if (size <= 0)
        return;
    std::wstring wide(size_t(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, token.data(), int(token.size()), wide.data(), size);
    std::wstring_view line(GetCommandLineW());
    for (size_t at = line.find(wide); at != std::wstring_view::npos; at = line.find(wide, at))
        for (size_t i = 0; i < wide.size(); ++i)
            GetCommandLineW()[at + i] = L'*';
}

void paint(HWND window) {
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(window, &paint);
    RECT client{};
    GetClientRect(window, &client);
    HBRUSH edge = CreateSolidBrush(kEdge);
    FillRect(dc, &client, edge);
    DeleteObject(edge);
    RECT inside = client;
    InflateRect(&inside, -2, -2);
    HBRUSH paper = CreateSolidBrush(kPaper);
    FillRect(dc, &inside, paper);
    DeleteObject(paper);

    HFONT font = CreateFontA(-20, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                             DEFAULT_PITCH, "Segoe UI");
    HGDIOBJ previous = SelectObject(dc, font);
    SetTextColor(dc, kInk);
    SetBkMode(dc, TRANSPARENT);
    // Centred as a block: measured first, then drawn in the middle.
    RECT text = inside;
    InflateRect(&text, -24, -24);
    RECT measured = text;
    const UINT format = DT_CENTER | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX;
    const std::string shown =
        shownWhy.empty() ? shownAddress : shownAddress + "\r\n\r\n" + shownWhy;
    DrawTextA(dc, shown.c_str(), int(shown.size()), &measured, format | DT_CALCRECT);
    const int height = measured.bottom - measured.top;
    text.top += ((text.bottom - text.top) - height) / 2;
    DrawTextA(dc, shown.c_str(), int(shown.size()), &text, format);
    SelectObject(dc, previous);
    DeleteObject(font);
    EndPaint(window, &paint);
}

LRESULT CALLBACK pageProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
    case WM_PAINT:
        paint(window);
        return 0;
    case WM_ERASEBKGND:
        return 1; // WM_PAINT covers every pixel
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, w, l);
    }
}

// The rectangle is in the monitors' own pixels, as the wall measured them.
void takeMonitorPixels() {
    using SetContext = BOOL(WINAPI*)(HANDLE);
    const auto setContext = reinterpret_cast<SetContext>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("user32.dll"), "SetProcessDpiAwarenessContext")));
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
    if (!setContext || !setContext(reinterpret_cast<HANDLE>(static_cast<intptr_t>(-4))))
        SetProcessDPIAware();
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    PagePlacement page;
    const bool understood = parsePageCommandLine(afterProgramName(GetCommandLineA()), page);
    hideTokenFromCommandLine(understood ? std::string(tokenOfAddress(page.url)) : std::string());
    if (!understood) {
        OutputDebugStringA("Brovia: usage: Brovia.exe /left L /top T /bottom B /right R /url U "
                           "(right > left, bottom > top, each from -32768 to 32767)\n");
        return 2;
    }
    takeMonitorPixels();
    shownAddress = addressWithTokenHidden(page.url);
    ReportLines reports;
    reports.hideToken(tokenOfAddress(page.url));

    const BrowserChoice browser = chooseBrowser(systemBrowserLookups());
    if (browser.path.empty()) {
        shownWhy = "no browser: looked for " + browser.lookedAt;
    } else if (const std::string forbidden = devToolsForbiddenBy(browser.path, systemPolicies());
               !forbidden.empty()) {
        shownWhy = forbidden;
    } else if (const std::optional<int> status =
                   showInBrowser(browser.path, page, reports, shownWhy)) {
        return *status;
    }
    reports.report({PageCondition::NoBrowser, 1, 0, shownWhy});

    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = pageProcedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassA(&windowClass);
    const std::string title = "Brovia - " + shownAddress;
    HWND window = CreateWindowExA(0, kWindowClass, title.c_str(), WS_POPUP, page.left, page.top,
                                  page.width(), page.height(), nullptr, nullptr, instance, nullptr);
    if (!window) {
        reports.line("no window, error " + std::to_string(GetLastError()) + "\n");
        return 1;
    }
    // The show command the wall gave (SW_SHOWDEFAULT takes it from the start
    // information).
    ShowWindow(window, SW_SHOWDEFAULT);
    UpdateWindow(window);
    reports.line("the plain window shows " + shownAddress + " over " + std::to_string(page.left) +
                 "," + std::to_string(page.top) + " " + std::to_string(page.width()) + "x" +
                 std::to_string(page.height()) + "\n");

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
