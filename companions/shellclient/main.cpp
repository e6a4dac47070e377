// shellclient [SOCKET_PATH]
//
// The stand-in for the desktop shell client: listens on the shell-client
// socket (by default the one Panoview sends to) and prints every notice it
// receives, caption and message, as one line on standard output, then
// acknowledges it with one byte. The first line says where it listens. On a
// desktop (an X display that answers) each notice also shows in a small
// window of its own, caption as its title and the message inside, which
// closes by itself after ten seconds or with a click.
#include "platform/Displays.h"
#include "platform/ShellClient.h"
#include "platform/linux/qt/AppIcon.h"
#include "platform/linux/qt/Signals.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <QVBoxLayout>
#include <memory>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A notice larger than this is not read; its sender gets no acknowledgement.
constexpr uint32_t largestNotice = 16u << 20;

bool readExactly(int fd, char* buffer, size_t size) {
    while (size > 0) {
        ssize_t n = ::recv(fd, buffer, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        buffer += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Reads one notice; false when the connection ended early or was too large.
bool readNotice(int fd, uint32_t& dataId, std::string& text) {
    uint32_t header[2];
    if (!readExactly(fd, reinterpret_cast<char*>(header), sizeof header) ||
        header[1] > largestNotice)
        return false;
    dataId = header[0];
    text.resize(header[1]);
    return readExactly(fd, text.data(), text.size());
}

// One line per notice: line ends inside the text are shown as blanks.
void printNotice(uint32_t dataId, std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    if (dataId != 1)
        std::printf("[data %u] ", dataId);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// One notice on the desktop: "caption|message" as title and text, near the
// primary monitor's lower right corner, above the other windows.
class NoticeWindow : public QWidget {
public:
    explicit NoticeWindow(const std::string& text) {
        const size_t bar = text.find('|');
        const std::string caption = bar == std::string::npos ? "shellclient" : text.substr(0, bar);
        const std::string message = bar == std::string::npos ? text : text.substr(bar + 1);
        setAttribute(Qt::WA_DeleteOnClose);
        setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
        setWindowTitle(QString::fromUtf8(caption.c_str(), static_cast<int>(caption.size())));
        setWindowIcon(platform::applicationIcon());
        auto* label =
            new QLabel(QString::fromUtf8(message.c_str(), static_cast<int>(message.size())), this);
        label->setWordWrap(true);
        label->setMinimumWidth(280);
        label->setMaximumWidth(420);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(16, 12, 16, 12);
        layout->addWidget(label);
        adjustSize();
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            move(area.right() - width() - 32, area.bottom() - height() - 96);
        }
        QTimer::singleShot(10000, this, &QWidget::close);
    }

protected:
    void mousePressEvent(QMouseEvent*) override { close(); }
};

// True when a shell client already answers on the path.
bool someoneListens(const sockaddr_un& address) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool listening =
        fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return listening;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 2) {
        std::fprintf(stderr, "usage: %s [SOCKET_PATH]\n", argv[0]);
        return 2;
    }
    const std::string path = argc == 2 ? argv[1] : platform::shellClientSocketPath();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        std::fprintf(stderr, "shellclient: socket path too long: %s\n", path.c_str());
        return 2;
    }
    std::memcpy(address.sun_path, path.data(), path.size());

    if (someoneListens(address)) {
        std::fprintf(stderr, "shellclient: another shell client listens on %s\n", path.c_str());
        return 1;
    }
    ::unlink(path.c_str()); // left behind by a shell client that ended

    int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (server < 0 || ::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(server, 16) != 0) {
        std::fprintf(stderr, "shellclient: cannot listen on %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return 1;
    }

    std::signal(SIGPIPE, SIG_IGN);

    // Windows only where a desktop answers; elsewhere the notices are printed.
    std::string reason;
    const bool desktop = platform::displayServerReachable(reason);
    std::unique_ptr<QCoreApplication> application;
    if (desktop)
        application = std::make_unique<QApplication>(argc, argv);
    else
        application = std::make_unique<QCoreApplication>(argc, argv);
    platform::quitOnTerminationSignals();

    std::printf("listening on %s\n", path.c_str());
    std::fflush(stdout);

    QSocketNotifier incoming(server, QSocketNotifier::Read);
    QObject::connect(&incoming, &QSocketNotifier::activated, [&] {
        int client = ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        // A sender that stalls mid-notice cannot hold the listener.
        timeval limit{5, 0};
        ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        uint32_t dataId = 0;
        std::string text;
        if (readNotice(client, dataId, text)) {
            if (desktop)
                (new NoticeWindow(text))->show();
            printNotice(dataId, std::move(text));
            const char ack = 1;
            (void)::send(client, &ack, 1, MSG_NOSIGNAL);
        }
        ::close(client);
    });
    QCoreApplication::exec();
    ::close(server);
    ::unlink(path.c_str());
    return 0;
}
