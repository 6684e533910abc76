// Several request threads at once, with indication threads delivering at
// the same time (meant to run under ThreadSanitizer too).
#include "CimHostTestSupport.h"

#include <atomic>
#include <thread>
#include <vector>

using namespace cimhost;
using namespace cimhost_test;

namespace {

TEST_F(CimHostTest, FourRequestThreadsAtOnce)
{
    Subscribe();
    constexpr int kThreads = 4;
    constexpr int kRounds = 20;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                RequestResult names = host.enumerateInstanceNames(kNs, kClass);
                RequestResult all = host.enumerateInstances(kNs, kClass);
                RequestResult one = host.getInstance(kNs, kClass, "Name", (i + t) % 2 ? "alpha" : "beta");
                if (!names.ok() || names.paths.size() != 2 || !all.ok() || all.instances.size() != 2 ||
                    !one.ok() || one.instances.size() != 1) {
                    ++failures;
                }
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    EXPECT_EQ(failures, 0);
    const std::size_t expected = kThreads * kRounds * 2;
    ASSERT_TRUE(host.waitForIndications(expected, std::chrono::seconds(60)));
    ASSERT_TRUE(host.waitForProviderThreads(std::chrono::seconds(60)));
    EXPECT_EQ(host.indications().size(), expected);
    BrokerCounters c = host.counters();
    EXPECT_EQ(c.attaches, expected);
    EXPECT_EQ(c.detaches, expected);
    EXPECT_EQ(host.instanceFactoryCalls(), 1u);
}

} // namespace
