#include "platform/linux/qt/StatusNotifier.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QImage>
#include <QPixmap>
#include <QStringList>
#include <QVariant>
#include <QtEndian>
#include <atomic>

namespace platform {

namespace {

constexpr const char* kWatcherService = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
constexpr const char* kItemPath = "/StatusNotifierItem";
// Separators carry no command; their menu ids lie far above every command's.
constexpr int kSeparatorIdBase = 0x40000000;

} // namespace

bool statusNotifierTrayInUse() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() ||
        !bus.interface()->isServiceRegistered(kWatcherService))
        return false;
    QDBusInterface watcher(kWatcherService, kWatcherPath, kWatcherService, bus);
    return watcher.isValid() && watcher.property("IsStatusNotifierHostRegistered").toBool();
}

// One picture of the icon as the tray takes it: width, height and ARGB32
// pixels in network byte order, (iiay).
struct DBusImage {
    int width = 0;
    int height = 0;
    QByteArray pixels;
};
using DBusImageList = QList<DBusImage>;

// The tooltip: icon name, icon pictures, title and text, (sa(iiay)ss).
struct DBusToolTip {
    QString iconName;
    DBusImageList images;
    QString title;
    QString text;
};

// One menu item's properties, (ia{sv});
// one event of EventGroup, (isvu).
struct DBusMenuItem {
    int id = 0;
    QVariantMap properties;
};
struct DBusMenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};

} // namespace platform

Q_DECLARE_METATYPE(platform::DBusImage)
Q_DECLARE_METATYPE(platform::DBusToolTip)
Q_DECLARE_METATYPE(platform::DBusMenuItem)
Q_DECLARE_METATYPE(platform::DBusMenuEvent)

using platform::DBusImage;
using platform::DBusMenuEvent;
using platform::DBusMenuItem;
using platform::DBusMenuLayoutItem;
using platform::DBusToolTip;

QDBusArgument& operator<<(QDBusArgument& a, const DBusImage& image) {
    a.beginStructure();
    a << image.width << image.height << image.pixels;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, DBusImage& image) {
    a.beginStructure();
    a >> image.width >> image.height >> image.pixels;
    a.endStructure();
    return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const DBusToolTip& tip) {
    a.beginStructure();
    a << tip.iconName << tip.images << tip.title << tip.text;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, DBusToolTip& tip) {
    a.beginStructure();
    a >> tip.iconName >> tip.images >> tip.title >> tip.text;
    a.endStructure();
    return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const DBusMenuItem& item) {
    a.beginStructure();
    a << item.id << item.properties;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, DBusMenuItem& item) {
    a.beginStructure();
    a >> item.id >> item.properties;
    a.endStructure();
    return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const DBusMenuEvent& event) {
    a.beginStructure();
    a << event.id << event.eventId << event.data << event.timestamp;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, DBusMenuEvent& event) {
    a.beginStructure();
    a >> event.id >> event.eventId >> event.data >> event.timestamp;
    a.endStructure();
    return a;
}
// The items below an item travel as variants, each holding an item.
QDBusArgument& operator<<(QDBusArgument& a, const DBusMenuLayoutItem& item) {
    a.beginStructure();
    a << item.id << item.properties;
    a.beginArray(qMetaTypeId<QDBusVariant>());
    for (const DBusMenuLayoutItem& child : item.children)
        a << QDBusVariant(QVariant::fromValue(child));
    a.endArray();
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, DBusMenuLayoutItem& item) {
    a.beginStructure();
    a >> item.id >> item.properties;
    item.children.clear();
    a.beginArray();
    while (!a.atEnd()) {
        QDBusVariant variant;
        a >> variant;
        DBusMenuLayoutItem child;
        qvariant_cast<QDBusArgument>(variant.variant()) >> child;
        item.children.push_back(child);
    }
    a.endArray();
    a.endStructure();
    return a;
}

namespace platform {

namespace {

void registerTypes() {
    static std::atomic<bool> done{false};
    if (done.exchange(true))
        return;
    qDBusRegisterMetaType<DBusImage>();
    qDBusRegisterMetaType<QList<DBusImage>>();
    qDBusRegisterMetaType<DBusToolTip>();
    qDBusRegisterMetaType<DBusMenuItem>();
    qDBusRegisterMetaType<QList<DBusMenuItem>>();
    qDBusRegisterMetaType<DBusMenuEvent>();
    qDBusRegisterMetaType<QList<DBusMenuEvent>>();
    qDBusRegisterMetaType<DBusMenuLayoutItem>();
}

// The icon's pictures in the sizes panels draw, as the tray takes them.
DBusImageList trayImages(const QIcon& icon) {
    DBusImageList images;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QImage image = icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
        if (image.isNull())
            continue;
        DBusImage out{image.width(), image.height(), {}};
        out.pixels.resize(qsizetype(image.width()) * image.height() * 4);
        auto* pixel = reinterpret_cast<quint32*>(out.pixels.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x)
                *pixel++ = qToBigEndian(line[x]);
        }
        images.push_back(out);
    }
    return images;
}

// A menu text with Qt's "&" mnemonic in dbusmenu's form: "_" before the
// letter, "__" for a plain underscore, "&&" a plain ampersand.
QString menuLabel(const QString& text) {
    QString label;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == '_')
            label += "__";
        else if (c == '&' && i + 1 < text.size() && text[i + 1] == '&')
            label += text[++i];
        else if (c == '&')
            label += '_';
        else
            label += c;
    }
    return label;
}

} // namespace

struct StatusNotifierItem::State {
    QString id;
    QString title;
    QString toolTip;
    DBusImageList images;
    std::vector<StatusNotifierEntry> entries;
    uint revision = 1;

    // The menu id of entry `index`: its command, or a separator's own.
    int menuId(size_t index) const {
        return entries[index].id ? int(entries[index].id) : kSeparatorIdBase + int(index);
    }
    // The properties of the menu item `id`, the root (0) included; false
    // when the menu has no such item.
    bool itemProperties(int id, QVariantMap& properties) const {
        if (id == 0) {
            properties = {{"children-display", QString("submenu")}};
            return true;
        }
        for (size_t i = 0; i < entries.size(); ++i) {
            if (menuId(i) != id)
                continue;
            if (entries[i].id == 0)
                properties = {{"type", QString("separator")}};
            else
                properties = {{"label", menuLabel(entries[i].text)}, {"enabled", true}};
            return true;
        }
        return false;
    }
    static QVariantMap only(const QVariantMap& properties, const QStringList& names) {
        if (names.isEmpty())
            return properties;
        QVariantMap kept;
        for (const QString& name : names)
            if (properties.contains(name))
                kept.insert(name, properties.value(name));
        return kept;
    }
};

namespace {

// An object on the bus: it knows the call being answered (an adaptor's slot
// runs in its object's call context).
class BusObject : public QObject, public QDBusContext {
    Q_OBJECT
public:
    using QObject::QObject;
};

// org.kde.StatusNotifierItem, as panels call it.
class ItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ empty)
    Q_PROPERTY(QString IconName READ empty)
    Q_PROPERTY(platform::DBusImageList IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ empty)
    Q_PROPERTY(platform::DBusImageList OverlayIconPixmap READ noImages)
    Q_PROPERTY(QString AttentionIconName READ empty)
    Q_PROPERTY(platform::DBusImageList AttentionIconPixmap READ noImages)
    Q_PROPERTY(QString AttentionMovieName READ empty)
    Q_PROPERTY(platform::DBusToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)

public:
    ItemAdaptor(QObject* host, StatusNotifierItem& item, const StatusNotifierItem::State& state)
        : QDBusAbstractAdaptor(host), item_(item), state_(state) {}

    QString category() const { return "ApplicationStatus"; }
    QString id() const { return state_.id; }
    QString title() const { return state_.title; }
    QString status() const { return "Active"; }
    int windowId() const { return 0; }
    QString empty() const { return {}; }
    DBusImageList iconPixmap() const { return state_.images; }
    DBusImageList noImages() const { return {}; }
    DBusToolTip toolTip() const { return {{}, {}, state_.title, state_.toolTip}; }
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const { return QDBusObjectPath(kStatusNotifierMenuPath); }

public slots:
    void Activate(int x, int y) { emit item_.activated({x, y}); }
    void SecondaryActivate(int x, int y) { emit item_.secondaryActivated({x, y}); }
    void ContextMenu(int x, int y) { emit item_.contextMenuRequested({x, y}); }
    void Scroll(int, const QString&) {}

signals:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    StatusNotifierItem& item_;
    const StatusNotifierItem::State& state_;
};

// com.canonical.dbusmenu: the tray menu for the panels that show it.
class MenuAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    MenuAdaptor(QObject* host, StatusNotifierItem& item, const StatusNotifierItem::State& state)
        : QDBusAbstractAdaptor(host), item_(item), state_(state) {}

    uint version() const { return 3; }
    QString textDirection() const { return "ltr"; }
    QString status() const { return "normal"; }
    QStringList iconThemePath() const { return {}; }

public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   platform::DBusMenuLayoutItem& layout) {
        QVariantMap properties;
        if (!state_.itemProperties(parentId, properties)) {
            noSuchItem(parentId);
            return 0;
        }
        layout = {parentId, StatusNotifierItem::State::only(properties, propertyNames), {}};
        // Only the root has items below it.
        if (parentId == 0 && recursionDepth != 0)
            for (size_t i = 0; i < state_.entries.size(); ++i) {
                const int id = state_.menuId(i);
                state_.itemProperties(id, properties);
                layout.children.push_back(
                    {id, StatusNotifierItem::State::only(properties, propertyNames), {}});
            }
        return state_.revision;
    }
    QList<platform::DBusMenuItem> GetGroupProperties(const QList<int>& ids,
                                                     const QStringList& propertyNames) {
        QList<DBusMenuItem> items;
        for (int id : ids) {
            QVariantMap properties;
            if (state_.itemProperties(id, properties))
                items.push_back({id, StatusNotifierItem::State::only(properties, propertyNames)});
        }
        return items;
    }
    QDBusVariant GetProperty(int id, const QString& name) {
        QVariantMap properties;
        if (!state_.itemProperties(id, properties)) {
            noSuchItem(id);
            return {};
        }
        return QDBusVariant(properties.value(name));
    }
    void Event(int id, const QString& eventId, const QDBusVariant&, uint) {
        if (!clicked(id, eventId))
            noSuchItem(id);
    }
    QList<int> EventGroup(const QList<platform::DBusMenuEvent>& events) {
        QList<int> unknown;
        for (const DBusMenuEvent& event : events)
            if (!clicked(event.id, event.eventId))
                unknown.push_back(event.id);
        return unknown;
    }
    bool AboutToShow(int) { return false; }
    QList<int> AboutToShowGroup(const QList<int>&, QList<int>& idErrors) {
        idErrors.clear();
        return {};
    }

signals:
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    // An event on an item: a click on a command's entry chooses it; other
    // events (hovered, opened, closed) need nothing. False for an item the
    // menu does not have.
    bool clicked(int id, const QString& eventId) {
        QVariantMap properties;
        if (!state_.itemProperties(id, properties))
            return false;
        if (eventId == "clicked" && id > 0 && id < kSeparatorIdBase)
            emit item_.entryChosen(uint32_t(id));
        return true;
    }
    // The call names an item the menu does not have: an error reply.
    void noSuchItem(int id) {
        static_cast<BusObject*>(parent())->sendErrorReply(QDBusError::InvalidArgs,
                                                          QString("no menu item %1").arg(id));
    }

private:
    StatusNotifierItem& item_;
    const StatusNotifierItem::State& state_;
};

} // namespace

StatusNotifierItem::StatusNotifierItem(const QString& id, const QString& title, const QIcon& icon,
                                       QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), state_(std::make_unique<State>()) {
    registerTypes();
    static std::atomic<int> count{0};
    service_ = QString("org.kde.StatusNotifierItem-%1-%2")
                   .arg(QCoreApplication::applicationPid())
                   .arg(++count);
    state_->id = id;
    state_->title = title;
    state_->images = trayImages(icon);
    itemObject_ = new BusObject(this);
    new ItemAdaptor(itemObject_, *this, *state_);
    menuObject_ = new BusObject(this);
    new MenuAdaptor(menuObject_, *this, *state_);
    // A panel that starts (or restarts) after the item is shown finds it:
    // each new watcher is told of it again.
    auto* watch = new QDBusServiceWatcher(kWatcherService, bus_,
                                          QDBusServiceWatcher::WatchForRegistration, this);
    connect(watch, &QDBusServiceWatcher::serviceRegistered, this, [this] {
        if (visible_)
            registerWithWatcher();
    });
}

StatusNotifierItem::~StatusNotifierItem() {
    hide();
}

void StatusNotifierItem::setToolTip(const QString& text) {
    if (text == state_->toolTip)
        return;
    state_->toolTip = text;
    if (visible_)
        emit itemObject_->findChild<ItemAdaptor*>()->NewToolTip();
}

void StatusNotifierItem::setMenu(const std::vector<StatusNotifierEntry>& entries) {
    state_->entries = entries;
    ++state_->revision;
    if (visible_)
        emit menuObject_->findChild<MenuAdaptor*>()->LayoutUpdated(state_->revision, 0);
}

bool StatusNotifierItem::show() {
    if (!visible_) {
        if (!bus_.isConnected() ||
            !bus_.registerObject(kItemPath, itemObject_, QDBusConnection::ExportAdaptors) ||
            !bus_.registerObject(kStatusNotifierMenuPath, menuObject_,
                                 QDBusConnection::ExportAdaptors)) {
            bus_.unregisterObject(kItemPath);
            return false;
        }
        if (!bus_.registerService(service_)) {
            bus_.unregisterObject(kItemPath);
            bus_.unregisterObject(kStatusNotifierMenuPath);
            return false;
        }
        visible_ = true;
    }
    registerWithWatcher();
    return true;
}

void StatusNotifierItem::hide() {
    if (!visible_)
        return;
    visible_ = false;
    bus_.unregisterService(service_);
    bus_.unregisterObject(kItemPath);
    bus_.unregisterObject(kStatusNotifierMenuPath);
}

// Asked without waiting for the answer: the watcher may be slow or gone, and
// the tray must not hold up the program.
void StatusNotifierItem::registerWithWatcher() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, kWatcherService, "RegisterStatusNotifierItem");
    call << service_;
    bus_.asyncCall(call);
}

} // namespace platform

#include "StatusNotifier.moc"
