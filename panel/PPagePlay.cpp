#include "PPagePlay.h"

#include "EndpointControl.h"
#include "PanelIds.h"
#include "PageControls.h"
#include "PlayRecordIds.h"
#include "TarnACPLDlg.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>

namespace {

// In the order of kPanelRates and kPanelDepths.
constexpr int kRateRadios[kPanelRateCount] = {IDC_PLAY_RATE384000, IDC_PLAY_RATE352800, IDC_PLAY_RATE192000,
                                              IDC_PLAY_RATE176400, IDC_PLAY_RATE96000,  IDC_PLAY_RATE88200,
                                              IDC_PLAY_RATE48000,  IDC_PLAY_RATE44100,  IDC_PLAY_RATE32000};
constexpr int kDepthRadios[kPanelDepthCount] = {IDC_PLAY_BITS32, IDC_PLAY_BITS24, IDC_PLAY_BITS16};

}  // namespace

CPPagePlay::CPPagePlay(CTarnACPLDlg* parent) : CDialog(IDD_PAGE_PLAY), m_parent(parent) {
    OnCommandCode(IDC_PLAY_FORMAT, &CPPagePlay::OnFormatChange);
    for (int id : kRateRadios) OnCommandCode(static_cast<WORD>(id), &CPPagePlay::OnRadio);
    for (int id : kDepthRadios) OnCommandCode(static_cast<WORD>(id), &CPPagePlay::OnRadio);
    OnCommandCode(IDC_PLAY_MUTE, &CPPagePlay::OnMute);
}

CPPagePlay::~CPPagePlay() { Destroy(); }

EndpointControl* CPPagePlay::Endpoints() const { return m_parent ? m_parent->Endpoints() : nullptr; }

BOOL CPPagePlay::OnInitDialog() {
    FillFormats();
    ReselectCurrentFormat();
    ResetLevelTrackbars(*this, IDC_PLAY_LEVEL_LEFT, IDC_PLAY_LEVEL_RIGHT);
    RefreshVolume();
    RefreshMute();
    m_deviceFormatShown = 0;
    m_deviceRate = 0;
    m_deviceBits = 0;
    return TRUE;
}

void CPPagePlay::FillFormats() {
    SendItem(IDC_PLAY_FORMAT, CB_RESETCONTENT);
    m_formatCount = 0;
    if (!m_parent) return;
    const KsFormatMasks& masks = m_parent->FormatMasks();
    m_formatCount = BuildPageFormats(masks.playRates, masks.playDepths, m_formats, kMaxPageFormats);
    for (int i = 0; i < m_formatCount; ++i) {
        char line[64];
        std::snprintf(line, sizeof(line), "2 Channels, %d bits, %d Hz", m_formats[i].bits,
                      static_cast<int>(m_formats[i].rate));
        // At an explicit position, so the list keeps this order whatever its sort style.
        SendItem(IDC_PLAY_FORMAT, CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(line));
    }
}

void CPPagePlay::ReselectCurrentFormat() {
    if (!Endpoints()) return;
    DWORD rate = 0;
    WORD bits = 0;
    if (SUCCEEDED(m_parent->ShowPlaybackFormat(&rate, &bits))) {
        for (int i = 0; i < m_formatCount; ++i) {
            if (m_formats[i].rate == static_cast<int32_t>(rate) && m_formats[i].bits == static_cast<int16_t>(bits)) {
                SendItem(IDC_PLAY_FORMAT, CB_SETCURSEL, FormatPositionOfEntry(m_formatCount, i));
                return;
            }
        }
    }
    OutputDebugStringA("Oops!!\n");
    if (m_formatCount > 0) SendItem(IDC_PLAY_FORMAT, CB_SETCURSEL, 0);
}

void CPPagePlay::OnFormatChange(WORD code) {
    if (code != CBN_SELCHANGE) return;
    EndpointControl* endpoints = Endpoints();
    if (!endpoints) return;
    LRESULT position = SendItem(IDC_PLAY_FORMAT, CB_GETCURSEL);
    if (position < 0 || position >= m_formatCount) return;
    const PageFormat& entry = m_formats[FormatEntryAtPosition(m_formatCount, static_cast<int>(position))];
    WORD bits = static_cast<WORD>(entry.bits);
    DWORD rate = static_cast<DWORD>(entry.rate);
    if (SUCCEEDED(endpoints->SetRenderFormat(bits, rate))) m_parent->StorePlaybackFormat(rate, bits);
}

void CPPagePlay::OnRadio(WORD code) {
    if (code != BN_CLICKED) return;
    EndpointControl* endpoints = Endpoints();
    if (!endpoints) return;
    DWORD rate = CheckedRate(*this, kRateRadios);
    WORD bits = CheckedBits(*this, kDepthRadios);
    if (SUCCEEDED(endpoints->SetRenderFormat(bits, rate))) m_parent->StorePlaybackFormat(rate, bits);
}

void CPPagePlay::RefreshVolume() {
    EndpointControl* endpoints = Endpoints();
    if (!endpoints) return;
    if (FAILED(endpoints->GetRenderVolume(&m_left, &m_right, &m_minimum, &m_maximum, &m_step))) return;
    m_leftMinimum = m_minimum;
    m_leftMaximum = m_maximum;
    endpoints->GetRenderLevelRange(0, &m_leftMinimum, &m_leftMaximum);
    SetLevelPositions(*this, IDC_PLAY_LEVEL_LEFT, IDC_PLAY_LEVEL_RIGHT, m_left, m_right, m_leftMinimum, m_leftMaximum,
                      m_minimum, m_maximum);
}

void CPPagePlay::OnLevelScroll(HWND trackbar) {
    EndpointControl* endpoints = Endpoints();
    if (!endpoints) return;
    int id = GetDlgCtrlID(trackbar);
    if (id != IDC_PLAY_LEVEL_LEFT && id != IDC_PLAY_LEVEL_RIGHT) return;
    int position = static_cast<int>(SendMessageA(trackbar, TBM_GETPOS, 0, 0));
    const bool left = id == IDC_PLAY_LEVEL_LEFT;
    float level = left ? PositionToLevel(position, m_leftMinimum, m_leftMaximum)
                       : PositionToLevel(position, m_minimum, m_maximum);
    (left ? m_left : m_right) = level;
    endpoints->SetRenderVolume(m_left, m_right);
}

// The scroll goes on to the default handling after the level is set.
bool CPPagePlay::OnOtherMessage(UINT message, WPARAM, LPARAM lParam, LRESULT*) {
    if (message == WM_VSCROLL && lParam) OnLevelScroll(reinterpret_cast<HWND>(lParam));
    return false;
}

void CPPagePlay::OnMute(WORD code) {
    if (code != BN_CLICKED) return;
    EndpointControl* endpoints = Endpoints();
    EndpointRecord* record = endpoints ? endpoints->RenderEndpoint(0) : nullptr;
    if (!record || !record->mute[0]) return;
    BOOL mute = IsChecked(IDC_PLAY_MUTE) ? TRUE : FALSE;
    if (SUCCEEDED(record->mute[0]->SetMute(mute, nullptr))) record->muteState[0] = mute;
}

void CPPagePlay::RefreshMute() {
    if (!Endpoints()) return;
    BOOL mute = FALSE;
    if (SUCCEEDED(m_parent->GetPlaybackMute(&mute))) SetCheck(IDC_PLAY_MUTE, mute != FALSE);
}

void CPPagePlay::ShowDeviceFormat(HRESULT readResult, bool active, int rate, int bits, bool firstTick) {
    int shown = 0;
    if (SUCCEEDED(readResult) && active) {
        char text[48];
        std::snprintf(text, sizeof(text), "2 ch, %d bits, %d Hz", bits, rate);
        SetItemText(IDC_PLAY_DEVICE_FORMAT, text);
        m_deviceRate = rate;
        m_deviceBits = bits;
        shown = 1;
    }
    if (shown != m_deviceFormatShown || firstTick) {
        m_deviceFormatShown = shown;
        ShowItem(IDC_PLAY_DEVICE_FORMAT, shown != 0);
    }
    if (m_parent) m_parent->ShowDeviceStreamLine(rate, bits, shown != 0);
}

// The radios the device's masks offer: the page never disables its own, and
// the remote control's set requests take only what the masks hold.
HRESULT CPPagePlay::GetSupportedFormats(PlayFormatList* list) const {
    if (!list) return E_POINTER;
    std::memset(list, 0, sizeof(*list));
    const KsFormatMasks masks = m_parent ? m_parent->FormatMasks() : KsFormatMasks();
    bool rates[kPanelRateCount];
    bool depths[kPanelDepthCount];
    for (int i = 0; i < kPanelRateCount; ++i) {
        rates[i] = IsWindowEnabled(Item(kRateRadios[i])) && (masks.playRates & (1u << i));
    }
    for (int i = 0; i < kPanelDepthCount; ++i) {
        depths[i] = IsWindowEnabled(Item(kDepthRadios[i])) && (masks.playDepths & (1u << i));
    }
    FillFormatList(rates, depths, list->words);
    return S_OK;
}
