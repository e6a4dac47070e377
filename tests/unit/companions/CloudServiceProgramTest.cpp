// The cloud-service program as a newcomer starts it by hand, and its switch
// between answering and silence.
#include "LoopbackClient.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// The program with its arguments; standard output and error are read back.
class Program {
public:
    explicit Program(std::vector<std::string> args) {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            dup2(err[1], 2);
            std::vector<char*> argv{const_cast<char*>(CLOUD_SERVICE_PROGRAM)};
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        out_ = fdopen(out[0], "r");
        err_ = fdopen(err[0], "r");
    }
    ~Program() {
        if (pid_ > 0 && !ended_) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        fclose(out_);
        fclose(err_);
    }
    static std::string line(FILE* from) {
        char buffer[4096];
        return fgets(buffer, sizeof buffer, from) ? buffer : "";
    }
    std::string outLine() { return line(out_); }
    std::string errLine() { return line(err_); }
    std::string allOut() { return rest(out_); }
    std::string allErr() { return rest(err_); }
    int status() {
        int status = 0;
        waitpid(pid_, &status, 0);
        ended_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void signal(int number) { kill(pid_, number); }

private:
    static std::string rest(FILE* from) {
        std::string all;
        for (std::string l = line(from); !l.empty(); l = line(from))
            all += l;
        return all;
    }
    pid_t pid_ = -1;
    bool ended_ = false;
    FILE* out_ = nullptr;
    FILE* err_ = nullptr;
};

TEST(CloudServiceProgram, HelpNamesTheDefaultsAndBadArgumentsGiveOneLine) {
    Program help({"--help"});
    const std::string text = help.allOut();
    EXPECT_EQ(help.status(), 0);
    EXPECT_NE(text.find("PORT defaults to 8088"), std::string::npos) << text;
    EXPECT_NE(text.find("cloud-accounts.json beside the program"), std::string::npos) << text;

    // A file of this run's own: a name every run shares in the temporary
    // folder may be another user's, and then cannot be written.
    std::string badJson = testing::TempDir() + "/cloud-service-bad-accounts-XXXXXX";
    const int badFd = mkstemp(badJson.data());
    ASSERT_GE(badFd, 0) << badJson;
    FILE* bad = fdopen(badFd, "w");
    ASSERT_NE(bad, nullptr);
    fputs("{\"accounts\":\n[{\"loginName\":", bad);
    fclose(bad);
    const std::vector<std::vector<std::string>> refused = {
        {"99999"},
        {"80x"},
        {"-1"},
        {""},
        {"0", "/nonexistent/accounts.json"},
        {"0", badJson},
        {"0", CLOUD_ACCOUNTS, "extra"},
    };
    for (const auto& args : refused) {
        SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
        Program program(args);
        const std::string err = program.allErr();
        EXPECT_EQ(program.status(), 2);
        EXPECT_EQ(program.allOut(), "");
        EXPECT_EQ(err.rfind("cloud-service: ", 0), 0u) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
    unlink(badJson.c_str());
}

TEST(CloudServiceProgram, SwitchesBetweenSilenceAndAnsweringWithoutLosingItsPort) {
    Program service({"0", CLOUD_ACCOUNTS});
    const int port = std::atoi(service.outLine().c_str());
    ASSERT_GT(port, 0);
    const std::string request = "GET /heartpacket?Token=none HTTP/1.1\r\nHost: x\r\n\r\n";
    auto answered = [&] {
        const std::string reply = exchange(port, request);
        return reply.rfind("HTTP/1.1 200 OK\r\n", 0) == 0;
    };
    EXPECT_TRUE(answered());
    EXPECT_EQ(service.errLine(), "cloud-service: GET /heartpacket?Token=none -> 200\n");
    for (int round = 0; round < 100; ++round) {
        SCOPED_TRACE(round);
        service.signal(SIGUSR1);
        ASSERT_EQ(service.errLine(), "cloud-service: not answering\n");
        EXPECT_EQ(exchange(port, request), "");
        service.signal(SIGUSR2);
        ASSERT_EQ(service.errLine(), "cloud-service: answering again\n");
        EXPECT_TRUE(answered());
        EXPECT_EQ(service.errLine(), "cloud-service: GET /heartpacket?Token=none -> 200\n");
    }
}

} // namespace
