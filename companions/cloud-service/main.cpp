// cloud-service [PORT [ACCOUNTS.json]]
//
// The stand-in for the factory's cloud service on 127.0.0.1. Without
// arguments it listens on port 8088 with cloud-accounts.json from its own
// folder. Port 0 takes a free port; the port in use is printed on standard
// output as the first line. SIGUSR1 makes the service stop answering:
// connections are accepted and closed at once without a reply, as a dead
// service would leave them. SIGUSR2 resumes answering. SIGINT and SIGTERM end
// it.
#include "CloudService.h"
#include "HttpFront.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kDefaultPort = 8088;
constexpr char kAccountsName[] = "cloud-accounts.json";

// The folder of the running program, without a trailing '/'.
std::string programFolder() {
    char path[4096] = {};
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string text(path, n > 0 ? static_cast<size_t>(n) : 0);
    size_t slash = text.rfind('/');
    return slash == std::string::npos ? "." : text.substr(0, slash);
}

void printUsage(std::FILE* out) {
    std::fprintf(out,
                 "usage: cloud-service [PORT [ACCOUNTS.json]]\n"
                 "Answers the service API and serves the monitoring pages on 127.0.0.1:PORT.\n"
                 "PORT defaults to %d (0 takes a free port, printed as the first line);\n"
                 "ACCOUNTS.json defaults to %s beside the program (%s).\n"
                 "kill -USR1 stops answering, kill -USR2 answers again.\n",
                 kDefaultPort, kAccountsName, programFolder().c_str());
}

// A port number: decimal digits only, at most 65535.
bool parsePort(const char* text, int& port) {
    if (!*text || std::strlen(text) > 5 || std::strspn(text, "0123456789") != std::strlen(text))
        return false;
    port = std::atoi(text);
    return port <= 65535;
}

// The text on one line: each line end, with the blanks that follow it,
// becomes "; ".
std::string oneLine(const std::string& text) {
    std::string line;
    for (size_t at = 0; at < text.size();) {
        if (text[at] != '\n' && text[at] != '\r') {
            line += text[at++];
            continue;
        }
        at = text.find_first_not_of("\r\n \t", at);
        if (at == std::string::npos)
            break;
        line += "; ";
    }
    return line;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        printUsage(stdout);
        return 0;
    }
    if (argc > 3) {
        std::fprintf(stderr, "cloud-service: too many arguments (cloud-service --help)\n");
        return 2;
    }
    int requestedPort = kDefaultPort;
    if (argc > 1 && !parsePort(argv[1], requestedPort)) {
        std::fprintf(stderr, "cloud-service: bad port \"%s\": a number from 0 to 65535\n", argv[1]);
        return 2;
    }
    const std::string accountsPath =
        argc > 2 ? std::string(argv[2]) : programFolder() + "/" + kAccountsName;
    std::ifstream file(accountsPath, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "cloud-service: cannot read the accounts file %s: %s\n",
                     accountsPath.c_str(), std::strerror(errno));
        return 2;
    }
    std::vector<cloudsvc::Account> accounts;
    try {
        accounts = cloudsvc::parseAccounts(
            std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cloud-service: %s: %s\n", accountsPath.c_str(),
                     oneLine(e.what()).c_str());
        return 2;
    }
    cloudsvc::CloudService service(std::move(accounts));

    // The signals are taken by sigwait on this thread; every other thread
    // inherits the blocked mask.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGUSR1, SIGUSR2, SIGINT, SIGTERM})
        sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    cloudsvc::HttpFront front(service);
    std::string error;
    if (!front.start(requestedPort, error)) {
        std::fprintf(stderr, "cloud-service: %s\n", error.c_str());
        return 2;
    }
    std::cout << front.port() << std::endl;

    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0)
            continue;
        if (signal == SIGUSR1) {
            front.setAnswering(false);
            std::fprintf(stderr, "cloud-service: not answering\n");
        } else if (signal == SIGUSR2) {
            front.setAnswering(true);
            std::fprintf(stderr, "cloud-service: answering again\n");
        } else if (signal == SIGINT || signal == SIGTERM) {
            return 0;
        }
    }
}
