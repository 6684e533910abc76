// DisplayChangeWatcher against emulated monitors: arrivals and departures of
// supported monitors are told without any enumeration, others are not, and
// nothing is told once stop() returned.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "EmuFixture.h"
#include "display.h"

namespace {

using namespace std::chrono_literals;

class CountingListener : public IDisplayChangeListener {
public:
    void DisplaysMayHaveChanged(bool arrived) override
    {
        std::lock_guard<std::mutex> guard(lock);
        events.push_back(arrived);
        changed.notify_all();
    }
    // Waits until `count` events were told, or the timeout passed.
    std::vector<bool> waitFor(size_t count, std::chrono::milliseconds timeout = 5000ms)
    {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait_for(guard, timeout, [&] { return events.size() >= count; });
        return events;
    }
    std::vector<bool> seen()
    {
        std::lock_guard<std::mutex> guard(lock);
        return events;
    }

private:
    std::mutex lock;
    std::condition_variable changed;
    std::vector<bool> events;
};

// A driver is alive meanwhile, as in every real use: its libusb context
// keeps the process's uevent listener open. (Were the watcher's context the
// only one, each stop would close that listener, and umockdev aborts the
// process when a uevent meets a listener that closed under it.)
class ChangeWatcherTest : public EmuTest {
protected:
    DisplayApi api;
};

}  // namespace

TEST_F(ChangeWatcherTest, SupportedArrivalsAndDeparturesAreToldWithoutARequest)
{
    CountingListener listener;
    DisplayChangeWatcher watcher;
    EXPECT_FALSE(watcher.isWatching());
    ASSERT_EQ(DSP_OK, watcher.start(&listener));
    EXPECT_TRUE(watcher.isWatching());
    EXPECT_EQ(DSP_OK, watcher.start(&listener));  // already watching

    bus().plug(Monitor("tilo", "1000001"));
    EXPECT_EQ(std::vector<bool>{true}, listener.waitFor(1));
    // Every supported product is watched.
    bus().plug(Monitor("sarn", "1000002", 0x4679));
    usbemu::MonitorSpec other = Monitor("other", "1000003");
    other.vid = 0x0F66;
    other.pid = 0x467A;
    bus().plug(other);
    EXPECT_EQ((std::vector<bool>{true, true, true}), listener.waitFor(3));
    bus().unplug("tilo");
    EXPECT_EQ((std::vector<bool>{true, true, true, false}), listener.waitFor(4));

    // A device outside the table is not told.
    usbemu::MonitorSpec foreign = Monitor("foreign", "1000004");
    foreign.vid = 0x1234;
    foreign.pid = 0x4676;
    bus().plug(foreign);
    bus().unplug("foreign");
    bus().unplug("sarn");  // marks the end: told after the foreign pair if that were told
    auto seen = listener.waitFor(5);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ((std::vector<bool>{true, true, true, false, false}), listener.seen());
    // The watcher opened nothing.
    EXPECT_EQ(0, bus().opens("tilo"));
    EXPECT_EQ(0, bus().opens("sarn"));
}

TEST_F(ChangeWatcherTest, NothingIsToldAfterStopAndItStartsAgain)
{
    CountingListener listener;
    {
        DisplayChangeWatcher watcher;
        ASSERT_EQ(DSP_OK, watcher.start(&listener));
        watcher.stop();
        EXPECT_FALSE(watcher.isWatching());
        watcher.stop();  // twice: nothing happens
        bus().plug(Monitor("late", "2000001"));
        std::this_thread::sleep_for(300ms);
        EXPECT_TRUE(listener.seen().empty());

        ASSERT_EQ(DSP_OK, watcher.start(&listener));
        bus().unplug("late");
        EXPECT_EQ(std::vector<bool>{false}, listener.waitFor(1));
        bus().plug(Monitor("late", "2000001"));
        EXPECT_EQ((std::vector<bool>{false, true}), listener.waitFor(2));
    }  // the destructor stops it
    bus().unplug("late");
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ((std::vector<bool>{false, true}), listener.seen());
    EXPECT_EQ(DSP_BAD_ID, DisplayChangeWatcher().start(nullptr));
}

TEST_F(ChangeWatcherTest, ManyStartsAndStopsDuringChurn)
{
    // Stopping while events arrive never hangs and never tells after stop.
    CountingListener listener;
    DisplayChangeWatcher watcher;
    std::thread churn([this] {
        for (int i = 0; i < 60; ++i) {
            bus().plug(Monitor("churn", "3000001"));
            bus().unplug("churn");
        }
    });
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ(DSP_OK, watcher.start(&listener));
        std::this_thread::sleep_for(2ms);
        watcher.stop();
    }
    churn.join();
    size_t told = listener.seen().size();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(told, listener.seen().size());
}
