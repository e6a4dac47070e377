#include "Arguments.h"
#include "common/HiddenToken.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// A coordinate X11 can show: a window's position is a signed 16-bit number.
bool parseInt(const char* text, int& value) {
    errno = 0;
    char* end = nullptr;
    long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < -32768 || parsed > 32767)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

} // namespace

bool parseZoomPercent(const char* text, int& percent) {
    errno = 0;
    char* end = nullptr;
    long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < 25 || parsed > 500)
        return false;
    percent = static_cast<int>(parsed);
    return true;
}

bool parseBroviaArguments(int argc, char** argv, PagePlacement& page) {
    if (argc == 13) {
        if (std::strcmp(argv[11], "/zoom") != 0 || !parseZoomPercent(argv[12], page.zoomPercent))
            return false;
    } else if (argc != 11) {
        return false;
    }
    const char* names[] = {"/left", "/top", "/bottom", "/right", "/url"};
    int* numbers[] = {&page.left, &page.top, &page.bottom, &page.right};
    for (int i = 0; i < 5; ++i) {
        if (std::strcmp(argv[1 + 2 * i], names[i]) != 0)
            return false;
        const char* value = argv[2 + 2 * i];
        if (i < 4 && !parseInt(value, *numbers[i]))
            return false;
    }
    page.url = argv[10];
    return page.width() > 0 && page.height() > 0;
}

// /proc/<pid>/cmdline is read by the kernel from this process's own memory,
// where exec laid out its words; what is written over the address there is
// what every reader sees from then on. This is safe: the address was copied
// into the page first, each word keeps its place and length (the token's
// bytes become '*', no word is cut or added), and whatever is given argv
// later finds the same words. Between exec and this call the token is still
// readable, for the moment the process takes to start.
void hideTokenFromCommandLine(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "/url") == 0)
            starTokenInPlace(argv[i + 1]);
}

bool takeBroviaArguments(const char* program, int argc, char** argv, PagePlacement& page) {
    const bool understood = parseBroviaArguments(argc, argv, page);
    hideTokenFromCommandLine(argc, argv);
    if (!understood)
        std::fprintf(stderr,
                     "usage: %s /left L /top T /bottom B /right R /url U [/zoom P]\n"
                     "       (right > left, bottom > top, each from -32768 to 32767;\n"
                     "       P a percent from 25 to 500)\n",
                     program);
    return understood;
}

std::string programBesideThis(const std::string& name) {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return name;
    std::string path(self, size_t(n));
    return path.substr(0, path.rfind('/') + 1) + name;
}
