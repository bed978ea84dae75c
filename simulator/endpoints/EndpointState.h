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

// One level or mute change as its notice tells it.
struct VolumeChange {
    uint32_t endpoint;
    uint32_t mute;
    float level[kEndpointChannels];
    LevelRange range[kEndpointChannels];
    GUID context;
};

// One property value a program changed.
struct PropertyChange {
    uint32_t endpoint;
    uint32_t key;                          // FormatKeyIndex
};

// Notices kept for the endpoint watch of every process: the watch delivers
// each one; a process that falls further behind than the ring is told once
// with the values of the moment.
constexpr uint32_t kChangeRing = 64;

// An endpoint's state as the user left it (the device's presence comes on top).
enum EndpointUserState : uint32_t {
    kUserActive = 0,
    kUserDisabled = 1,                     // disabled in the Windows sound settings
    kUserUnplugged = 2,                    // a jack endpoint with nothing in its jack
};

// After the device's interfaces appear, its endpoints turn active one by one.
constexpr uint32_t kDefaultArrivalMs = 500;

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
    // Arrival: the device seen present in this generation since this time.
    uint32_t seenPresent;
    uint32_t seenGeneration;
    uint64_t arrivalTime;                  // FILETIME, 100 ns units
    uint32_t arrivalMs;                    // the first endpoint turns active this long after the interfaces
    uint32_t arrivalSpacingMs;             // each further one this much later (0: all together)
    uint32_t commitRequired;               // property writes take effect at Commit only
    uint32_t userState[kEndpointCount];    // EndpointUserState
    uint32_t volumeSequence;               // changes made, the last kChangeRing in the ring
    uint32_t propertySequence;
    VolumeChange volumeRing[kChangeRing];
    PropertyChange propertyRing[kChangeRing];
};

}  // namespace sim
