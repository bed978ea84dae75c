// The remote-control page: never shown, it owns the UDP service, the
// adapter table and the protocol, and serves the main dialog's "Remote
// Control" group.
#pragma once

#include "Dialog.h"
#include "RemotePageHost.h"

#include "remote/AdapterList.h"
#include "remote/RemoteProtocol.h"
#include "remote/UdpService.h"

#include <memory>

class CPPageRemoteCtrl : public CDialog, public IRemoteDisplay {
public:
    // previous: the page of the last build, or null. After a mode switch its
    // running service passes to this page; after any other rebuild it is stopped.
    CPPageRemoteCtrl(IRemotePageHost& host, CPPageRemoteCtrl* previous);
    ~CPPageRemoteCtrl() override;

    // "Network Server" (and the page's own 1014): start or stop the service.
    void OnActivateService();
    // "Network Setting": the modal network-setting dialog.
    void OpenNetworkSetting();
    // WM_PANEL_REMOTE_DATAGRAM's slot.
    void HandleDatagram(const void* slot);

    // The port the next start binds (the panel's start-up switch sets it).
    void SetServicePort(uint16_t port) { m_table.port = port; }
    uint16_t ServicePort() const { return m_table.port; }
    bool Active() const { return m_active != 0; }
    const AdapterTable& Adapters() const { return m_table; }
    const UdpService& Service() const { return *m_service; }
    RemoteProtocol& Protocol() { return m_protocol; }

    // IRemoteDisplay
    void ShowControllerAddress(uint32_t address, bool keepMainDisplay) override;
    void ShowProbeAddress(uint32_t address) override;
    bool ServiceActive() override { return m_active != 0; }

protected:
    BOOL OnInitDialog() override;

private:
    void OnRefreshAdapters();
    void OnAdapterSelected(WORD code);
    void OnNotifyController();
    void StopRunningService();
    void StopService();

    IRemotePageHost& m_host;
    std::unique_ptr<UdpService> m_service;
    int m_active = 0;
    AdapterTable m_table = {};
    RemoteProtocol m_protocol;
    bool m_remoteShown = false;  // what control 1021 shows
    uint32_t m_remoteAddress = 0;
    // Cleared when the page goes: a modal loop run from the page may rebuild
    // the main dialog's pages (a device change, the poll) and end this one.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
