#include "PanelLink.h"

#include "WebRoutes.h"

#include "remote/RemoteClient.h"

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
    if (Exchange(PanelRequestFor(WebRoute::Status), &status) &&
        Exchange(PanelRequestFor(WebRoute::Playing), &playing)) {
        m_state = R"({"panel":"ok","status":)" + AnswerOutput(status) + R"(,"playing":)" + AnswerOutput(playing) + "}";
    } else {
        m_state = R"({"panel":"gone"})";
    }
    m_stateTick = GetTickCount();
    return m_state;
}

std::string PanelLink::Describe() const { return FormatIPv4(m_address) + ":" + std::to_string(m_port); }
