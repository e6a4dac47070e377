// A stand-in page browser for the launcher's tests: it writes its arguments,
// each followed by a NUL byte, to <BROVIA_RECORD_DIR>/<pid>.args, and then
// ends at once, or waits to be killed when BROVIA_RECORD_STAY is set. Given a
// report descriptor (BROVIA_REPORT_FD), it first lists the descriptors it
// inherited in <pid>.fds and writes one report line on it.
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    const char* dir = std::getenv("BROVIA_RECORD_DIR");
    if (!dir)
        return 1;
    if (const char* report = std::getenv("BROVIA_REPORT_FD")) {
        std::string fds;
        if (DIR* self = opendir("/proc/self/fd")) {
            while (dirent* e = readdir(self))
                if (e->d_name[0] != '.' && std::atoi(e->d_name) != dirfd(self))
                    fds += std::string(e->d_name) + " ";
            closedir(self);
        }
        const std::string line = std::string("page live 1 0 fd ") + report + "\n";
        if (write(std::atoi(report), line.data(), line.size()) < 0)
            fds += "unwritable";
        const std::string list = std::string(dir) + "/" + std::to_string(getpid()) + ".fds";
        if (FILE* out = std::fopen(list.c_str(), "wb")) {
            std::fputs(fds.c_str(), out);
            std::fclose(out);
        }
    }
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
