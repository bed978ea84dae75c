#include "UdpSend.h"

#include "DebugListener.h"
#include "RemoteIds.h"

#include <winsock2.h>

#include <algorithm>
#include <cstring>

namespace {

// Socket library and socket for one send, released on every path.
class OneShotSocket {
public:
    OneShotSocket() {
        WSADATA data;
        m_started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        if (m_started) m_socket = socket(AF_INET, SOCK_DGRAM, 0);
    }
    ~OneShotSocket() {
        if (m_socket != INVALID_SOCKET) closesocket(m_socket);
        if (m_started) WSACleanup();
    }
    OneShotSocket(const OneShotSocket&) = delete;
    OneShotSocket& operator=(const OneShotSocket&) = delete;

    SOCKET Get() const { return m_socket; }

private:
    bool m_started = false;
    SOCKET m_socket = INVALID_SOCKET;
};

// One debug-output write per datagram, and only while something listens:
// each costs a round trip to the system.
void TraceSent(const void* data, int length) {
    if (!DebugOutputListened()) return;
    static const char kHeader[] = "---------pszUdpData------------\n";
    char text[sizeof(kHeader) + kRemoteAnswerRoom + 1];
    size_t header = sizeof(kHeader) - 1;
    size_t n = std::min<size_t>(static_cast<size_t>(length), kRemoteAnswerRoom - 1);
    std::memcpy(text, kHeader, header);
    std::memcpy(text + header, data, n);
    text[header + n] = '\n';
    text[header + n + 1] = '\0';
    OutputDebugStringA(text);
}

HRESULT SendFrom(SOCKET sock, const void* data, int length, uint32_t address, uint16_t portNetworkOrder) {
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = portNetworkOrder;
    to.sin_addr.s_addr = htonl(address);
    int sent = sendto(sock, static_cast<const char*>(data), length, 0, reinterpret_cast<const sockaddr*>(&to),
                      sizeof(to));
    TraceSent(data, length);
    return sent == length ? S_OK : E_FAIL;
}

}  // namespace

HRESULT SendUdpDatagram(const void* data, int length, uint32_t address, uint16_t portNetworkOrder) {
    if ((!data && length) || length < 0) return E_FAIL;
    OneShotSocket sock;
    if (sock.Get() == INVALID_SOCKET) return E_FAIL;
    return SendFrom(sock.Get(), data, length, address, portNetworkOrder);
}

HRESULT UdpReplySocket::Send(const void* data, int length, uint32_t address, uint16_t portNetworkOrder) {
    if ((!data && length) || length < 0) return E_FAIL;
    if (!m_started) {
        WSADATA wsa;
        m_started = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
        if (!m_started) return E_FAIL;
    }
    if (m_socket == INVALID_SOCKET) m_socket = socket(AF_INET, SOCK_DGRAM, 0);
    if (m_socket == INVALID_SOCKET) return E_FAIL;
    HRESULT hr = SendFrom(m_socket, data, length, address, portNetworkOrder);
    if (FAILED(hr)) {
        closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }
    return hr;
}

void UdpReplySocket::Close() {
    if (m_socket != INVALID_SOCKET) closesocket(m_socket);
    m_socket = INVALID_SOCKET;
    if (m_started) WSACleanup();
    m_started = false;
}

HRESULT BroadcastUdpDatagram(uint32_t mask, uint32_t address, uint16_t port, const void* data, int length) {
    if ((!data && length) || length < 0) return E_FAIL;
    OneShotSocket sock;
    if (sock.Get() == INVALID_SOCKET) return E_FAIL;
    BOOL on = TRUE;
    if (setsockopt(sock.Get(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof(on)) != 0) {
        return E_FAIL;
    }
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(DirectedBroadcastAddress(mask, address));
    int sent = sendto(sock.Get(), static_cast<const char*>(data), length, 0, reinterpret_cast<const sockaddr*>(&to),
                      sizeof(to));
    return sent == length ? S_OK : E_FAIL;
}

HRESULT NotifyController(uint32_t mask, uint32_t address, uint16_t port) {
    return BroadcastUdpDatagram(mask, address, port, kControllerNotifyWord, kControllerNotifyLength);
}
