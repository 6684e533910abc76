// Starts provider threads for the broker's newThread and keeps count of the
// ones still running, so that the host can wait for them before it unloads
// the library their code lives in.
#pragma once

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace cimhost {

class ThreadTracker {
public:
    using StartRoutine = void* (*)(void*);

    ThreadTracker();

    // Starts start(parm); false when the thread could not be created.
    bool start(StartRoutine start, void* parm, bool detached, pthread_t& id);
    // Joins a joinable thread started here; returns pthread_join's result.
    int join(pthread_t id, void** result);
    // Waits until every started thread has returned from its routine (and
    // joins the joinable ones nobody joined); false on timeout.
    bool waitIdle(std::chrono::milliseconds timeout);

    std::size_t running() const;
    std::size_t started() const;

private:
    struct State {
        std::mutex mutex;
        std::condition_variable idle;
        std::size_t running = 0;
        std::size_t started = 0;
        std::vector<pthread_t> joinable;
    };
    struct Launch {
        std::shared_ptr<State> state;
        StartRoutine start;
        void* parm;
    };
    static void* Body(void* launch);

    std::shared_ptr<State> state_;
};

} // namespace cimhost
