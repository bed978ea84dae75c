#include "RmctNic.h"

#include "AdapterTableUi.h"
#include "RemoteControlIds.h"

#include "remote/RemoteIds.h"

#include <string>

CRmctNic::CRmctNic(HWND parent)
    : CDialog(IDD_NETWORK_SETTING), m_parent(parent), m_service(new UdpService(parent)) {
    m_table.port = kRemoteDefaultPort;
    OnCommandId(IDC_NIC_REFRESH, &CRmctNic::OnRefreshAdapters);
    OnCommandCode(IDC_NIC_ADAPTERS, &CRmctNic::OnAdapterSelected);
    OnCommandId(IDC_NIC_NOTIFY, &CRmctNic::OnNotifyController);
}

CRmctNic::~CRmctNic() = default;

BOOL CRmctNic::OnInitDialog() {
    CDialog::OnInitDialog();
    ShowAdapterTable(*this, IDC_NIC_ADAPTERS, IDC_NIC_LOCAL_IP, m_table);
    SetItemText(IDC_NIC_PORT, std::to_string(m_table.port).c_str());
    return TRUE;
}

void CRmctNic::OnOK() {
    // The field is read-only; a text that is no port keeps the one given.
    uint16_t port = PortFromText(ItemText(IDC_NIC_PORT));
    if (port != 0) m_table.port = port;
    CDialog::OnOK();
}

void CRmctNic::OnRefreshAdapters() {
    RefreshAdapterCombo(*this, IDC_NIC_ADAPTERS, IDC_NIC_LOCAL_IP, m_service.get(), &m_table);
}

void CRmctNic::OnAdapterSelected(WORD code) {
    if (code == CBN_SELCHANGE) SelectAdapterFromCombo(*this, IDC_NIC_ADAPTERS, IDC_NIC_LOCAL_IP, &m_table);
}

void CRmctNic::OnNotifyController() {
    NotifyFromTable(*this, IDC_NIC_NOTIFY, IDC_NIC_PORT, m_service.get(), m_table);
}
