#include "app/qt/TrayView.h"

#include "platform/TrayHost.h"
#include "platform/linux/qt/AppIcon.h"
#include "platform/linux/qt/MessageBox.h"
#include "platform/linux/qt/QtText.h"
#include "platform/linux/qt/StatusNotifier.h"

#include <QAction>
#include <QCursor>
#include <QDesktopServices>
#include <QUrl>

TrayView::TrayView(SystemConfig& config, PanoviewDlgServices services)
    : controller_(*this, config, std::move(services)) {
    setWindowTitle("Panoview");
    setWindowIcon(platform::applicationIcon());
    // A tool window of no size at the origin: nothing of it is ever seen and
    // it has no taskbar entry.
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setGeometry(0, 0, 0, 0);
    tray_.setIcon(platform::applicationIcon());
    // A StatusNotifier panel shows the icon's menu itself, next to the icon
    // (the point an X11 program is told of its pointer there is not where
    // the operator clicked); each entry it reports chosen is the command.
    // An XEmbed tray keeps the menu Panoview shows on a right click.
    statusNotifier_ = platform::statusNotifierTrayInUse();
    if (statusNotifier_) {
        exportedMenu_ = buildMenu(trayMenu());
        for (QAction* action : exportedMenu_->actions())
            if (!action->isSeparator())
                connect(
                    action, &QAction::triggered, this,
                    [this, id = action->data().toUInt()] { controller_.OnCommand(id); },
                    Qt::QueuedConnection);
        tray_.setContextMenu(exportedMenu_.get());
    }

    connect(&timer_, &QTimer::timeout, this, [this] { controller_.OnTimer(kKeepAliveTimer); });
    // Queued: the menu and the questions it leads to run their own event
    // loops, and they must not run inside the icon window's mouse handler.
    // The tray host may restart meanwhile, and docking the icon again
    // replaces that window; returning into the handler of a window that is
    // gone would end the program.
    connect(
        &tray_, &QSystemTrayIcon::activated, this,
        [this](QSystemTrayIcon::ActivationReason reason) {
            // A StatusNotifier tray reports one activation and never a
            // double click.
            const bool statusNotifier = statusNotifier_ || platform::trayHostWindow() == 0;
            controller_.OnTrayNotify(reason == QSystemTrayIcon::DoubleClick ? TrayClick::Double
                                     : reason == QSystemTrayIcon::Context   ? TrayClick::Context
                                     : reason == QSystemTrayIcon::Trigger && statusNotifier
                                         ? TrayClick::Activate
                                         : TrayClick::Other);
        },
        Qt::QueuedConnection);
}

std::unique_ptr<QMenu> TrayView::buildMenu(const std::vector<TrayMenuItem>& items) {
    auto menu = std::make_unique<QMenu>();
    for (const TrayMenuItem& item : items) {
        if (item.id == 0) {
            menu->addSeparator();
            continue;
        }
        menu->addAction(platform::qtText(item.text))->setData(item.id);
    }
    return menu;
}

void TrayView::showTrayIcon(const std::string& tooltip) {
    tray_.setToolTip(platform::qtText(tooltip));
    // Hiding first makes Qt dock the icon again with the tray host that is
    // there now.
    tray_.hide();
    tray_.show();
}

void TrayView::hideTrayIcon() {
    tray_.hide();
}

uint32_t TrayView::showMenu(const std::vector<TrayMenuItem>& items) {
    std::unique_ptr<QMenu> menu = buildMenu(items);
    QAction* chosen = menu->exec(QCursor::pos());
    return chosen ? chosen->data().toUInt() : 0;
}

void TrayView::startKeepAliveTimer(int periodMs) {
    timer_.start(periodMs);
}

void TrayView::stopKeepAliveTimer() {
    timer_.stop();
}

// The tray host may go and come back (a panel restarted): each new owner of
// the tray selection is told to the controller, which adds the icon again.
void TrayView::watchTrayHost(int periodMs) {
    trayHost_ = platform::trayHostWindow();
    connect(&trayHostCheck_, &QTimer::timeout, this, [this] {
        const uint32_t host = platform::trayHostWindow();
        if (host != trayHost_ && host != 0)
            controller_.OnTaskbarCreated();
        trayHost_ = host;
    });
    trayHostCheck_.start(periodMs);
}

bool TrayView::askYesNo(const std::string& caption, const std::string& text) {
    return platform::askYesNo(caption, text);
}

void TrayView::openUrl(const std::string& url) {
    QDesktopServices::openUrl(QUrl(platform::qtText(url)));
}
