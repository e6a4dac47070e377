// A Windows command line made of words: each word is read back whole by the
// runtime's argument parsing (CommandLineToArgvW, the C runtime's argv).
#pragma once

#include <string>
#include <vector>

// Appends one word: unquoted when it holds no blank, tab or quotation mark
// (so that a program's line stays as it expects it), otherwise in quotation
// marks with the backslashes before a quotation mark doubled.
void appendCommandLineWord(std::string& line, const std::string& word);

// The words joined by single blanks, each as appendCommandLineWord writes it.
std::string commandLineOf(const std::vector<std::string>& words);
