// The hidden main window keeps the process alive, unseen, until SIGTERM or
// SIGINT ends its run with status 0.
#include "app/qt/PanoviewDlg.h"

#include <QTimer>
#include <QtTest>
#include <csignal>

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void terminationSignalEndsTheRunQuietly_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }
    void terminationSignalEndsTheRunQuietly() {
        QFETCH(int, signalNumber);
        CPanoviewDlg dialog;
        bool wasVisible = true;
        QTimer::singleShot(0, [&] {
            wasVisible = dialog.isVisible();
            std::raise(signalNumber);
        });
        QCOMPARE(dialog.DoModal(), 0);
        QVERIFY(!wasVisible);
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
