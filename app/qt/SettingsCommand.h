// The settings command of the main window (the "/set" start and the tray
// menu's settings item).
#pragma once

#include <string>

// The settings dialog on the process's record: constructed, run modally and
// destroyed. Its result changes nothing here: saved settings take effect at
// the next start.
void OnSettings();

// The first dialog of a run, before anything else is shown: the settings
// dialog when the command line holds "/set", the login command otherwise.
void openFirstDialog(const std::string& commandLineTail);
