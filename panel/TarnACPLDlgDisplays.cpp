// The main dialog's displays of the streams: the ASIO summary beside the
// Playback strip and the device's stream line below the ASIO strip.
#include "TarnACPLDlg.h"

#include "PanelIds.h"

#include "device/SharedTypes.h"
#include "device/StatusBlock.h"

#include <cstdio>

namespace {

using Layout = StatusBlockLayout;

}  // namespace

void CTarnACPLDlg::ShowDeviceStreamLine(int rate, int bits, bool visible) {
    char text[48];
    std::snprintf(text, sizeof(text), "%.1f k / %d bits ", rate / 1000.0, bits);
    SetItemText(IDC_DEVICE_STREAM, text);
    m_status.deviceRate = rate;
    m_status.deviceBits = bits;
    bool show = m_asioMode && visible;
    ShowItem(IDC_DEVICE_STREAM, show);
    m_status.deviceLineShown = show ? 1 : 0;
}

void CTarnACPLDlg::ShowAsioSummary(CStatusBlock& block) {
    uint32_t state = block.ReadOr(&Layout::driverState, kDriverUnload);
    const char* word = DriverStateWord(state);
    SetItemText(IDC_ASIO_STATE, word ? word : DriverStateWord(kDriverUnload));

    uint32_t preferred = block.ReadOr(&Layout::bitsPerSample, 16);
    if (preferred != 16 && preferred != 24 && preferred != 32) {
        block.Write(&Layout::bitsPerSample, 16);
        preferred = 16;
    }
    char text[48];
    std::snprintf(text, sizeof(text), "%u bits", preferred);
    SetItemText(IDC_ASIO_PREFERRED, text);
    std::snprintf(text, sizeof(text), "%u ms ", block.ReadOr(&Layout::bufferSize, 0) / 10);
    SetItemText(IDC_ASIO_BUFFER, text);

    bool running = state == kDriverRunning;
    if (running) {
        uint32_t rate = block.ReadOr(&Layout::streamRate, 0);
        uint32_t width = block.ReadOr(&Layout::streamWidth, 0);
        uint32_t period = block.ReadOr(&Layout::period, 0);
        std::snprintf(text, sizeof(text), "%.1f k / %u bits ", rate / 1000.0, width);
        SetItemText(IDC_ASIO_STREAM, text);
        m_status.asioRate = static_cast<int>(rate);
        m_status.asioBits = static_cast<int>(width);
        m_status.asioBufferMs = rate ? static_cast<float>(period * 1000.0 / rate) : 0.0f;
        if (block.ReadOr(&Layout::dsdActive, 0) == 1) {
            if (block.ReadOr(&Layout::dsd128, 0) == 1) {
                SetItemText(IDC_ASIO_FORMAT, "DSD128");
                SetItemText(IDC_ASIO_STREAM, "5.6448 m");
            } else if (block.ReadOr(&Layout::dsd256, 0) == 1) {
                SetItemText(IDC_ASIO_FORMAT, "DSD256");
                SetItemText(IDC_ASIO_STREAM, "11.2896 m  ");
            } else {
                SetItemText(IDC_ASIO_FORMAT, "DSD64");
                SetItemText(IDC_ASIO_STREAM, "2.8224 m ");
            }
        } else {
            SetItemText(IDC_ASIO_FORMAT, "PCM");
        }
        m_status.asioRunning = 1;
        std::snprintf(m_status.asioFormat, sizeof(m_status.asioFormat), "%s", ItemText(IDC_ASIO_FORMAT).c_str());
    } else {
        m_status.asioRunning = 0;
    }
    bool show = running && !m_asioMode;
    ShowItem(IDC_ASIO_STREAM, show);
    ShowItem(IDC_LABEL_FORMAT, show);
    ShowItem(IDC_ASIO_FORMAT, show);
}
