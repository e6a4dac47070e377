// Turns SIGTERM, SIGINT and SIGHUP into a quit of the Qt event loop.
#pragma once

namespace platform {
// Call once the QApplication exists. A signal ends every running event
// loop, a modal dialog's included.
void quitOnTerminationSignals();
// True when a SIGTERM, SIGINT or SIGHUP has ended the event loops since the last
// call: a loop started after that would never be told to end.
bool takeTerminationRequest();
} // namespace platform
