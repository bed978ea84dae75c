// One-shot UDP senders: answers to a controller and the controller
// notification broadcast. Each uses a fresh socket, so nothing leaves from
// the service port.
#pragma once

#include <windows.h>

#include <cstdint>

// address: host order; port: network byte order, as received. S_OK or E_FAIL.
HRESULT SendUdpDatagram(const void* data, int length, uint32_t address, uint16_t portNetworkOrder);

// The directed broadcast address of an adapter's subnet, host order.
constexpr uint32_t DirectedBroadcastAddress(uint32_t mask, uint32_t address) {
    return (address & mask) | ~mask;
}

// mask, address: host order; port: host order. S_OK or E_FAIL.
HRESULT BroadcastUdpDatagram(uint32_t mask, uint32_t address, uint16_t port, const void* data, int length);

// The controller notification from an adapter (mask, address in host order).
HRESULT NotifyController(uint32_t mask, uint32_t address, uint16_t port);
