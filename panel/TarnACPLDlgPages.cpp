// The main dialog's page set: building and destroying the pages, the two
// tab strips and the statics beside them, the modes and their buttons, and
// the rebuilds deferred while code of a page runs.
#include "TarnACPLDlg.h"

#include "PPageASIO.h"
#include "PPageInformation.h"
#include "PPagePlay.h"
#include "PPageRecord.h"
#include "PPageRemoteCtrl.h"
#include "PanelIds.h"
#include "TarnACPLDlgRemote.h"
#include "panel/WindowsVersion.h"

#include <commctrl.h>
#include <dbt.h>

#include <cstdio>

namespace {

const int kEndpointFormatStatics[] = {IDC_LABEL_RESOLUTION, IDC_RESOLUTION, IDC_LABEL_RATE, IDC_RATE};
const int kAsioStatics[] = {IDC_LABEL_STATE,     IDC_LABEL_PREFERRED, IDC_LABEL_BUFFER, IDC_LABEL_FORMAT,
                            IDC_ASIO_STATE,      IDC_ASIO_PREFERRED,  IDC_ASIO_BUFFER,  IDC_ASIO_FORMAT};
const int kRemoteGroup[] = {IDC_REMOTE_GROUP,    IDC_LOCAL_IP,        IDC_REMOTE_IP,       IDC_NETWORK_SETTING,
                            IDC_NETWORK_SERVER,  IDC_LABEL_LOCAL_IP,  IDC_LABEL_REMOTE_IP};

template <size_t N>
constexpr size_t CountOf(const int (&)[N]) {
    return N;
}

}  // namespace

// ---------------------------------------------------------------- pages and modes

void CTarnACPLDlg::EnterMode(bool playback) {
    ShowItem(IDC_TAB_PLAYBACK, playback);
    ShowItem(IDC_TAB_ASIO, !playback);
    ShowItem(IDC_LINE_ASIO, !playback);
    m_playbackMode = playback ? 1 : 0;
    m_asioMode = playback ? 0 : 1;
}

const char* CTarnACPLDlg::PageTitle(int index) const {
    return index >= 0 && index < m_pageCount ? m_pages[index].title : nullptr;
}

CDialog* CTarnACPLDlg::Page(int index) const {
    return index >= 0 && index < m_pageCount ? m_pages[index].page.get() : nullptr;
}

void CTarnACPLDlg::AppendPage(std::unique_ptr<CDialog> page, const char* title) {
    if (!page || m_pageCount >= kMaxPages) return;
    PageEntry& entry = m_pages[m_pageCount++];
    entry.page = std::move(page);
    std::snprintf(entry.title, sizeof(entry.title), "%s", title);
}

void CTarnACPLDlg::FillStrip(int stripId, int leftInset) {
    HWND strip = Item(stripId);
    if (!strip) return;
    RECT area = {};
    GetWindowRect(strip, &area);
    MapWindowPoints(nullptr, Hwnd(), reinterpret_cast<POINT*>(&area), 2);
    area.left += leftInset;
    area.top += 20;
    area.right -= 5;
    area.bottom -= 5;
    for (int i = 0; i < m_pageCount; ++i) {
        TCITEMA item = {};
        item.mask = TCIF_TEXT;
        item.pszText = m_pages[i].title;
        SendMessageA(strip, TCM_INSERTITEMA, i, reinterpret_cast<LPARAM>(&item));
        HWND page = m_pages[i].page->Hwnd();
        // Above the strip, so that the strip does not paint over the page.
        SetWindowPos(page, HWND_TOP, area.left, area.top, area.right - area.left, area.bottom - area.top,
                     SWP_NOACTIVATE);
        EnableWindow(page, TRUE);
    }
}

void CTarnACPLDlg::ShowCurrentPage() {
    for (int i = 0; i < m_pageCount; ++i) ShowWindow(m_pages[i].page->Hwnd(), SW_HIDE);
    if (m_pageCount > 0) ShowWindow(m_pages[m_currentPage].page->Hwnd(), SW_SHOW);
}

void CTarnACPLDlg::ShowGroup(const int* ids, size_t count, bool show) {
    for (size_t i = 0; i < count; ++i) ShowItem(ids[i], show);
}

void CTarnACPLDlg::ShowRemoteGroup(bool show) { ShowGroup(kRemoteGroup, CountOf(kRemoteGroup), show); }

void CTarnACPLDlg::BuildPages() {
    PageWork work(*this);
    bool stripFilled = false;
    // Playback page (and the hidden ASIO page that feeds the summary statics).
    if (m_switches.playRec == 0) {
        m_playAvailable = 0;
    } else if (m_playAvailable && m_playbackMode) {
        std::unique_ptr<CPPagePlay> page(new (std::nothrow) CPPagePlay(this));
        if (page && page->Create(Hwnd())) {
            m_pagePlay = page.get();
            AppendPage(std::move(page), "Playback");
        }
        FillStrip(IDC_TAB_PLAYBACK, 10);
        stripFilled = true;
        m_currentPage = 0;
        ShowCurrentPage();
        ShowGroup(kEndpointFormatStatics, CountOf(kEndpointFormatStatics), false);
        ShowItem(IDC_DEVICE_STREAM, false);
        ShowGroup(kAsioStatics, CountOf(kAsioStatics), true);
        ShowItem(IDC_ASIO_STREAM, false);
        std::unique_ptr<CPPageASIO> companion(new (std::nothrow) CPPageASIO(this));
        m_companion.reset();
        if (companion && companion->Create(Hwnd())) {
            m_pageAsio = companion.get();
            m_companion = std::move(companion);
        }
    }

    // Record page: in the list in either mode; its tab only in ASIO mode.
    if (m_switches.playRec == 0) {
        m_recAvailable = 0;
    } else if (m_recAvailable) {
        std::unique_ptr<CPPageRecord> page(new (std::nothrow) CPPageRecord(this));
        if (page && page->Create(Hwnd())) {
            m_pageRecord = page.get();
            AppendPage(std::move(page), "Record");
        }
    }

    // ASIO page (and the hidden Playback page that feeds the device stream line).
    if (m_switches.asioDrv == 0) {
        m_asioAvailable = 0;
    } else if (m_asioAvailable && m_asioMode) {
        std::unique_ptr<CPPageASIO> page(new (std::nothrow) CPPageASIO(this));
        if (page && page->Create(Hwnd())) {
            m_pageAsio = page.get();
            m_asioIndex = m_pageCount;
            AppendPage(std::move(page), "ASIO");
        }
        FillStrip(IDC_TAB_ASIO, 5);
        stripFilled = true;
        m_currentPage = 0;
        ShowCurrentPage();
        bool endpoints = EndpointControlAvailable(m_versionCode);
        ShowGroup(kEndpointFormatStatics, CountOf(kEndpointFormatStatics), endpoints);
        ShowItem(IDC_DEVICE_STREAM, false);
        ShowGroup(kAsioStatics, CountOf(kAsioStatics), false);
        ShowItem(IDC_ASIO_STREAM, false);
        std::unique_ptr<CPPagePlay> companion(new (std::nothrow) CPPagePlay(this));
        m_companion.reset();
        if (companion && companion->Create(Hwnd())) {
            m_pagePlay = companion.get();
            m_companion = std::move(companion);
        }
    }

    // Remote-control page: outside the list, no tab.
    BuildRemotePage();

    // Information page when nothing is available; the volume keys then have
    // no device to go to.
    bool nothing = !m_playAvailable && !m_recAvailable && !m_asioAvailable;
    EnableWindow(Item(IDC_VOLUME_UP), !nothing);
    EnableWindow(Item(IDC_VOLUME_DOWN), !nothing);
    if (nothing) {
        std::unique_ptr<CDialog> page(new (std::nothrow) CPPageInformation());
        if (page && page->Create(Hwnd())) {
            m_pageInformation = page.get();
            AppendPage(std::move(page), "Information");
        }
        FillStrip(EndpointControlAvailable(m_versionCode) ? IDC_TAB_PLAYBACK : IDC_TAB_ASIO, 10);
        stripFilled = true;
        m_currentPage = 0;
        ShowCurrentPage();
        ShowGroup(kEndpointFormatStatics, CountOf(kEndpointFormatStatics), false);
        ShowItem(IDC_DEVICE_STREAM, false);
        ShowGroup(kAsioStatics, CountOf(kAsioStatics), false);
        ShowItem(IDC_ASIO_STREAM, false);
    }
    // The group is the remote-control page's face: there exactly when the
    // page is, whichever strip was filled (or none).
    ShowRemoteGroup(m_pageRemote != nullptr);
    UpdateModeButtons(stripFilled);
    // The remote-control page has taken the service over by now.
    m_modeSwitched = 0;
}

// Each mode button is shown exactly when pressing it builds a page, whatever
// the build before showed. An empty strip has no page feeding the statics
// beside it: they go too, so that no stale texts remain.
void CTarnACPLDlg::UpdateModeButtons(bool stripFilled) {
    bool playbackLeads = !m_playbackMode && EndpointControlAvailable(m_versionCode) && m_switches.playRec != 0 &&
                         m_playAvailable;
    bool asioLeads = !m_asioMode && m_switches.asioDrv != 0 && m_asioAvailable;
    ShowItem(IDC_MODE_PLAYBACK, playbackLeads);
    ShowItem(IDC_MODE_ASIO, asioLeads);
    if (stripFilled) return;
    ShowGroup(kEndpointFormatStatics, CountOf(kEndpointFormatStatics), false);
    ShowItem(IDC_DEVICE_STREAM, false);
    ShowGroup(kAsioStatics, CountOf(kAsioStatics), false);
    ShowItem(IDC_ASIO_STREAM, false);
}

// The page of the last build hands its running service to the new page
// after a mode switch and stops it after any other rebuild; it goes once the
// new page exists. Without a new page the service stops with the old one.
void CTarnACPLDlg::BuildRemotePage() {
    std::unique_ptr<CPPageRemoteCtrl> page;
    if (m_switches.rmtCtrl != 0 && (m_playAvailable || m_recAvailable || m_asioAvailable)) {
        page.reset(new (std::nothrow) CPPageRemoteCtrl(*m_remoteSide, m_pageRemote));
        if (page && !page->Create(Hwnd())) page.reset();
        // The start-up switch's port holds for every page of this run.
        if (page && m_options.remoteStartPort) page->SetServicePort(m_options.remoteStartPort);
    }
    m_pageRemote = nullptr;  // datagrams handed over meanwhile are dropped
    m_remoteOwned.reset();
    if (!page) m_remoteState = 0;
    m_pageRemote = page.get();
    m_remoteOwned = std::move(page);
}

void CTarnACPLDlg::DestroyPages() {
    SendItem(IDC_TAB_PLAYBACK, TCM_DELETEALLITEMS);
    SendItem(IDC_TAB_ASIO, TCM_DELETEALLITEMS);
    for (int i = 0; i < m_pageCount; ++i) m_pages[i].page.reset();
    // The companion feeds statics of pages that no longer exist: it goes too
    // (an ASIO page stores the driver's settings as it goes).
    m_companion.reset();
    m_pagePlay = nullptr;
    m_pageRecord = nullptr;
    m_pageInformation = nullptr;
    m_pageAsio = nullptr;
    m_pageCount = 0;
    m_asioIndex = 0;
    m_currentPage = 0;
    m_recInputCount = 0;
}

void CTarnACPLDlg::SelectTab(int index) {
    SendItem(IDC_TAB_PLAYBACK, TCM_SETCURFOCUS, 0);
    SendItem(IDC_TAB_ASIO, TCM_SETCURFOCUS, 0);
    SendItem(IDC_TAB_PLAYBACK, TCM_SETCURSEL, index);
    SendItem(IDC_TAB_ASIO, TCM_SETCURSEL, index);
}

LRESULT CTarnACPLDlg::OnTabChange(NMHDR* header) {
    LRESULT selected = SendMessageA(header->hwndFrom, TCM_GETCURSEL, 0, 0);
    m_currentPage = selected >= 0 && selected < m_pageCount ? static_cast<int>(selected) : 0;
    ShowCurrentPage();
    return 0;
}

void CTarnACPLDlg::OnModePlayback() {
    if (!DeferIfBusy(kDeferredPlaybackMode)) ApplyMode(true);
}

void CTarnACPLDlg::OnModeAsio() {
    if (!DeferIfBusy(kDeferredAsioMode)) ApplyMode(false);
}

void CTarnACPLDlg::ApplyMode(bool playback) {
    PageWork work(*this);
    DestroyPages();
    EnterMode(playback);
    m_modeSwitched = 1;
    BuildPages();
}

// ---------------------------------------------------------------- deferred rebuilds

bool CTarnACPLDlg::DeferIfBusy(unsigned work) {
    if (m_pageWork == 0) return false;
    // A removal makes an arrival before it moot; an arrival after a removal
    // runs after it (OnDeferredWork keeps that order), so that the handle of
    // the device that went is closed and the new one's opened.
    if (work & kDeferredRemoval) m_deferredWork &= ~kDeferredArrival;
    if (work & (kDeferredPlaybackMode | kDeferredAsioMode)) {
        m_deferredWork &= ~(kDeferredPlaybackMode | kDeferredAsioMode);
    }
    m_deferredWork |= work;
    return true;
}

void CTarnACPLDlg::EndPageWork() {
    if (--m_pageWork == 0 && m_deferredWork && m_window) PostMessageA(m_window, WM_PANEL_DEFERRED_WORK, 0, 0);
}

LRESULT CTarnACPLDlg::OnDeferredWork(WPARAM, LPARAM) {
    if (m_pageWork != 0) return 0;  // posted again when that work ends
    unsigned work = m_deferredWork;
    m_deferredWork = 0;
    if (work & kDeferredExit) {
        EndPanel();
        return 0;
    }
    if (work & kDeferredRemoval) ApplyDeviceEvent(DBT_DEVICEREMOVECOMPLETE);
    if (work & kDeferredArrival) ApplyDeviceEvent(DBT_DEVICEARRIVAL);
    if (work & kDeferredEndpointActive) HandleEndpointActive();
    if (work & kDeferredPlaybackMode) ApplyMode(true);
    if (work & kDeferredAsioMode) ApplyMode(false);
    return 0;
}
