// A stand-in for the panel's user-interface thread: a window that receives
// WM_PANEL_REMOTE_DATAGRAM, a UdpService owned by it and the protocol over a
// scripted panel. Loopback use only.
#pragma once

#include "tests/remote/FakeRemotePanel.h"

#include "remote/RemoteProtocol.h"
#include "remote/UdpService.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <vector>

class RemoteHost {
public:
    // Starts the thread, its window and the service on port (0: any free port).
    explicit RemoteHost(uint16_t port = 0);
    ~RemoteHost();
    RemoteHost(const RemoteHost&) = delete;
    RemoteHost& operator=(const RemoteHost&) = delete;

    HRESULT StartResult() const { return m_startResult; }
    uint16_t Port() const { return m_port; }

    // Runs work on the host's thread and waits for it.
    void Invoke(const std::function<void(FakeRemotePanel&, RemoteProtocol&, UdpService&)>& work);

    // Every datagram handed over: slot index and payload length.
    std::vector<std::pair<int, size_t>> Delivered();
    long AnswersSent() const { return m_answersSent.load(); }

private:
    static DWORD WINAPI Thread(void* self);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static HRESULT CountingSend(void* context, const void* data, int length, uint32_t address, uint16_t port);

    FakeRemotePanel m_panel;
    RemoteProtocol m_protocol;
    UdpService* m_service = nullptr;
    HWND m_window = nullptr;
    HANDLE m_thread = nullptr;
    HANDLE m_ready = nullptr;
    uint16_t m_requestedPort;
    uint16_t m_port = 0;
    HRESULT m_startResult = E_FAIL;
    std::vector<std::pair<int, size_t>> m_delivered;
    std::atomic<long> m_answersSent{0};
};

// Pumps this thread's messages until done() or timeoutMs passed.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
