// The HTTP tests talk to loopback servers only: a proxy from the machine's
// environment must not come between them.
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class NoProxyEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                 "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
            unsetenv(name);
    }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new NoProxyEnvironment);

} // namespace
