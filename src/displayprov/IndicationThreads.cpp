#include "IndicationThreads.h"

#include <dlfcn.h>

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

bool IndicationThreads::keepLibraryLoaded()
{
    // The library that holds this function, found by its address; the extra
    // reference is never dropped, and RTLD_NODELETE keeps the code mapped
    // even once every handle is closed.
    Dl_info self;
    if (dladdr(reinterpret_cast<void*>(&IndicationThreads::keepLibraryLoaded), &self) == 0 ||
        self.dli_fname == nullptr) {
        return false;
    }
    return dlopen(self.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}

int IndicationThreads::waitIdle(std::chrono::milliseconds bound)
{
    std::unique_lock<std::mutex> lock(Mutex());
    Ended().wait_for(lock, bound, [] { return inFlight == 0; });
    return inFlight;
}
