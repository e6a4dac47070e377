// Panoview: the monitor wall of the Loomhaven factory cloud.
#include "app/PanoviewApp.h"
#include "app/qt/ProgramServices.h"
#include "app/qt/SettingsCommand.h"
#include "app/qt/TrayWindow.h"
#include "cloud/LSystem.h"
#include "common/Globals.h"
#include "common/Texts.h"
#include "platform/Displays.h"
#include "platform/linux/qt/Signals.h"
#include "wall/Launcher.h"
#include "wall/WallKeeper.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>
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
        // From here on SIGTERM and SIGINT end the run through the event loop,
        // also when they come before the main window exists.
        platform::quitOnTerminationSignals();
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
    services.runMainWindow = [&] {
        PanoviewDlgServices window;
        window.createLoginDialog = createLoginDialog;
        window.showLoginDialog = showLoginDialog;
        window.runSettingsDialog = OnSettings;
        window.heartpacket = [](const std::string& serviceAddress, const std::string& token) {
            return LSystem::heartpacket(serviceAddress, LSystem::Instance(), token);
        };
        window.stopBrowsers = [] { programLauncher().StopBrowsers(); };
        window.exitProcess = [](int status) { std::exit(status); };
        TrayWindow tray(*theSystemConfig, std::move(window));
        watchDisplays();
        const int status = tray.DoModal(commandLineTail(argc, argv));
        // Ended another way (a signal): the browsers stay, the monitors'
        // blanking is given back.
        programWallKeeper().wallDown();
        return status;
    };

    CPanoviewApp app(std::move(services));
    app.InitInstance(commandLineTail(argc, argv));
    return 0;
}
