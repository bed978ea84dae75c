// The main dialog's remote control: the operations the protocol asks of it
// (RemoteSide), its "Remote Control" group and the messages and buttons it
// passes on to the remote-control page.
#include "TarnACPLDlgRemote.h"

#include "PPageASIO.h"
#include "PPagePlay.h"
#include "PPageRecord.h"
#include "PPageRemoteCtrl.h"
#include "PanelIds.h"
#include "PlayRecordFormats.h"
#include "panel/EndpointControl.h"

#include "device/StatusBlock.h"

#include <commctrl.h>

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

// A page's supported-format record (rates, then depths, each with a count).
void AddPageFormats(const int32_t* words, FormatLists* lists) {
    int32_t rates = words[kFormatListRateCountAt];
    for (int32_t i = 0; i < rates && i < kFormatListRateCountAt - kFormatListRatesAt; ++i) {
        AddRate(lists, words[kFormatListRatesAt + i]);
    }
    int32_t depths = words[kFormatListDepthCountAt];
    for (int32_t i = 0; i < depths && i < kFormatListDepthCountAt - kFormatListDepthsAt; ++i) {
        AddBits(lists, words[kFormatListDepthsAt + i]);
    }
}

// A rate and a depth whose bits are set in the device's masks.
bool MasksOffer(uint32_t rateMask, uint32_t depthMask, uint32_t rate, uint32_t bits) {
    bool rateOffered = false, depthOffered = false;
    for (int i = 0; i < kPanelRateCount; ++i) rateOffered |= kPanelRates[i] == rate && (rateMask & (1u << i));
    for (int i = 0; i < kPanelDepthCount; ++i) depthOffered |= kPanelDepths[i] == bits && (depthMask & (1u << i));
    return rateOffered && depthOffered;
}

}  // namespace

// ---------------------------------------------------------------- playback

bool CTarnACPLDlg::RemoteSide::OffersPlaybackFormat(uint32_t rate, uint32_t bits) {
    return MasksOffer(m_dialog.m_masks.playRates, m_dialog.m_masks.playDepths, rate, bits);
}

bool CTarnACPLDlg::RemoteSide::OffersRecordFormat(uint32_t rate, uint32_t bits) {
    return MasksOffer(m_dialog.m_masks.recRates, m_dialog.m_masks.recDepths, rate, bits);
}

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
    if (SUCCEEDED(hr)) m_dialog.StorePlaybackFormat(rate, static_cast<WORD>(bits));
    return hr;
}

// The Playback page re-selects its format on this notice.
void CTarnACPLDlg::RemoteSide::ReselectPlaybackFormat() {
    if (m_dialog.m_pagePlay) m_dialog.m_pagePlay->ReselectCurrentFormat();
}

HRESULT CTarnACPLDlg::RemoteSide::SetRenderVolume(float left, float right) {
    EndpointControl* endpoints = m_dialog.m_endpoints.get();
    if (!endpoints) return E_FAIL;
    HRESULT hr = endpoints->SetRenderVolume(left, right);
    if (SUCCEEDED(hr) && m_dialog.m_pagePlay) m_dialog.m_pagePlay->RefreshVolume();
    return hr;
}

HRESULT CTarnACPLDlg::RemoteSide::SetPlaybackMute(bool mute) {
    EndpointRecord* render = m_dialog.m_endpoints ? m_dialog.m_endpoints->RenderEndpoint(0) : nullptr;
    if (!render || !render->mute[0]) return E_FAIL;
    HRESULT hr = render->mute[0]->SetMute(mute ? TRUE : FALSE, nullptr);
    if (SUCCEEDED(hr)) {
        render->muteState[0] = mute ? TRUE : FALSE;
        if (m_dialog.m_pagePlay) m_dialog.m_pagePlay->RefreshMute();
    }
    return hr;
}

// ---------------------------------------------------------------- record inputs

// The Record page's list of inputs and their connector types; without
// that page there are none.
int CTarnACPLDlg::RemoteSide::RecordInputCount() {
    return m_dialog.m_pageRecord ? m_dialog.m_pageRecord->InputCount() : 0;
}

bool CTarnACPLDlg::RemoteSide::IsLineInput(int input) {
    const CPPageRecord* page = m_dialog.m_pageRecord;
    return page && input >= 0 && input < page->InputCount() && input < kMaxRecordInputs &&
           IsLineConnector(page->InputConnectors()[input]);
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

// Each change lets the Record page redraw what it changed.
HRESULT CTarnACPLDlg::RemoteSide::SelectRecordInput(int input) {
    if (input < 0) return E_INVALIDARG;
    HRESULT hr = m_dialog.SelectRecordInput(static_cast<UINT>(input));
    if (m_dialog.m_pageRecord) m_dialog.m_pageRecord->ReselectCurrentInput();
    return hr;
}

HRESULT CTarnACPLDlg::RemoteSide::SetRecordFormat(int input, uint32_t rate, uint32_t bits) {
    if (input < 0 || bits > 0xFFFF) return E_INVALIDARG;
    HRESULT hr = m_dialog.SetRecordFormat(static_cast<UINT>(input), rate, static_cast<WORD>(bits));
    if (m_dialog.m_pageRecord) m_dialog.m_pageRecord->RefreshFromInput(static_cast<UINT>(input));
    return hr;
}

HRESULT CTarnACPLDlg::RemoteSide::SetCaptureVolume(int input, float left, float right) {
    if (input < 0) return E_INVALIDARG;
    HRESULT hr = m_dialog.SetRecordVolume(static_cast<UINT>(input), left, right);
    if (m_dialog.m_pageRecord) m_dialog.m_pageRecord->RefreshVolume();
    return hr;
}

HRESULT CTarnACPLDlg::RemoteSide::SetRecordMute(int input, bool mute) {
    if (input < 0) return E_INVALIDARG;
    HRESULT hr = m_dialog.SetRecordMute(static_cast<UINT>(input), mute ? TRUE : FALSE);
    if (m_dialog.m_pageRecord) m_dialog.m_pageRecord->RefreshMute();
    return hr;
}

// ---------------------------------------------------------------- status collection

// The formats whose buttons the Playback and Record pages enable, the
// record inputs from the last to the first, the ASIO page's lengths and depths.
void CTarnACPLDlg::RemoteSide::CollectRemoteCapabilities(RemoteCapabilities* caps) {
    *caps = RemoteCapabilities();
    PlayFormatList play;
    if (m_dialog.m_playAvailable && m_dialog.m_pagePlay && SUCCEEDED(m_dialog.m_pagePlay->GetSupportedFormats(&play))) {
        AddPageFormats(play.words, &caps->playback.lists);
        caps->playback.valid = 1;
    }
    RecordFormatList record;
    if (m_dialog.m_recAvailable && m_dialog.m_pageRecord &&
        SUCCEEDED(m_dialog.m_pageRecord->GetSupportedFormats(&record))) {
        AddPageFormats(record.words, &caps->record.lists);
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
    copies->playbackShown = m_dialog.m_pagePlay && m_dialog.m_pagePlay->DeviceFormatShown();
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

void CTarnACPLDlg::SetLocalAddressDisplay(DWORD address) { SendItem(IDC_LOCAL_IP, IPM_SETADDRESS, 0, address); }

void CTarnACPLDlg::SetRemoteAddressDisplay(DWORD address, bool show) {
    SendItem(IDC_REMOTE_IP, IPM_SETADDRESS, 0, address);
    if (!show) SendItem(IDC_REMOTE_IP, IPM_CLEARADDRESS);
}

LRESULT CTarnACPLDlg::OnRemoteDatagram(WPARAM, LPARAM slot) {
    if (m_pageRemote && slot) m_pageRemote->HandleDatagram(reinterpret_cast<const void*>(slot));
    return 0;
}

void CTarnACPLDlg::OnNetworkSetting() {
    if (m_pageRemote) m_pageRemote->OpenNetworkSetting();
}

void CTarnACPLDlg::OnNetworkServer() {
    PageWork work(*this);
    if (m_pageRemote) m_pageRemote->OnActivateService();
}
