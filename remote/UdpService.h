// The UDP service of the remote control: a bound socket, a receive thread
// and a ring of receive slots handed synchronously to the owner window.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

struct UdpReceiveShared;

struct UdpService {
    HWND ownerWindow = nullptr;
    void* adapterBuffer = nullptr;  // IP_ADAPTER_INFO list, GlobalAlloc'd
    SOCKET socket = INVALID_SOCKET;
    HANDLE thread = INVALID_HANDLE_VALUE;
    HANDLE stopEvent = INVALID_HANDLE_VALUE;
    uint8_t* ring = nullptr;  // kUdpSlotCount slots of slotSize bytes
    int32_t slotSize = 0;

    // The running flag, the ring and the next slot index as the receive
    // thread uses them. The thread holds its own reference, so the ring
    // outlives a thread that did not end within the stop wait.
    UdpReceiveShared* shared = nullptr;
    bool socketLibraryStarted = false;

    explicit UdpService(HWND owner = nullptr) : ownerWindow(owner) {}
    ~UdpService();
    UdpService(const UdpService&) = delete;
    UdpService& operator=(const UdpService&) = delete;
};

// S_OK or E_FAIL; after a failure the caller calls StopUdpService.
HRESULT StartUdpService(UdpService* service, int32_t slotSize, uint16_t port);
// Safe on a record never started or only half started. Handles sent
// messages while it waits, so a hand-over already begun completes first.
void StopUdpService(UdpService* service);

// The slot index the next datagram goes into (0..7); for tests and traces.
int32_t UdpServiceNextSlot(const UdpService* service);
// True when slot is the start of one of the service's receive slots: the
// datagram message carries a raw pointer, which any window may forge.
bool IsUdpServiceSlot(const UdpService* service, const void* slot);

// The port the socket is bound to (host order), 0 when not running.
uint16_t UdpServiceBoundPort(const UdpService* service);
