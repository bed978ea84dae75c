#include "TarnACPLDlgRemote.h"

#include "PPageASIO.h"
#include "PanelIds.h"
#include "panel/EndpointControl.h"

#include "device/EndpointKeys.h"
#include "device/StatusBlock.h"

#include <cstdio>
#include <cstring>

namespace {

// A control's range and levels as the protocol sees them.
template <class Read>
HRESULT ReadRange(Read read, VolumeRange* range) {
    float left = 0, right = 0, minimum = 0, maximum = 0, step = 0;
    HRESULT hr = read(&left, &right, &minimum, &maximum, &step);
    if (SUCCEEDED(hr)) *range = VolumeRange{left, right, minimum, maximum, step};
    return hr;
}

void AddMaskedFormats(uint32_t rateMask, uint32_t depthMask, FormatLists* lists) {
    for (int i = 0; i < kPanelRateCount; ++i) {
        if (rateMask & (1u << i)) AddRate(lists, static_cast<int32_t>(kPanelRates[i]));
    }
    for (int i = 0; i < kPanelDepthCount; ++i) {
        if (depthMask & (1u << i)) AddBits(lists, kPanelDepths[i]);
    }
}

}  // namespace

void CTarnACPLDlg::RemoteSide::NotifyWindow(UINT message, WPARAM wParam) {
    if (m_dialog.m_window) SendMessageA(m_dialog.m_window, message, wParam, 0);
}

// ---------------------------------------------------------------- playback

HRESULT CTarnACPLDlg::RemoteSide::ShowPlaybackFormat(uint32_t* rate, uint32_t* bits) {
    DWORD shownRate = 0;
    WORD shownBits = 0;
    HRESULT hr = m_dialog.ShowPlaybackFormat(&shownRate, &shownBits);
    if (SUCCEEDED(hr)) {
        *rate = shownRate;
        *bits = shownBits;
    }
    return hr;
}

HRESULT CTarnACPLDlg::RemoteSide::GetPlaybackMute(bool* muted) {
    BOOL mute = FALSE;
    HRESULT hr = m_dialog.GetPlaybackMute(&mute);
    *muted = SUCCEEDED(hr) && mute;
    return hr;
}

HRESULT CTarnACPLDlg::RemoteSide::GetRenderVolume(VolumeRange* range) {
    EndpointControl* endpoints = m_dialog.m_endpoints.get();
    if (!endpoints) return E_FAIL;
    return ReadRange([endpoints](float* l, float* r, float* mn, float* mx, float* st) {
        return endpoints->GetRenderVolume(l, r, mn, mx, st);
    }, range);
}

HRESULT CTarnACPLDlg::RemoteSide::SetPlaybackFormat(uint32_t rate, uint32_t bits) {
    EndpointControl* endpoints = m_dialog.m_endpoints.get();
    if (!endpoints || bits > 0xFFFF) return E_FAIL;
    HRESULT hr = endpoints->SetRenderFormat(static_cast<WORD>(bits), rate);
    if (SUCCEEDED(hr)) {
        m_dialog.m_playRate = rate;
        m_dialog.m_playBits = static_cast<WORD>(bits);
    }
    return hr;
}

// The Playback page re-selects its format on this notice.
void CTarnACPLDlg::RemoteSide::ReselectPlaybackFormat() { NotifyWindow(WM_PANEL_PLAY_FORMAT_CHANGED); }

HRESULT CTarnACPLDlg::RemoteSide::SetRenderVolume(float left, float right) {
    EndpointControl* endpoints = m_dialog.m_endpoints.get();
    if (!endpoints) return E_FAIL;
    HRESULT hr = endpoints->SetRenderVolume(left, right);
    if (SUCCEEDED(hr)) NotifyWindow(WM_PANEL_VOLUME_CHANGED);
    return hr;
}

HRESULT CTarnACPLDlg::RemoteSide::SetPlaybackMute(bool mute) {
    const EndpointRecord* render = m_dialog.m_endpoints ? m_dialog.m_endpoints->RenderEndpoint(0) : nullptr;
    if (!render || !render->mute[0]) return E_FAIL;
    HRESULT hr = render->mute[0]->SetMute(mute ? TRUE : FALSE, nullptr);
    if (SUCCEEDED(hr)) NotifyWindow(WM_PANEL_VOLUME_CHANGED);
    return hr;
}

// ---------------------------------------------------------------- record inputs

// The Record page's inputs once it told their count, else the device's
// capture endpoints, which that page lists.
int CTarnACPLDlg::RemoteSide::RecordInputCount() {
    if (m_dialog.m_recInputCount > 0) return m_dialog.m_recInputCount;
    return m_dialog.m_endpoints ? static_cast<int>(m_dialog.m_endpoints->CaptureCount()) : 0;
}

bool CTarnACPLDlg::RemoteSide::IsLineInput(int input) {
    const EndpointRecord* capture =
        m_dialog.m_endpoints && input >= 0 ? m_dialog.m_endpoints->CaptureEndpoint(static_cast<UINT>(input)) : nullptr;
    return capture && IsEqualGUID(capture->connectorSubtype, kKsNodeTypeLineConnector);
}

HRESULT CTarnACPLDlg::RemoteSide::GetSelectedInput(int* input) {
    UINT index = 0;
    HRESULT hr = m_dialog.m_endpoints ? m_dialog.m_endpoints->GetSelectedInput(&index) : E_FAIL;
    if (SUCCEEDED(hr)) *input = static_cast<int>(index);
    return hr;
}

HRESULT CTarnACPLDlg::RemoteSide::GetRecordFormat(int input, uint32_t* rate, uint32_t* bits) {
    if (input < 0) return E_INVALIDARG;
    DWORD readRate = 0;
    WORD readBits = 0;
    HRESULT hr = m_dialog.GetRecordFormat(static_cast<UINT>(input), &readRate, &readBits);
    if (SUCCEEDED(hr)) {
        *rate = readRate;
        *bits = readBits;
    }
    return hr;
}

HRESULT CTarnACPLDlg::RemoteSide::GetCaptureVolume(int input, VolumeRange* range) {
    if (input < 0) return E_INVALIDARG;
    return ReadRange([this, input](float* l, float* r, float* mn, float* mx, float* st) {
        return m_dialog.GetRecordVolume(static_cast<UINT>(input), l, r, mn, mx, st);
    }, range);
}

HRESULT CTarnACPLDlg::RemoteSide::GetRecordMute(int input, bool* muted) {
    if (input < 0) return E_INVALIDARG;
    BOOL mute = FALSE;
    HRESULT hr = m_dialog.GetRecordMute(static_cast<UINT>(input), &mute);
    *muted = SUCCEEDED(hr) && mute;
    return hr;
}

// The Record page redraws the input's choice, format, volume and mute on
// the record-format notice for that input.
HRESULT CTarnACPLDlg::RemoteSide::SelectRecordInput(int input) {
    if (input < 0) return E_INVALIDARG;
    HRESULT hr = m_dialog.SelectRecordInput(static_cast<UINT>(input));
    NotifyWindow(WM_PANEL_REC_FORMAT_CHANGED, static_cast<WPARAM>(input));
    return hr;
}

HRESULT CTarnACPLDlg::RemoteSide::SetRecordFormat(int input, uint32_t rate, uint32_t bits) {
    if (input < 0 || bits > 0xFFFF) return E_INVALIDARG;
    HRESULT hr = m_dialog.SetRecordFormat(static_cast<UINT>(input), rate, static_cast<WORD>(bits));
    NotifyWindow(WM_PANEL_REC_FORMAT_CHANGED, static_cast<WPARAM>(input));
    return hr;
}

HRESULT CTarnACPLDlg::RemoteSide::SetCaptureVolume(int input, float left, float right) {
    if (input < 0) return E_INVALIDARG;
    HRESULT hr = m_dialog.SetRecordVolume(static_cast<UINT>(input), left, right);
    NotifyWindow(WM_PANEL_VOLUME_CHANGED);
    return hr;
}

HRESULT CTarnACPLDlg::RemoteSide::SetRecordMute(int input, bool mute) {
    if (input < 0) return E_INVALIDARG;
    HRESULT hr = m_dialog.SetRecordMute(static_cast<UINT>(input), mute ? TRUE : FALSE);
    NotifyWindow(WM_PANEL_VOLUME_CHANGED);
    return hr;
}

// ---------------------------------------------------------------- status collection

// The Playback and Record pages enable the format buttons the device's
// filter offers; the lists follow the same masks.
void CTarnACPLDlg::RemoteSide::CollectRemoteCapabilities(RemoteCapabilities* caps) {
    *caps = RemoteCapabilities();
    if (m_dialog.m_playAvailable && m_dialog.m_pagePlay) {
        AddMaskedFormats(m_dialog.m_masks.playRates, m_dialog.m_masks.playDepths, &caps->playback.lists);
        caps->playback.valid = 1;
    }
    if (m_dialog.m_recAvailable && m_dialog.m_pageRecord) {
        AddMaskedFormats(m_dialog.m_masks.recRates, m_dialog.m_masks.recDepths, &caps->record.lists);
        for (int input = RecordInputCount() - 1; input >= 0; --input) AddRecordResource(caps, IsLineInput(input));
        caps->record.valid = 1;
    }
    CPPageASIO* asio = m_dialog.m_pageAsio;
    AsioStatusRecord status;
    if (m_dialog.m_asioAvailable && asio && SUCCEEDED(asio->GetAsioStatus(&status))) {
        FillAsioCapabilities(caps, asio->Block().ReadOr(&StatusBlockLayout::supporBitsPerSample, 0));
    }
}

void CTarnACPLDlg::RemoteSide::GetStreamCopies(StreamCopies* copies) {
    const PanelStatusCopies& status = m_dialog.m_status;
    *copies = StreamCopies();
    copies->playbackRate = static_cast<uint32_t>(status.deviceRate);
    copies->playbackBits = static_cast<uint32_t>(status.deviceBits);
    copies->playbackShown = status.deviceLineShown != 0;
    copies->asioRate = static_cast<uint32_t>(status.asioRate);
    copies->asioBits = static_cast<uint32_t>(status.asioBits);
    copies->asioBufferMs = status.asioBufferMs;
    std::snprintf(copies->asioFormat, sizeof(copies->asioFormat), "%s", status.asioFormat);
    copies->asioRunning = status.asioRunning != 0;
}

void CTarnACPLDlg::RemoteSide::PressVolumeKey(bool up) {
    if (up) {
        m_dialog.OnVolumeUp();
    } else {
        m_dialog.OnVolumeDown();
    }
}

// ---------------------------------------------------------------- the "Remote Control" group

// An address control redraws its four fields on every change, which costs
// more than answering a request: the same display again changes nothing.
void CTarnACPLDlg::RemoteSide::SetRemoteAddressDisplay(DWORD address, bool show) {
    if (m_remoteDisplaySet && m_remoteDisplayShown == show && (m_remoteDisplayAddress == address || !show)) return;
    m_dialog.SetRemoteAddressDisplay(address, show);
    m_remoteDisplaySet = true;
    m_remoteDisplayAddress = address;
    m_remoteDisplayShown = show;
}

void CTarnACPLDlg::RemoteSide::SetNetworkServerText(const char* text) { m_dialog.SetItemText(IDC_NETWORK_SERVER, text); }

void CTarnACPLDlg::RemoteSide::EnableNetworkServer(bool enable) {
    EnableWindow(m_dialog.Item(IDC_NETWORK_SERVER), enable ? TRUE : FALSE);
}
