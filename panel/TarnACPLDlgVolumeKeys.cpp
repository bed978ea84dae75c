// The main dialog's "Volume +" and "Volume -": a key report to the device,
// held for a moment, then the release.
#include "TarnACPLDlg.h"

#include "PanelIds.h"

#include "device/HidChannel.h"

namespace {

// The volume-key report: F6 61 state 00.
constexpr BYTE kVolumeKeyCommand = 0xF6;
constexpr BYTE kVolumeKeyClass = 0x61;
constexpr BYTE kVolumeKeyReleased = 0;
constexpr BYTE kVolumeKeyUp = 1;
constexpr BYTE kVolumeKeyDown = 2;

}  // namespace

void CTarnACPLDlg::SendVolumeKey(BYTE keyState) {
    SendHidReport(m_vendorId, m_productId, kVolumeKeyCommand, kVolumeKeyClass, keyState, 0);
}

void CTarnACPLDlg::PressVolumeKey(int buttonId, BYTE pressState) {
    SendVolumeKey(pressState);
    SetCheck(buttonId, true);
    UpdateWindow(Item(buttonId));
    if (m_options.volumeKeyHoldMs) Sleep(m_options.volumeKeyHoldMs);
    SetCheck(buttonId, false);
    SendVolumeKey(kVolumeKeyReleased);
}

void CTarnACPLDlg::OnVolumeUp() { PressVolumeKey(IDC_VOLUME_UP, kVolumeKeyUp); }
void CTarnACPLDlg::OnVolumeDown() { PressVolumeKey(IDC_VOLUME_DOWN, kVolumeKeyDown); }
