// The Qt application of a program that shows windows on the X11 desktop.
#pragma once

#include <memory>

class QApplication;

namespace platform {

// Makes the application: on the X11 platform (xcb) whatever the session, so
// that windows can be placed over a given rectangle also in a Wayland
// session through XWayland (an operator's explicit QT_QPA_PLATFORM still
// wins); it runs on when its last window closes; Qt's own texts (the
// message boxes' standard buttons) are Chinese unless `english`.
std::unique_ptr<QApplication> startApplication(int& argc, char** argv, bool english);

// Sets QT_QPA_PLATFORM to xcb unless the environment already names a
// platform; call before the QApplication is made.
void preferX11Windows();

} // namespace platform
