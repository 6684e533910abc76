#include "Watchdog.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

struct Watchdog::State {
    std::mutex mutex;
    std::condition_variable disarmed;
    bool done = false;
    std::thread thread;
};

Watchdog::Watchdog(std::chrono::seconds limit, std::string what) : state_(new State)
{
    State* state = state_;
    state->thread = std::thread([state, limit, what] {
        std::unique_lock<std::mutex> lock(state->mutex);
        if (!state->disarmed.wait_for(lock, limit, [state] { return state->done; })) {
            fprintf(stderr, "WATCHDOG: %s did not finish within %lld s (deadlock?)\n", what.c_str(),
                    static_cast<long long>(limit.count()));
            fflush(stderr);
            std::abort();
        }
    });
}

Watchdog::~Watchdog()
{
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->done = true;
    }
    state_->disarmed.notify_all();
    state_->thread.join();
    delete state_;
}
