#include "RemoteClient.h"

#include "RemoteIds.h"

#include <ws2tcpip.h>

#include <cstdio>

RemoteClient::RemoteClient() {
    WSADATA data;
    m_started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    if (!m_started) return;
    m_socket = socket(AF_INET, SOCK_DGRAM, 0);
    if (m_socket == INVALID_SOCKET) return;
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(m_socket, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == SOCKET_ERROR) {
        closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }
}

RemoteClient::~RemoteClient() {
    if (m_socket != INVALID_SOCKET) closesocket(m_socket);
    if (m_started) WSACleanup();
}

bool RemoteClient::Send(uint32_t address, uint16_t port, const void* data, int length) {
    if (!Ready()) return false;
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(address);
    return sendto(m_socket, static_cast<const char*>(data), length, 0, reinterpret_cast<const sockaddr*>(&to),
                  sizeof(to)) == length;
}

bool RemoteClient::Receive(uint32_t fromAddress, DWORD timeoutMs, std::string* datagram, sockaddr_in* from) {
    if (!Ready()) return false;
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed > timeoutMs) return false;
        DWORD left = timeoutMs - elapsed;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(m_socket, &readable);
        timeval wait = {static_cast<long>(left / 1000), static_cast<long>((left % 1000) * 1000)};
        int ready = select(0, &readable, nullptr, nullptr, &wait);
        if (ready <= 0) return false;
        char buffer[kRemoteAnswerRoom + 64];
        sockaddr_in sender = {};
        int senderLength = sizeof(sender);
        int received = recvfrom(m_socket, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&sender),
                                &senderLength);
        if (received < 0) continue;
        if (ntohl(sender.sin_addr.s_addr) != fromAddress) continue;  // not the panel asked
        datagram->assign(buffer, static_cast<size_t>(received));
        if (from) *from = sender;
        return true;
    }
}

bool RemoteClient::Exchange(uint32_t address, uint16_t port, const std::string& request, DWORD timeoutMs,
                            std::string* answer, sockaddr_in* from) {
    return Send(address, port, request.data(), static_cast<int>(request.size())) &&
           Receive(address, timeoutMs, answer, from);
}

uint16_t RemoteClient::LocalPort() const {
    sockaddr_in local = {};
    int length = sizeof(local);
    if (!Ready() || getsockname(m_socket, reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
    return ntohs(local.sin_port);
}

bool ResolveIPv4(const char* host, uint32_t* address) {
    unsigned long dotted = inet_addr(host);
    if (dotted != INADDR_NONE || std::string(host) == "255.255.255.255") {
        *address = ntohl(dotted);
        return true;
    }
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    bool ok = getaddrinfo(host, nullptr, &hints, &found) == 0 && found;
    if (ok) *address = ntohl(reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    if (found) freeaddrinfo(found);
    WSACleanup();
    return ok;
}

std::string FormatIPv4(uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof(text), "%u.%u.%u.%u", (address >> 24) & 255, (address >> 16) & 255,
                  (address >> 8) & 255, address & 255);
    return text;
}
