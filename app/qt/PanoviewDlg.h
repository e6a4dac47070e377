// The hidden main window. It is never shown; the process lives inside its
// run. It does not carry the tray icon, its menu or the keep-alive timer yet:
// for now it keeps the process alive until SIGTERM or SIGINT ends it.
#pragma once

#include <QWidget>

class CPanoviewDlg : public QWidget {
    Q_OBJECT
public:
    CPanoviewDlg();
    // Runs until the process is asked to end; returns the exit status.
    int DoModal();
};
