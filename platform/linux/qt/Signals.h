// Turns SIGTERM, SIGINT and SIGHUP into a quit of the Qt event loop.
#pragma once

namespace platform {
// Call once the QApplication exists. A signal ends every running event
// loop, a modal dialog's included.
void quitOnTerminationSignals();
// Ends every running event loop, a modal dialog's included, as a
// termination signal does: the run then ends the way a logout ends it, with
// every object of the program destroyed in order on the UI thread.
void endEventLoops();
// True when a SIGTERM, SIGINT or SIGHUP has ended the event loops since the last
// call (or endEventLoops): a loop started after that would never be told to
// end.
bool takeTerminationRequest();
} // namespace platform
