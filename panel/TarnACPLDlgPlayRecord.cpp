// The main dialog's side of the Playback and Record pages: the endpoint
// operations they and the remote control use, and the messages that bring
// the endpoints' changes to the pages.
#include "TarnACPLDlg.h"

#include "PPagePlay.h"
#include "PPageRecord.h"
#include "PanelIds.h"
#include "panel/EndpointControl.h"

#include <cstdio>

HRESULT CTarnACPLDlg::ShowPlaybackFormat(DWORD* rate, WORD* bits) {
    if (!m_endpoints) return E_FAIL;
    WORD channels = 0;
    DWORD mask = 0;
    HRESULT hr = m_endpoints->GetRenderFormat(&channels, rate, bits, &mask);
    if (FAILED(hr)) return hr;
    m_playRate = *rate;
    m_playBits = *bits;
    char text[32];
    std::snprintf(text, sizeof(text), "%lu ", static_cast<unsigned long>(*rate));
    SetItemText(IDC_RATE, text);
    std::snprintf(text, sizeof(text), "%u bits", *bits);
    SetItemText(IDC_RESOLUTION, text);
    return hr;
}

HRESULT CTarnACPLDlg::GetRecordFormat(UINT input, DWORD* rate, WORD* bits) {
    if (!m_endpoints) return E_FAIL;
    WORD channels = 0;
    DWORD mask = 0;
    HRESULT hr = m_endpoints->GetCaptureFormat(input, &channels, rate, bits, &mask);
    if (SUCCEEDED(hr)) {
        m_recRate = *rate;
        m_recBits = *bits;
    }
    return hr;
}

HRESULT CTarnACPLDlg::SetRecordFormat(UINT input, DWORD rate, WORD bits) {
    if (!m_endpoints) return E_FAIL;
    HRESULT hr = m_endpoints->SetCaptureFormat(input, bits, rate);
    if (SUCCEEDED(hr)) {
        m_recRate = rate;
        m_recBits = bits;
    }
    return hr;
}

HRESULT CTarnACPLDlg::GetRecordVolume(UINT input, float* left, float* right, float* minimum, float* maximum,
                                      float* step) {
    return m_endpoints ? m_endpoints->GetCaptureVolume(input, left, right, minimum, maximum, step) : E_FAIL;
}

HRESULT CTarnACPLDlg::SetRecordVolume(UINT input, float left, float right) {
    return m_endpoints ? m_endpoints->SetCaptureVolume(input, left, right) : E_FAIL;
}

HRESULT CTarnACPLDlg::GetRecordMute(UINT input, BOOL* mute) {
    return m_endpoints ? m_endpoints->GetCaptureMute(input, mute) : E_FAIL;
}

HRESULT CTarnACPLDlg::GetPlaybackMute(BOOL* mute) {
    EndpointRecord* render = m_endpoints ? m_endpoints->RenderEndpoint(0) : nullptr;
    if (!render || !render->mute[0] || !mute) return E_FAIL;
    HRESULT hr = render->mute[0]->GetMute(mute);
    if (SUCCEEDED(hr)) render->muteState[0] = *mute;
    return hr;
}

HRESULT CTarnACPLDlg::SetRecordMute(UINT input, BOOL mute) {
    EndpointRecord* capture = m_endpoints ? m_endpoints->CaptureEndpoint(input) : nullptr;
    if (!capture || !capture->mute[0]) return E_FAIL;
    HRESULT hr = capture->mute[0]->SetMute(mute, nullptr);
    if (SUCCEEDED(hr)) capture->muteState[0] = mute;
    return hr;
}

HRESULT CTarnACPLDlg::SelectRecordInput(UINT input) {
    const EndpointRecord* first = m_endpoints ? m_endpoints->CaptureEndpoint(0) : nullptr;
    const EndpointRecord* chosen = m_endpoints ? m_endpoints->CaptureEndpoint(input) : nullptr;
    if (!first || !chosen || !first->inputSelector || chosen->localId == 0) return E_FAIL;
    return first->inputSelector->SetSelection(chosen->localId, nullptr);
}

void CTarnACPLDlg::StorePlaybackFormat(DWORD rate, WORD bits) {
    m_playRate = rate;
    m_playBits = bits;
}

LRESULT CTarnACPLDlg::OnVolumeChanged(WPARAM, LPARAM) {
    if (m_pagePlay) {
        m_pagePlay->RefreshVolume();
        m_pagePlay->RefreshMute();
    }
    if (m_pageRecord) {
        m_pageRecord->RefreshVolume();
        m_pageRecord->RefreshMute();
    }
    return 0;
}

LRESULT CTarnACPLDlg::OnPlayFormatChanged(WPARAM, LPARAM) {
    if (m_pagePlay) m_pagePlay->ReselectCurrentFormat();
    return 0;
}

LRESULT CTarnACPLDlg::OnRecFormatChanged(WPARAM input, LPARAM) {
    if (m_pageRecord) m_pageRecord->RefreshFromInput(static_cast<UINT>(input));
    return 0;
}
