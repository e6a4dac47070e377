// The StatusNotifier tray (KDE Plasma, GNOME's AppIndicator extension,
// swaybar): the D-Bus tray of desktops without an XEmbed tray.
#pragma once

#include <QDBusArgument>
#include <QDBusConnection>
#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QVariantMap>
#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

// Whether the tray icon goes to a StatusNotifier tray: a StatusNotifier
// host is registered with the watcher on the session bus. False without a
// session bus.
bool statusNotifierTrayInUse();

// One entry of a tray item's menu: a command (id > 0) and its text, where
// "&" marks the mnemonic letter as in Qt, or a separator (id 0).
struct StatusNotifierEntry {
    uint32_t id = 0;
    QString text;
};

// The icon in a StatusNotifier tray: an org.kde.StatusNotifierItem on the
// bus with its menu exported as com.canonical.dbusmenu, registered with the
// panel's watcher (and again whenever a watcher comes back, a panel
// restarted). A panel that shows exported menus shows this one next to the
// icon; a panel that does not (swaybar) asks for the menu at a point of its
// choosing, which reaches the program with that point.
class StatusNotifierItem : public QObject {
    Q_OBJECT
public:
    StatusNotifierItem(const QString& id, const QString& title, const QIcon& icon,
                       QDBusConnection bus = QDBusConnection::sessionBus(),
                       QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    void setToolTip(const QString& text);
    void setMenu(const std::vector<StatusNotifierEntry>& entries);
    // Puts the item on the bus and asks the watcher to show it; when it is
    // already there, only asks again. False when the bus refused its name.
    bool show();
    // Takes the item off the bus: the panel drops its icon.
    void hide();
    bool isVisible() const { return visible_; }
    // The item's bus name, as the watcher is told it.
    const QString& service() const { return service_; }

    struct State;

signals:
    // The panel's primary activation (a left click), its secondary one (a
    // middle click), and its request for the menu, each at the point on the
    // desktop the panel gives.
    void activated(QPoint at);
    void secondaryActivated(QPoint at);
    void contextMenuRequested(QPoint at);
    // The menu entry the panel reports clicked.
    void entryChosen(uint32_t id);

private:
    void registerWithWatcher();

    QDBusConnection bus_;
    QString service_;
    bool visible_ = false;
    std::unique_ptr<State> state_;
    QObject* itemObject_ = nullptr;
    QObject* menuObject_ = nullptr;
};

// The object path of the exported menu.
inline constexpr const char* kStatusNotifierMenuPath = "/MenuBar";

// One item of an exported menu's layout, with the items below it, as
// com.canonical.dbusmenu's GetLayout gives it: (ia{sv}av).
struct DBusMenuLayoutItem {
    int id = 0;
    QVariantMap properties;
    QList<DBusMenuLayoutItem> children;
};

} // namespace platform

QDBusArgument& operator<<(QDBusArgument& argument, const platform::DBusMenuLayoutItem& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, platform::DBusMenuLayoutItem& item);
Q_DECLARE_METATYPE(platform::DBusMenuLayoutItem)
