// The fault matrix relies on LeakSanitizer (part of the AddressSanitizer
// build) to find anything a cell leaks: it checks at exit and fails the run.
// This proves the check works in this process, which runs re-executed under
// the umockdev preload, in its own PID namespace, with umockdev's threads.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#define PNLMON_FAULTS_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PNLMON_FAULTS_LSAN 1
#endif
#endif

#ifdef PNLMON_FAULTS_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace {

#ifdef PNLMON_FAULTS_LSAN
const uintptr_t kMask = 0x5A5A5A5A5A5A5A5Aull;

// Allocates a block and returns its address masked, so that no pointer to it
// is left where the leak scan looks (this frame is gone when it runs).
__attribute__((noinline)) uintptr_t HiddenBlock()
{
    return reinterpret_cast<uintptr_t>(malloc(48)) ^ kMask;
}
#endif

TEST(LeakCheck, FindsALeakUnderTheEmulator)
{
#ifndef PNLMON_FAULTS_LSAN
    GTEST_SKIP() << "not an AddressSanitizer build";
#else
    volatile uintptr_t hidden = HiddenBlock();
    fprintf(stderr, "LeakCheck: a leak of 48 bytes is reported next, on purpose\n");
    EXPECT_NE(__lsan_do_recoverable_leak_check(), 0) << "LeakSanitizer does not run in this process";
    free(reinterpret_cast<void*>(hidden ^ kMask));
#endif
}

}  // namespace
