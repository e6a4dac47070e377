// config_load_bench [ENTRIES] [RUNS]
//
// Writes a Panoview.config with ENTRIES srurl entries (200000 by default) to
// a temporary folder and loads it RUNS times (5 by default) with the
// diagnostics discarded. Prints the file size and the fastest, median and
// slowest load.
#include "common/DebugPrint.h"
#include "settings/ConfigFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const size_t entries = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200000;
    const int runs = std::max(1, argc > 2 ? std::atoi(argv[2]) : 5);
    std::string folder = (std::filesystem::temp_directory_path() / "config-bench-XXXXXX").string();
    if (!mkdtemp(folder.data()))
        return 1;
    const std::string path = folder + "/Panoview.config";
    std::vector<ConfigDisplayEntry> list;
    for (size_t i = 0; i < entries; ++i)
        list.push_back({i == 0, "http://127.0.0.1:8088/KnitUI/A_MachineMonitor.html?token=%s&"
                                "flag=multiscreen&n=" +
                                    std::to_string(i)});
    const std::string text =
        configFileText("operator", "http://127.0.0.1:8088", "F001", "http://127.0.0.1:8088", list);
    std::ofstream(path, std::ios::binary) << text;

    diag::setSink([](std::string_view) {});
    std::vector<double> millis;
    for (int run = 0; run < runs; ++run) {
        SystemConfig config;
        const auto start = std::chrono::steady_clock::now();
        const ConfigLoad result = loadConfigFile(config, path);
        const auto end = std::chrono::steady_clock::now();
        if (result != ConfigLoad::Loaded || config.displays.size() != entries) {
            std::fprintf(stderr, "load failed\n");
            return 1;
        }
        millis.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::filesystem::remove_all(folder);
    std::sort(millis.begin(), millis.end());
    std::printf("config load: %zu entries, %zu bytes, %d runs: fastest %.1f ms, median %.1f ms, "
                "slowest %.1f ms\n",
                entries, text.size(), runs, millis.front(), millis[millis.size() / 2],
                millis.back());
    return 0;
}
