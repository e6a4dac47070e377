// Turns SIGTERM and SIGINT into a quit of the Qt event loop.
#pragma once

#include <functional>

namespace platform {
// Call once the QApplication exists.
void quitOnTerminationSignals();
} // namespace platform
