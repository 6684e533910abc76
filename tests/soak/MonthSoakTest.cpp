// A month on a terminal, compressed: the provider in the embedded CIMOM host
// with two emulated monitors, changes announced as they happen, at the
// built-in log level (trace, the most log). Every simulated day:
//
//   - the CIM object manager restarts with its stored subscriptions
//     (CimHost::restartWithSubscriptions: unload, load, factories,
//     activateFilter twice, enableIndications, no request);
//   - the log is rotated as logrotate's copytruncate does it;
//   - a management station enumerates instances every 5 simulated minutes
//     (288 requests a day; --requests-per-day=N for fewer);
//   - now and then a flash utility runs, and monitors are swapped, while
//     the object manager is up or while it is down.
//
// Checked: every request lists exactly the attached monitors (none while the
// flash utility runs); the indications are exactly the real changes made
// while the object manager was up (none missing, none doubled, none at a
// restart, none for a change made while it was down); at every simulated
// hour the log was written since the previous one, and its last line is
// whole; open descriptors are the same from day 2 to the end and resident
// memory within 2 % (runs of 10 days or more); after the last terminating
// cleanup no provider thread is left and the process has the threads it
// had before the first load.
//
//   pnlmon_month_soak_test [--days=N] [--requests-per-day=N]
// (or PNLMON_MONTH_DAYS, PNLMON_MONTH_REQUESTS); defaults 30 and 288.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "BusControl.h"
#include "CimHost.h"
#include "EmulatedBus.h"
#include "IndicationChanges.h"
#include "NamedProcess.h"
#include "ProcessStats.h"
#include "QuietStdout.h"
#include "Sandbox.h"
#include "ServedProcess.h"
#include "SoakMonitor.h"
#include "Watchdog.h"

using cimhost::CimHost;
using cimhost::HostValue;
using usbemu::EmulatedBus;
using namespace std::chrono_literals;

namespace {

const char kNs[] = "root/cimv2";
const char kClass[] = "QAV_Display";
const char kLog[] = "/var/log/pnlmon/pnlmon.log";
const char kRotated[] = "/var/log/pnlmon/pnlmon.log.1";
// Longer than the announcer's settle delay plus a refresh on a loaded machine.
const auto kQuiet = 1500ms;

int ProcessThreads()
{
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(tasks)) {
            count += entry->d_name[0] != '.' ? 1 : 0;
        }
        closedir(tasks);
    }
    return count;
}

// "+id" for a creation, "-id" for a deletion, sorted (the indication threads
// deliver in no set order).
std::vector<std::string> Changes(const std::vector<cimhost::HostIndication>& indications)
{
    std::vector<std::string> out = IndicationChanges::Of(indications);
    std::sort(out.begin(), out.end());
    return out;
}

// logrotate's copytruncate: copy the file aside, then cut it to nothing in
// place while the writers keep it open.
bool CopyTruncate()
{
    std::string text;
    if (!sandbox::ReadFile(kLog, text)) {
        return true;  // nothing to rotate (missingok)
    }
    return sandbox::WriteFile(kRotated, text) && truncate(kLog, 0) == 0;
}

struct LogState {
    bool written = false;  // modified after the given moment
    bool whole = false;    // empty, or ends in CR LF
    long long size = 0;
};

LogState LookAtLog(const timespec& since)
{
    LogState state;
    struct stat status;
    if (stat(kLog, &status) != 0) {
        return state;
    }
    state.size = static_cast<long long>(status.st_size);
    state.written = status.st_mtim.tv_sec > since.tv_sec ||
                    (status.st_mtim.tv_sec == since.tv_sec && status.st_mtim.tv_nsec >= since.tv_nsec);
    std::string text;
    sandbox::ReadFile(kLog, text);
    state.whole = text.empty() || (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0);
    return state;
}

// On the clock the kernel stamps files with: a write after Now() never shows
// an older modification time (the precise clock may run up to a tick ahead).
timespec Now()
{
    timespec now;
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return now;
}

// The month, lived by the process that holds the host.
class Month {
public:
    Month(ServedProcess& process, BusControl& bus, long days, long requestsPerDay, bool measuredApart,
          FILE* table)
        : process_(process), host_(process.host()), bus_(bus), days_(days), perDay_(requestsPerDay),
          apart_(measuredApart), table_(table)
    {
    }

    void live();

private:
    struct DayFigures {
        long rssKiB = 0;
        long heapKiB = 0;  // in live allocations
        int fds = 0;
        int threads = 0;
        std::size_t brokerObjects = 0;  // living as long as the broker
        long long logBytes = 0;  // the largest size seen that day
    };

    void fail(const std::string& what)
    {
        if (++failures_ <= 30) {
            process_.expect(false, "day " + std::to_string(day_) + ", request " + std::to_string(request_) + ": " +
                                       what);
        }
    }
    void plug(int m, bool watched)
    {
        if (!bus_.set(m, true)) {
            fail("the bus refused to plug " + SoakMonitor::name(m));
        }
        attached_.insert(m);
        if (watched) {
            expected_.push_back("+" + SoakMonitor::id(m));
        }
    }
    void pull(int m, bool watched)
    {
        if (!bus_.set(m, false)) {
            fail("the bus refused to unplug " + SoakMonitor::name(m));
        }
        attached_.erase(m);
        if (watched) {
            expected_.push_back("-" + SoakMonitor::id(m));
        }
    }
    // The restart of the day; what happens while the object manager is down
    // is never announced.
    void restart(const std::function<void()>& whileDown);
    void poll(bool flashing);
    // Waits for the announced changes and compares them with the real ones.
    void collect(const char* when);
    void hourly();
    void flashSession(bool plugMeanwhile);
    DayFigures figures();

    ServedProcess& process_;
    CimHost& host_;
    BusControl& bus_;
    long days_;
    long perDay_;
    bool apart_;
    FILE* table_;
    long day_ = 0;
    long request_ = 0;
    int failures_ = 0;
    std::set<int> attached_;
    std::vector<std::string> expected_;  // real changes made while watched, not yet seen
    long changes_ = 0;
    long indications_ = 0;
    long restarts_ = 0;
    long requests_ = 0;
    long flashSessions_ = 0;
    timespec lastHour_ = Now();
    long long logMax_ = 0;
    std::vector<DayFigures> daily_;
};

void Month::restart(const std::function<void()>& whileDown)
{
    auto status = host_.restartWithSubscriptions(whileDown);
    ++restarts_;
    if (!status.ok()) {
        fail("restart: " + CimHost::RcName(status.rc) + " " + status.message);
    }
    std::this_thread::sleep_for(kQuiet);
    auto got = Changes(host_.indications().take());
    if (!got.empty()) {
        fail("indications at the restart: " + std::to_string(got.size()) + ", first " + got[0]);
    }
}

void Month::poll(bool flashing)
{
    auto answer = host_.enumerateInstances(kNs, kClass);
    ++requests_;
    std::set<std::string> seen, wanted;
    for (const auto& i : answer.instances) {
        const HostValue* id = i.find("DeviceID");
        seen.insert(id != nullptr ? id->text : "?");
    }
    if (!flashing) {
        for (int m : attached_) {
            wanted.insert(SoakMonitor::id(m));
        }
    }
    if (!answer.ok() || !answer.done || seen != wanted || answer.instances.size() != wanted.size()) {
        fail("enumerateInstances " + CimHost::RcName(answer.status.rc) + " with " +
             std::to_string(answer.instances.size()) + " instances, " + std::to_string(wanted.size()) +
             " expected");
    }
}

void Month::collect(const char* when)
{
    std::sort(expected_.begin(), expected_.end());
    host_.waitForIndications(expected_.size(), 10s);
    std::this_thread::sleep_for(kQuiet);
    auto got = Changes(host_.indications().take());
    changes_ += static_cast<long>(expected_.size());
    indications_ += static_cast<long>(got.size());
    if (got != expected_) {
        std::string text;
        for (const auto& c : got) {
            text += " " + c;
        }
        text += " /";
        for (const auto& c : expected_) {
            text += " " + c;
        }
        fail(std::string("indications ") + when + " (got / real):" + text);
    }
    expected_.clear();
}

void Month::hourly()
{
    LogState log = LookAtLog(lastHour_);
    logMax_ = std::max(logMax_, log.size);
    if (!log.written) {
        fail("nothing logged in the last simulated hour");
    }
    if (!log.whole) {
        fail("the log's last line is cut");
    }
    lastHour_ = Now();
}

void Month::flashSession(bool plugMeanwhile)
{
    ++flashSessions_;
    pid_t flasher = NamedProcess::Start("/bin/sleep", "kap_config", {"600"});
    if (flasher < 0) {
        fail("starting the flash utility");
        return;
    }
    // Plugged while the utility runs: announced once it has ended.
    if (plugMeanwhile) {
        plug(3, true);
    }
    poll(true);
    std::this_thread::sleep_for(kQuiet);
    if (!host_.indications().snapshot().empty()) {
        fail("an indication while the flash utility runs");
    }
    NamedProcess::Stop(flasher);
    collect("after a flash session");
}

Month::DayFigures Month::figures()
{
    ProcessStats::trimHeap();
    DayFigures f;
    f.rssKiB = ProcessStats::residentKiB();
    f.heapKiB = ProcessStats::heapInUseBytes() / 1024;
    f.fds = ProcessStats::openDescriptors("/var/log/pnlmon/");
    f.threads = ProcessThreads();
    f.brokerObjects = host_.longLivedObjects();
    f.logBytes = logMax_;
    return f;
}

void Month::live()
{
    Watchdog watchdog(std::chrono::seconds(300), "month soak");
    plug(0, false);
    plug(1, false);
    const long hourEvery = std::max(1L, perDay_ / 24);
    std::fprintf(table_,
                 "day  requests  changes  indications  restarts  flash  log-max-bytes  rss-KiB  heap-KiB  fds  threads  broker-objects\n");
    for (day_ = 1; day_ <= days_; ++day_) {
        request_ = 0;
        // The object manager's (re)start of the day. On day 10 a monitor is
        // swapped while it is down: not announced, simply listed.
        if (day_ % 10 == 0) {
            restart([this] {
                pull(1, false);
                plug(2, false);
            });
        } else if (day_ % 10 == 1 && day_ > 1) {
            restart([this] {
                pull(2, false);
                plug(1, false);
            });
        } else {
            restart(nullptr);
        }
        watchdog.kick();
        if (!CopyTruncate()) {
            fail("copytruncate");
        }
        lastHour_ = Now();
        logMax_ = 0;
        for (request_ = 0; request_ < perDay_; ++request_) {
            poll(false);
            if ((request_ + 1) % hourEvery == 0) {
                hourly();
            }
            if (request_ == perDay_ / 3) {
                // Swaps while watched: a monitor pulled and another plugged.
                if (day_ % 7 == 3) {
                    pull(0, true);
                    plug(3, true);
                    collect("after a swap");
                } else if (day_ % 7 == 4) {
                    pull(3, true);
                    plug(0, true);
                    collect("after a swap back");
                }
            }
            if (request_ == perDay_ / 2 && day_ % 6 == 2) {
                bool plugMeanwhile = attached_.count(3) == 0;
                flashSession(plugMeanwhile);
                if (plugMeanwhile) {
                    pull(3, true);
                    collect("after the flashed plug");
                }
            }
            watchdog.kick();
        }
        collect("at the end of the day");
        DayFigures f = figures();
        daily_.push_back(f);
        std::fprintf(table_, "%3ld  %8ld  %7ld  %11ld  %8ld  %5ld  %13lld  %7ld  %8ld  %3d  %7d  %14zu\n", day_, requests_,
                     changes_, indications_, restarts_, flashSessions_, f.logBytes, f.rssKiB, f.heapKiB, f.fds,
                     f.threads, f.brokerObjects);
    }
    fflush(table_);
    process_.expect(changes_ == indications_, "indications " + std::to_string(indications_) + " for " +
                                                  std::to_string(changes_) + " real changes");
    if (days_ >= 2 && apart_) {
        // The emulated bus keeps a socket per plugged monitor: only a process
        // apart from it has flat descriptors to show.
        const DayFigures& second = daily_[1];
        const DayFigures& last = daily_.back();
        process_.expect(second.fds == last.fds, "open descriptors, day 2 " + std::to_string(second.fds) +
                                                    ", last day " + std::to_string(last.fds));
        process_.expect(second.threads == last.threads, "threads, day 2 " + std::to_string(second.threads) +
                                                            ", last day " + std::to_string(last.threads));
        if (days_ >= 10) {
            process_.expect(last.rssKiB <= second.rssKiB + second.rssKiB / 50,
                            "resident KiB, day 2 " + std::to_string(second.rssKiB) + ", last day " +
                                std::to_string(last.rssKiB));
        }
    }
}

}  // namespace

TEST(MonthSoak, RestartsRotationsFlashAndSwapsForAMonth)
{
    const long days = ProcessStats::commandLineNumber("days", "PNLMON_MONTH_DAYS", 30);
    const long perDay = ProcessStats::commandLineNumber("requests-per-day", "PNLMON_MONTH_REQUESTS", 288);
    sandbox::ResetSystemFolders();
    ASSERT_TRUE(sandbox::WriteFile("/etc/pnlmon/pnlmon.conf", "AnnounceChanges=immediate\n"));
    EmulatedBus::instance().unplugAll();
    const std::string tablePath = sandbox::ScratchDir() + "/month-soak.txt";
    const bool apart = ServedProcess::ForkSupported();
    auto start = std::chrono::steady_clock::now();
    ServedProcess::Outcome outcome;
    {
        BusControl bus(apart);
        auto body = [&](ServedProcess& process) {
            FILE* table = std::fopen(tablePath.c_str(), "w");
            process.expect(table != nullptr, "the table file opens");
            if (table == nullptr) {
                return;
            }
            if (apart) {
                // One malloc arena: threads that find another's arena busy
                // would otherwise open new ones, each keeping resident pages,
                // whenever threads first overlap, anywhere in the month.
                mallopt(M_ARENA_MAX, 1);
            }
            // The threads of the process with the library loaded and no MI.
            const int threadsBefore = ProcessThreads();
            {
                QuietStdout quiet;
                Month month(process, bus, days, perDay, apart, table);
                month.live();
            }
            // The last terminating cleanup: no thread of the provider or the
            // driver is left.
            process.expect(process.host().unload(), "unload: provider threads did not end");
            process.expect(process.host().broker().threads().running() == 0, "broker threads left");
            int threadsAfter = ProcessThreads();
            process.expect(!apart || threadsAfter == threadsBefore,
                           "threads after the last cleanup " + std::to_string(threadsAfter) + ", before the load " +
                               std::to_string(threadsBefore));
            std::fprintf(table, "threads before the first load %d, after the last terminating cleanup %d\n",
                         threadsBefore, threadsAfter);
            std::fclose(table);
        };
        outcome = apart ? ServedProcess::Run(body) : ServedProcess::RunHere(body);
    }
    EmulatedBus::instance().unplugAll();
    std::string table;
    sandbox::ReadFile(tablePath, table);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "%s%ld simulated days, %ld requests a day: %.0f s\n", table.c_str(), days, perDay, seconds);
    EXPECT_EQ(0, outcome.failures) << outcome.checks;
    testing::Test::RecordProperty("seconds", static_cast<int>(seconds));
}
