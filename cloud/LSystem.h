// The client of the cloud service: sign-in, sign-out, entering the factory and
// the keep-alive, each one HTTP exchange with a JSON reply. The client keeps no
// session state: callers pass the service address, account, factory and token
// and store what comes back.
#pragma once

#include "http/IHttp.h"
#include "http/MyCallback.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class LSystem {
public:
    // How the client hands a notice text to the shell client; false when
    // nobody took it.
    using ShellNotice = std::function<bool(const std::string& text)>;
    // The shell client of this user's session (platform::shellClientSocketPath).
    static ShellNotice desktopShellClient();

    // Builds the client with its own HTTP client (CWininetHttp), telling
    // refusals to the session's shell client.
    LSystem();
    // Builds the client over the given HTTP client and shell client (a
    // test's fakes, say).
    explicit LSystem(std::unique_ptr<IHttp> http, ShellNotice notice = desktopShellClient());
    ~LSystem();
    LSystem(const LSystem&) = delete;
    LSystem& operator=(const LSystem&) = delete;

    // Signs in with account and password. 1 on success, else 0. On success
    // token and displayName receive the reply's values; they are left as they
    // are when the reply carries no readable session data.
    static int32_t Login(const std::string& serviceAddress, std::string& token, LSystem& client,
                         const std::string& account, const std::string& password,
                         std::string& displayName);

    // Signs out the session of this client's HTTP client (the service knows it
    // by its cookie). The reply's "data" when the service confirms, else 0;
    // only 1 counts as success.
    static int32_t Logout(LSystem& client, const std::string& serviceAddress);

    // Opens the session for one factory. 1 on success, else 0.
    static int32_t EnterFactory(const std::string& serviceAddress, const std::string& factoryId,
                                LSystem& client, const std::string& token);

    // Keep-alive. The reply's integer "data" when the service answers with
    // status 1, else 0; only 1 means the session is alive.
    static int32_t heartpacket(const std::string& serviceAddress, LSystem& client,
                               const std::string& token);

    // Hands caption + "|" + message to the shell client. False when none
    // listens; the callers ignore the result.
    bool NotifyShellClient(const std::string& caption, const std::string& message);

private:
    std::unique_ptr<IHttp> http_;
    ShellNotice notice_;
    // The client's progress receiver, without a progress function; none of
    // the four calls hands it to a request.
    CMyCallback callback_;
    // Kept for the life of the client; none of the four calls takes it, since
    // the HTTP client serialises its own exchanges.
    std::recursive_mutex lock_;
};
