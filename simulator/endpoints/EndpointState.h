// The Windows audio endpoints of the virtual device as they sit in its
// cross-process state: levels with their ranges, mute, the record selector,
// the property values a program wrote and the endpoint faults. Fixed-size
// fields only (32- and 64-bit share it).
#pragma once

#include <windows.h>

#include <cstdint>

namespace sim {

// Two endpoints of another vendor's device, then the device's own three,
// then the extra device endpoints of the "many" topology (render, capture).
constexpr uint32_t kBaseEndpointCount = 5;
constexpr uint32_t kExtraEndpointsPerFlow = 8;
constexpr uint32_t kEndpointCount = kBaseEndpointCount + 2 * kExtraEndpointsPerFlow;
constexpr uint32_t kEndpointChannels = 2;
// Property keys that hold a format blob a program may write.
constexpr uint32_t kFormatKeyCount = 4;
constexpr uint32_t kFormatBlobBytes = 40;

// A level control's range in dB: minimum + n × step up to the maximum.
struct LevelRange {
    float minimum;
    float maximum;
    float step;
};

// How the device's endpoints and their topologies are laid out.
enum EndpointTopology : uint32_t {
    kTopologyNormal = 0,
    kTopologyCaptureOnly = 1,    // no render endpoint: only the record inputs
    kTopologyWrongFlow = 2,      // the render endpoint's connector says data flows out
    kTopologyNoMux = 3,          // the record inputs meet in a sum, not a multiplexer
    kTopologyMany = 4,           // eight more render and eight more capture endpoints
};
constexpr uint32_t kTopologyCount = 5;

struct EndpointValues {
    float level[kEndpointChannels];        // dB, always on a step of its range
    LevelRange range[kEndpointChannels];
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
    uint32_t failPropertyWrite;            // N > 0: the Nth write through one opened store fails
    uint32_t noLevelControl;               // the device's level subunits have no level control
    uint32_t noConnector;                  // the device's endpoint topologies have no connector
    uint32_t topology;                     // EndpointTopology
    uint32_t muxSelection;                 // local id of the part that feeds the record multiplexer
    uint32_t muxChanges;
    EndpointValues endpoint[kEndpointCount];
};

}  // namespace sim
