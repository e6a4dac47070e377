// Pipes read on the UI thread: each read end handed over is watched by the
// event loop, what it brings goes to one callback with the key it was given,
// and its end to another. Used for the page browsers' report pipes.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string_view>

class QSocketNotifier;

namespace platform {

class PipeReaders {
public:
    using Bytes = std::function<void(uint32_t key, std::string_view bytes)>;
    using Ended = std::function<void(uint32_t key)>;
    PipeReaders(Bytes bytes, Ended ended);
    ~PipeReaders();
    PipeReaders(const PipeReaders&) = delete;
    PipeReaders& operator=(const PipeReaders&) = delete;

    // Watches the non-blocking read end `fd` (taken over: closed here) under
    // the key; a pipe already watched under that key is closed first.
    void add(uint32_t key, int fd);
    // Reads what the pipe of the key holds now, then closes it; its end is
    // not told. Nothing when no pipe has that key.
    void drainAndClose(uint32_t key);
    // Closes every pipe without reading further.
    void closeAll();
    size_t count() const { return pipes_.size(); }

private:
    // Reads until the pipe is empty; false once it has ended (or failed).
    bool readAvailable(uint32_t key, int fd);
    void close(uint32_t key);

    struct Pipe {
        int fd = -1;
        std::unique_ptr<QSocketNotifier> notifier;
    };
    Bytes bytes_;
    Ended ended_;
    std::map<uint32_t, Pipe> pipes_;
};

} // namespace platform
