#include "platform/windows/CommandPipe.h"

#include "common/DebugPrint.h"
#include "platform/Threads.h"

#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>
#include <vector>
#include <windows.h>

// After windows.h, whose types they use.
#include <sddl.h>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kPipeBuffer = 64 * 1024;

// The user this process runs as: its SID from the process token.
std::vector<char> processUser() {
    std::vector<char> user;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return user;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    user.resize(size);
    if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size))
        user.clear();
    CloseHandle(token);
    return user;
}

PSID sidOf(std::vector<char>& user) {
    return user.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
}

// A security descriptor whose access list admits the user alone: no rule
// for anyone else, so every other account (and the anonymous one) is
// refused.
class UserOnly {
public:
    UserOnly() : user_(processUser()) {
        PSID sid = sidOf(user_);
        if (!sid)
            return;
        acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
        auto* acl = reinterpret_cast<ACL*>(acl_.data());
        if (!InitializeAcl(acl, DWORD(acl_.size()), ACL_REVISION) ||
            !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_READ | GENERIC_WRITE, sid) ||
            !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
            !SetSecurityDescriptorOwner(&descriptor_, sid, FALSE) ||
            !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE))
            return;
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = &descriptor_;
        attributes_.bInheritHandle = FALSE;
        ready_ = true;
    }
    SECURITY_ATTRIBUTES* attributes() { return ready_ ? &attributes_ : nullptr; }

private:
    std::vector<char> user_;
    std::vector<char> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    bool ready_ = false;
};

// An overlapped read or write of the pipe that ends by `until`, or earlier
// when `cancel` is set. The bytes moved, or -1.
long transfer(HANDLE pipe, bool writing, void* data, DWORD size, Clock::time_point until,
              HANDLE cancel) {
    OVERLAPPED io{};
    io.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!io.hEvent)
        return -1;
    DWORD moved = 0;
    BOOL done = writing ? WriteFile(pipe, data, size, &moved, &io)
                        : ReadFile(pipe, data, size, &moved, &io);
    if (!done && GetLastError() == ERROR_IO_PENDING) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        HANDLE waits[2] = {io.hEvent, cancel};
        const DWORD waited = WaitForMultipleObjects(cancel ? 2 : 1, waits, FALSE,
                                                    DWORD(std::max<int64_t>(left.count(), 0)));
        if (waited != WAIT_OBJECT_0)
            CancelIo(pipe);
        done = GetOverlappedResult(pipe, &io, &moved, TRUE);
    }
    CloseHandle(io.hEvent);
    return done ? long(moved) : -1;
}

// The connections open now, for the limit on their number.
struct Connection {
    HANDLE cancel = nullptr; // set to drop it
    bool sent = false;       // its request line has come
};

struct Shared {
    CommandPipeServer::Handler handle;
    CommandPipeServer::RunOnOwner runOnOwner;
    std::chrono::milliseconds deadline;
    size_t connectionsMax;
    std::mutex mutex;
    std::list<std::shared_ptr<Connection>> open;
    bool ending = false;
};

// Reads the request line, has it answered on the owner's thread, and
// writes the answer.
void serveConnection(HANDLE pipe, std::shared_ptr<Shared> shared,
                     std::shared_ptr<Connection> connection) {
    std::string request;
    bool whole = false;
    const auto until = Clock::now() + shared->deadline;
    char buffer[1024];
    while (!whole && request.size() < kCommandRequestMax) {
        const long n = transfer(pipe, false, buffer, sizeof buffer, until, connection->cancel);
        if (n <= 0)
            break;
        request.append(buffer, size_t(n));
        whole = !request.empty() && request.back() == '\n';
    }
    if (whole && request.find('\n') == request.size() - 1) {
        request.pop_back();
        {
            std::lock_guard<std::mutex> lock(shared->mutex);
            connection->sent = true;
        }
        // Answered on the owner's thread, waited for here.
        struct Answer {
            std::mutex mutex;
            std::condition_variable ready;
            bool done = false;
            CommandAnswer answer{2, "the running copy is ending"};
        };
        auto answer = std::make_shared<Answer>();
        shared->runOnOwner([shared, answer, request] {
            CommandAnswer given{2, "the running copy is ending"};
            bool ending = false;
            {
                std::lock_guard<std::mutex> lock(shared->mutex);
                ending = shared->ending;
            }
            if (!ending)
                given = shared->handle(request);
            std::lock_guard<std::mutex> lock(answer->mutex);
            answer->answer = std::move(given);
            answer->done = true;
            answer->ready.notify_all();
        });
        std::unique_lock<std::mutex> lock(answer->mutex);
        // A generous guard: the owner may be inside a dialog's loop, which
        // runs the call all the same.
        if (answer->ready.wait_for(lock, std::chrono::seconds(60), [&] { return answer->done; })) {
            std::string line = commandAnswerLine(answer->answer);
            lock.unlock();
            const auto answerUntil = Clock::now() + shared->deadline;
            size_t sent = 0;
            while (sent < line.size()) {
                const long n = transfer(pipe, true, line.data() + sent, DWORD(line.size() - sent),
                                        answerUntil, connection->cancel);
                if (n <= 0)
                    break;
                sent += size_t(n);
            }
            // The client has read it all before the pipe closes.
            if (sent == line.size())
                FlushFileBuffers(pipe);
        }
    }
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->open.remove(connection);
    CloseHandle(connection->cancel);
}

HANDLE makeInstance(const std::string& path, bool first, UserOnly& security) {
    const DWORD openMode =
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    const DWORD pipeMode = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT;
    HANDLE pipe = CreateNamedPipeA(path.c_str(), openMode, pipeMode | PIPE_REJECT_REMOTE_CLIENTS,
                                   PIPE_UNLIMITED_INSTANCES, kPipeBuffer, kPipeBuffer, 0,
                                   security.attributes());
    // A system without the remote clients' refusal (before Vista) takes the
    // mode without it.
    if (pipe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER)
        pipe = CreateNamedPipeA(path.c_str(), openMode, pipeMode, PIPE_UNLIMITED_INSTANCES,
                                kPipeBuffer, kPipeBuffer, 0, security.attributes());
    return pipe;
}

class WindowsCommandPipeServer : public CommandPipeServer {
public:
    WindowsCommandPipeServer(std::string path, std::shared_ptr<Shared> shared, HANDLE first)
        : path_(std::move(path)), shared_(std::move(shared)),
          stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        thread_ = std::thread([this, first] { accept(first); });
    }
    ~WindowsCommandPipeServer() override {
        {
            std::lock_guard<std::mutex> lock(shared_->mutex);
            shared_->ending = true;
        }
        SetEvent(stop_);
        thread_.join();
        CloseHandle(stop_);
    }

private:
    void accept(HANDLE pipe) {
        while (pipe != INVALID_HANDLE_VALUE) {
            OVERLAPPED io{};
            io.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            bool connected = ConnectNamedPipe(pipe, &io) != FALSE;
            if (!connected) {
                const DWORD error = GetLastError();
                if (error == ERROR_PIPE_CONNECTED) {
                    connected = true;
                } else if (error == ERROR_IO_PENDING) {
                    HANDLE waits[2] = {io.hEvent, stop_};
                    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
                        DWORD unused = 0;
                        connected = GetOverlappedResult(pipe, &io, &unused, FALSE) != FALSE;
                    } else {
                        CancelIo(pipe);
                        DWORD unused = 0;
                        GetOverlappedResult(pipe, &io, &unused, TRUE);
                        CloseHandle(io.hEvent);
                        CloseHandle(pipe);
                        return;
                    }
                }
            }
            CloseHandle(io.hEvent);
            if (connected)
                hand(pipe);
            else
                CloseHandle(pipe);
            pipe = makeInstance(path_, false, security_);
            if (pipe == INVALID_HANDLE_VALUE)
                DebugPrint("CommandPipeServer: no new instance of %s, GetLastError.%lu\n",
                           path_.c_str(), GetLastError());
        }
    }

    // The connection to a thread of its own, after the oldest silent one is
    // dropped where the limit is reached.
    void hand(HANDLE pipe) {
        auto connection = std::make_shared<Connection>();
        connection->cancel = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        {
            std::lock_guard<std::mutex> lock(shared_->mutex);
            if (shared_->open.size() >= shared_->connectionsMax) {
                auto oldest = shared_->open.begin();
                for (auto it = shared_->open.begin(); it != shared_->open.end(); ++it)
                    if (!(*it)->sent) {
                        oldest = it;
                        break;
                    }
                SetEvent((*oldest)->cancel);
            }
            shared_->open.push_back(connection);
        }
        if (!startDetachedThread([pipe, shared = shared_, connection] {
                serveConnection(pipe, shared, connection);
            })) {
            std::lock_guard<std::mutex> lock(shared_->mutex);
            shared_->open.remove(connection);
            CloseHandle(connection->cancel);
            CloseHandle(pipe);
        }
    }

    std::string path_;
    std::shared_ptr<Shared> shared_;
    UserOnly security_;
    HANDLE stop_;
    std::thread thread_;
};

std::string sidText() {
    std::vector<char> user = processUser();
    char* text = nullptr;
    if (!sidOf(user) || !ConvertSidToStringSidA(sidOf(user), &text))
        return "unknown";
    std::string sid = text;
    LocalFree(text);
    return sid;
}

} // namespace

std::string commandSocketPath(const std::string& lockName) {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return "\\\\.\\pipe\\" + lockName + "-" + std::to_string(session) + "-" + sidText();
}

std::unique_ptr<CommandPipeServer> CommandPipeServer::listen(const std::string& path,
                                                             Handler handle, RunOnOwner runOnOwner,
                                                             std::chrono::milliseconds deadline,
                                                             size_t connectionsMax) {
    UserOnly security;
    if (!security.attributes()) {
        DebugPrint("CommandPipeServer: no security descriptor for %s, GetLastError.%lu\n",
                   path.c_str(), GetLastError());
        return nullptr;
    }
    // The first instance: a name another program serves already is refused,
    // never served beside it (the system refuses a first instance of a name
    // that exists; Wine does not, so a client's open is tried first).
    HANDLE served = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (served != INVALID_HANDLE_VALUE || GetLastError() == ERROR_PIPE_BUSY) {
        if (served != INVALID_HANDLE_VALUE)
            CloseHandle(served);
        DebugPrint("CommandPipeServer: %s is served by another program\n", path.c_str());
        return nullptr;
    }
    HANDLE first = makeInstance(path, true, security);
    if (first == INVALID_HANDLE_VALUE) {
        DebugPrint("CommandPipeServer: %s cannot be served, GetLastError.%lu\n", path.c_str(),
                   GetLastError());
        return nullptr;
    }
    auto shared = std::make_shared<Shared>();
    shared->handle = std::move(handle);
    shared->runOnOwner = std::move(runOnOwner);
    shared->deadline = deadline;
    shared->connectionsMax = std::max<size_t>(connectionsMax, 1);
    return std::make_unique<WindowsCommandPipeServer>(path, std::move(shared), first);
}

bool sendCommand(const std::string& path, const std::string& request, CommandAnswer& answer,
                 std::chrono::milliseconds deadline) {
    const auto until = Clock::now() + deadline;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (;;) {
        pipe = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
        if (pipe != INVALID_HANDLE_VALUE)
            break;
        // Every instance busy: wait for one, within the deadline.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        if (GetLastError() != ERROR_PIPE_BUSY || left.count() <= 0 ||
            !WaitNamedPipeA(path.c_str(), DWORD(left.count())))
            return false;
    }
    std::string line;
    if (commandRequestLine(request, line, answer)) {
        std::string reply;
        bool sent = transfer(pipe, true, line.data(), DWORD(line.size()), until, nullptr) ==
                    long(line.size());
        char buffer[16384];
        for (long n = 0; sent && reply.size() <= kCommandAnswerMax;) {
            n = transfer(pipe, false, buffer, sizeof buffer, until, nullptr);
            if (n <= 0)
                break;
            reply.append(buffer, size_t(n));
        }
        if (reply.size() > kCommandAnswerMax)
            reply.clear();
        answer = parseCommandAnswer(std::move(reply));
    }
    CloseHandle(pipe);
    return true;
}

} // namespace platform
