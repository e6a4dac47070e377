// The page browser's command line as the wall writes it on Windows, one text
// after the program's name: "/left L /top T /bottom B /right R /url U". The
// address is the rest of the line, so that it arrives whole whatever it holds
// (blanks typed into a page's parameters included). A rest that begins with a
// quotation mark is one quoted argument, read by the system's rules
// (backslashes count only before a quotation mark), as a starter that quotes
// an address with blanks writes it.
#pragma once

#include "Brovia.h"

#include <string_view>

// The text after the program's name: the name is the first word, or a
// quoted text; the blanks after it are skipped.
std::string_view afterProgramName(std::string_view commandLine);

// Reads the placement and the address; false when a word is missing, out of
// order or not a whole number from -32768 to 32767, when the address is
// empty, or when the rectangle is empty (right not past left, bottom not
// past top).
bool parsePageCommandLine(std::string_view tail, PagePlacement& page);
