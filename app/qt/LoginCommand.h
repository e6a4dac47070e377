// The login dialog of the main window's login command (the tray menu's
// sign-in/sign-out item and the tray icon's double click), and the program's
// one page-browser launcher that the dialog uses.
#pragma once

class Launcher;

// The program's launcher: created on first use and never destroyed, since a
// launch worker may still use it while the process ends.
Launcher& programLauncher();

// Creates the one login dialog; it is never freed, so that a sign-in still
// under way delivers its result to it whenever it comes.
void createLoginDialog();

// Shows the login dialog again, raised and active above the page browsers,
// with whatever state it holds.
void showLoginDialog();
