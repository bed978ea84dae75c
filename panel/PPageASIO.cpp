#include "PPageASIO.h"

#include "AsioBlockSettings.h"
#include "PanelIds.h"
#include "TarnACPLDlg.h"

#include "device/PanelWindow.h"
#include "device/SharedTypes.h"

#include <cstdio>

namespace {

using Layout = StatusBlockLayout;

const char* StateText(uint32_t state) {
    const char* word = DriverStateWord(state);
    return word ? word : DriverStateWord(kDriverUnload);
}

}  // namespace

CPPageASIO::CPPageASIO(CTarnACPLDlg* parent) : CDialog(IDD_PAGE_ASIO), m_parent(parent) {
    OnCommandId(IDC_ASIO_PAGE_BITS32, &CPPageASIO::OnPreferred32);
    OnCommandId(IDC_ASIO_PAGE_BITS24, &CPPageASIO::OnPreferred24);
    OnCommandId(IDC_ASIO_PAGE_BITS16, &CPPageASIO::OnPreferred16);
    OnCommandCode(IDC_ASIO_PAGE_BUFFER, &CPPageASIO::OnBufferSize);
    OnCommandId(IDC_ASIO_PAGE_RESET, &CPPageASIO::OnReset);
    for (WORD id = IDC_ASIO_PAGE_RATE96000; id <= IDC_ASIO_PAGE_RATE32000; ++id) {
        OnCommandId(id, &CPPageASIO::OnSampleRate);
    }
}

CPPageASIO::~CPPageASIO() {
    Destroy();
    SaveAndRelease();  // a page whose window never existed still gives its block back
}

BOOL CPPageASIO::OnInitDialog() {
    ShowItem(IDC_ASIO_PAGE_KIND, false);
    for (uint32_t length : kBufferLengthsMs) {
        char text[16];
        std::snprintf(text, sizeof(text), "%u", length);
        SendItem(IDC_ASIO_PAGE_BUFFER, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    if (SUCCEEDED(m_block.Open()) && m_block.Created()) LoadAsioSettingsIntoBlock(m_block);
    if (m_block.IsValid()) RefreshFromBlock();
    return TRUE;
}

void CPPageASIO::OnDestroy() { SaveAndRelease(); }

void CPPageASIO::SaveAndRelease() {
    if (!m_block.IsMapped()) return;
    StoreAsioSettingsFromBlock(m_block);
    m_block.Close();
}

void CPPageASIO::RefreshFromBlock() {
    if (!Hwnd() || !m_block.IsValid()) return;
    uint32_t state = m_block.ReadOr(&Layout::driverState, kDriverUnload);
    SetItemText(IDC_ASIO_PAGE_STATE, StateText(state));
    if (state >= kDriverInitialized && state <= kDriverRunning) {
        char name[kStatusBlockNameChars];
        m_block.ReadDeviceName(name, sizeof(name));
        SetItemText(IDC_ASIO_PAGE_DEVICE, name);
    } else {
        SetItemText(IDC_ASIO_PAGE_DEVICE, "Not Available");
    }

    uint32_t widths = m_block.ReadOr(&Layout::supporBitsPerSample, 0);
    ShowItem(IDC_ASIO_PAGE_BITS16, (widths & kWidthFlag16) != 0);
    ShowItem(IDC_ASIO_PAGE_BITS24, (widths & kWidthFlag24) != 0);
    ShowItem(IDC_ASIO_PAGE_BITS32, (widths & kWidthFlag32) != 0);
    SetCheck(IDC_ASIO_PAGE_BITS16, false);
    SetCheck(IDC_ASIO_PAGE_BITS24, false);
    SetCheck(IDC_ASIO_PAGE_BITS32, false);
    switch (m_block.ReadOr(&Layout::bitsPerSample, 16)) {
    case 24: SetCheck(IDC_ASIO_PAGE_BITS24, true); break;
    case 32: SetCheck(IDC_ASIO_PAGE_BITS32, true); break;
    case 16: SetCheck(IDC_ASIO_PAGE_BITS16, true); break;
    default:
        m_block.Write(&Layout::bitsPerSample, 16);
        SetCheck(IDC_ASIO_PAGE_BITS16, true);
        break;
    }

    uint32_t bufferSize = m_block.ReadOr(&Layout::bufferSize, 0);
    for (size_t i = 0; i < kBufferLengthCount; ++i) {
        if (kBufferLengthsMs[i] * 10 >= bufferSize) {
            SendItem(IDC_ASIO_PAGE_BUFFER, CB_SETCURSEL, i);
            break;
        }
    }

    if (state == kDriverRunning) {
        uint32_t rate = m_block.ReadOr(&Layout::streamRate, 0);
        uint32_t width = m_block.ReadOr(&Layout::streamWidth, 0);
        uint32_t period = m_block.ReadOr(&Layout::period, 0);
        double ms = rate ? period * 1000.0 / rate : 0.0;
        char text[96];
        std::snprintf(text, sizeof(text), "2 Channels, %u bits, %u Hz, Buffer %.1f ms", width, rate, ms);
        SetItemText(IDC_ASIO_PAGE_DESCRIPTION, text);
        const char* kind = "PCM stream";
        if (m_block.ReadOr(&Layout::dsdActive, 0) == 1) {
            kind = m_block.ReadOr(&Layout::dsd128, 0) == 1   ? "DSD128 stream"
                   : m_block.ReadOr(&Layout::dsd256, 0) == 1 ? "DSD256 stream"
                                                             : "DSD64 stream";
        }
        SetItemText(IDC_ASIO_PAGE_KIND, kind);
        ShowItem(IDC_ASIO_PAGE_DESCRIPTION, true);
        ShowItem(IDC_ASIO_PAGE_KIND, true);
    } else {
        ShowItem(IDC_ASIO_PAGE_DESCRIPTION, false);
        ShowItem(IDC_ASIO_PAGE_KIND, false);
    }

    if (m_parent) m_parent->ShowAsioSummary(m_block);
}

void CPPageASIO::WritePreferred(int radioId, uint32_t bits) {
    if (m_block.IsMapped() && IsChecked(radioId)) m_block.Write(&Layout::bitsPerSample, bits);
}

void CPPageASIO::OnPreferred32() { WritePreferred(IDC_ASIO_PAGE_BITS32, 32); }
void CPPageASIO::OnPreferred24() { WritePreferred(IDC_ASIO_PAGE_BITS24, 24); }
void CPPageASIO::OnPreferred16() { WritePreferred(IDC_ASIO_PAGE_BITS16, 16); }

void CPPageASIO::OnBufferSize(WORD code) {
    if (code != CBN_SELCHANGE || !m_block.IsMapped()) return;
    LRESULT selected = SendItem(IDC_ASIO_PAGE_BUFFER, CB_GETCURSEL);
    if (selected < 0 || static_cast<size_t>(selected) >= kBufferLengthCount) return;
    m_block.Write(&Layout::bufferSize, kBufferLengthsMs[selected] * 10);
}

void CPPageASIO::OnReset() {
    if (m_block.IsMapped()) m_block.Write(&Layout::resetRequest, 1);
}

bool CPPageASIO::TakeDriverRequest(UINT* message, WPARAM* command) {
    if (m_block.ReadOr(&Layout::changed, 0) == 0) return false;
    m_block.Write(&Layout::changed, 0);
    *message = WM_COMMAND;
    if (m_block.ReadOr(&Layout::showPanelRequest, 0) != 0) {
        m_block.Write(&Layout::showPanelRequest, 0);
        *command = ID_PANEL_SHOW_ASIO;
    } else {
        *command = ID_PANEL_REFRESH_ASIO;
    }
    return true;
}

HRESULT CPPageASIO::GetAsioStatus(AsioStatusRecord* record) const {
    if (!record) return E_INVALIDARG;
    *record = AsioStatusRecord();
    if (!m_parent || !m_block.IsValid()) return E_FAIL;
    for (size_t i = 0; i < kBufferLengthCount; ++i) record->words[i] = static_cast<int32_t>(kBufferLengthsMs[i]);
    record->words[kAsioStatusBufferCountAt] = static_cast<int32_t>(kBufferLengthCount);
    uint32_t widths = m_block.ReadOr(&Layout::supporBitsPerSample, 0);
    int count = 0;
    const uint32_t flags[3] = {kWidthFlag16, kWidthFlag24, kWidthFlag32};
    const int32_t depths[3] = {16, 24, 32};
    for (int i = 0; i < 3; ++i) {
        if (widths & flags[i]) record->words[kAsioStatusDepthsAt + count++] = depths[i];
    }
    record->words[kAsioStatusDepthCountAt] = count;
    return S_OK;
}
