#include "tests/remote/RemoteHost.h"

#include "remote/RemoteIds.h"
#include "remote/UdpSend.h"

#include <cstring>

namespace {

constexpr UINT kInvokeMessage = WM_APP + 0x40;
constexpr char kHostClass[] = "VelmorRemoteHostWindow";

}  // namespace

RemoteHost::RemoteHost(uint16_t port) : m_protocol(m_panel, m_panel), m_requestedPort(port) {
    m_protocol.SetSender(CountingSend, this);
    m_ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_thread = CreateThread(nullptr, 0, Thread, this, 0, nullptr);
    WaitForSingleObject(m_ready, 30000);
}

RemoteHost::~RemoteHost() {
    if (m_window) PostMessageA(m_window, WM_CLOSE, 0, 0);
    if (m_thread) {
        WaitForSingleObject(m_thread, 30000);
        CloseHandle(m_thread);
    }
    CloseHandle(m_ready);
}

HRESULT RemoteHost::CountingSend(void* context, const void* data, int length, uint32_t address, uint16_t port) {
    ++static_cast<RemoteHost*>(context)->m_answersSent;
    return SendUdpDatagram(data, length, address, port);
}

DWORD WINAPI RemoteHost::Thread(void* parameter) {
    auto* self = static_cast<RemoteHost*>(parameter);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kHostClass;
    RegisterClassA(&wc);
    self->m_window = CreateWindowA(kHostClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, self);
    SetWindowLongPtrA(self->m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    UdpService service(self->m_window);
    self->m_service = &service;
    self->m_startResult = StartUdpService(&service, kUdpSlotSize, self->m_requestedPort);
    if (FAILED(self->m_startResult)) StopUdpService(&service);
    self->m_port = UdpServiceBoundPort(&service);
    SetEvent(self->m_ready);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_CLOSE && msg.hwnd == self->m_window) break;
        DispatchMessageA(&msg);
    }
    StopUdpService(&service);
    self->m_service = nullptr;
    DestroyWindow(self->m_window);
    return 0;
}

LRESULT CALLBACK RemoteHost::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<RemoteHost*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self && message == WM_PANEL_REMOTE_DATAGRAM) {
        const char* payload = reinterpret_cast<const char*>(lParam) + kUdpSlotPayloadOffset;
        self->m_delivered.emplace_back(static_cast<int>(wParam), strnlen(payload, kUdpMaxPayload));
        self->m_protocol.HandleDatagram(reinterpret_cast<const void*>(lParam), kUdpSlotSize);
        return 0;
    }
    if (self && message == kInvokeMessage) {
        auto* work = reinterpret_cast<const std::function<void(FakeRemotePanel&, RemoteProtocol&, UdpService&)>*>(lParam);
        (*work)(self->m_panel, self->m_protocol, *self->m_service);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void RemoteHost::Invoke(const std::function<void(FakeRemotePanel&, RemoteProtocol&, UdpService&)>& work) {
    SendMessageA(m_window, kInvokeMessage, 0, reinterpret_cast<LPARAM>(&work));
}

std::vector<std::pair<int, size_t>> RemoteHost::Delivered() {
    std::vector<std::pair<int, size_t>> copy;
    Invoke([&](FakeRemotePanel&, RemoteProtocol&, UdpService&) { copy = m_delivered; });
    return copy;
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        // A queue that never runs dry must not outlast the bound either.
        MSG msg;
        while (GetTickCount() - start <= timeoutMs && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        }
    }
    return true;
}
