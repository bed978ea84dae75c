// "Network Setting (Remote Control)": the modal dialog in which the user
// picks the adapter whose address is shown and notified through.
#pragma once

#include "Dialog.h"

#include "remote/AdapterList.h"
#include "remote/UdpService.h"

#include <memory>

class CRmctNic : public CDialog {
public:
    explicit CRmctNic(HWND parent);
    ~CRmctNic() override;

    // The page's table, taken before DoModal.
    void Load(const AdapterTable& table) { m_table = table; }
    // The port the service uses, when there is no table to take it from.
    void LoadPort(uint16_t port) { m_table.port = port; }
    const AdapterTable& Table() const { return m_table; }

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    void OnRefreshAdapters();
    void OnAdapterSelected(WORD code);
    void OnNotifyController();

    HWND m_parent;
    std::unique_ptr<UdpService> m_service;  // for the adapter list only; never started
    AdapterTable m_table = {};
};
