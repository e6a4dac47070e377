// The application icon of every window and of the tray.
#pragma once

#include <QIcon>

namespace platform {

// The application icon: a small monitor wall, painted here so that no
// picture file has to be found at run time.
QIcon applicationIcon();

} // namespace platform
