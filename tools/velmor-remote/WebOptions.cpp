#include "WebOptions.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstdio>
#include <cstdlib>

namespace {

bool ParseDecimal(const std::string& text, long minimum, long maximum, long* value) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    long parsed = std::strtol(text.c_str(), nullptr, 10);
    if (parsed < minimum || parsed > maximum) return false;
    *value = parsed;
    return true;
}

bool ParseDotted(const std::string& text, uint32_t* address) {
    uint32_t result = 0;
    size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        size_t end = text.find('.', start);
        if ((part < 3) != (end != std::string::npos)) return false;
        std::string piece = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        long value = 0;
        if (piece.size() > 3 || !ParseDecimal(piece, 0, 255, &value)) return false;
        result = (result << 8) | static_cast<uint32_t>(value);
        start = end + 1;
    }
    *address = result;
    return true;
}

}  // namespace

bool IsLoopback(uint32_t address) { return (address >> 24) == 127; }

bool ParseAddressPort(const std::string& text, uint32_t* address, uint16_t* port, std::string* host) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string name = text.substr(0, colon);
    long number = 0;
    if (!ParseDecimal(text.substr(colon + 1), 0, 65535, &number)) return false;
    uint32_t parsed = 0;
    if (name == "localhost") {
        parsed = kWebDefaultAddress;
    } else if (!ParseDotted(name, &parsed)) {
        return false;
    }
    *address = parsed;
    *port = static_cast<uint16_t>(number);
    if (host) *host = name;
    return true;
}

bool ParseServeOptions(const std::vector<std::string>& args, ServeOptions* options, std::string* error) {
    for (size_t i = 0; i < args.size(); i += 2) {
        const std::string& option = args[i];
        if (option != "--http" && option != "--panel" && option != "--max-volume" && option != "--token") {
            *error = "unknown option '" + option + "' for serve";
            return false;
        }
        if (i + 1 >= args.size()) {
            *error = option + " needs a value";
            return false;
        }
        const std::string& value = args[i + 1];
        if (option == "--http") {
            if (!ParseAddressPort(value, &options->httpAddress, &options->httpPort, &options->httpHost)) {
                *error = "--http needs ADDRESS:PORT (an IPv4 address), not '" + value + "'";
                return false;
            }
        } else if (option == "--panel") {
            if (!ParseAddressPort(value, &options->panelAddress, &options->panelPort, nullptr) ||
                options->panelPort == 0) {
                *error = "--panel needs HOST:PORT (an IPv4 address, port 1-65535), not '" + value + "'";
                return false;
            }
        } else if (option == "--max-volume") {
            long cap = 0;
            if (!ParseDecimal(value, 0, kWebVolumeMax, &cap)) {
                *error = "--max-volume needs 0-100, not '" + value + "'";
                return false;
            }
            options->maxVolume = static_cast<int>(cap);
        } else {
            // Printable and URL-safe: it travels in the page's address.
            bool usable = value.size() >= 8 && value.size() <= 128;
            for (char c : value) {
                usable = usable && ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                    c == '-' || c == '_' || c == '.' || c == '~');
            }
            if (!usable) {
                *error = "--token needs 8 to 128 letters, digits or -_.~";
                return false;
            }
            options->token = value;
        }
    }
    if (options->token.empty() && !IsLoopback(options->httpAddress)) {
        options->token = MakeToken();
        options->tokenMade = true;
        if (options->token.empty()) {
            *error = "no random token could be made; give --token";
            return false;
        }
    }
    return true;
}

std::string MakeToken() {
    unsigned char bytes[16];
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, sizeof(bytes), BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        return "";
    }
    std::string token;
    for (unsigned char b : bytes) {
        char hex[3];
        std::snprintf(hex, sizeof(hex), "%02x", b);
        token += hex;
    }
    return token;
}
