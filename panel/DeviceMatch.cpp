#include "DeviceMatch.h"

#include "device/SupportedDevices.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr size_t kMaxPathChars = 260;

std::string UpperCopy(const char* text, size_t limit) {
    std::string upper;
    for (size_t i = 0; text[i] && i < limit; ++i) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
    }
    return upper;
}

// The digits hexadecimal characters after marker; false when the marker is
// missing or fewer hexadecimal characters follow it.
bool ReadHexAfter(const std::string& text, const char* marker, size_t digits, unsigned* value) {
    size_t at = text.find(marker);
    if (at == std::string::npos) return false;
    at += std::strlen(marker);
    if (text.size() < at + digits) return false;
    unsigned result = 0;
    for (size_t i = 0; i < digits; ++i) {
        char c = text[at + i];
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        result = result * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : c - 'A' + 10);
    }
    *value = result;
    return true;
}

}  // namespace

HRESULT MatchVidPid(const char* path, USHORT vendorId, USHORT productId) {
    if (!path) return E_FAIL;
    std::string upper = UpperCopy(path, kMaxPathChars);
    unsigned vid = 0, pid = 0, mi = 0;
    if (!ReadHexAfter(upper, "VID_", 4, &vid) || !ReadHexAfter(upper, "PID_", 4, &pid) ||
        !ReadHexAfter(upper, "MI_", 2, &mi)) {
        return E_FAIL;
    }
    return vid == vendorId && pid == productId ? S_OK : S_FALSE;
}

bool IsSupportedDevicePath(const char* name) {
    if (!name) return false;
    std::string upper = UpperCopy(name, std::string::npos);
    for (const SupportedDevice& device : kSupportedDevices) {
        if (device.vendorId == 0) break;
        char pattern[32];
        std::snprintf(pattern, sizeof(pattern), "USB#VID_%04X&PID_%04X", device.vendorId, device.productId);
        if (upper.find(pattern) != std::string::npos) return true;
    }
    return false;
}
