#include "PanelLink.h"

#include "WebRoutes.h"

#include "device/PanelWindow.h"
#include "remote/RemoteClient.h"

#include "WebOptions.h"

PanelLink::PanelLink(uint32_t address, uint16_t port, int timeoutMs)
    : m_address(address), m_port(port), m_timeoutMs(timeoutMs) {}

bool PanelLink::Exchange(const std::string& request, std::string* answer) {
    std::lock_guard<std::mutex> hold(m_exchangeLock);
    RemoteClient client;
    return client.Ready() && client.Exchange(m_address, m_port, request, static_cast<DWORD>(m_timeoutMs), answer);
}

std::string PanelLink::State(DWORD maxAgeMs) {
    std::lock_guard<std::mutex> hold(m_stateLock);
    if (!m_state.empty() && GetTickCount() - m_stateTick < maxAgeMs) return m_state;
    std::string status;
    std::string playing;
    if (!Exchange(PanelRequestFor(WebRoute::Playing), &playing)) {
        // Without a device the panel has no remote control; on this machine
        // its window tells that it still runs.
        bool runs = IsLoopback(m_address) && FindWindowA(nullptr, kPanelWindowTitle) != nullptr;
        m_state = runs ? R"({"panel":"silent"})" : R"({"panel":"gone"})";
    } else {
        // get_status goes unanswered while its device query fails (the
        // device going): an empty status, a panel that is there.
        bool answered = Exchange(PanelRequestFor(WebRoute::Status), &status);
        m_state = R"({"panel":"ok","status":)" + (answered ? AnswerOutput(status) : std::string("{}")) +
                  R"(,"playing":)" + AnswerOutput(playing) + "}";
    }
    m_stateTick = GetTickCount();
    return m_state;
}

std::string PanelLink::Describe() const { return FormatIPv4(m_address) + ":" + std::to_string(m_port); }
