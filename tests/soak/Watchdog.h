// Aborts the process with a message when it is not disarmed in time, so a
// deadlock fails the test instead of hanging it.
#pragma once

#include <chrono>
#include <string>

class Watchdog {
public:
    Watchdog(std::chrono::seconds limit, std::string what);
    ~Watchdog();  // disarms
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    struct State;
    State* state_;
};
