#include "Brovia.h"
#include "wall/PageReport.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <cstdlib>
#include <unistd.h>

int showPlainWindow(int argc, char** argv, const PagePlacement& page) {
    QApplication app(argc, argv);
    QLabel window;
    window.setObjectName("BroviaPage");
    window.setWindowTitle(QStringLiteral("Brovia"));
    window.setText(QString::fromUtf8(page.url.data(), static_cast<qsizetype>(page.url.size())));
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
    // A plain page is live once its window shows: said once on the report
    // descriptor the wall gave, if any.
    QTimer::singleShot(0, [] {
        if (const char* fd = std::getenv("BROVIA_REPORT_FD"); fd && *fd) {
            const std::string line = formatPageReport({PageCondition::Live, 1, 0, "plain window"});
            (void)!write(std::atoi(fd), line.data(), line.size());
        }
    });
    return app.exec();
}
