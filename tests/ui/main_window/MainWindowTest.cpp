// The hidden main window on the desktop: the tray menu as the operator sees
// it, the tray icon's clicks reaching the rules, the tooltip in both
// languages, and the run ending quietly on SIGTERM and SIGINT.
#include "Language.h"
#include "RecordingServices.h"
#include "app/Program.h"
#include "app/qt/TrayView.h"
#include "platform/TrayHost.h"
#include "platform/linux/qt/Signals.h"

#include <QAction>
#include <QTimer>
#include <QtTest>
#include <csignal>

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void menuIdsTextsOrderAndMnemonics() {
        SystemConfig config;
        QStringList calls;
        TrayView window(config, recordingServices(calls));
        auto menu = TrayView::buildMenu(trayMenu());
        QStringList seen;
        for (QAction* action : menu->actions())
            seen << (action->isSeparator()
                         ? QString("-")
                         : QString("%1 %2").arg(action->data().toUInt()).arg(action->text()));
        QCOMPARE(seen, (QStringList{"32772 登录/注销(&L)", "32777 系统设置(&S)", "-",
                                    "32774 关于我们(&W)", "-", "32776 退出(&Q)"}));
        // Each command has its own mnemonic letter.
        QCOMPARE(QKeySequence::mnemonic(menu->actions()[5]->text()),
                 QKeySequence(Qt::ALT | Qt::Key_Q));
    }

    void doubleClickShowsTheLoginDialogOnce() {
        SystemConfig config;
        config.displays = {{1, "u%s", 0}};
        QStringList calls;
        TrayView window(config, recordingServices(calls));
        emit window.trayIcon().activated(QSystemTrayIcon::DoubleClick);
        emit window.trayIcon().activated(QSystemTrayIcon::DoubleClick);
        emit window.trayIcon().activated(QSystemTrayIcon::Trigger);
        // The clicks are handled from the event loop, not inside the signal.
        QVERIFY(calls.isEmpty());
        QCoreApplication::processEvents();
        // A single click does nothing on an XEmbed tray; without an XEmbed
        // tray host the icon is in a StatusNotifier tray, whose one
        // activation is the login command.
        QStringList expected{"login create", "login show", "login show"};
        if (platform::trayHostWindow() == 0)
            expected << "login show";
        QCOMPARE(calls, expected);
    }

    void tooltipInBothLanguagesAndTheTimerAfterStartUp() {
        for (bool english : {false, true}) {
            ScopedLanguage language(english);
            SystemConfig config;
            QStringList calls;
            TrayView window(config, recordingServices(calls));
            window.controller().OnInitDialog("/set");
            QCOMPARE(window.trayIcon().toolTip(),
                     english ? QString("Loomhaven multi screen monitoring system")
                             : QString("Loomhaven多屏监控系统"));
            QCOMPARE(calls, QStringList{"settings"});
            QVERIFY(window.keepAliveTimer().isActive());
            QCOMPARE(window.keepAliveTimer().interval(), 30000);
        }
    }

    void terminationSignalEndsTheWallAndTheRun_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void terminationSignalEndsTheWallAndTheRun() {
        QFETCH(int, signalNumber);
        // As the program does once its application exists.
        platform::quitOnTerminationSignals();
        SystemConfig config;
        config.displays = {{1, "u%s", 0}};
        QStringList calls;
        TrayView window(config, recordingServices(calls));
        bool wasVisible = true;
        QTimer::singleShot(0, [&] {
            wasVisible = window.isVisible();
            std::raise(signalNumber);
        });
        runMainWindowUntilSignal(window.controller(), "");
        QVERIFY(!wasVisible);
        QVERIFY(!window.trayIcon().isVisible());
        QVERIFY2(calls.contains("stop"), "a signal ends the wall as Exit does");
        QVERIFY2(!calls.contains("exit 0"), "the program's own end follows the loop's");
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
