// Aborts the process with a message when no progress is reported for a
// while, so a deadlock fails the test instead of hanging it.
#pragma once

#include <chrono>
#include <string>

class Watchdog {
public:
    // Fires when `limit` passes without a kick() (or, without kicks, after
    // `limit` from construction).
    Watchdog(std::chrono::seconds limit, std::string what);
    ~Watchdog();  // disarms
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    void kick();

private:
    struct State;
    State* state_;
};
