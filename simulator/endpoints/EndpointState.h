// The Windows audio endpoints of the virtual device as they sit in its
// cross-process state: levels, mute, the record selector and the property
// values a program wrote. Fixed-size fields only (32- and 64-bit share it).
#pragma once

#include <windows.h>

#include <cstdint>

namespace sim {

// Two endpoints of another vendor's device, then the device's own.
constexpr uint32_t kEndpointCount = 5;
constexpr uint32_t kEndpointChannels = 2;
// Property keys that hold a format blob a program may write.
constexpr uint32_t kFormatKeyCount = 4;
constexpr uint32_t kFormatBlobBytes = 40;

struct EndpointValues {
    float level[kEndpointChannels];        // dB
    uint32_t mute;
    uint32_t changes;                      // level and mute changes, for the notifications
    GUID context;                          // event context of the last change
    uint32_t formatHeld[kFormatKeyCount];  // 1: the key holds a value
    uint32_t formatWrites[kFormatKeyCount];
    uint8_t format[kFormatKeyCount][kFormatBlobBytes];
};

struct EndpointsState {
    uint32_t initialized;                  // 0: defaults are set at first use
    // Faults.
    uint32_t refusePropertyWrite;          // opening a store for writing gives E_ACCESSDENIED
    uint32_t noLevelControl;               // the device's level subunits have no level control
    uint32_t noConnector;                  // the device's endpoint topologies have no connector
    uint32_t muxSelection;                 // local id of the part that feeds the record multiplexer
    uint32_t muxChanges;
    EndpointValues endpoint[kEndpointCount];
};

}  // namespace sim
