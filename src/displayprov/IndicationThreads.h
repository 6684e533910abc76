// The count of indication threads started and not yet ended, library-wide.
// The threads outlive the provider object that started them, so that a
// terminating cleanup can wait for them before the CIM object manager
// unloads the library their code lives in.
#ifndef PNLMON_INDICATIONTHREADS_H
#define PNLMON_INDICATIONTHREADS_H

#include <chrono>

class IndicationThreads {
public:
    // Before asking the broker for a thread.
    static void starting();
    // When the broker started no thread after starting(), and as the very
    // last step of every thread that did start.
    static void ended();
    static int running();
    // Waits until no thread runs or the bound has passed; returns the
    // number still running.
    static int waitIdle(std::chrono::milliseconds bound);
    // Keeps this library mapped for the rest of the process, whoever
    // unloads it: for threads that still run its code after a terminating
    // cleanup has given up waiting for them. True when the library is kept.
    static bool keepLibraryLoaded();
};

#endif
