// Turns process signals into work on the Qt event loop: SIGTERM and SIGINT
// quit it, other signals may run a command.
#pragma once

#include <functional>

namespace platform {
// Call once the QApplication exists. A signal ends every running event
// loop, a modal dialog's included.
void quitOnTerminationSignals();
// True when a SIGTERM or SIGINT has ended the event loops since the last
// call: a loop started after that would never be told to end.
bool takeTerminationRequest();
// Runs the command on the UI thread each time the signal arrives. Call once
// the QApplication exists.
void runOnSignal(int signalNumber, std::function<void()> command);
} // namespace platform
