#include "Watchdog.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

struct Watchdog::State {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    unsigned long kicks = 0;
    std::thread thread;
};

Watchdog::Watchdog(std::chrono::seconds limit, std::string what) : state_(new State)
{
    State* state = state_;
    state->thread = std::thread([state, limit, what] {
        std::unique_lock<std::mutex> lock(state->mutex);
        while (!state->done) {
            unsigned long seen = state->kicks;
            if (!state->changed.wait_for(lock, limit,
                                         [state, seen] { return state->done || state->kicks != seen; })) {
                fprintf(stderr, "WATCHDOG: %s made no progress for %lld s (deadlock?)\n", what.c_str(),
                        static_cast<long long>(limit.count()));
                fflush(stderr);
                std::abort();
            }
        }
    });
}

Watchdog::~Watchdog()
{
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->done = true;
    }
    state_->changed.notify_all();
    state_->thread.join();
    delete state_;
}

void Watchdog::kick()
{
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        ++state_->kicks;
    }
    state_->changed.notify_all();
}
