#include "platform/linux/qt/MessageBox.h"

#include "platform/BrowserWindows.h"
#include "platform/linux/qt/AppIcon.h"
#include "platform/linux/qt/QtText.h"

#include <QMessageBox>

namespace platform {

namespace {

// A box that stays above the page windows (which cover every monitor) and
// takes the keyboard once shown, so that its question is seen and answered.
int runAboveTheWall(QMessageBox& box) {
    // The page windows that bypass the window manager go to the bottom, so
    // that its stacking puts the box over them.
    lowerBrowserWindows();
    box.setWindowIcon(applicationIcon());
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    return box.exec();
}

} // namespace

void showAboveTheWall(QWidget& window) {
    lowerBrowserWindows();
    window.showNormal();
    window.raise();
    window.activateWindow();
}

void showMessage(QWidget* parent, const std::string& caption, const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, qtText(caption), qtText(text), QMessageBox::Ok, parent);
    runAboveTheWall(box);
}

bool askYesNo(const std::string& caption, const std::string& text) {
    QMessageBox box(QMessageBox::Question, qtText(caption), qtText(text),
                    QMessageBox::Yes | QMessageBox::No);
    return runAboveTheWall(box) == QMessageBox::Yes;
}

} // namespace platform
