// The program's long-lived pieces, put together once with their real desktop
// services: the page-browser launcher, the wall's keeper (restarts, following
// the monitors, no blanking) and the login dialog of the login command.
// None of them is ever destroyed: a worker may still use them while the
// process ends.
#pragma once

class Launcher;
class WallKeeper;

// The program's launcher. The browsers it starts report their end to the
// wall's keeper, its launches report the wall up, and its stop takes the
// wall down, each on the UI thread.
Launcher& programLauncher();

// The keeper of the wall over theSystemConfig.
WallKeeper& programWallKeeper();

// Starts watching the monitors for changes; call once on the UI thread.
void watchDisplays();

// Creates the one login dialog; it is never freed, so that a sign-in still
// under way delivers its result to it whenever it comes.
void createLoginDialog();

// Shows the login dialog again, raised and active above the page browsers,
// with whatever state it holds.
void showLoginDialog();
