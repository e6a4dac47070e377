// A stand-in page browser for the launcher's tests: it writes its arguments,
// each followed by a NUL byte, to <BROVIA_RECORD_DIR>/<pid>.args, and then
// ends at once, or waits to be killed when BROVIA_RECORD_STAY is set.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    const char* dir = std::getenv("BROVIA_RECORD_DIR");
    if (!dir)
        return 1;
    std::string path = std::string(dir) + "/" + std::to_string(getpid()) + ".args";
    std::string partial = path + ".part";
    FILE* out = std::fopen(partial.c_str(), "wb");
    if (!out)
        return 1;
    for (int i = 0; i < argc; ++i)
        std::fwrite(argv[i], 1, std::char_traits<char>::length(argv[i]) + 1, out);
    std::fclose(out);
    // The record appears whole or not at all.
    std::rename(partial.c_str(), path.c_str());
    if (std::getenv("BROVIA_RECORD_STAY"))
        for (;;)
            pause();
    return 0;
}
