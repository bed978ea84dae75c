// What each model of the device looks like: its USB identity, device paths,
// kernel-streaming pins and topology.
#pragma once

#include "SimState.h"

#include <windows.h>

#include <string>
#include <vector>

namespace sim {

struct PinDesc {
    ULONG dataFlow;        // KSPIN_DATAFLOW_IN 1 (render) / OUT 2 (capture)
    ULONG communication;   // KSPIN_COMMUNICATION_SINK 1 for streaming pins, NONE 0 for bridges
    GUID category;
    const wchar_t* name;
    ULONG channels;        // MaximumChannels of a streaming pin; 0 for a bridge
    ULONG minRate;
    ULONG maxRate;
    ULONG minBits;
    ULONG maxBits;
    bool Streaming() const { return communication == 1; }
    bool Capture() const { return dataFlow == 2; }
};

ULONG PinCount(const Config& config);
PinDesc Pin(const Config& config, ULONG id);
std::vector<GUID> TopologyNodes(const Config& config);

uint16_t ProductId(const Config& config);
const char* ServiceName(const Config& config);
const char* DeviceDescription(const Config& config);

// "USB\VID_3A45&PID_0452&MI_01\7&2A1F3C7&0&0001"
std::string AudioInstanceId(const Config& config);
// "\\?\usb#vid_3a45&pid_0452&mi_01#7&2a1f3c7&0&0001#{class}\global"
std::string AudioInterfacePath(const Config& config, const GUID& interfaceClass);
// The device's HID interface and the foreign ones listed before it.
std::string HidInstanceId(uint16_t vendorId, uint16_t productId, uint32_t index);
std::string HidInterfacePath(uint16_t vendorId, uint16_t productId, uint32_t index);
// The USB device's own interface, as its arrival and removal notices name it.
std::string UsbDevicePath(uint16_t vendorId, uint16_t productId);

// Whether a rate is one the device clocks (the nine PCM rates).
bool IsDeviceRate(ULONG rate);

}  // namespace sim
