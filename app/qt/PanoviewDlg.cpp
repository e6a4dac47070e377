#include "app/qt/PanoviewDlg.h"

#include "platform/linux/qt/Signals.h"

#include <QApplication>

CPanoviewDlg::CPanoviewDlg(std::function<void()> startCommand)
    : startCommand_(std::move(startCommand)) {
    setWindowTitle("Panoview");
}

int CPanoviewDlg::DoModal() {
    // SIGTERM and SIGINT end the run through the event loop, so the process
    // leaves by the ordinary way with status 0.
    platform::quitOnTerminationSignals();
    hide();
    if (startCommand_)
        startCommand_();
    // Asked to end while a first dialog was open.
    if (platform::takeTerminationRequest())
        return 0;
    const int status = QApplication::exec();
    platform::takeTerminationRequest(); // the request that ended this run
    return status;
}
