#include "platform/linux/qt/PipeReaders.h"

#include <QSocketNotifier>
#include <cerrno>
#include <unistd.h>

namespace platform {

PipeReaders::PipeReaders(Bytes bytes, Ended ended)
    : bytes_(std::move(bytes)), ended_(std::move(ended)) {}

PipeReaders::~PipeReaders() {
    // No event loop runs any more: the notifiers go at once.
    for (auto& [key, pipe] : pipes_) {
        pipe.notifier.reset();
        ::close(pipe.fd);
    }
}

void PipeReaders::add(uint32_t key, int fd) {
    close(key);
    Pipe& pipe = pipes_[key];
    pipe.fd = fd;
    pipe.notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(pipe.notifier.get(), &QSocketNotifier::activated, [this, key, fd] {
        if (readAvailable(key, fd))
            return;
        close(key);
        if (ended_)
            ended_(key);
    });
}

bool PipeReaders::readAvailable(uint32_t key, int fd) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            bytes_(key, std::string_view(buffer, static_cast<size_t>(n)));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

void PipeReaders::drainAndClose(uint32_t key) {
    auto it = pipes_.find(key);
    if (it == pipes_.end())
        return;
    readAvailable(key, it->second.fd);
    close(key);
}

void PipeReaders::close(uint32_t key) {
    auto it = pipes_.find(key);
    if (it == pipes_.end())
        return;
    // The notifier goes before its descriptor, so that the event loop never
    // watches a closed (or reused) number.
    if (QObject* n = it->second.notifier.release()) {
        static_cast<QSocketNotifier*>(n)->setEnabled(false);
        n->deleteLater();
    }
    ::close(it->second.fd);
    pipes_.erase(it);
}

void PipeReaders::closeAll() {
    while (!pipes_.empty())
        close(pipes_.begin()->first);
}

} // namespace platform
