// The login command of the main window (the tray menu's sign-in/sign-out item
// and the tray icon's double click), and the program's one page-browser
// launcher that the command's dialog uses.
#pragma once

class Launcher;

// The program's launcher: created on first use and never destroyed, since a
// launch worker may still use it while the process ends.
Launcher& programLauncher();

// Shows the login dialog, creating it on the first call; later calls show the
// same dialog again, with whatever state it holds.
void OnLogin();
