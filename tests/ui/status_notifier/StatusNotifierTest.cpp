// The tray icon on a StatusNotifier tray, on a session bus of the test's own
// with a panel's watcher on it (the desktops suite's test double): the item
// registers, and again when the panel comes back; it shows what a panel
// reads; the panel's calls reach the program with the panel's point; the
// exported menu's layout and clicks; and the tray menu opening at the point
// the panel asked for.
#include "platform/linux/qt/StatusNotifier.h"
#include "RecordingServices.h"
#include "app/Program.h"
#include "app/qt/TrayView.h"
#include "platform/linux/qt/AppIcon.h"

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QEventLoop>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <csignal>
#include <cstdio>
#include <memory>

namespace {

QString busAddress;

// The panel: its own connection to the bus, and the watcher it runs.
QDBusConnection panel() {
    static QDBusConnection connection = QDBusConnection::connectToBus(busAddress, "panel");
    return connection;
}

std::unique_ptr<QProcess> startWatcher() {
    auto watcher = std::make_unique<QProcess>();
    watcher->start(STATUS_NOTIFIER_WATCHER, {});
    if (!watcher->waitForStarted())
        return nullptr;
    QByteArray out;
    while (!out.contains("ready\n") && watcher->waitForReadyRead(10000))
        out += watcher->readAllStandardOutput();
    return out.contains("ready\n") ? std::move(watcher) : nullptr;
}

// The items the watcher was told of since it started.
QStringList itemsOf(QProcess& watcher, QByteArray& seen) {
    seen += watcher.readAllStandardOutput();
    QStringList items;
    for (const QByteArray& line : seen.split('\n'))
        if (line.startsWith("item "))
            items << QString::fromUtf8(line.mid(5));
    return items;
}

// A call as the panel makes it, answered while the program's event loop runs.
QDBusMessage callAsPanel(const QString& service, const QString& path, const QString& interface,
                         const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(arguments);
    QDBusPendingCall pending = panel().asyncCall(call, 10000);
    QDBusPendingCallWatcher watch(pending);
    QEventLoop loop;
    QObject::connect(&watch, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(15000, &loop, &QEventLoop::quit);
    if (!pending.isFinished())
        loop.exec();
    return pending.reply();
}

QDBusMessage callItem(const platform::StatusNotifierItem& item, const QString& method,
                      const QVariantList& arguments = {}) {
    return callAsPanel(item.service(), "/StatusNotifierItem", "org.kde.StatusNotifierItem", method,
                       arguments);
}
QDBusMessage callMenu(const platform::StatusNotifierItem& item, const QString& method,
                      const QVariantList& arguments = {}) {
    return callAsPanel(item.service(), platform::kStatusNotifierMenuPath, "com.canonical.dbusmenu",
                       method, arguments);
}
QVariantMap itemProperties(const platform::StatusNotifierItem& item) {
    const QDBusMessage reply =
        callAsPanel(item.service(), "/StatusNotifierItem", "org.freedesktop.DBus.Properties",
                    "GetAll", {QString("org.kde.StatusNotifierItem")});
    return reply.type() == QDBusMessage::ReplyMessage
               ? qdbus_cast<QVariantMap>(reply.arguments().value(0))
               : QVariantMap{};
}

bool onTheBus(const QString& service) {
    return panel().interface()->isServiceRegistered(service);
}

// The menu's layout as "ID LABEL" lines, "-" for a separator, and its revision.
QStringList layoutLines(const QDBusMessage& reply, uint* revision = nullptr) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2)
        return {"error " + reply.errorName() + " " + reply.errorMessage()};
    if (revision)
        *revision = reply.arguments()[0].toUInt();
    const auto root = qdbus_cast<platform::DBusMenuLayoutItem>(reply.arguments()[1]);
    QStringList lines{QString("root %1 %2")
                          .arg(root.id)
                          .arg(root.properties.value("children-display").toString())};
    for (const auto& child : root.children)
        lines << (child.properties.value("type").toString() == "separator"
                      ? QString("-")
                      : QString("%1 %2").arg(child.id).arg(
                            child.properties.value("label").toString()));
    return lines;
}

const std::vector<platform::StatusNotifierEntry> kEntries{
    {7, "&Open"}, {0, ""}, {9, "Save_as && &quit"}};

} // namespace

class StatusNotifierTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QProcess> watcher_;
    QByteArray watcherOut_;

private slots:
    void init() {
        watcher_ = startWatcher();
        watcherOut_.clear();
        QVERIFY2(watcher_, "the panel's watcher starts");
    }
    void cleanup() {
        if (watcher_) {
            watcher_->kill();
            watcher_->waitForFinished();
        }
    }

    void registersAndAgainWhenThePanelComesBack() {
        platform::StatusNotifierItem item("panoview", "Panoview", platform::applicationIcon());
        QVERIFY(!onTheBus(item.service()));
        QVERIFY(item.show());
        QVERIFY(item.isVisible());
        QTRY_COMPARE(itemsOf(*watcher_, watcherOut_), QStringList{item.service()});
        QVERIFY(onTheBus(item.service()));

        // The panel restarts: its new watcher is told of the item again.
        cleanup();
        init();
        QTRY_COMPARE(itemsOf(*watcher_, watcherOut_), QStringList{item.service()});

        // Hidden, the item leaves the bus; shown again, it is back.
        item.hide();
        QTRY_VERIFY(!onTheBus(item.service()));
        QVERIFY(item.show());
        QTRY_VERIFY(onTheBus(item.service()));
        // A second show asks the watcher again and keeps the name.
        QVERIFY(item.show());
        QTRY_COMPARE(itemsOf(*watcher_, watcherOut_).size(), 3);
    }

    void showsWhatAPanelReads() {
        platform::StatusNotifierItem item("panoview", "Panoview", platform::applicationIcon());
        item.setToolTip("Loomhaven多屏监控系统");
        QVERIFY(item.show());
        const QVariantMap properties = itemProperties(item);
        QCOMPARE(properties.value("Id").toString(), QString("panoview"));
        QCOMPARE(properties.value("Title").toString(), QString("Panoview"));
        QCOMPARE(properties.value("Status").toString(), QString("Active"));
        QCOMPARE(properties.value("Category").toString(), QString("ApplicationStatus"));
        QCOMPARE(properties.value("ItemIsMenu").toBool(), false);
        QCOMPARE(qdbus_cast<QDBusObjectPath>(properties.value("Menu")).path(),
                 QString(platform::kStatusNotifierMenuPath));

        // The icon's pictures: ARGB32 in network byte order, each whole,
        // the middle of each one opaque (the lit screen).
        const QDBusArgument pictures = properties.value("IconPixmap").value<QDBusArgument>();
        QStringList sizes;
        pictures.beginArray();
        while (!pictures.atEnd()) {
            int width = 0, height = 0;
            QByteArray pixels;
            pictures.beginStructure();
            pictures >> width >> height >> pixels;
            pictures.endStructure();
            QCOMPARE(pixels.size(), width * height * 4);
            const int middle = (height / 2 * width + width / 2) * 4;
            QCOMPARE(uchar(pixels[middle]), uchar(0xff)); // alpha comes first
            sizes << QString("%1x%2").arg(width).arg(height);
        }
        pictures.endArray();
        QCOMPARE(sizes, (QStringList{"16x16", "22x22", "24x24", "32x32", "48x48", "64x64"}));

        // The tooltip: (icon name, pictures, title, text).
        const QDBusArgument tip = properties.value("ToolTip").value<QDBusArgument>();
        QString iconName, title, text;
        tip.beginStructure();
        tip >> iconName;
        tip.beginArray();
        while (!tip.atEnd()) {
            tip.beginStructure();
            int w, h;
            QByteArray bytes;
            tip >> w >> h >> bytes;
            tip.endStructure();
        }
        tip.endArray();
        tip >> title >> text;
        tip.endStructure();
        QCOMPARE(title, QString("Panoview"));
        QCOMPARE(text, QString("Loomhaven多屏监控系统"));

        // Every call a panel may make is there, with the arguments it sends.
        const auto introspect = [&](const char* path) {
            return callAsPanel(item.service(), path, "org.freedesktop.DBus.Introspectable",
                               "Introspect")
                .arguments()
                .value(0)
                .toString()
                .remove(' ');
        };
        const QString itemXml = introspect("/StatusNotifierItem");
        for (const char* method : {"Activate", "SecondaryActivate", "ContextMenu", "Scroll"})
            QVERIFY2(itemXml.contains(QString("<methodname=\"%1\">").arg(method)), method);
        const QString menuXml = introspect(platform::kStatusNotifierMenuPath);
        for (const char* method : {"GetLayout", "GetGroupProperties", "GetProperty", "Event",
                                   "EventGroup", "AboutToShow", "AboutToShowGroup"})
            QVERIFY2(menuXml.contains(QString("<methodname=\"%1\">").arg(method)), method);
        QVERIFY(menuXml.contains("type=\"(ia{sv}av)\"direction=\"out\""));
        QVERIFY(menuXml.contains("type=\"a(isvu)\"direction=\"in\""));
    }

    void callsReachTheProgramWithThePanelsPoint_data() {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QPoint>("at");
        QTest::newRow("left click") << "Activate" << QPoint(1250, 12);
        QTest::newRow("middle click") << "SecondaryActivate" << QPoint(3000, 700);
        QTest::newRow("menu of swaybar on output 2") << "ContextMenu" << QPoint(3790, 15);
        QTest::newRow("menu at a negative point") << "ContextMenu" << QPoint(-20, 5);
    }
    void callsReachTheProgramWithThePanelsPoint() {
        QFETCH(QString, method);
        QFETCH(QPoint, at);
        platform::StatusNotifierItem item("panoview", "Panoview", platform::applicationIcon());
        QSignalSpy activated(&item, &platform::StatusNotifierItem::activated);
        QSignalSpy secondary(&item, &platform::StatusNotifierItem::secondaryActivated);
        QSignalSpy menu(&item, &platform::StatusNotifierItem::contextMenuRequested);
        QVERIFY(item.show());
        QCOMPARE(callItem(item, method, {at.x(), at.y()}).type(), QDBusMessage::ReplyMessage);
        QSignalSpy& expected = method == "Activate"            ? activated
                               : method == "SecondaryActivate" ? secondary
                                                               : menu;
        QCOMPARE(activated.size() + secondary.size() + menu.size(), 1);
        QCOMPARE(expected.size(), 1);
        QCOMPARE(expected[0][0].toPoint(), at);
        // A scroll on the icon does nothing, and is answered.
        QCOMPARE(callItem(item, "Scroll", {3, QString("vertical")}).type(),
                 QDBusMessage::ReplyMessage);
    }

    void menuLayoutAsAPanelReadsIt() {
        platform::StatusNotifierItem item("panoview", "Panoview", platform::applicationIcon());
        item.setMenu(kEntries);
        QVERIFY(item.show());
        uint revision = 0;
        // Mnemonics in dbusmenu's form, a plain underscore doubled, "&&" a
        // plain ampersand; separators with ids of their own.
        QCOMPARE(layoutLines(callMenu(item, "GetLayout", {0, -1, QStringList{}}), &revision),
                 (QStringList{"root 0 submenu", "7 _Open", "-", "9 Save__as & _quit"}));
        QVERIFY(revision > 0);

        // Only the properties asked for.
        const QDBusMessage labels = callMenu(item, "GetLayout", {0, 1, QStringList{"label"}});
        const auto root = qdbus_cast<platform::DBusMenuLayoutItem>(labels.arguments().value(1));
        QCOMPARE(root.children.size(), 3);
        QCOMPARE(root.children[0].properties.keys(), QStringList{"label"});
        QVERIFY(root.children[1].properties.isEmpty());
        // Depth 0: the root alone.
        QCOMPARE(layoutLines(callMenu(item, "GetLayout", {0, 0, QStringList{}})),
                 QStringList{"root 0 submenu"});
        // One entry, and one of its properties.
        QCOMPARE(layoutLines(callMenu(item, "GetLayout", {9, -1, QStringList{}})),
                 QStringList{"root 9 "});
        QCOMPARE(callMenu(item, "GetProperty", {7, QString("label")})
                     .arguments()
                     .value(0)
                     .value<QDBusVariant>()
                     .variant()
                     .toString(),
                 QString("_Open"));
        // An item the menu does not have is an error, not an empty answer.
        QCOMPARE(callMenu(item, "GetLayout", {42, -1, QStringList{}}).type(),
                 QDBusMessage::ErrorMessage);
        QCOMPARE(callMenu(item, "GetProperty", {42, QString("label")}).type(),
                 QDBusMessage::ErrorMessage);
        QCOMPARE(callMenu(item, "AboutToShow", {0}).arguments().value(0).toBool(), false);

        // A new menu: the panel is told, and reads the new layout.
        QVERIFY(panel().connect(item.service(), platform::kStatusNotifierMenuPath,
                                "com.canonical.dbusmenu", "LayoutUpdated", this,
                                SLOT(layoutUpdated(uint, int))));
        item.setMenu({{5, "&Exit"}});
        QTRY_COMPARE(updates_.size(), 1);
        uint newRevision = 0;
        QCOMPARE(layoutLines(callMenu(item, "GetLayout", {0, -1, QStringList{}}), &newRevision),
                 (QStringList{"root 0 submenu", "5 _Exit"}));
        QCOMPARE(updates_[0], newRevision);
        QVERIFY(newRevision > revision);
    }

    void menuEvents_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("event");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<int>("chosen");
        QTest::newRow("a command clicked") << 9 << "clicked" << true << 9;
        QTest::newRow("a command hovered") << 7 << "hovered" << true << 0;
        QTest::newRow("the menu opened") << 0 << "opened" << true << 0;
        QTest::newRow("a separator clicked") << 0x40000001 << "clicked" << true << 0;
        QTest::newRow("no such entry") << 8 << "clicked" << false << 0;
    }
    void menuEvents() {
        QFETCH(int, id);
        QFETCH(QString, event);
        QFETCH(bool, answered);
        QFETCH(int, chosen);
        platform::StatusNotifierItem item("panoview", "Panoview", platform::applicationIcon());
        item.setMenu(kEntries);
        QSignalSpy spy(&item, &platform::StatusNotifierItem::entryChosen);
        QVERIFY(item.show());
        const QDBusMessage reply =
            callMenu(item, "Event", {id, event, QVariant::fromValue(QDBusVariant(0)), uint(0)});
        QCOMPARE(reply.type(), answered ? QDBusMessage::ReplyMessage : QDBusMessage::ErrorMessage);
        QCOMPARE(spy.size(), chosen ? 1 : 0);
        if (chosen)
            QCOMPARE(spy[0][0].toUInt(), uint(chosen));
    }

    // The program's tray icon on this tray: the panel's menu request opens
    // the tray menu at the panel's point, an entry the panel reports clicked
    // is that command, the activation opens the login dialog, and hidden,
    // the icon leaves the tray.
    void theTrayMenuOpensWhereThePanelAsks() {
        SystemConfig config;
        config.displays = {{1, "u%s", 0}};
        QStringList calls;
        TrayView window(config, recordingServices(calls));
        platform::StatusNotifierItem* item = window.statusNotifierItem();
        QVERIFY2(item, "a StatusNotifier tray is in use");
        window.showTrayIcon("Loomhaven多屏监控系统");
        QTRY_COMPARE(itemsOf(*watcher_, watcherOut_), QStringList{item->service()});

        QPoint menuAt;
        QStringList menuTexts;
        QTimer close;
        connect(&close, &QTimer::timeout, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                menuAt = menu->geometry().topLeft();
                for (QAction* action : menu->actions())
                    menuTexts << action->text();
                menu->close();
            }
        });
        close.start(20);
        QCOMPARE(callItem(*item, "ContextMenu", {300, 200}).type(), QDBusMessage::ReplyMessage);
        QTRY_COMPARE(menuAt, QPoint(300, 200));
        QCOMPARE(menuTexts.value(0), QString("登录/注销(&L)"));
        close.stop();
        QVERIFY2(calls.isEmpty(), "a menu closed without a choice does nothing");

        QCOMPARE(callMenu(*item, "Event",
                          {int(ID_TRAY_SETTINGS), QString("clicked"),
                           QVariant::fromValue(QDBusVariant(0)), uint(0)})
                     .type(),
                 QDBusMessage::ReplyMessage);
        QTRY_COMPARE(calls, QStringList{"settings"});
        QCOMPARE(callItem(*item, "Activate", {0, 0}).type(), QDBusMessage::ReplyMessage);
        QTRY_COMPARE(calls, (QStringList{"settings", "login create", "login show"}));

        window.hideTrayIcon();
        QTRY_VERIFY(!onTheBus(item->service()));
    }

public slots:
    void layoutUpdated(uint revision, int parent) {
        if (parent == 0)
            updates_ << revision;
    }

private:
    QList<uint> updates_;
};

// A session bus of the test's own, set before the application exists so
// that nothing of Qt reaches another.
int main(int argc, char** argv) {
    FILE* daemon = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1 "
                         "--address=unix:tmpdir=/tmp",
                         "r");
    char address[512] = {}, pid[32] = {};
    if (!daemon || !std::fgets(address, sizeof address, daemon) ||
        !std::fgets(pid, sizeof pid, daemon)) {
        std::fprintf(stderr, "no session bus for the test\n");
        return 1;
    }
    pclose(daemon);
    busAddress = QString::fromUtf8(address).trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", busAddress.toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int status = 0;
    {
        QApplication app(argc, argv);
        StatusNotifierTest test;
        status = QTest::qExec(&test, argc, argv);
    }
    ::kill(std::atoi(pid), SIGTERM);
    return status;
}

#include "StatusNotifierTest.moc"
