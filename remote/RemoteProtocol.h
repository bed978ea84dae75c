// The remote-control command protocol: one JSON request in, at most one
// JSON answer out, all on the user-interface thread.
#pragma once

#include "RemotePanel.h"
#include "RemoteRecords.h"
#include "RemoteRequest.h"
#include "RemoteVolumes.h"
#include "UdpSend.h"

#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Sends an answer (address host order, port network order). Tests capture.
using RemoteSendFunction = HRESULT (*)(void* context, const void* data, int length, uint32_t address,
                                       uint16_t portNetworkOrder);

class RemoteProtocol {
public:
    RemoteProtocol(IRemotePanel& panel, IRemoteDisplay& display);

    // One datagram as the receive ring holds it (sender address, then the
    // payload from byte 32). An empty payload is a presence probe.
    void HandleDatagram(const void* slot, size_t slotSize);
    void HandleRemoteCommand(const char* text, size_t length, uint32_t address, uint16_t portNetworkOrder);

    const std::string& LastAnswer() const { return m_lastAnswer; }
    // What controllers set; a page built in place of another takes it over.
    RemoteVolumeMemory& Volumes() { return m_volumes; }

    void SetSender(RemoteSendFunction send, void* context);
    // When the service stops: the answers' socket goes with it.
    void CloseReplySocket() { m_replySocket.Close(); }
    // The shared status block and the window told to refresh its ASIO page.
    void SetStatusBlockName(const char* name) { m_blockName = name; }
    void SetPanelWindowTitle(const char* title) { m_windowTitle = title; }
    // The panel's own window, which then takes the place of the title.
    void SetPanelWindow(HWND window) { m_window = window; }

private:
    // Replaces the last answer and sends it to the requester.
    void Answer(std::string answer, uint32_t address, uint16_t portNetworkOrder);
    void Run(RemoteCommand command, const rapidjson::Value& request, uint32_t address, uint16_t port);
    bool SetAsio(const rapidjson::Value& request);

    IRemotePanel& m_panel;
    IRemoteDisplay& m_display;
    std::string m_lastAnswer;
    RemoteVolumeMemory m_volumes;
    // Answers leave from this socket, kept while the protocol lives; never
    // the service port.
    UdpReplySocket m_replySocket;
    RemoteSendFunction m_send;
    void* m_sendContext = nullptr;
    std::string m_blockName;
    std::string m_windowTitle;
    HWND m_window = nullptr;
};

// Level range and left level as a volume percentage, truncated toward zero
// and kept within 0..100. A control without a range (no level control, as
// the S/PDIF input) is at full scale: 100.
int32_t VolumePercent(const VolumeRange& range);
// The level for a volume percentage: minimum at or below 0, maximum at or above 100.
float LevelForPercent(const VolumeRange& range, int32_t percent);
