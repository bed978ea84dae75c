// The main dialog's side of the Playback and Record pages: the record-side
// operations the pages and the remote control use, and the messages that
// bring the endpoints' changes to the pages.
#include "TarnACPLDlg.h"

#include "EndpointControl.h"
#include "PPagePlay.h"
#include "PPageRecord.h"

void CTarnACPLDlg::StorePlaybackFormat(DWORD rate, WORD bits) {
    m_playRate = rate;
    m_playBits = bits;
}

HRESULT CTarnACPLDlg::GetRecordVolume(UINT input, float* left, float* right, float* minimum, float* maximum,
                                      float* step) {
    if (!m_endpoints) return E_FAIL;
    return m_endpoints->GetCaptureVolume(input, left, right, minimum, maximum, step);
}

HRESULT CTarnACPLDlg::SetRecordVolume(UINT input, float left, float right) {
    if (!m_endpoints) return E_FAIL;
    return m_endpoints->SetCaptureVolume(input, left, right);
}

HRESULT CTarnACPLDlg::GetRecordMute(UINT input, BOOL* mute) {
    if (!m_endpoints) return E_FAIL;
    return m_endpoints->GetCaptureMute(input, mute);
}

HRESULT CTarnACPLDlg::SetRecordMute(UINT input, BOOL mute) {
    EndpointRecord* record = m_endpoints ? m_endpoints->CaptureEndpoint(input) : nullptr;
    if (!record || !record->mute[0]) return E_FAIL;
    HRESULT hr = record->mute[0]->SetMute(mute, nullptr);
    if (SUCCEEDED(hr)) record->muteState[0] = mute;
    return hr;
}

HRESULT CTarnACPLDlg::GetPlaybackMute(BOOL* mute) {
    EndpointRecord* record = m_endpoints ? m_endpoints->RenderEndpoint(0) : nullptr;
    if (!mute || !record || !record->mute[0]) return E_FAIL;
    HRESULT hr = record->mute[0]->GetMute(mute);
    if (SUCCEEDED(hr)) record->muteState[0] = *mute;
    return hr;
}

// Through the multiplexer in front of the first capture endpoint.
HRESULT CTarnACPLDlg::SelectRecordInput(UINT input) {
    if (!m_endpoints) return E_FAIL;
    const EndpointRecord* first = m_endpoints->CaptureEndpoint(0);
    const EndpointRecord* record = m_endpoints->CaptureEndpoint(input);
    if (!first || !record || !first->inputSelector || record->localId == 0) return E_FAIL;
    return first->inputSelector->SetSelection(record->localId, nullptr);
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
