// The web remote's way to the panel: one request at a time, each from a
// fresh socket (a late answer to an earlier request is never taken for the
// next one), and the panel's state as the event stream polls it.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>

class PanelLink {
public:
    PanelLink(uint32_t address, uint16_t port, int timeoutMs);

    // false when the panel does not answer within the timeout.
    bool Exchange(const std::string& request, std::string* answer);

    // The panel's state as one JSON text: {"panel":"ok","status":{...},
    // "playing":{...}} from get_status and get_playing_status ("status"
    // empty when only get_status went unanswered), {"panel":"silent"} when
    // the panel does not answer but its window is on this desktop, or
    // {"panel":"gone"}. Several listeners share one
    // poll: a state younger than maxAgeMs is handed out again.
    std::string State(DWORD maxAgeMs);

    std::string Describe() const;  // "127.0.0.1:5566"

private:
    const uint32_t m_address;
    const uint16_t m_port;
    const int m_timeoutMs;
    std::mutex m_exchangeLock;
    std::mutex m_stateLock;
    std::string m_state;
    DWORD m_stateTick = 0;
};
