// Panoview: the monitor wall of the Loomhaven factory cloud.
#include "app/PanoviewApp.h"
#include "app/qt/PanoviewDlg.h"
#include "common/Texts.h"
#include "platform/Displays.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv) {
    std::unique_ptr<QApplication> application;
    StartupServices services;
    services.takeInstanceLock = [] { return platform::acquireInstanceLock(kInstanceLockName); };
    services.executablePath = [] { return platform::executablePath(); };
    services.startWindowSystem = [&] {
        // Without a reachable X display the program still runs (no windows
        // can be seen, but the wall's logic and its diagnostics go on).
        if (!platform::displayServerReachable())
            qputenv("QT_QPA_PLATFORM", "offscreen");
        application = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    };
    services.displays = [](std::vector<platform::DisplayFacts>& displays, std::string& reason) {
        return platform::enumerateDisplays(displays, reason);
    };
    services.showMessage = [](const char* text) {
        QMessageBox::information(nullptr, pick(texts::kAppCaption), QString::fromUtf8(text),
                                 QMessageBox::Ok);
    };
    services.exitProcess = [](int status) { std::exit(status); };
    services.runMainWindow = [] {
        CPanoviewDlg dialog;
        return dialog.DoModal();
    };

    CPanoviewApp app(std::move(services));
    app.InitInstance(commandLineTail(argc, argv));
    return 0;
}
