#include "UdpService.h"

#include "AdapterList.h"
#include "RemoteIds.h"

#include <atomic>
#include <cstring>
#include <new>

struct UdpReceiveShared {
    std::atomic<long> references{1};
    std::atomic<int32_t> running{0};
    std::atomic<SOCKET> socket{INVALID_SOCKET};
    HWND ownerWindow = nullptr;
    HANDLE stopEvent = nullptr;  // closed with the record: a late thread still sets it
    uint8_t* ring = nullptr;
    int32_t slotSize = 0;
    std::atomic<int32_t> nextSlot{0};
    std::atomic<uint16_t> boundPort{0};
};

namespace {

constexpr DWORD kStopWaitMs = 5000;

void Release(UdpReceiveShared* shared) {
    if (shared && --shared->references == 0) {
        if (shared->stopEvent) CloseHandle(shared->stopEvent);
        if (shared->ring) GlobalFree(shared->ring);
        delete shared;
    }
}

DWORD WINAPI ReceiveLoop(void* parameter) {
    auto* shared = static_cast<UdpReceiveShared*>(parameter);
    while (shared->running.load() == 1) {
        int32_t index = shared->nextSlot.load();
        uint8_t* slot = shared->ring + static_cast<size_t>(index) * shared->slotSize;
        std::memset(slot, 0, shared->slotSize);
        int fromLength = sizeof(sockaddr_in);
        int received = recvfrom(shared->socket.load(), reinterpret_cast<char*>(slot + kUdpSlotPayloadOffset),
                                shared->slotSize - kUdpSlotPayloadOffset, 0, reinterpret_cast<sockaddr*>(slot),
                                &fromLength);
        if (received == SOCKET_ERROR) {
            // A closed socket fails at once; don't spin hard until the flag follows.
            if (shared->socket.load() == INVALID_SOCKET) Sleep(1);
            continue;
        }
        SendMessageA(shared->ownerWindow, WM_PANEL_REMOTE_DATAGRAM, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(slot));
        shared->nextSlot.store(index + 1 == kUdpSlotCount ? 0 : index + 1);
    }
    SetEvent(shared->stopEvent);
    Release(shared);
    return 0;
}

// Waits for the stop event while handling messages sent to this thread, so
// that a hand-over the receive thread has begun finishes on a live ring.
bool WaitHandlingSentMessages(HANDLE event, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
        // Also a message that was already waiting when this thread last
        // looked at its queue: without MWMO_INPUTAVAILABLE the wait sees only new ones.
        DWORD result = MsgWaitForMultipleObjectsEx(1, &event, timeoutMs - elapsed, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
        if (result == WAIT_OBJECT_0) return true;
        if (result != WAIT_OBJECT_0 + 1) return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace

UdpService::~UdpService() {
    StopUdpService(this);
    FreeAdapterBuffer(this);
}

HRESULT StartUdpService(UdpService* service, int32_t slotSize, uint16_t port) {
    if (!service || service->shared || slotSize <= kUdpSlotPayloadOffset) return E_FAIL;
    auto* shared = new (std::nothrow) UdpReceiveShared;
    if (!shared) return E_FAIL;
    shared->ring = static_cast<uint8_t*>(GlobalAlloc(GPTR, static_cast<SIZE_T>(kUdpSlotCount) * slotSize));
    if (!shared->ring) {
        delete shared;
        return E_FAIL;
    }
    shared->slotSize = slotSize;
    shared->ownerWindow = service->ownerWindow;
    service->shared = shared;
    service->ring = shared->ring;
    service->slotSize = slotSize;

    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return E_FAIL;
    service->socketLibraryStarted = true;

    service->socket = socket(AF_INET, SOCK_DGRAM, 0);
    if (service->socket == INVALID_SOCKET) return E_FAIL;
    shared->socket.store(service->socket);

    // Room for what arrives while the user interface is busy (a volume key
    // holds it for 800 ms): ten times the system's default.
    int receiveBuffer = 0;
    int optionLength = sizeof(receiveBuffer);
    getsockopt(service->socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&receiveBuffer), &optionLength);
    receiveBuffer *= 10;
    setsockopt(service->socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer),
               sizeof(receiveBuffer));
    optionLength = sizeof(receiveBuffer);
    getsockopt(service->socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&receiveBuffer), &optionLength);

    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(port);
    if (bind(service->socket, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == SOCKET_ERROR) {
        return E_FAIL;
    }
    sockaddr_in bound = {};
    int boundLength = sizeof(bound);
    if (getsockname(service->socket, reinterpret_cast<sockaddr*>(&bound), &boundLength) == 0) {
        shared->boundPort.store(ntohs(bound.sin_port));
    }

    service->stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!service->stopEvent) {
        service->stopEvent = INVALID_HANDLE_VALUE;
        return E_FAIL;
    }
    shared->stopEvent = service->stopEvent;

    shared->running.store(1);
    ++shared->references;
    HANDLE thread = CreateThread(nullptr, 0, ReceiveLoop, shared, 0, nullptr);
    if (!thread) {
        // Reported as a start failure: a service without its thread would
        // look active and answer nothing.
        shared->running.store(0);
        --shared->references;
        return E_FAIL;
    }
    service->thread = thread;
    return S_OK;
}

void StopUdpService(UdpService* service) {
    if (!service) return;
    UdpReceiveShared* shared = service->shared;
    bool threadRunning = shared && shared->running.exchange(0) == 1;
    if (service->socket != INVALID_SOCKET) {
        if (shared) shared->socket.store(INVALID_SOCKET);
        closesocket(service->socket);
        service->socket = INVALID_SOCKET;
    }
    if (service->socketLibraryStarted) {
        WSACleanup();
        service->socketLibraryStarted = false;
    }
    // The event belongs to the shared record, which a thread that did not
    // end within the wait keeps alive: the last reference closes it.
    if (service->stopEvent != INVALID_HANDLE_VALUE) {
        if (threadRunning) WaitHandlingSentMessages(service->stopEvent, kStopWaitMs);
        service->stopEvent = INVALID_HANDLE_VALUE;
    }
    if (service->thread != INVALID_HANDLE_VALUE) {
        CloseHandle(service->thread);
        service->thread = INVALID_HANDLE_VALUE;
    }
    // The thread's own reference keeps the ring while it may still read it.
    Release(shared);
    service->shared = nullptr;
    service->ring = nullptr;
    service->slotSize = 0;
}

int32_t UdpServiceNextSlot(const UdpService* service) {
    return service && service->shared ? service->shared->nextSlot.load() : 0;
}

uint16_t UdpServiceBoundPort(const UdpService* service) {
    return service && service->shared ? service->shared->boundPort.load() : 0;
}

bool IsUdpServiceSlot(const UdpService* service, const void* slot) {
    if (!service || !service->ring || service->slotSize <= 0 || !slot) return false;
    auto address = reinterpret_cast<uintptr_t>(slot);
    auto begin = reinterpret_cast<uintptr_t>(service->ring);
    uintptr_t span = static_cast<uintptr_t>(service->slotSize) * kUdpSlotCount;
    return address >= begin && address - begin < span && (address - begin) % service->slotSize == 0;
}
