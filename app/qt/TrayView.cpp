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
    // On a StatusNotifier tray the icon is Panoview's own item there: a
    // panel that shows exported menus shows the tray menu itself, next to
    // the icon, and reports the entry chosen; a panel that does not asks
    // for the menu at a point of its own (the point an X11 program is told
    // of its pointer there is not where the operator clicked). An XEmbed
    // tray keeps the menu Panoview shows on a right click.
    if (platform::statusNotifierTrayInUse())
        useStatusNotifierTray();

    connect(&timer_, &QTimer::timeout, this, [this] { controller_.OnTimer(kKeepAliveTimer); });
    // Queued: the menu and the questions it leads to run their own event
    // loops, and they must not run inside the icon window's mouse handler.
    // The tray host may restart meanwhile, and docking the icon again
    // replaces that window; returning into the handler of a window that is
    // gone would end the program.
    connect(
        &tray_, &QSystemTrayIcon::activated, this,
        [this](QSystemTrayIcon::ActivationReason reason) {
            // Without an XEmbed tray Qt has put the icon in a StatusNotifier
            // one, which reports one activation and never a double click.
            const bool statusNotifier = platform::trayHostWindow() == 0;
            controller_.OnTrayNotify(reason == QSystemTrayIcon::DoubleClick ? TrayClick::Double
                                     : reason == QSystemTrayIcon::Context   ? TrayClick::Context
                                     : reason == QSystemTrayIcon::Trigger && statusNotifier
                                         ? TrayClick::Activate
                                         : TrayClick::Other);
        },
        Qt::QueuedConnection);
}

// The item's activation opens the login dialog; its menu request shows the
// tray menu at the panel's point; each entry the panel reports chosen is the
// command. Queued, as the icon's clicks are: the menu and the questions run
// their own event loops, and the D-Bus call that asked is answered first.
void TrayView::useStatusNotifierTray() {
    item_ = std::make_unique<platform::StatusNotifierItem>("panoview", "Panoview",
                                                           platform::applicationIcon());
    std::vector<platform::StatusNotifierEntry> entries;
    for (const TrayMenuItem& item : trayMenu())
        entries.push_back({item.id, platform::qtText(item.text)});
    item_->setMenu(entries);
    connect(
        item_.get(), &platform::StatusNotifierItem::activated, this,
        [this] { controller_.OnTrayNotify(TrayClick::Activate); }, Qt::QueuedConnection);
    connect(
        item_.get(), &platform::StatusNotifierItem::contextMenuRequested, this,
        [this](QPoint at) {
            menuPoint_ = at;
            controller_.OnTrayNotify(TrayClick::Context);
            menuPoint_.reset();
        },
        Qt::QueuedConnection);
    connect(
        item_.get(), &platform::StatusNotifierItem::entryChosen, this,
        [this](uint32_t id) { controller_.OnCommand(id); }, Qt::QueuedConnection);
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
    if (item_) {
        item_->setToolTip(platform::qtText(tooltip));
        item_->show();
        return;
    }
    tray_.setToolTip(platform::qtText(tooltip));
    // Hiding first makes Qt dock the icon again with the tray host that is
    // there now.
    tray_.hide();
    tray_.show();
}

void TrayView::hideTrayIcon() {
    if (item_)
        item_->hide();
    tray_.hide();
}

uint32_t TrayView::showMenu(const std::vector<TrayMenuItem>& items) {
    std::unique_ptr<QMenu> menu = buildMenu(items);
    QAction* chosen = menu->exec(menuPoint_.value_or(QCursor::pos()));
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
