#include "app/PanoviewApp.h"
#include "app/WallReport.h"

#include <algorithm>
#include <vector>

#include "common/DebugPrint.h"
#include "common/Globals.h"
#include "common/Texts.h"
#include "settings/ConfigFile.h"

std::string commandLineTail(int argc, const char* const* argv) {
    std::string tail;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            tail += ' ';
        tail += argv[i];
    }
    return tail;
}

bool wantsEnglish(const std::string& tail) {
    return tail.find("/english") != std::string::npos;
}

bool wantsSettings(const std::string& tail) {
    return tail.find("/set") != std::string::npos || commandWord(tail) == "settings";
}

std::string commandWord(const std::string& tail) {
    size_t at = 0;
    while (at < tail.size()) {
        const size_t end = std::min(tail.find(' ', at), tail.size());
        const std::string word = tail.substr(at, end - at);
        if (word == "--login")
            return "login";
        if (word == "--settings")
            return "settings";
        at = end + 1;
    }
    return {};
}

std::string moduleDirectoryOf(const std::string& executablePath, std::string_view separators) {
    size_t slash = executablePath.find_last_of(separators);
    return slash == std::string::npos ? executablePath : executablePath.substr(0, slash);
}

namespace {

std::vector<std::string> wordsOf(const std::string& tail) {
    std::vector<std::string> words;
    size_t at = 0;
    while (at < tail.size()) {
        const size_t end = std::min(tail.find(' ', at), tail.size());
        if (end > at)
            words.push_back(tail.substr(at, end - at));
        at = end + 1;
    }
    return words;
}

} // namespace

bool CPanoviewApp::InitInstance(const std::string& tail) {
    std::string why;
    const std::string query =
        queryRequest(services_.arguments ? services_.arguments() : wordsOf(tail),
                     services_.workingFolder ? services_.workingFolder() : ".", why);
    if (!query.empty() || !why.empty()) {
        int status = 2;
        if (!why.empty()) {
            DebugPrint("Panoview: %s\n", why.c_str());
        } else if (!services_.sendCommand || !services_.sendCommand(query, status)) {
            DebugPrint("Panoview: no running copy answers commands\n");
            status = 1;
        }
        services_.exitProcess(status);
        return false;
    }

    std::string reason;
    if (services_.windowSystemAvailable && !services_.windowSystemAvailable(reason)) {
        endWithoutWindows(reason);
        return false;
    }

    // A copy already running in this session: end silently, nothing shown,
    // unless the start carries a command for that copy.
    if (services_.takeInstanceLock() == platform::InstanceLock::AlreadyHeld) {
        const std::string word = commandWord(tail);
        if (word.empty())
            return false;
        int status = 1;
        if (!services_.sendCommand || !services_.sendCommand(word, status)) {
            DebugPrint("Panoview: no running copy answers commands\n");
            status = 1;
        }
        services_.exitProcess(status);
        return false;
    }

    if (wantsEnglish(tail))
        UseEnglish = 1;
    moduleDirectory = moduleDirectoryOf(services_.executablePath(), services_.pathSeparators);

    services_.startWindowSystem();

    // The record lives until the process ends and is never freed.
    auto* config = new SystemConfig;
    theSystemConfig = config;
    if (loadConfigFile(*config, configFilePath(moduleDirectory)) == ConfigLoad::NotJson) {
        services_.showMessage(pick(texts::kAppCaption), pick(texts::kConfigFileError));
        services_.exitProcess(0);
        return false;
    }
    discoverDisplays(*config, services_.displays);

    services_.runMainWindow();
    return false;
}

void CPanoviewApp::endWithoutWindows(const std::string& reason) {
    SystemConfig config;
    moduleDirectory = moduleDirectoryOf(services_.executablePath(), services_.pathSeparators);
    // Only the file's verdict matters here: the loader's own lines (the
    // text it read) are held back, so that the one line below is all this
    // start says.
    diag::Sink said = diag::setSink([](std::string_view) {});
    const ConfigLoad load = loadConfigFile(config, configFilePath(moduleDirectory));
    diag::setSink(std::move(said));
    if (load == ConfigLoad::NotJson) {
        OutputDebugText(std::string(pick(texts::kConfigFileError)) + "\n");
        services_.exitProcess(0);
        return;
    }
    DebugPrint("Panoview needs an X display to show its windows: %s\n", reason.c_str());
    services_.exitProcess(1);
}
