#include "PPageRemoteCtrl.h"

#include "AdapterTableUi.h"
#include "RemoteControlIds.h"
#include "RmctNic.h"

#include "remote/RemoteIds.h"

#include <commctrl.h>

#include <new>

namespace {

constexpr char kActivate[] = "Activate";
constexpr char kDeactivate[] = "Deactivate";
constexpr char kNetworkServer[] = "Network Server";

}  // namespace

CPPageRemoteCtrl::CPPageRemoteCtrl(IRemotePageHost& host, CPPageRemoteCtrl* previous)
    : CDialog(IDD_PAGE_REMOTE),
      m_host(host),
      m_service(new UdpService(host.MainWindow())),
      m_protocol(host.Panel(), *this) {
    m_protocol.SetPanelWindow(host.MainWindow());
    // Percentages set through the page before stay what they read back as.
    if (previous) m_protocol.Volumes() = previous->m_protocol.Volumes();
    if (host.ModeSwitched()) {
        // The running service stays in force: this page takes it over.
        m_active = host.RemoteServiceState();
        if (previous && previous->m_active) {
            std::swap(m_service, previous->m_service);
            previous->m_active = 0;
        }
    } else {
        if (previous) previous->StopRunningService();  // the port is free again
        host.SetNetworkServerText(kNetworkServer);
        m_active = 0;
        host.SetRemoteServiceState(0);
        host.SetRemoteAddressDisplay(0, false);
    }
    OnCommandId(IDC_RMT_ACTIVATE, &CPPageRemoteCtrl::OnActivateService);
    OnCommandId(IDC_RMT_REFRESH, &CPPageRemoteCtrl::OnRefreshAdapters);
    OnCommandCode(IDC_RMT_ADAPTERS, &CPPageRemoteCtrl::OnAdapterSelected);
    OnCommandId(IDC_RMT_NOTIFY, &CPPageRemoteCtrl::OnNotifyController);
}

CPPageRemoteCtrl::~CPPageRemoteCtrl() {
    *m_alive = false;
    StopRunningService();
    Destroy();
}

void CPPageRemoteCtrl::StopService() {
    m_host.BeginServiceStop();
    StopUdpService(m_service.get());
    m_host.EndServiceStop();
}

void CPPageRemoteCtrl::StopRunningService() {
    if (m_active) StopService();
    m_active = 0;
    m_protocol.CloseReplySocket();
}

BOOL CPPageRemoteCtrl::OnInitDialog() {
    CDialog::OnInitDialog();
    m_table.port = 0;
    FillAdapterTable(m_service.get(), &m_table);
    SendItem(IDC_RMT_LOCAL_IP, IPM_SETADDRESS, 0, INADDR_LOOPBACK);  // no combo box is filled
    m_table.selected = 0;
    m_table.port = kRemoteDefaultPort;
    if (m_table.count > 0) m_host.SetLocalAddressDisplay(ntohl(m_table.addresses[0]));
    SetItemText(IDC_RMT_PORT, kRemoteDefaultPortText);
    return TRUE;
}

void CPPageRemoteCtrl::OnActivateService() {
    EnableWindow(Item(IDC_RMT_ACTIVATE), FALSE);
    m_host.EnableNetworkServer(false);
    m_host.ClearModeSwitched();
    if (m_active) {
        StopService();
        m_protocol.CloseReplySocket();
        SetItemText(IDC_RMT_ACTIVATE, kActivate);
        m_host.SetNetworkServerText(kNetworkServer);
        m_active = 0;
        m_host.SetRemoteServiceState(0);
        m_host.SetRemoteAddressDisplay(0, false);
    } else if (SUCCEEDED(StartUdpService(m_service.get(), kUdpSlotSize, m_table.port))) {
        SetItemText(IDC_RMT_ACTIVATE, kDeactivate);
        m_host.SetNetworkServerText(kDeactivate);
        m_active = 1;
        m_host.SetRemoteServiceState(1);
    } else {
        StopService();
    }
    EnableWindow(Item(IDC_RMT_ACTIVATE), TRUE);
    m_host.EnableNetworkServer(true);
}

void CPPageRemoteCtrl::OpenNetworkSetting() {
    std::unique_ptr<CRmctNic> dialog(new (std::nothrow) CRmctNic(m_host.MainWindow()));
    if (!dialog) return;
    if (m_table.count >= 1 && m_table.count <= kAdapterTableEntries && m_table.selected < kAdapterTableEntries) {
        dialog->Load(m_table);
    } else {
        dialog->LoadPort(m_table.port);  // OK hands it back: a "/remote:N" port holds
    }
    std::shared_ptr<bool> alive = m_alive;
    INT_PTR result = dialog->DoModal(m_host.MainWindow());
    if (!*alive || result != IDOK) return;
    m_table = dialog->Table();
    if (m_table.count > 0 && m_table.selected >= 0 && m_table.selected < m_table.count) {
        m_host.SetLocalAddressDisplay(SelectedAdapterAddress(m_table));
    }
}

void CPPageRemoteCtrl::HandleDatagram(const void* slot) {
    if (!IsUdpServiceSlot(m_service.get(), slot)) return;
    m_protocol.HandleDatagram(slot, kUdpSlotSize);
}

void CPPageRemoteCtrl::ShowControllerAddress(uint32_t address, bool keepMainDisplay) {
    ShowProbeAddress(address);
    m_host.SetRemoteAddressDisplay(address, keepMainDisplay);
}

// An address control redraws its four fields on every change, which costs
// more than answering a request: the same controller again changes nothing.
void CPPageRemoteCtrl::ShowProbeAddress(uint32_t address) {
    if (m_remoteShown && m_remoteAddress == address) return;
    SendItem(IDC_RMT_REMOTE_IP, IPM_SETADDRESS, 0, static_cast<LPARAM>(address));
    m_remoteShown = true;
    m_remoteAddress = address;
}

void CPPageRemoteCtrl::OnRefreshAdapters() {
    RefreshAdapterCombo(*this, IDC_RMT_ADAPTERS, IDC_RMT_LOCAL_IP, m_service.get(), &m_table);
}

void CPPageRemoteCtrl::OnAdapterSelected(WORD code) {
    if (code == CBN_SELCHANGE) SelectAdapterFromCombo(*this, IDC_RMT_ADAPTERS, IDC_RMT_LOCAL_IP, &m_table);
}

void CPPageRemoteCtrl::OnNotifyController() {
    NotifyFromTable(*this, IDC_RMT_NOTIFY, IDC_RMT_PORT, m_service.get(), m_table);
}
