// The driver's own future() selector: what it counted of the periods the
// device ran dry in, by cause, since the buffers were made. Other drivers
// answer it with an error, so a host may always ask.
#pragma once

#include <cstdint>

// "VRdc": outside every selector of the published interface.
constexpr int32_t kVelmorGetDropoutCounts = 0x56526463;

struct DropoutCounts {
    uint32_t hostLate;        // the host's callback took the time the packets ahead had
    uint32_t driverLate;      // the streaming thread woke too late after a completion
    uint32_t deviceUnderrun;  // neither: the device finished its packets sooner than a period each
    uint32_t packetFailed;    // the device refused a packet, so that period carried nothing
};
