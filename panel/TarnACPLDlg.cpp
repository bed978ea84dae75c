// The main dialog's object: its handlers, start-up, the window and tray
// commands and shut-down. The device watch, the page set, the displays, the
// volume keys and the remote control's side are in the TarnACPLDlg*.cpp beside it.
#include "TarnACPLDlg.h"

#include "AsioBlockSettings.h"
#include "PPageASIO.h"
#include "PPageRemoteCtrl.h"
#include "PanelIds.h"
#include "TarnACPLDlgRemote.h"
#include "panel/EndpointControl.h"
#include "panel/WindowsVersion.h"

#include "device/DeviceApi.h"
#include "remote/RemoteIds.h"

#include <commctrl.h>
#include <dbt.h>

namespace {

constexpr GUID kUsbDeviceInterface = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

HICON LoadPanelIcon(int metricX, int metricY) {
    return static_cast<HICON>(LoadImageA(CDialog::ResourceModule(), MAKEINTRESOURCEA(IDI_PANEL), IMAGE_ICON,
                                         GetSystemMetrics(metricX), GetSystemMetrics(metricY), 0));
}

}  // namespace

CTarnACPLDlg::CTarnACPLDlg() : CTarnACPLDlg(Options()) {}

CTarnACPLDlg::CTarnACPLDlg(const Options& options)
    : CDialog(IDD_PANEL_MAIN), m_options(options), m_remoteSide(new RemoteSide(*this)) {
    m_tray.UseNotify(options.trayNotify);
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

    const bool detected = SUCCEEDED(DetectDevice());
    if (detected) QueryFormats();

    if (!OpenAudioDevice() && !EndpointControlAvailable(m_versionCode)) m_asioAvailable = 0;

    // Endpoints that turn active after the start (the device just plugged in)
    // complete the detection as after an arrival.
    m_arrivalPending = !detected && EndpointControlAvailable(m_versionCode) ? 1 : 0;
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
