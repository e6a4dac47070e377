// The queued call into the UI thread: the desktop's posted message.
#pragma once

#include <functional>

namespace platform {

// Queues the call to run on the UI thread once control returns to its event
// loop; callable from any thread. Dropped when the application has ended.
void postToUiThread(std::function<void()> call);

} // namespace platform
