// A driver object on the virtual device, created the way the class factory
// does, with a minimal host around it for the driver's tests.
#pragma once

#include "asio/AsioInterface.h"
#include "asio/AsioSample.h"
#include "simulator/SimDevice.h"
#include "tests/support/RegistrySandbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

namespace asiotest {

extern const CLSID kTestClsid;

// What the driver told the host through its callbacks.
struct HostLog {
    std::atomic<int> switches{0};
    std::atomic<int> timeInfoSwitches{0};
    std::atomic<int> resetRequests{0};
    std::atomic<int> rateChanges{0};
    std::vector<uint64_t> positions;  // sample position at each switch (first 64)
    IASIO* driver = nullptr;
    std::vector<ASIOBufferInfo>* buffers = nullptr;
    int32_t bufferSize = 0;
    unsigned bits = 16;
    uint64_t frame = 0;               // next test-pattern frame to write
    bool writePattern = false;
    bool timeInfo = true;             // answer kAsioSupportsTimeInfo with 1
    bool selectorTimeInfo = true;     // answer kAsioSelectorSupported(kAsioSupportsTimeInfo) with 1
    int32_t engineVersion = 2;
    std::atomic<int> resyncRequests{0};
    std::atomic<int> rateChangedSwitches{0}; // time infos flagged kSampleRateChanged
    std::atomic<unsigned> firstTimeFlags{0}; // flags of the first time info after the counters were cleared
    std::atomic<int> staleInputs{0};         // first two switches whose input half was not silent
    bool checkInputs = false;
    int stallAtSwitch = -1;           // the host sleeps stallMs inside this switch
    DWORD stallMs = 0;
    std::atomic<int> overloads{0};
};
extern HostLog g_host;
ASIOCallbacks HostCallbacks();

// The device heard every channel of its last take as the host wrote it: from
// frame 0 after the lead-in, no period lost or added, no channel swapped.
void ExpectHeardAsPlayed(const sim::Stream& render, unsigned channels, const std::string& what);

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Creates the driver object; null with *hr on failure.
    IASIO* Create(HRESULT* hr = nullptr);
    // init, then the rate; fails the test if either fails.
    IASIO* Ready(double rate);
    // Buffers for the given channels (outputs first, then inputs).
    ASIOError Buffers(IASIO* driver, std::vector<int32_t> outputs, std::vector<int32_t> inputs, int32_t size);

    // The device once the mode reports written so far took effect (a little
    // after their write, as on the device).
    sim::SharedState* Settled();

    RegistrySandbox registry;
    sim::SharedState* device = nullptr;
    IASIO* driver = nullptr;
    std::vector<ASIOBufferInfo> infos;
    ASIOCallbacks callbacks = {};
};

}  // namespace asiotest
