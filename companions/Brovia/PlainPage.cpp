#include "Brovia.h"
#include "ChromiumLaunch.h"
#include "common/HiddenToken.h"
#include "wall/PageReport.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>
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
