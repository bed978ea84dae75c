// The virtual device's state, shared by every process that talks to it: a
// named mapping per device instance ("VelmorR5R6Sim_<instance>"). Fixed-size
// fields only, so 32-bit and 64-bit processes see the same layout.
#pragma once

#include "simulator/endpoints/EndpointState.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace sim {

constexpr uint32_t kStateMagic = 0x56534D31;  // "VSM1"
constexpr uint32_t kStateVersion = 4;
constexpr uint32_t kMaxPins = 8;
constexpr uint32_t kMaxChannels = 8;
constexpr uint32_t kReportLogSize = 128;
constexpr uint32_t kReportBytes = 64;
constexpr uint32_t kMaxNotifyWindows = 16;
constexpr uint32_t kDefaultHidOutputLength = 64;
constexpr uint32_t kDefaultVendorReplyLength = 72;
// A take begins with the two silent packets the driver queues ahead of the host's first half.
constexpr uint32_t kDefaultLeadPackets = 2;

enum Model : uint32_t {
    kModelR6 = 0,       // render, line-in capture, S/PDIF capture
    kModelR5 = 1,       // render only
};

enum AliasFault : uint32_t {
    kAliasPresent = 0,
    kAliasMissing = 1,
    kAliasRemoved = 2,
};

// Property requests on an overlapped handle, as drivers that answer later do.
enum PendFault : uint32_t {
    kPendNever = 0,
    kPendThenAnswer = 1,   // pend, then complete with the answer
    kPendThenFail = 2,     // pend, then fail without acting on the request
};

// What a user can set; survives plug and unplug, cleared by reset.
struct Config {
    uint32_t model;
    uint32_t fullSpeed;            // 1: the "VMR5R6FS" service instead of "VMR5R6HS"
    uint32_t renderChannels;       // MaximumChannels of the render pin
    uint32_t maxBits;              // widest PCM the pins announce: 16, 24 or 32
    uint32_t burst;                // 1: complete packets as soon as they are queued (their
                                   // events then fire together, not one period apart)
    // Faults.
    uint32_t stallCompletions;     // 1: running pins never complete
    uint32_t refuseChannelMask;    // bit n: pin creation with n channels is refused
    uint32_t refuseFirstVendorSet; // 1: the first vendor property set is unknown
    uint32_t vendorReplyLength;    // bytes of the vendor status reply (72)
    uint32_t hidOutputLength;      // HID output report length (64)
    uint32_t hidExtraInterfaces;   // foreign HID interfaces listed before the device's
    uint32_t alias;                // AliasFault of the render alias
    uint32_t pendProperties;       // PendFault
    uint32_t sizeQueryInsufficient;// 1: size queries answered "insufficient buffer", not "more data"
    uint32_t failStreams;          // 1: stream requests fail at once, as with a full queue
    uint32_t leadPackets;          // silent packets a take must begin with (the driver's lead-in, 2)
};

// Render faults are counted in runs: a stretch of bad samples of one kind is one.
struct ChannelCounters {
    uint64_t frames;               // frames received (render) or delivered (capture)
    uint64_t breaks;               // runs of samples off the test pattern, of any kind
    uint32_t locked;               // 1 once the channel carried its pattern in this take
    uint32_t reserved;
    uint64_t gaps;                 // runs of silence after the channel began
    uint64_t channelFaults;        // runs of another channel's samples
    uint64_t offsetFaults;         // runs of the channel's pattern at other frames
};

// One pin instance; index = pin id.
struct Stream {
    uint32_t open;                 // 1 while an instance exists
    uint32_t ownerPid;
    uint32_t state;                // KSSTATE
    uint32_t capture;              // 1 for a capture pin
    uint32_t rate;                 // frames per second on the pin
    uint32_t bits;                 // container bits per sample
    uint32_t validBits;
    uint32_t channels;
    uint32_t dsd;                  // 0, 64, 128 or 256 while the device reads DSD
    uint32_t starved;              // 1 while running with nothing queued
    uint32_t channelMask;          // speaker positions of an extensible format (0: plain PCM)
    uint32_t partialPackets;       // writes refused for a DataUsed of a partial frame
    uint64_t queued;               // packets accepted
    uint64_t completed;            // packets completed with data
    uint64_t cancelled;            // packets ended by stop, reset, close or removal
    uint64_t underruns;            // times the device ran dry while running
    uint64_t dryMicroseconds;      // how long it stayed dry, summed over those times
    uint64_t bytes;                // data bytes moved
    uint64_t takes;                // takes that carried sound (RUN after STOP)
    uint64_t startFaults;          // takes whose first sound was not frame 0
    uint64_t leadFaults;           // takes whose sound began after other than the lead-in
    uint64_t markerFaults;         // runs of DSD-over-PCM frames with wrong markers
    uint64_t changedPackets;       // packets whose data changed after they were submitted
    uint64_t leadFrames;           // silent frames before the sound of the last take
    uint32_t firstFrame;           // pattern frame the last take's sound began with
    uint32_t dop;                  // 1 while the take carries DSD over PCM
    ChannelCounters channel[kMaxChannels];
};

struct Report {
    uint64_t time;                 // FILETIME of the write, 100 ns units
    uint32_t length;               // bytes written
    uint32_t pid;
    uint8_t data[kReportBytes];    // first 64 bytes
};

struct NotifyWindow {
    uint32_t hwnd;                 // 0: free slot
    uint32_t pid;
    uint32_t allClasses;           // 1: every interface class
    uint32_t reserved;
    GUID classGuid;
};

struct SharedState {
    uint32_t magic;
    uint32_t version;
    uint32_t size;
    uint32_t present;              // 1 while plugged in
    uint32_t generation;           // grows at every removal: older handles are dead
    uint32_t dsdMode;              // 0, 64, 128 or 256 after the DSD mode reports
    uint32_t markerState;          // last value of the DSD-marker report
    uint32_t markerReports;        // DSD-marker reports received
    int32_t volumeSteps;           // volume key presses, + and -
    uint32_t lastVolumeKey;        // 0 released, 1 up, 2 down
    uint32_t reportsActedOn;       // mode reports take effect a little after their write
    uint32_t reserved2;
    Config config;
    uint32_t reportCount;          // reports received since reset; log keeps the last 128
    uint32_t reserved;
    Report reports[kReportLogSize];
    Stream streams[kMaxPins];
    NotifyWindow notify[kMaxNotifyWindows];
    EndpointsState endpoints;      // the Windows audio endpoints
};

Config DefaultConfig();

// The shared state of this process's device instance, attached on first use
// (instance from VELMOR_SIM_INSTANCE, else "default"; kept between
// programs). Null when no mapping could be made.
SharedState* State();

// Attaches this process to another device instance. A kept one lives in a
// state file, so that what one program did is there for the next; tests give
// each process a device of its own that goes with its last user. Returns
// false when the mapping cannot be made.
bool Attach(const char* instance, bool kept = false);
const char* InstanceName();

// Cross-process lock for multi-field updates (report log, pin instances, notify table).
class StateLock {
public:
    StateLock();
    ~StateLock();
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;
};

uint64_t NowFileTime();
bool ProcessAlive(uint32_t pid);

}  // namespace sim
