// The wall stays lit: SetThreadExecutionState asks the system to keep the
// display on and not to sleep for as long as the calling thread (the UI
// thread) lives or until the hold is given back; the screen saver does not
// start while the display is required.
#include "platform/Blanking.h"

#include <windows.h>

namespace platform {

bool holdOffBlanking() {
    return SetThreadExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED | ES_SYSTEM_REQUIRED) != 0;
}

void releaseBlanking() {
    SetThreadExecutionState(ES_CONTINUOUS);
}

} // namespace platform
