#include "SimModel.h"

#include "SimGuids.h"
#include "device/SharedTypes.h"
#include "device/SupportedDevices.h"

#include <cctype>
#include <cstdio>

namespace sim {

namespace {

constexpr ULONG kDataFlowIn = 1;
constexpr ULONG kDataFlowOut = 2;
constexpr ULONG kSink = 1;
constexpr ULONG kNone = 0;

std::string GuidText(const GUID& g) {
    char text[40];
    snprintf(text, sizeof(text), "{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
             static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
             g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

PinDesc Streaming(ULONG flow, const wchar_t* name, ULONG channels, const Config& config) {
    ULONG maxBits = config.maxBits == 16 || config.maxBits == 24 ? config.maxBits : 32;
    return {flow, kSink, kCategoryAudio, name, channels, kRateTable[0], kRateTable[kRateCount - 1], 16, maxBits};
}

PinDesc Bridge(ULONG flow, const GUID& category, const wchar_t* name) {
    return {flow, kNone, category, name, 0, 0, 0, 0, 0};
}

}  // namespace

// R6: the capture pin records line in or S/PDIF, as its input selector says.
ULONG PinCount(const Config& config) { return config.model == kModelR5 ? 2 : 5; }

PinDesc Pin(const Config& config, ULONG id) {
    ULONG renderChannels = config.renderChannels == 0 ? 2 : config.renderChannels;
    if (renderChannels > kMaxChannels) renderChannels = kMaxChannels;
    switch (id) {
    case 0: return Streaming(kDataFlowIn, L"Playback", renderChannels, config);
    case 1: return Bridge(kDataFlowOut, kNodeSpeaker, L"Analog Out");
    case 2: return Streaming(kDataFlowOut, L"Record", 2, config);
    case 3: return Bridge(kDataFlowIn, kNodeLineConnector, L"Line In");
    default: return Bridge(kDataFlowIn, kNodeSpdif, L"S/PDIF In");
    }
}

std::vector<GUID> TopologyNodes(const Config& config) {
    std::vector<GUID> nodes = {kNodeDac, kNodeVolume, kNodeMute};
    if (config.model != kModelR5) {
        nodes.insert(nodes.end(), {kNodeAdc, kNodeAdc, kNodeMux, kNodeVolume});
    }
    return nodes;
}

uint16_t ProductId(const Config& config) {
    return config.model == kModelR5 ? kVelmorProductR5 : kVelmorProductR6;
}

const char* ServiceName(const Config& config) { return config.fullSpeed ? kServiceFullSpeed : kServiceHighSpeed; }

const char* DeviceDescription(const Config& config) {
    return config.model == kModelR5 ? "Velmor R5 USB Audio" : "Velmor R6 USB Audio";
}

std::string AudioInstanceId(const Config& config) {
    char text[96];
    snprintf(text, sizeof(text), "USB\\VID_%04X&PID_%04X&MI_%02X\\7&2A1F3C7&0&0001", kVelmorVendorId,
             ProductId(config), kVelmorAudioInterface);
    return text;
}

std::string AudioInterfacePath(const Config& config, const GUID& interfaceClass) {
    std::string id = Lower(AudioInstanceId(config));
    for (char& c : id) {
        if (c == '\\') c = '#';
    }
    return "\\\\?\\" + id + "#" + GuidText(interfaceClass) + "\\global";
}

std::string HidInstanceId(uint16_t vendorId, uint16_t productId, uint32_t index) {
    char text[96];
    snprintf(text, sizeof(text), "HID\\VID_%04X&PID_%04X&MI_03\\8&%X&0&%04X", vendorId, productId,
             0x1C0DE00u + index, index);
    return text;
}

std::string UsbDevicePath(uint16_t vendorId, uint16_t productId) {
    char text[96];
    snprintf(text, sizeof(text), "\\\\?\\usb#vid_%04x&pid_%04x#vr56000001#", vendorId, productId);
    return text + GuidText(kUsbDeviceClass);
}

std::string HidInterfacePath(uint16_t vendorId, uint16_t productId, uint32_t index) {
    std::string id = Lower(HidInstanceId(vendorId, productId, index));
    for (char& c : id) {
        if (c == '\\') c = '#';
    }
    return "\\\\?\\" + id + "#" + GuidText(kHidClass);
}

bool IsDeviceRate(ULONG rate) {
    for (uint32_t r : kRateTable) {
        if (r == rate) return true;
    }
    return false;
}

}  // namespace sim
