// UDP senders: answers to a controller and the controller notification
// broadcast. None sends from the service port.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

// address: host order; port: network byte order, as received. S_OK or E_FAIL.
// A fresh socket for this one datagram.
HRESULT SendUdpDatagram(const void* data, int length, uint32_t address, uint16_t portNetworkOrder);

// The same with one socket kept for many answers (a socket and the socket
// library cost more than the send itself). Opened at the first send; a
// failed send closes it, so the next one starts afresh.
class UdpReplySocket {
public:
    UdpReplySocket() = default;
    ~UdpReplySocket() { Close(); }
    UdpReplySocket(const UdpReplySocket&) = delete;
    UdpReplySocket& operator=(const UdpReplySocket&) = delete;

    HRESULT Send(const void* data, int length, uint32_t address, uint16_t portNetworkOrder);
    void Close();
    bool IsOpen() const { return m_socket != INVALID_SOCKET; }

private:
    bool m_started = false;
    SOCKET m_socket = INVALID_SOCKET;
};

// The directed broadcast address of an adapter's subnet, host order.
constexpr uint32_t DirectedBroadcastAddress(uint32_t mask, uint32_t address) {
    return (address & mask) | ~mask;
}

// mask, address: host order; port: host order. S_OK or E_FAIL.
HRESULT BroadcastUdpDatagram(uint32_t mask, uint32_t address, uint16_t port, const void* data, int length);

// The controller notification from an adapter (mask, address in host order).
HRESULT NotifyController(uint32_t mask, uint32_t address, uint16_t port);
