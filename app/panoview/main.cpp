// Panoview: the monitor wall of the Loomhaven factory cloud.
#include "app/PanoviewApp.h"
#include "app/qt/LoginCommand.h"
#include "app/qt/PanoviewDlg.h"
#include "app/qt/SettingsCommand.h"
#include "common/Globals.h"
#include "common/Texts.h"
#include "platform/Displays.h"
#include "platform/linux/qt/Signals.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>
#include <csignal>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv) {
    std::unique_ptr<QApplication> application;
    QTranslator qtChinese;
    StartupServices services;
    services.windowSystemAvailable = [](std::string& reason) {
        // A window platform chosen explicitly (offscreen for the view tests,
        // say) is taken as it is; otherwise the X display must answer.
        const char* chosen = std::getenv("QT_QPA_PLATFORM");
        if (chosen && *chosen)
            return true;
        return platform::displayServerReachable(reason);
    };
    services.takeInstanceLock = [] { return platform::acquireInstanceLock(kInstanceLockName); };
    services.executablePath = [] { return platform::executablePath(); };
    services.startWindowSystem = [&] {
        application = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        // Qt's own texts (the standard buttons of the message boxes) in the
        // operator's language: Chinese unless "/english" was given.
        if (!UseEnglish &&
            qtChinese.load("qtbase_zh_CN", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QApplication::installTranslator(&qtChinese);
    };
    services.displays = desktopDisplays;
    services.showMessage = [](const char* text) {
        QMessageBox::information(nullptr, pick(texts::kAppCaption), QString::fromUtf8(text),
                                 QMessageBox::Ok);
    };
    services.exitProcess = [](int status) { std::exit(status); };
    const std::string tail = commandLineTail(argc, argv);
    services.runMainWindow = [&tail] {
        // Until the tray icon exists, start-up opens the first dialog and
        // SIGUSR1 opens the login dialog again, as the tray's double click
        // will.
        CPanoviewDlg dialog([&tail] {
            openFirstDialog(tail);
            platform::runOnSignal(SIGUSR1, OnLogin);
        });
        return dialog.DoModal();
    };

    CPanoviewApp app(std::move(services));
    app.InitInstance(tail);
    return 0;
}
