#include "app/qt/TrayWindow.h"

#include "common/DebugPrint.h"
#include "platform/TrayHost.h"
#include "platform/linux/qt/DialogLayout.h"
#include "platform/linux/qt/Signals.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

TrayWindow::TrayWindow(SystemConfig& config, PanoviewDlgServices services) {
    setWindowTitle("Panoview");
    setWindowIcon(platform::applicationIcon());
    // A tool window of no size at the origin: nothing of it is ever seen and
    // it has no taskbar entry.
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setGeometry(0, 0, 0, 0);
    tray_.setIcon(platform::applicationIcon());

    services.addTrayIcon = [this](const std::string& tooltip) {
        tray_.setToolTip(QString::fromStdString(tooltip));
        // Hiding first makes Qt dock the icon again with the tray host that
        // is there now.
        tray_.hide();
        tray_.show();
    };
    services.deleteTrayIcon = [this] { tray_.hide(); };
    services.cursorPosition = [] {
        const QPoint p = QCursor::pos();
        return ScreenPoint{p.x(), p.y()};
    };
    services.showMenu = [this](const std::vector<TrayMenuItem>&, ScreenPoint at) -> uint32_t {
        std::unique_ptr<QMenu> menu = buildMenu();
        QAction* chosen = menu->exec(QPoint(at.x, at.y));
        return chosen ? chosen->data().toUInt() : 0;
    };
    services.startTimer = [this](int, int periodMs) { timer_.start(periodMs); };
    services.stopTimer = [this](int) { timer_.stop(); };
    services.askYesNo = [](const std::string& caption, const std::string& text) {
        QMessageBox box(QMessageBox::Question, QString::fromStdString(caption),
                        QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No);
        box.setWindowIcon(platform::applicationIcon());
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
        return box.exec() == QMessageBox::Yes;
    };
    services.openUrl = [](const std::string& url) {
        QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
    };
    controller_ = std::make_unique<CPanoviewDlg>(config, std::move(services));

    connect(&timer_, &QTimer::timeout, this, [this] { controller_->OnTimer(kKeepAliveTimer); });
    // Queued: the menu and the questions it leads to run their own event
    // loops, and they must not run inside the icon window's mouse handler.
    // The tray host may restart meanwhile, and docking the icon again
    // replaces that window; returning into the handler of a window that is
    // gone would end the program.
    connect(
        &tray_, &QSystemTrayIcon::activated, this,
        [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::DoubleClick)
                controller_->OnTrayNotify(kTrayIconId, WM_LBUTTONDBLCLK);
            else if (reason == QSystemTrayIcon::Context)
                controller_->OnTrayNotify(kTrayIconId, WM_RBUTTONUP);
        },
        Qt::QueuedConnection);
}

std::unique_ptr<QMenu> TrayWindow::buildMenu() const {
    auto menu = std::make_unique<QMenu>();
    for (const TrayMenuItem& item : trayMenu()) {
        if (item.id == 0) {
            menu->addSeparator();
            continue;
        }
        menu->addAction(QString::fromUtf8(item.text))->setData(item.id);
    }
    return menu;
}

// The tray host may go and come back (a panel restarted): each new owner of
// the tray selection is told to the controller, which adds the icon again.
void TrayWindow::watchTrayHost() {
    trayHost_ = platform::trayHostWindow();
    connect(&trayHostCheck_, &QTimer::timeout, this, [this] {
        const uint32_t host = platform::trayHostWindow();
        if (host != trayHost_ && host != 0)
            controller_->OnTaskbarCreated();
        trayHost_ = host;
    });
    trayHostCheck_.start(2000);
}

int TrayWindow::DoModal(const std::string& commandLineTail) {
    // SIGTERM and SIGINT end the run through the event loop, so the process
    // leaves by the ordinary way with status 0.
    platform::quitOnTerminationSignals();
    hide();
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        DebugPrint("CPanoviewDlg::OnInitDialog(): no tray host yet; the icon appears when one "
                   "starts\n");
    watchTrayHost();
    controller_->OnInitDialog(commandLineTail);
    // Asked to end while the first dialog was open: its loop has ended, and
    // a loop started now would never be told to end.
    int status = 0;
    if (!platform::takeTerminationRequest()) {
        status = QApplication::exec();
        platform::takeTerminationRequest(); // the request that ended this run
    }
    controller_->DestroyWindow();
    return status;
}
