// Turns process signals into work on the Qt event loop: SIGTERM and SIGINT
// quit it, other signals may run a command.
#pragma once

#include <functional>

namespace platform {
// Call once the QApplication exists.
void quitOnTerminationSignals();
// Runs the command on the UI thread each time the signal arrives. Call once
// the QApplication exists.
void runOnSignal(int signalNumber, std::function<void()> command);
} // namespace platform
