#include "platform/linux/qt/Signals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <unistd.h>
#include <utility>

namespace platform {
namespace {

int wakePipe[2] = {-1, -1};
bool terminating = false; // only touched on the UI thread
// What each signal runs; only touched on the UI thread.
std::map<int, std::function<void()>>& commands() {
    static std::map<int, std::function<void()>> byNumber;
    return byNumber;
}

void onSignal(int number) {
    // Only async-signal-safe work here: wake the event loop with the signal's
    // number.
    char byte = static_cast<char>(number);
    [[maybe_unused]] ssize_t n = ::write(wakePipe[1], &byte, 1);
}

// The pipe and its reader on the event loop, made once.
bool listen() {
    if (wakePipe[0] >= 0)
        return true;
    if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    auto* notifier =
        new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char buffer[16];
        ssize_t n;
        while ((n = ::read(wakePipe[0], buffer, sizeof buffer)) > 0)
            for (ssize_t i = 0; i < n; ++i) {
                auto command = commands().find(buffer[i]);
                if (command != commands().end())
                    command->second();
            }
    });
    return true;
}

void handle(int number, std::function<void()> command) {
    if (!listen())
        return;
    commands()[number] = std::move(command);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(number, &action, nullptr);
}

} // namespace

void endEventLoops() {
    // exit, not quit: quit does nothing unless the application's own loop
    // runs, and a modal dialog runs a loop of its own.
    terminating = true;
    QCoreApplication::exit(0);
}

void quitOnTerminationSignals() {
    handle(SIGTERM, endEventLoops);
    handle(SIGINT, endEventLoops);
    handle(SIGHUP, endEventLoops);
}

bool takeTerminationRequest() {
    return std::exchange(terminating, false);
}

} // namespace platform
