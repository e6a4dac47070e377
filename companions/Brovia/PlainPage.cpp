// brovia-plain: the plain page of a Brovia, the one part of the page browser
// that uses Qt. Brovia runs it as its child with its own words (see main.cpp)
// when the plain window is asked for (BROVIA_NO_CHROMIUM=1) or no Chromium
// can be had; BROVIA_PLAIN_NO_BROWSER then says what was looked for.
#include "Arguments.h"
#include "Brovia.h"
#include "ChromiumLaunch.h"
#include "common/HiddenToken.h"
#include "platform/linux/Xcb.h"
#include "wall/PageReport.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QtGui/qguiapplication_platform.h>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

// The report line of a page without a browser, formatted as every report
// line is, in the state no-browser. A wall that does not know that state
// drops the line, and the page stays "starting" there.
std::string noBrowserReport(const std::string& why) {
    constexpr std::string_view state = "no-browser";
    std::string line = formatPageReport({PageCondition::Live, 1, 0, why});
    const std::string_view live = pageConditionName(PageCondition::Live);
    line.replace(line.find(live), live.size(), state);
    // Within the line's limit, the longer state name included.
    if (line.size() > kPageReportLineMax) {
        line.resize(kPageReportLineMax - 1);
        line += '\n';
    }
    return line;
}

// The window is Brovia's to the wall: its _NET_WM_PID names the Brovia that
// runs this plain page, the process the wall started, knows and ends, so
// that whatever looks for a page's window by its Brovia finds this one.
void ownedByBrovia(QWidget& window) {
    if (QGuiApplication::platformName() != "xcb")
        return;
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    const pid_t brovia = getppid();
    if (!c || brovia <= 1)
        return;
    const auto wid = static_cast<xcb_window_t>(window.winId());
    const xcb_atom_t pidAtom = platform::x11::internAtom(c, "_NET_WM_PID");
    const auto value = static_cast<uint32_t>(brovia);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, wid, pidAtom, XCB_ATOM_CARDINAL, 32, 1, &value);
    xcb_flush(c);
}

} // namespace

int showPlainWindow(int argc, char** argv, const PagePlacement& page,
                    const std::string& noBrowser) {
    // The reports take their descriptor before Qt opens any of its own.
    StateReports reports;
    reports.hideToken(tokenOfAddress(page.url));
    const int log = openBrowserLog(page);
    reports.setLog(log);
    const std::string shown = addressWithTokenHidden(page.url);
    if (!noBrowser.empty())
        reports.line("Brovia: " + noBrowser + "; the page shows in a plain window\n");
    QApplication app(argc, argv);
    QLabel window;
    window.setObjectName("BroviaPage");
    window.setWindowTitle(QStringLiteral("Brovia"));
    window.setText(QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size())));
    // The window's own text, as it is: the log shows what the wall shows.
    const std::string said = "Brovia: the plain window shows " + window.text().toStdString() + "\n";
    (void)!write(log, said.data(), said.size());
    window.setTextFormat(Qt::PlainText);
    window.setWordWrap(true);
    window.setAlignment(Qt::AlignCenter);
    window.setMargin(24);
    window.setAutoFillBackground(true);
    // A light edge shows where one page ends and the next begins.
    window.setStyleSheet("QLabel { background: #1d3557; color: #f1faee; font-size: 20px;"
                         " border: 2px solid #a8dadc; }");
    // The window manager neither decorates nor moves the window: it lies
    // exactly over the rectangle it was given, as a wall page must.
    window.setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    window.setGeometry(page.left, page.top, page.width(), page.height());
    ownedByBrovia(window);
    window.show();
    // The page's state once its window shows: live for a plain page asked
    // for, no-browser for one that stands in for a missing browser.
    QTimer::singleShot(0, [&reports, &noBrowser] {
        if (noBrowser.empty())
            reports.report({PageCondition::Live, 1, 0, "plain window"});
        else
            reports.reportLine(noBrowserReport(noBrowser));
    });
    const int status = app.exec();
    close(log);
    return status;
}

int main(int argc, char** argv) {
    PagePlacement page;
    if (!takeBroviaArguments("brovia-plain", argc, argv, page))
        return 2;
    const char* why = std::getenv("BROVIA_PLAIN_NO_BROWSER");
    const std::string noBrowser = why ? why : "";
    unsetenv("BROVIA_PLAIN_NO_BROWSER");
    // The plain window is an X11 client even in a Wayland session, so that it
    // lies exactly over its rectangle, unless the operator chose otherwise.
    setenv("QT_QPA_PLATFORM", "xcb", 0);
    return showPlainWindow(argc, argv, page, noBrowser);
}
