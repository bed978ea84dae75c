#include "RemoteProtocol.h"

#include "AsioBlockAccess.h"
#include "DebugListener.h"
#include "RemoteAnswers.h"
#include "RemoteCommands.h"
#include "RemoteIds.h"
#include "UdpSend.h"
#include "device/StatusBlockLayout.h"

#include <winsock2.h>

#include <algorithm>
#include <cstring>

namespace {

HRESULT SendWithReplySocket(void* socket, const void* data, int length, uint32_t address, uint16_t port) {
    return static_cast<UdpReplySocket*>(socket)->Send(data, length, address, port);
}

}  // namespace

RemoteProtocol::RemoteProtocol(IRemotePanel& panel, IRemoteDisplay& display)
    : m_panel(panel),
      m_display(display), m_send(SendWithReplySocket), m_sendContext(&m_replySocket), m_blockName(kStatusBlockName), m_windowTitle(kPanelWindowTitle) {}

void RemoteProtocol::SetSender(RemoteSendFunction send, void* context) {
    m_send = send ? send : SendWithReplySocket;
    m_sendContext = send ? context : &m_replySocket;
}

void RemoteProtocol::Answer(std::string answer, uint32_t address, uint16_t port) {
    m_lastAnswer = std::move(answer);
    char datagram[kRemoteAnswerRoom];
    int length = static_cast<int>(std::min<size_t>(m_lastAnswer.size(), sizeof(datagram) - 1));
    std::memcpy(datagram, m_lastAnswer.data(), length);
    m_send(m_sendContext, datagram, length, address, port);
}

void RemoteProtocol::HandleDatagram(const void* slot, size_t slotSize) {
    if (!slot || slotSize <= static_cast<size_t>(kUdpSlotPayloadOffset)) return;
    const auto* bytes = static_cast<const uint8_t*>(slot);
    sockaddr_in from;
    std::memcpy(&from, bytes, sizeof(from));
    uint32_t address = ntohl(from.sin_addr.s_addr);
    const char* payload = reinterpret_cast<const char*>(bytes + kUdpSlotPayloadOffset);
    size_t room = slotSize - kUdpSlotPayloadOffset;
    if (payload[0] == '\0') {
        // Presence probe: one zero byte back, shown on the page only.
        m_display.ShowProbeAddress(address);
        const char zero = 0;
        m_send(m_sendContext, &zero, 1, address, from.sin_port);
        return;
    }
    size_t length = strnlen(payload, room);
    // One debug-output write per datagram, and only while something listens:
    // each costs a round trip to the system.
    if (DebugOutputListened()) {
        std::string trace = "Received UDP packet\n---------------------\n";
        trace.append(payload, length);
        trace += "\n";
        OutputDebugStringA(trace.c_str());
    }
    HandleRemoteCommand(payload, length, address, from.sin_port);
}

void RemoteProtocol::HandleRemoteCommand(const char* text, size_t length, uint32_t address, uint16_t port) {
    rapidjson::Document request;
    RemoteCommand command = RemoteCommand::Velmor;
    // Text that is not a JSON object, and members of the wrong JSON type,
    // are answered like an unknown word: the controller learns it failed.
    RequestKind kind = text && ReadRequestDocument(text, length, &request) ? ClassifyRequest(request, &command)
                                                                             : RequestKind::Failure;
    if (kind == RequestKind::Failure) {
        Answer(BuildStatusAnswer(false), address, port);
        m_display.ShowControllerAddress(address, false);
        return;
    }
    m_display.ShowControllerAddress(address, m_display.ServiceActive());
    if (kind == RequestKind::Answer) return;
    Run(command, request, address, port);
}

void RemoteProtocol::Run(RemoteCommand command, const rapidjson::Value& request, uint32_t address, uint16_t port) {
    switch (command) {
    case RemoteCommand::GetStatus: {
        RemoteStatus status;
        bool answered = GatherRemoteStatus(m_panel, m_volumes, m_blockName.c_str(), &status);
        std::string answer = BuildGetStatusAnswer(status);
        if (answered) {
            Answer(std::move(answer), address, port);
        } else {
            m_lastAnswer = std::move(answer);  // kept, but a failed query answers nothing
        }
        break;
    }
    case RemoteCommand::GetData: {
        RemoteCapabilities caps;
        std::memset(&caps, 0, sizeof(caps));
        m_panel.CollectRemoteCapabilities(&caps);
        Answer(BuildGetDataAnswer(caps), address, port);
        break;
    }
    case RemoteCommand::GetPlayingStatus: {
        PlayingStatus playing;
        bool withPlayback = false, withAsio = false;
        GatherPlayingStatus(m_panel, &playing, &withPlayback, &withAsio);
        Answer(BuildPlayingAnswer(playing, withPlayback, withAsio), address, port);
        break;
    }
    case RemoteCommand::VolUp:
    case RemoteCommand::VolDown:
        m_panel.PressVolumeKey(command == RemoteCommand::VolUp);
        Answer(BuildVolumeAnswer(), address, port);
        break;
    case RemoteCommand::Velmor:
        Answer(BuildStatusAnswer(true), address, port);
        m_display.ShowControllerAddress(address, m_display.ServiceActive());
        break;
    case RemoteCommand::SetPlaybackStatus:
        Answer(BuildStatusAnswer(RunSetPlayback(m_panel, m_volumes, request)), address, port);
        break;
    case RemoteCommand::SetRecordStatus:
        Answer(BuildStatusAnswer(RunSetRecord(m_panel, m_volumes, request)), address, port);
        break;
    case RemoteCommand::SetAsioStatus:
        Answer(BuildStatusAnswer(SetAsio(request)), address, port);
        break;
    case RemoteCommand::SetMiscStatus:
        // Checked only: nothing reaches the device or the panel.
        Answer(BuildStatusAnswer(CheckMiscRequest(request, nullptr)), address, port);
        break;
    }
}

bool RemoteProtocol::SetAsio(const rapidjson::Value& request) {
    AsioSetting setting = {};
    if (!ReadAsioSetting(m_blockName.c_str(), &setting)) return false;
    if (!TakeAsioRequest(request, &setting)) return false;
    if (WriteAsioSetting(m_blockName.c_str(), setting)) RefreshAsioPage(m_window, m_windowTitle.c_str());
    return true;
}
