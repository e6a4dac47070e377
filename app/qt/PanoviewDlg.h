// The hidden main window. It is never shown; the process lives inside its
// run. It does not carry the tray icon, its menu or the keep-alive timer yet:
// for now it runs the start-up command and keeps the process alive until
// SIGTERM or SIGINT ends it.
#pragma once

#include <QWidget>
#include <functional>

class CPanoviewDlg : public QWidget {
    Q_OBJECT
public:
    // startCommand runs once when the run begins, before any event is
    // handled (the login command, in the program).
    explicit CPanoviewDlg(std::function<void()> startCommand = {});
    // Runs until the process is asked to end; returns the exit status.
    int DoModal();

private:
    std::function<void()> startCommand_;
};
