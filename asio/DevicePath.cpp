#include "DevicePath.h"

#include "device/SupportedDevices.h"

#include <cctype>
#include <cstring>

namespace {

// Reads four hexadecimal digits; false when fewer follow.
bool Hex4(const char* text, uint16_t* value) {
    uint16_t v = 0;
    for (int i = 0; i < 4; ++i) {
        char c = text[i];
        int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0) return false;
        v = static_cast<uint16_t>(v * 16 + digit);
    }
    *value = v;
    return true;
}

}  // namespace

// "VID_xxxx", "PID_xxxx" and "MI_" in the upper-cased path, and a listed pair.
bool MatchSupportedPath(const char* path, uint16_t* vendorId, uint16_t* productId) {
    if (!path) return false;
    char upper[260];
    size_t n = 0;
    for (; path[n] && n + 1 < sizeof(upper); ++n) {
        upper[n] = static_cast<char>(std::toupper(static_cast<unsigned char>(path[n])));
    }
    upper[n] = '\0';
    const char* vid = std::strstr(upper, "VID_");
    const char* pid = std::strstr(upper, "PID_");
    if (!vid || !pid || !std::strstr(upper, "MI_")) return false;
    uint16_t v = 0, p = 0;
    if (!Hex4(vid + 4, &v) || !Hex4(pid + 4, &p)) return false;
    for (const SupportedDevice* d = kSupportedDevices; d->vendorId; ++d) {
        if (d->vendorId == v && d->productId == p) {
            *vendorId = v;
            *productId = p;
            return true;
        }
    }
    return false;
}
