// The adapter table as the page and the network-setting dialog show it: a
// combo box of descriptions and an IP address control of the selection.
#pragma once

#include "remote/AdapterList.h"

#include <string>

class CDialog;

// Empties the combo box, refills table from a fresh enumeration, lists the
// descriptions, selects entry 0 (or shows 127.0.0.1 without entries).
void RefreshAdapterCombo(CDialog& dialog, int comboId, int addressId, UdpService* service, AdapterTable* table);
// Takes the combo box's selection and shows its address (127.0.0.1 without one).
void SelectAdapterFromCombo(CDialog& dialog, int comboId, int addressId, AdapterTable* table);
// Lists the table's descriptions and shows its selected entry.
void ShowAdapterTable(CDialog& dialog, int comboId, int addressId, const AdapterTable& table);
// The controller notification through the selected entry, to the port in
// the port control. Without a selected entry nothing is sent.
void NotifyFromTable(CDialog& dialog, int buttonId, int portId, const UdpService* service, const AdapterTable& table);
// A port control's value: at most 31 characters read, taken as 16 bits.
uint16_t PortFromText(const std::string& text);
