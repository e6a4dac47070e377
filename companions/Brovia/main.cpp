// Usage: Brovia /left L /top T /bottom B /right R /url U
//
// With Chromium installed (/usr/bin/chromium, or the program BROVIA_CHROMIUM
// names) the page opens in Chromium's app mode over the rectangle, without
// window-manager decorations; Chromium's own diagnostics go to
// $XDG_STATE_HOME/panoview/brovia-<left>,<top>.log (default under
// ~/.local/state), started afresh at each launch. BROVIA_NO_CHROMIUM=1 asks
// for the plain window instead, which shows the address over the rectangle.
#include "Brovia.h"

#include <cerrno>
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

bool parseArguments(int argc, char** argv, PagePlacement& page) {
    if (argc != 11)
        return false;
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

} // namespace

int main(int argc, char** argv) {
    PagePlacement page;
    if (!parseArguments(argc, argv, page)) {
        std::fprintf(stderr, "usage: Brovia /left L /top T /bottom B /right R /url U\n"
                             "       (right > left, bottom > top, each from -32768 to 32767)\n");
        return 2;
    }
    const char* noChromium = std::getenv("BROVIA_NO_CHROMIUM");
    const char* chosen = std::getenv("BROVIA_CHROMIUM");
    const char* chromium = chosen && *chosen ? chosen : "/usr/bin/chromium";
    if (!(noChromium && std::strcmp(noChromium, "1") == 0) && access(chromium, X_OK) == 0)
        return showWithChromium(chromium, page);
    return showPlainWindow(argc, argv, page);
}
