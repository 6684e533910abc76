#include "ThreadTracker.h"

#include <algorithm>

namespace cimhost {

ThreadTracker::ThreadTracker() : state_(std::make_shared<State>()) {}

void* ThreadTracker::Body(void* arg)
{
    std::unique_ptr<Launch> launch(static_cast<Launch*>(arg));
    // Runs on normal return and on forced unwinding (pthread_exit).
    struct Finish {
        std::shared_ptr<State> state;
        ~Finish()
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            --state->running;
            state->idle.notify_all();
        }
    } finish{launch->state};
    return launch->start(launch->parm);
}

bool ThreadTracker::start(StartRoutine routine, void* parm, bool detached, pthread_t& id)
{
    auto launch = std::make_unique<Launch>(Launch{state_, routine, parm});
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
        return false;
    }
    pthread_attr_setdetachstate(&attr, detached ? PTHREAD_CREATE_DETACHED : PTHREAD_CREATE_JOINABLE);
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        ++state_->running;
        ++state_->started;
    }
    int rc = pthread_create(&id, &attr, Body, launch.get());
    pthread_attr_destroy(&attr);
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (rc != 0) {
        --state_->running;
        --state_->started;
        state_->idle.notify_all();
        return false;
    }
    launch.release(); // the thread owns it now
    if (!detached) {
        state_->joinable.push_back(id);
    }
    return true;
}

int ThreadTracker::join(pthread_t id, void** result)
{
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        auto it = std::find_if(state_->joinable.begin(), state_->joinable.end(),
                               [&](pthread_t t) { return pthread_equal(t, id) != 0; });
        if (it == state_->joinable.end()) {
            return -1;
        }
        state_->joinable.erase(it);
    }
    return pthread_join(id, result);
}

bool ThreadTracker::waitIdle(std::chrono::milliseconds timeout)
{
    std::vector<pthread_t> toJoin;
    {
        std::unique_lock<std::mutex> lock(state_->mutex);
        if (!state_->idle.wait_for(lock, timeout, [&] { return state_->running == 0; })) {
            return false;
        }
        toJoin.swap(state_->joinable);
    }
    for (pthread_t t : toJoin) {
        pthread_join(t, nullptr);
    }
    return true;
}

std::size_t ThreadTracker::running() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->running;
}

std::size_t ThreadTracker::started() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->started;
}

} // namespace cimhost
