#include "platform/Threads.h"

#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <windows.h>

// _beginthread runs the work on a thread of its own.
TEST(WindowsThreads, RunsTheWorkOnAThreadOfItsOwn) {
    std::promise<DWORD> ran;
    ASSERT_TRUE(platform::startDetachedThread([&] { ran.set_value(GetCurrentThreadId()); }));
    auto thread = ran.get_future();
    ASSERT_EQ(thread.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_NE(thread.get(), GetCurrentThreadId());
}
