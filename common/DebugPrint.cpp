#include "common/DebugPrint.h"

#include "common/Utf8.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {

std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}

diag::Sink& currentSink() {
    static diag::Sink sink;
    return sink;
}

diag::WideSink& currentWideSink() {
    static diag::WideSink sink;
    return sink;
}

} // namespace

void diag::writeToStandardError(std::string_view record) {
    // One write call per diagnostic, so that lines of several threads do not
    // interleave inside a line; a record that does not end its line gets a
    // line feed, so that each record reads as a line of its own on a
    // terminal.
    std::string text(record);
    if (text.empty() || text.back() != '\n')
        text += '\n';
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n <= 0)
            return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

diag::Sink diag::setSink(Sink sink) {
    std::lock_guard<std::mutex> lock(sinkMutex());
    Sink previous = std::move(currentSink());
    currentSink() = std::move(sink);
    return previous;
}

diag::WideSink diag::setWideSink(WideSink sink) {
    std::lock_guard<std::mutex> lock(sinkMutex());
    WideSink previous = std::move(currentWideSink());
    currentWideSink() = std::move(sink);
    return previous;
}

void OutputDebugText(std::string_view text) {
    std::lock_guard<std::mutex> lock(sinkMutex());
    if (currentSink())
        currentSink()(text);
    else
        diag::writeToStandardError(text);
}

void OutputDebugTextW(std::wstring_view text) {
    {
        std::lock_guard<std::mutex> lock(sinkMutex());
        if (currentWideSink()) {
            currentWideSink()(text);
            return;
        }
    }
    OutputDebugText(utf8::fromWide(text));
}

void DebugPrint(const char* format, ...) {
    char buffer[1024] = {};
    va_list args;
    va_start(args, format);
    // vsnprintf never writes past the buffer and always leaves a terminator,
    // so at most 1023 characters arrive.
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0)
        return;
    size_t length =
        static_cast<size_t>(n) < sizeof buffer ? static_cast<size_t>(n) : sizeof buffer - 1;
    OutputDebugText(std::string_view(buffer, length));
}
