// The hang guard: a thread that ends the program when the guard outlives its
// time.
#include "Facilities.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace facilities {

struct HangGuard::State {
    std::mutex mutex;
    std::condition_variable done;
    bool over = false;
    std::thread watch;
};

HangGuard::HangGuard(unsigned seconds) : state_(std::make_unique<State>()) {
    state_->watch = std::thread([state = state_.get(), seconds] {
        std::unique_lock<std::mutex> lock(state->mutex);
        if (!state->done.wait_for(lock, std::chrono::seconds(seconds),
                                  [&] { return state->over; })) {
            std::fprintf(stderr, "a call hung for %u s\n", seconds);
            std::abort();
        }
    });
}

HangGuard::~HangGuard() {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->over = true;
    }
    state_->done.notify_all();
    state_->watch.join();
}

} // namespace facilities
