#include "HoldMeter.h"

#include <time.h>

#include <map>
#include <mutex>

namespace {
std::mutex g_lock;
std::map<const void*, double> g_open;
double g_held = 0;
double g_longest = 0;
uint64_t g_holds = 0;

double Now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}
}  // namespace

void HoldMeter::Opened(const void* handle)
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_open[handle] = Now();
}

void HoldMeter::Closed(const void* handle)
{
    double now = Now();
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_open.find(handle);
    if (it == g_open.end()) {
        return;
    }
    double span = now - it->second;
    g_open.erase(it);
    g_held += span;
    g_longest = span > g_longest ? span : g_longest;
    ++g_holds;
}

double HoldMeter::HeldSeconds()
{
    std::lock_guard<std::mutex> guard(g_lock);
    return g_held;
}

uint64_t HoldMeter::Holds()
{
    std::lock_guard<std::mutex> guard(g_lock);
    return g_holds;
}

double HoldMeter::LongestSeconds()
{
    std::lock_guard<std::mutex> guard(g_lock);
    return g_longest;
}

void HoldMeter::ResetLongest()
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_longest = 0;
}
