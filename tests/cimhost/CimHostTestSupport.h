// Shared fixture: a host with the test provider loaded.
#pragma once

#include "CimHost.h"
#include "HostTestProvider.h"

#include <gtest/gtest.h>

#include <chrono>
#include <new>

namespace cimhost_test {

constexpr const char* kNs = "root/cimv2";
constexpr const char* kClass = "Test_Item";
constexpr const char* kIndication = "Test_Indication";
constexpr std::chrono::seconds kWait{10};

inline cimhost::CimHostOptions TestOptions()
{
    cimhost::CimHostOptions o;
    o.providerName = "HostTestProvider";
    return o;
}

class CimHostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(host.load(PNLMON_TEST_PROVIDER, &error)) << error;
        auto fn = reinterpret_cast<HostTestProviderStatsFn>(host.providerSymbol("HostTestProvider_Stats"));
        ASSERT_NE(fn, nullptr);
        stats = fn();
        // The library may stay mapped between tests: start from zero.
        new (stats) HostTestProviderStats();
    }

    // Activates one filter and enables indications.
    void Subscribe(const std::string& query = "")
    {
        ASSERT_TRUE(host.activateFilter(kIndication, true, query).ok());
        ASSERT_TRUE(host.enableIndications());
    }

    cimhost::CimHost host{TestOptions()};
    HostTestProviderStats* stats = nullptr;
};

} // namespace cimhost_test
