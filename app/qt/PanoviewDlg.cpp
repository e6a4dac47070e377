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
    return QApplication::exec();
}
