// What the virtual device (VELMOR_DEVICE=simulated) itself saw: whether it is
// plugged in, which process holds its pins, and how it heard each take.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace selftest {

// True when this process's driver talks to the virtual device.
bool VirtualDeviceSelected();
// Plugged in; false also when its state cannot be reached.
bool VirtualDevicePresent();
// The other process streaming on one of its pins (0: none), and its image name.
uint32_t VirtualDeviceHolder(std::string* image);
// The render pins this process has open now.
std::vector<uint32_t> OpenRenderPins();
// The faults the device heard in the last take of these pins, in velmor-sim's
// words ("gap 3, break 3", "channel 1 not locked"); empty when it heard the
// stream as played.
std::string HeardFaults(const std::vector<uint32_t>& pins);

}  // namespace selftest
