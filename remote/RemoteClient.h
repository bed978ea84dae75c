// The controller side: one request datagram out, one answer back. Used by
// the velmor-remote tool, the tests and the benchmark.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>

class RemoteClient {
public:
    RemoteClient();
    ~RemoteClient();
    RemoteClient(const RemoteClient&) = delete;
    RemoteClient& operator=(const RemoteClient&) = delete;

    // False when the socket library or the socket is unavailable.
    bool Ready() const { return m_socket != INVALID_SOCKET; }

    // Sends data (length may be 0) to address:port (host order).
    bool Send(uint32_t address, uint16_t port, const void* data, int length);
    // Waits up to timeoutMs for one datagram from fromAddress (any port);
    // false on timeout. from (optional) receives the sender (host order).
    bool Receive(uint32_t fromAddress, DWORD timeoutMs, std::string* datagram, sockaddr_in* from = nullptr);
    // Send then Receive from the same address.
    bool Exchange(uint32_t address, uint16_t port, const std::string& request, DWORD timeoutMs,
                  std::string* answer, sockaddr_in* from = nullptr);

    // The local port this client sends from (host order).
    uint16_t LocalPort() const;

private:
    bool m_started = false;
    SOCKET m_socket = INVALID_SOCKET;
};

// Host-order IPv4 address of a dotted address or host name; false when unknown.
bool ResolveIPv4(const char* host, uint32_t* address);
std::string FormatIPv4(uint32_t address);
