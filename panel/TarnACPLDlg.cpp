#include "TarnACPLDlg.h"

#include "AsioBlockSettings.h"
#include "DeviceMatch.h"
#include "PPageASIO.h"
#include "PPageInformation.h"
#include "PPagePlay.h"
#include "PPageRecord.h"
#include "PPageRemoteCtrl.h"
#include "PanelIds.h"
#include "TarnACPLDlgRemote.h"
#include "panel/EndpointControl.h"
#include "panel/WindowsVersion.h"

#include "device/DeviceApi.h"
#include "device/HidChannel.h"
#include "device/SharedTypes.h"
#include "device/StatusBlock.h"
#include "device/SupportedDevices.h"
#include "device/VendorStatus.h"
#include "remote/RemoteIds.h"

#include <commctrl.h>
#include <dbt.h>

#include <cstdio>
#include <cstring>

namespace {

using Layout = StatusBlockLayout;

constexpr GUID kUsbDeviceInterface = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

// The volume-key report: F6 61 state 00.
constexpr BYTE kVolumeKeyCommand = 0xF6;
constexpr BYTE kVolumeKeyClass = 0x61;
constexpr BYTE kVolumeKeyReleased = 0;
constexpr BYTE kVolumeKeyUp = 1;
constexpr BYTE kVolumeKeyDown = 2;

const int kEndpointFormatStatics[] = {IDC_LABEL_RESOLUTION, IDC_RESOLUTION, IDC_LABEL_RATE, IDC_RATE};
const int kAsioStatics[] = {IDC_LABEL_STATE,     IDC_LABEL_PREFERRED, IDC_LABEL_BUFFER, IDC_LABEL_FORMAT,
                            IDC_ASIO_STATE,      IDC_ASIO_PREFERRED,  IDC_ASIO_BUFFER,  IDC_ASIO_FORMAT};
const int kRemoteGroup[] = {IDC_REMOTE_GROUP,    IDC_LOCAL_IP,        IDC_REMOTE_IP,       IDC_NETWORK_SETTING,
                            IDC_NETWORK_SERVER,  IDC_LABEL_LOCAL_IP,  IDC_LABEL_REMOTE_IP};

template <size_t N>
constexpr size_t CountOf(const int (&)[N]) {
    return N;
}

HICON LoadPanelIcon(int metricX, int metricY) {
    return static_cast<HICON>(LoadImageA(CDialog::ResourceModule(), MAKEINTRESOURCEA(IDI_PANEL), IMAGE_ICON,
                                         GetSystemMetrics(metricX), GetSystemMetrics(metricY), 0));
}

}  // namespace

class CTarnACPLDlg::PageWork {
public:
    explicit PageWork(CTarnACPLDlg& dialog) : m_dialog(dialog) { m_dialog.BeginPageWork(); }
    ~PageWork() { m_dialog.EndPageWork(); }
    PageWork(const PageWork&) = delete;
    PageWork& operator=(const PageWork&) = delete;

private:
    CTarnACPLDlg& m_dialog;
};

CTarnACPLDlg::CTarnACPLDlg() : CTarnACPLDlg(Options()) {}

CTarnACPLDlg::CTarnACPLDlg(const Options& options)
    : CDialog(IDD_PANEL_MAIN), m_options(options), m_remoteSide(new RemoteSide(*this)) {
    OnMessageId(WM_TIMER, &CTarnACPLDlg::OnTimer);
    OnMessageId(WM_DEVICECHANGE, &CTarnACPLDlg::OnDeviceChange);
    OnMessageId(WM_PANEL_ENDPOINT_ACTIVE, &CTarnACPLDlg::OnEndpointActive);
    OnMessageId(WM_PANEL_VOLUME_CHANGED, &CTarnACPLDlg::OnVolumeChanged);
    OnMessageId(WM_PANEL_PLAY_FORMAT_CHANGED, &CTarnACPLDlg::OnPlayFormatChanged);
    OnMessageId(WM_PANEL_REC_FORMAT_CHANGED, &CTarnACPLDlg::OnRecFormatChanged);
    OnMessageId(WM_PANEL_REMOTE_DATAGRAM, &CTarnACPLDlg::OnRemoteDatagram);
    OnMessageId(WM_PANEL_TRAY, &CTarnACPLDlg::OnTray);
    OnMessageId(WM_PANEL_DEFERRED_WORK, &CTarnACPLDlg::OnDeferredWork);
    OnNotifyCode(IDC_TAB_PLAYBACK, TCN_SELCHANGE, &CTarnACPLDlg::OnTabChange);
    OnNotifyCode(IDC_TAB_ASIO, TCN_SELCHANGE, &CTarnACPLDlg::OnTabChange);
    OnCommandId(IDC_MODE_PLAYBACK, &CTarnACPLDlg::OnModePlayback);
    OnCommandId(IDC_MODE_ASIO, &CTarnACPLDlg::OnModeAsio);
    OnCommandId(IDC_VOLUME_UP, &CTarnACPLDlg::OnVolumeUp);
    OnCommandId(IDC_VOLUME_DOWN, &CTarnACPLDlg::OnVolumeDown);
    OnCommandId(IDC_NETWORK_SETTING, &CTarnACPLDlg::OnNetworkSetting);
    OnCommandId(IDC_NETWORK_SERVER, &CTarnACPLDlg::OnNetworkServer);
    OnCommandId(ID_TRAY_SHOW, &CTarnACPLDlg::OnTrayShow);
    OnCommandId(ID_TRAY_HIDE, &CTarnACPLDlg::OnTrayHide);
    OnCommandId(ID_TRAY_EXIT, &CTarnACPLDlg::OnExit);
    OnCommandId(ID_PANEL_EXIT, &CTarnACPLDlg::OnExit);
    OnCommandId(ID_PANEL_SHOW_ASIO, &CTarnACPLDlg::OnShowAsio);
    OnCommandId(ID_PANEL_REFRESH_ASIO, &CTarnACPLDlg::OnRefreshAsio);
}

CTarnACPLDlg::~CTarnACPLDlg() {
    Destroy();
    m_pageRemote = nullptr;
    m_remoteOwned.reset();
    CloseAudioDevice();
    m_tray.Remove();
    if (m_iconBig) DestroyIcon(m_iconBig);
    if (m_iconSmall) DestroyIcon(m_iconSmall);
}

// ---------------------------------------------------------------- start-up

BOOL CTarnACPLDlg::OnInitDialog() {
    m_iconBig = LoadPanelIcon(SM_CXICON, SM_CYICON);
    m_iconSmall = LoadPanelIcon(SM_CXSMICON, SM_CYSMICON);
    SendMessageA(Hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_iconBig));
    SendMessageA(Hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_iconSmall));
    SetWindowTextA(Hwnd(), kPanelWindowTitle);

    m_window = Hwnd();
    if (FAILED(ClassifyWindowsVersion(&m_versionCode, &m_is32Bit))) {
        m_versionCode = kWinCodeFallback;
        m_is32Bit = kIs32BitFallback;
    }
    if (m_options.versionCode >= 0) m_versionCode = m_options.versionCode;

    m_endpoints.reset(new (std::nothrow) EndpointControl(m_window));
    if (m_endpoints) m_endpoints->UseVersion(m_versionCode, m_is32Bit);

    ApplyVersionLayout();
    m_vendorId = m_productId = 0;
    m_masks = KsFormatMasks();

    if (SUCCEEDED(DetectDevice())) QueryFormats();

    if (!OpenAudioDevice() && !EndpointControlAvailable(m_versionCode)) m_asioAvailable = 0;

    m_arrivalPending = 0;
    m_status = PanelStatusCopies();

    m_switches = ReadPanelSwitches();
    m_modeSwitched = 0;
    BuildPages();

    m_tray.Add(m_window);
    ListenForTaskbarRestart();

    DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kUsbDeviceInterface;
    m_deviceNotify = DeviceApi().RegisterDeviceNotificationA(m_window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);

    SetTimer(m_window, IDT_PANEL_POLL, kPollPeriodMs, nullptr);
    m_firstTick = 1;

    // As if "Network Server" had been pressed (on the switch's port).
    if (m_options.remoteStartPort && m_pageRemote) m_pageRemote->OnActivateService();
    return TRUE;
}

// Tries the high-speed interface, then the full-speed one; true when open.
bool CTarnACPLDlg::OpenAudioDevice() {
    if (SUCCEEDED(OpenAudioDeviceByService(&m_audioDevice, kServiceHighSpeed))) {
        m_openRetry = 0;
        return true;
    }
    m_audioDevice = INVALID_HANDLE_VALUE;
    if (SUCCEEDED(OpenAudioDeviceByService(&m_audioDevice, kServiceFullSpeed))) return true;
    m_audioDevice = INVALID_HANDLE_VALUE;
    return false;
}

void CTarnACPLDlg::CloseAudioDevice() {
    if (m_audioDevice == INVALID_HANDLE_VALUE) return;
    DeviceApi().CloseHandle(m_audioDevice);
    m_audioDevice = INVALID_HANDLE_VALUE;
}

void CTarnACPLDlg::ApplyVersionLayout() {
    if (m_endpoints && m_endpoints->Found()) m_endpoints->ReleaseEndpoints();
    m_playAvailable = m_recAvailable = m_asioAvailable = 0;
    EnterMode(EndpointControlAvailable(m_versionCode));
}

void CTarnACPLDlg::EnterMode(bool playback) {
    ShowItem(IDC_TAB_PLAYBACK, playback);
    ShowItem(IDC_TAB_ASIO, !playback);
    ShowItem(IDC_LINE_ASIO, !playback);
    m_playbackMode = playback ? 1 : 0;
    m_asioMode = playback ? 0 : 1;
}

HRESULT CTarnACPLDlg::DetectDevice() {
    if (m_endpoints) {
        for (const SupportedDevice& device : kSupportedDevices) {
            if (device.vendorId == 0) break;
            int record = 0, playback = 0, asio = 0;
            if (SUCCEEDED(m_endpoints->FindEndpoints(device.vendorId, device.productId, device.interfaceNumber,
                                                     &record, &playback, &asio))) {
                m_recAvailable = record;
                m_playAvailable = playback;
                m_asioAvailable = asio;
                m_vendorId = device.vendorId;
                m_productId = device.productId;
                // Without endpoints the search accepts the first entry
                // blindly; the ids of the device actually attached serve
                // the formats and the volume keys better.
                if (!EndpointControlAvailable(m_versionCode)) FindPresentDeviceIds(&m_vendorId, &m_productId);
                return S_OK;
            }
        }
    }
    m_playAvailable = m_recAvailable = m_asioAvailable = 0;
    return E_FAIL;
}

void CTarnACPLDlg::QueryFormats() { QueryKsFormats(m_vendorId, m_productId, &m_masks); }

// ---------------------------------------------------------------- pages

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
        ShowRemoteGroup(true);
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
        ShowRemoteGroup(true);
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
        ShowRemoteGroup(false);
    }
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
    // The later of an arrival and a removal is the one that counts.
    if (work & (kDeferredArrival | kDeferredRemoval)) m_deferredWork &= ~(kDeferredArrival | kDeferredRemoval);
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
    if (work & kDeferredArrival) ApplyDeviceEvent(DBT_DEVICEARRIVAL);
    if (work & kDeferredRemoval) ApplyDeviceEvent(DBT_DEVICEREMOVECOMPLETE);
    if (work & kDeferredEndpointActive) HandleEndpointActive();
    if (work & kDeferredPlaybackMode) ApplyMode(true);
    if (work & kDeferredAsioMode) ApplyMode(false);
    return 0;
}

// ---------------------------------------------------------------- the ASIO summary

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

// ---------------------------------------------------------------- endpoint operations

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

void CTarnACPLDlg::SetLocalAddressDisplay(DWORD address) { SendItem(IDC_LOCAL_IP, IPM_SETADDRESS, 0, address); }

void CTarnACPLDlg::SetRemoteAddressDisplay(DWORD address, bool show) {
    SendItem(IDC_REMOTE_IP, IPM_SETADDRESS, 0, address);
    if (!show) SendItem(IDC_REMOTE_IP, IPM_CLEARADDRESS);
}

// ---------------------------------------------------------------- poll

LRESULT CTarnACPLDlg::OnTimer(WPARAM id, LPARAM) {
    if (id == IDT_PANEL_POLL) Poll();
    return 0;
}

void CTarnACPLDlg::Poll() {
    if (m_pageWork != 0) return;  // the next tick polls
    if (m_firstTick) SendMessageA(Hwnd(), WM_COMMAND, ID_PANEL_REFRESH_ASIO, 0);

    if (m_pageAsio && m_pageAsio->HasMappedBlock()) {
        UINT message = 0;
        WPARAM command = 0;
        if (m_pageAsio->TakeDriverRequest(&message, &command)) SendMessageA(Hwnd(), message, command, 0);
    }

    if (m_endpoints) {
        WORD channels = 0, bits = 0;
        DWORD rate = 0, mask = 0;
        if (m_pagePlay && SUCCEEDED(m_endpoints->GetRenderFormat(&channels, &rate, &bits, &mask)) &&
            (rate != m_playRate || bits != m_playBits)) {
            PostMessageA(Hwnd(), WM_PANEL_PLAY_FORMAT_CHANGED, 0, 0);
        }
        for (int i = 0; m_pageRecord && i < m_recInputCount; ++i) {
            if (SUCCEEDED(m_endpoints->GetCaptureFormat(i, &channels, &rate, &bits, &mask)) &&
                (rate != m_recRate || bits != m_recBits)) {
                PostMessageA(Hwnd(), WM_PANEL_REC_FORMAT_CHANGED, i, 0);
            }
        }
    }

    if (m_audioDevice != INVALID_HANDLE_VALUE) {
        ULONG streaming = 0, reserved = 0, rate = 0, bits = 0;
        HRESULT hr = QueryDeviceStreamStatus(m_audioDevice, &streaming, &reserved, &rate, &bits);
        if (m_pagePlay) {
            m_pagePlay->ShowDeviceFormat(hr, streaming != 0, static_cast<int>(rate), static_cast<int>(bits),
                                         m_firstTick != 0);
        }
    } else {
        if (m_pagePlay) m_pagePlay->ShowDeviceFormat(E_FAIL, false, 0, 0, m_firstTick != 0);
        if (m_openRetry) {
            if (m_retryCountdown > 0) {
                --m_retryCountdown;
            } else {
                m_retryCountdown = kOpenRetryTicks;
                if (OpenAudioDevice()) {
                    m_openRetry = 0;
                    if (!EndpointControlAvailable(m_versionCode)) {
                        PageWork work(*this);
                        DestroyPages();
                        m_asioAvailable = 1;
                        BuildPages();
                    }
                }
            }
        }
    }
    m_firstTick = 0;
}

// ---------------------------------------------------------------- arrival and removal

LRESULT CTarnACPLDlg::OnDeviceChange(WPARAM event, LPARAM data) {
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return 0;
    auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return 0;
    auto* notice = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(data);
    // The name ends within the notice.
    size_t room = header->dbch_size > offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name)
                      ? header->dbch_size - offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name)
                      : 0;
    if (room == 0 || !std::memchr(notice->dbcc_name, 0, room)) return 0;
    if (!IsSupportedDevicePath(notice->dbcc_name)) return 0;
    if (!DeferIfBusy(event == DBT_DEVICEARRIVAL ? kDeferredArrival : kDeferredRemoval)) ApplyDeviceEvent(event);
    return TRUE;
}

void CTarnACPLDlg::ApplyDeviceEvent(WPARAM event) {
    PageWork work(*this);
    if (event == DBT_DEVICEARRIVAL) {
        m_tray.SetTip(kTrayTipPresent);
        ApplyVersionLayout();
        DestroyPages();
        m_arrivalPending = 1;
        m_openRetry = 1;
        m_retryCountdown = kOpenRetryTicks;
        if (!EndpointControlAvailable(m_versionCode)) HandleEndpointActive();
    } else {
        m_openRetry = 0;
        m_tray.SetTip(kTrayTipAbsent);
        ApplyVersionLayout();
        m_vendorId = m_productId = 0;
        m_masks = KsFormatMasks();
        DestroyPages();
        BuildPages();
        CloseAudioDevice();
    }
}

LRESULT CTarnACPLDlg::OnEndpointActive(WPARAM, LPARAM) {
    if (!DeferIfBusy(kDeferredEndpointActive)) HandleEndpointActive();
    return 0;
}

// The notice comes for any endpoint that became active: until ours is
// found the arrival stays pending, with the Information page meanwhile.
void CTarnACPLDlg::HandleEndpointActive() {
    if (!m_arrivalPending) return;
    PageWork work(*this);
    if (m_options.arrivalSettleMs) SleepEx(m_options.arrivalSettleMs, FALSE);
    if (FAILED(DetectDevice())) {
        if (m_pageCount == 0) {
            DestroyPages();
            BuildPages();
        }
        return;
    }
    m_arrivalPending = 0;
    QueryFormats();
    if (m_audioDevice == INVALID_HANDLE_VALUE && !OpenAudioDevice() && !EndpointControlAvailable(m_versionCode)) {
        m_asioAvailable = 0;
    }
    // A mode button pressed while the arrival waited has built pages since:
    // they are replaced, not added to.
    DestroyPages();
    BuildPages();
}

// ---------------------------------------------------------------- the Playback and Record pages' messages

// The Playback and Record pages' messages are in TarnACPLDlgPlayRecord.cpp.

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

// ---------------------------------------------------------------- volume keys

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

// ---------------------------------------------------------------- window, tray and commands

void CTarnACPLDlg::ShowWindowRestored() { ShowWindow(Hwnd(), SW_RESTORE); }

LRESULT CTarnACPLDlg::OnTray(WPARAM, LPARAM event) {
    switch (LOWORD(event)) {
    case WM_RBUTTONDOWN:
    case WM_CONTEXTMENU:
        m_tray.ShowMenu(Hwnd());
        break;
    case WM_LBUTTONDBLCLK:
        ShowWindowRestored();
        break;
    default:
        break;
    }
    return 0;
}

// An elevated panel gets the shell's broadcast only through its message
// filter (Windows Vista and later; older systems have no filter).
void CTarnACPLDlg::ListenForTaskbarRestart() {
    m_taskbarCreated = RegisterWindowMessageA(kTaskbarCreatedMessage);
    using FilterFunction = BOOL(WINAPI*)(UINT, DWORD);
    HMODULE user = GetModuleHandleA("user32.dll");
    auto filter = user ? reinterpret_cast<FilterFunction>(
                             reinterpret_cast<void*>(GetProcAddress(user, "ChangeWindowMessageFilter")))
                       : nullptr;
    if (filter && m_taskbarCreated) filter(m_taskbarCreated, 1 /* MSGFLT_ADD */);
}

// The ASIO page stores the driver's settings when it goes; a log-off may
// end the program without that.
void CTarnACPLDlg::SaveAsioSettings() {
    if (m_pageAsio && m_pageAsio->HasMappedBlock()) StoreAsioSettingsFromBlock(m_pageAsio->Block());
}

// Minimising hides the window (the tray icon brings it back); every other
// system command takes the default way.
bool CTarnACPLDlg::OnOtherMessage(UINT message, WPARAM wParam, LPARAM, LRESULT* result) {
    if (m_taskbarCreated && message == m_taskbarCreated) {
        m_tray.AddAgain();
        return true;
    }
    if (message == WM_QUERYENDSESSION || (message == WM_ENDSESSION && wParam)) {
        SaveAsioSettings();
        *result = message == WM_QUERYENDSESSION ? TRUE : 0;  // the session may end
        return true;
    }
    if (message != WM_SYSCOMMAND || (wParam & 0xFFF0) != SC_MINIMIZE) return false;
    ShowWindow(Hwnd(), SW_HIDE);
    *result = 0;
    return true;
}

void CTarnACPLDlg::OnOK() { ShowWindow(Hwnd(), SW_HIDE); }
void CTarnACPLDlg::OnCancel() { EndPanel(); }
void CTarnACPLDlg::OnTrayShow() { ShowWindowRestored(); }
void CTarnACPLDlg::OnTrayHide() { ShowWindow(Hwnd(), SW_HIDE); }
void CTarnACPLDlg::OnExit() { EndPanel(); }

void CTarnACPLDlg::EndPanel() {
    if (!DeferIfBusy(kDeferredExit)) EndDialog(IDOK);
}

void CTarnACPLDlg::OnShowAsio() {
    ShowWindow(Hwnd(), SW_SHOWNORMAL);
    SetWindowPos(Hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetWindowPos(Hwnd(), HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    m_currentPage = m_pageCount > 0 ? m_asioIndex : 0;
    SelectTab(m_currentPage);
    ShowCurrentPage();
    if (m_pageAsio) m_pageAsio->RefreshFromBlock();
    SendMessageA(Hwnd(), WM_COMMAND, ID_PANEL_REFRESH_ASIO, 0);
}

void CTarnACPLDlg::OnRefreshAsio() {
    if (m_pageAsio) m_pageAsio->RefreshFromBlock();
}

// ---------------------------------------------------------------- shut-down

void CTarnACPLDlg::OnDestroy() {
    KillTimer(Hwnd(), IDT_PANEL_POLL);
    if (m_options.shutdownWaitMs) Sleep(m_options.shutdownWaitMs);
    if (m_deviceNotify) {
        DeviceApi().UnregisterDeviceNotification(m_deviceNotify);
        m_deviceNotify = nullptr;
    }
    m_tray.Remove();
    m_pageRemote = nullptr;
    m_remoteOwned.reset();  // stops a running service
    DestroyPages();
    m_endpoints.reset();  // releases its endpoints and its Player
    CloseAudioDevice();
}
