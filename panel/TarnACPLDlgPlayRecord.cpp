// The main dialog's side of the Playback and Record pages: the messages that
// bring the endpoints' changes to the pages.
#include "TarnACPLDlg.h"

#include "PPagePlay.h"
#include "PPageRecord.h"

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
