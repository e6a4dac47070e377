#include "common/CommandLineWords.h"

void appendCommandLineWord(std::string& line, const std::string& word) {
    if (!word.empty() && word.find_first_of(" \t\"") == std::string::npos) {
        line += word;
        return;
    }
    line += '"';
    size_t backslashes = 0;
    for (char c : word) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"')
            line.append(backslashes * 2 + 1, '\\');
        else
            line.append(backslashes, '\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
}

std::string commandLineOf(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) {
        if (!line.empty())
            line += ' ';
        appendCommandLineWord(line, word);
    }
    return line;
}
