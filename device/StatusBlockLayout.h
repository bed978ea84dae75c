// Byte layout of the status block shared by the driver and the control panel.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

constexpr char kStatusBlockName[] = "VelmorR5R6_20130107";
constexpr uint32_t kStatusBlockMagic = 0x20130107;
constexpr uint32_t kStatusBlockSize = 340;
constexpr size_t kStatusBlockNameChars = 256;  // device name, NUL included

// Plain 32-bit fields and no pointers, so 32- and 64-bit processes see the
// same bytes. Every 32-bit field is naturally aligned and written with one store.
struct StatusBlockLayout {
    uint32_t magic;
    uint32_t driverState;          // AsioDriverState
    uint32_t settingsLoaded;       // 1 once the registry values entered the block
    GUID ownerIdentity;            // CLSID of the owning driver instance; zero when free
    uint32_t changed;              // level: set by every writer, cleared by the panel
    uint32_t showPanelRequest;
    uint32_t bufferSize;           // preferred buffer length, 0.1 ms units
    uint32_t bitsPerSample;        // preferred PCM width
    uint32_t period;
    uint32_t streamRate;           // Hz; 32-bit frame rate for DSD
    uint32_t streamWidth;
    uint32_t supportSampleRate;    // rate mask
    uint32_t supporBitsPerSample;  // width mask
    char deviceName[kStatusBlockNameChars];
    uint32_t dsdActive;
    uint32_t dsd128;
    uint32_t dsd256;
    uint32_t nativeDsd;
    uint32_t resetRequest;
};

static_assert(offsetof(StatusBlockLayout, magic) == 0x000, "magic");
static_assert(offsetof(StatusBlockLayout, driverState) == 0x004, "driver state");
static_assert(offsetof(StatusBlockLayout, settingsLoaded) == 0x008, "settings loaded");
static_assert(offsetof(StatusBlockLayout, ownerIdentity) == 0x00C, "owner identity");
static_assert(sizeof(GUID) == 16, "owner identity size");
static_assert(offsetof(StatusBlockLayout, changed) == 0x01C, "changed");
static_assert(offsetof(StatusBlockLayout, showPanelRequest) == 0x020, "show-panel request");
static_assert(offsetof(StatusBlockLayout, bufferSize) == 0x024, "BufferSize");
static_assert(offsetof(StatusBlockLayout, bitsPerSample) == 0x028, "BitsPerSample");
static_assert(offsetof(StatusBlockLayout, period) == 0x02C, "period");
static_assert(offsetof(StatusBlockLayout, streamRate) == 0x030, "stream rate");
static_assert(offsetof(StatusBlockLayout, streamWidth) == 0x034, "stream width");
static_assert(offsetof(StatusBlockLayout, supportSampleRate) == 0x038, "SupportSampleRate");
static_assert(offsetof(StatusBlockLayout, supporBitsPerSample) == 0x03C, "SupporBitsPerSample");
static_assert(offsetof(StatusBlockLayout, deviceName) == 0x040, "device name");
static_assert(offsetof(StatusBlockLayout, dsdActive) == 0x140, "DSD active");
static_assert(offsetof(StatusBlockLayout, dsd128) == 0x144, "DSD128");
static_assert(offsetof(StatusBlockLayout, dsd256) == 0x148, "DSD256");
static_assert(offsetof(StatusBlockLayout, nativeDsd) == 0x14C, "native DSD");
static_assert(offsetof(StatusBlockLayout, resetRequest) == 0x150, "reset request");
static_assert(sizeof(StatusBlockLayout) == kStatusBlockSize, "block size");
static_assert(alignof(StatusBlockLayout) == 4, "block alignment");
