// The settings command of the main window (the "/set" start and the tray
// menu's settings item).
#pragma once

// The settings dialog on the process's record: constructed, run modally and
// destroyed. Its result changes nothing here: saved settings take effect at
// the next start.
void OnSettings();
