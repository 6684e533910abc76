#include "IndicationThreads.h"

#include <condition_variable>
#include <mutex>

namespace {

std::mutex& Mutex()
{
    static std::mutex mutex;
    return mutex;
}

std::condition_variable& Ended()
{
    static std::condition_variable ended;
    return ended;
}

int inFlight = 0;  // guarded by Mutex()

}  // namespace

void IndicationThreads::starting()
{
    std::lock_guard<std::mutex> lock(Mutex());
    ++inFlight;
}

void IndicationThreads::ended()
{
    std::lock_guard<std::mutex> lock(Mutex());
    if (inFlight > 0) {
        --inFlight;
    }
    if (inFlight == 0) {
        Ended().notify_all();
    }
}

int IndicationThreads::running()
{
    std::lock_guard<std::mutex> lock(Mutex());
    return inFlight;
}

int IndicationThreads::waitIdle(std::chrono::milliseconds bound)
{
    std::unique_lock<std::mutex> lock(Mutex());
    Ended().wait_for(lock, bound, [] { return inFlight == 0; });
    return inFlight;
}
