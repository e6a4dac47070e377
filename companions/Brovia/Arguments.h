// Brovia's command line on Linux, read by Brovia and by the plain page
// (brovia-plain) alike: "/left L /top T /bottom B /right R /url U [/zoom P]".
#pragma once

#include "Brovia.h"

// Reads the placement; false when a word is missing or out of order, a
// coordinate is no whole number from -32768 to 32767, the zoom no whole
// percent from 25 to 500, or the rectangle is empty.
bool parseBroviaArguments(int argc, char** argv, PagePlacement& page);
// Reads the placement as parseBroviaArguments does and hides the token
// from the command line whether it was understood or not; a command line
// not understood gets the usage of `program` on standard error.
bool takeBroviaArguments(const char* program, int argc, char** argv, PagePlacement& page);
// A zoom in whole percent from 25 to 500.
bool parseZoomPercent(const char* text, int& percent);
// Writes '*' over the session token of the address on the process's own
// command line (/proc/<pid>/cmdline, which every local user may read).
void hideTokenFromCommandLine(int argc, char** argv);

// The program of that name beside this process's own executable (the name
// alone when that cannot be read, so that PATH finds it).
std::string programBesideThis(const std::string& name);
