// The options of "velmor-remote serve": where the web remote listens, the
// panel it bridges to, the volume cap and the token.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t kWebDefaultAddress = 0x7F000001;  // 127.0.0.1
constexpr uint16_t kWebDefaultPort = 8080;
constexpr int kWebVolumeMax = 100;

struct ServeOptions {
    uint32_t httpAddress = kWebDefaultAddress;  // host order
    uint16_t httpPort = kWebDefaultPort;        // 0: any free port
    std::string httpHost = "127.0.0.1";         // as given, for the URL
    uint32_t panelAddress = kWebDefaultAddress;
    uint16_t panelPort = 5566;
    int maxVolume = kWebVolumeMax;
    std::string token;       // empty: none asked for
    bool tokenMade = false;  // the token was made up here, not given
    int timeoutMs = 2000;    // for each exchange with the panel
};

// 127.0.0.0/8.
bool IsLoopback(uint32_t address);

// "ADDR:PORT" (ADDR a dotted IPv4 address or "localhost"); false when not.
bool ParseAddressPort(const std::string& text, uint32_t* address, uint16_t* port, std::string* host);

// The arguments after "serve". panelAddress, panelPort and timeoutMs come
// in as the global options left them. An address other than loopback needs
// a token: without --token one is made (tokenMade). false with a message on
// a bad option.
bool ParseServeOptions(const std::vector<std::string>& args, ServeOptions* options, std::string* error);

// 32 hexadecimal digits from the system's random source; empty on failure.
std::string MakeToken();
