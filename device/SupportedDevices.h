// The devices both deliverables look for: one USB vendor id, four
// consecutive product ids, audio on interface 1. A device path matches when
// it carries "VID_xxxx&PID_xxxx&MI_xx" of an entry.
#pragma once

#include <cstdint>

struct SupportedDevice {
    uint16_t vendorId;
    uint16_t productId;
    uint8_t interfaceNumber;
};

constexpr uint16_t kVelmorVendorId = 0x3A45;
constexpr uint16_t kVelmorProductR5 = 0x0451;
constexpr uint16_t kVelmorProductR6 = 0x0452;
constexpr uint8_t kVelmorAudioInterface = 1;

// Ends at a zero vendor id.
constexpr SupportedDevice kSupportedDevices[] = {
    {kVelmorVendorId, 0x0451, kVelmorAudioInterface},
    {kVelmorVendorId, 0x0452, kVelmorAudioInterface},
    {kVelmorVendorId, 0x0453, kVelmorAudioInterface},
    {kVelmorVendorId, 0x0454, kVelmorAudioInterface},
    {0, 0, 0},
};

// Service names of the device's kernel driver, high-speed USB first.
constexpr char kServiceHighSpeed[] = "VMR5R6HS";
constexpr char kServiceFullSpeed[] = "VMR5R6FS";
