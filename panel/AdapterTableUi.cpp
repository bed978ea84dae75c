#include "AdapterTableUi.h"

#include "Dialog.h"

#include "remote/UdpSend.h"

#include <commctrl.h>

#include <cstdlib>
#include <string>

namespace {

void ShowAddress(CDialog& dialog, int addressId, uint32_t hostOrder) {
    dialog.SendItem(addressId, IPM_SETADDRESS, 0, static_cast<LPARAM>(hostOrder));
}

}  // namespace

void SelectAdapterFromCombo(CDialog& dialog, int comboId, int addressId, AdapterTable* table) {
    LRESULT selection = dialog.SendItem(comboId, CB_GETCURSEL);
    if (selection >= 0 && selection < table->count) table->selected = static_cast<int32_t>(selection);
    bool any = dialog.SendItem(comboId, CB_GETCOUNT) > 0 && table->count > 0;
    ShowAddress(dialog, addressId, any ? SelectedAdapterAddress(*table) : INADDR_LOOPBACK);
}

void RefreshAdapterCombo(CDialog& dialog, int comboId, int addressId, UdpService* service, AdapterTable* table) {
    dialog.SendItem(comboId, CB_RESETCONTENT);
    FillAdapterTable(service, table);
    for (int i = 0; i < table->count; ++i) {
        dialog.SendItem(comboId, CB_INSERTSTRING, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(table->descriptions[i]));
    }
    if (dialog.SendItem(comboId, CB_GETCOUNT) > 0) {
        dialog.SendItem(comboId, CB_SETCURSEL, 0);
        SelectAdapterFromCombo(dialog, comboId, addressId, table);
    } else {
        ShowAddress(dialog, addressId, INADDR_LOOPBACK);
    }
}

void ShowAdapterTable(CDialog& dialog, int comboId, int addressId, const AdapterTable& table) {
    for (int i = 0; i < table.count && i < kAdapterTableEntries; ++i) {
        dialog.SendItem(comboId, CB_INSERTSTRING, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(table.descriptions[i]));
    }
    if (table.selected >= 0 && table.selected < table.count) {
        dialog.SendItem(comboId, CB_SETCURSEL, static_cast<WPARAM>(table.selected));
        ShowAddress(dialog, addressId, SelectedAdapterAddress(table));
    } else {
        ShowAddress(dialog, addressId, INADDR_LOOPBACK);
    }
}

uint16_t PortFromText(const std::string& text) {
    return static_cast<uint16_t>(std::atoi(text.substr(0, 31).c_str()));
}

void NotifyFromTable(CDialog& dialog, int buttonId, int portId, const UdpService* service, const AdapterTable& table) {
    EnableWindow(dialog.Item(buttonId), FALSE);
    // Without a chosen adapter the address would be 0.0.0.0 and the
    // notification a limited broadcast: nothing is sent then.
    if (service && table.selected >= 0 && table.selected < table.count) {
        uint16_t port = PortFromText(dialog.ItemText(portId));
        NotifyController(ntohl(table.masks[table.selected]), ntohl(table.addresses[table.selected]), port);
    }
    EnableWindow(dialog.Item(buttonId), TRUE);
}
