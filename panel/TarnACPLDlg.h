// The panel's main dialog: finds the device, decides which pages exist and
// in which of the two tab strips they sit, polls the device and the ASIO
// driver once a second, follows USB arrival and removal, sends the volume
// keys and keeps the tray icon. Its members are defined in TarnACPLDlg.cpp
// and in the TarnACPLDlg*.cpp named for what they do.
#pragma once

#include "Dialog.h"
#include "KsFormats.h"
#include "PanelSwitches.h"
#include "TrayIcon.h"

#include "device/PanelWindow.h"

#include <windows.h>

#include <cstdint>
#include <memory>

class CPPageASIO;
class CPPagePlay;
class CPPageRecord;
class CPPageRemoteCtrl;
class CStatusBlock;
class EndpointControl;

constexpr int kMaxPages = 8;
constexpr int kPageTitleChars = 32;
constexpr UINT kPollPeriodMs = 1000;
constexpr int kOpenRetryTicks = 6;  // a retry every seventh tick

// The status the remote control reports.
struct PanelStatusCopies {
    int deviceLineShown = 0;
    int asioRunning = 0;
    int deviceRate = 0;
    int deviceBits = 0;
    int asioRate = 0;
    int asioBits = 0;
    float asioBufferMs = 0.0f;
    char asioFormat[16] = {};
};

class CTarnACPLDlg : public CDialog {
public:
    struct Options {
        int versionCode = -1;            // -1: as the system reports it
        DWORD arrivalSettleMs = 3000;    // wait after an arrival before searching
        DWORD volumeKeyHoldMs = 800;     // how long a volume key is held down
        DWORD shutdownWaitMs = 500;
        uint16_t remoteStartPort = 0;    // not 0: the remote control starts on this port (the "/remote" switch)
        CTrayIcon::Notify trayNotify = nullptr;  // null: the system's notification area
    };

    CTarnACPLDlg();
    explicit CTarnACPLDlg(const Options& options);
    ~CTarnACPLDlg() override;

    // Operations the pages and the remote control use.
    void ShowAsioSummary(CStatusBlock& block);
    void ShowDeviceStreamLine(int rate, int bits, bool visible);
    HRESULT ShowPlaybackFormat(DWORD* rate, WORD* bits);
    HRESULT GetRecordFormat(UINT input, DWORD* rate, WORD* bits);
    HRESULT SetRecordFormat(UINT input, DWORD rate, WORD bits);
    HRESULT GetRecordVolume(UINT input, float* left, float* right, float* minimum, float* maximum, float* step);
    HRESULT SetRecordVolume(UINT input, float left, float right);
    HRESULT GetRecordMute(UINT input, BOOL* mute);
    HRESULT SetRecordMute(UINT input, BOOL mute);
    HRESULT GetPlaybackMute(BOOL* mute);
    HRESULT SelectRecordInput(UINT input);
    // The Record page tells how many inputs the poll watches.
    void SetRecordInputCount(int count) { m_recInputCount = count; }
    void SetLocalAddressDisplay(DWORD address);
    void SetRemoteAddressDisplay(DWORD address, bool show);
    // The Playback page's format once the endpoint took it (TarnACPLDlgPlayRecord.cpp).
    void StorePlaybackFormat(DWORD rate, WORD bits);
    DWORD PlaybackRate() const { return m_playRate; }
    WORD PlaybackBits() const { return m_playBits; }
    DWORD RecordRate() const { return m_recRate; }
    WORD RecordBits() const { return m_recBits; }
    int RecordInputCount() const { return m_recInputCount; }

    // What tests and the later pages read.
    int VersionCode() const { return m_versionCode; }
    bool PlaybackMode() const { return m_playbackMode != 0; }
    bool AsioMode() const { return m_asioMode != 0; }
    bool ModeSwitched() const { return m_modeSwitched != 0; }
    int PageCount() const { return m_pageCount; }
    int AsioIndex() const { return m_asioIndex; }
    int CurrentPage() const { return m_currentPage; }
    const char* PageTitle(int index) const;
    CDialog* Page(int index) const;
    CPPageASIO* AsioPage() const { return m_pageAsio; }
    CPPagePlay* PlaybackPage() const { return m_pagePlay; }
    CPPageRecord* RecordPage() const { return m_pageRecord; }
    bool PlaybackAvailable() const { return m_playAvailable != 0; }
    bool RecordAvailable() const { return m_recAvailable != 0; }
    bool AsioAvailable() const { return m_asioAvailable != 0; }
    USHORT VendorId() const { return m_vendorId; }
    USHORT ProductId() const { return m_productId; }
    const KsFormatMasks& FormatMasks() const { return m_masks; }
    const PanelSwitches& Switches() const { return m_switches; }
    const PanelStatusCopies& StatusCopies() const { return m_status; }
    const CTrayIcon& Tray() const { return m_tray; }
    EndpointControl* Endpoints() const { return m_endpoints.get(); }
    CPPageRemoteCtrl* RemotePage() const { return m_pageRemote; }
    int RemoteServiceState() const { return m_remoteState; }
    bool AudioDeviceOpen() const { return m_audioDevice != INVALID_HANDLE_VALUE; }
    HANDLE AudioDevice() const { return m_audioDevice; }

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;      // Enter and "Hide"
    void OnCancel() override;  // Escape and a close request end the program
    void OnDestroy() override;
    bool OnOtherMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

private:
    void ApplyVersionLayout();
    HRESULT DetectDevice();
    void QueryFormats();
    bool OpenAudioDevice();
    void CloseAudioDevice();
    void BuildPages();
    void DestroyPages();
    void AppendPage(std::unique_ptr<CDialog> page, const char* title);
    void FillStrip(int stripId, int leftInset);
    void ShowCurrentPage();
    void SelectTab(int index);
    void ShowGroup(const int* ids, size_t count, bool show);
    void ShowRemoteGroup(bool show);
    void BuildRemotePage();
    void EnterMode(bool playback);
    void SendVolumeKey(BYTE keyState);
    void PressVolumeKey(int buttonId, BYTE pressState);
    void Poll();
    void HandleEndpointActive();
    void RefreshEndpoints();
    void ShowWindowRestored();
    void EndPanel();
    void ListenForTaskbarRestart();
    void SaveAsioSettings();
    void UpdateModeButtons(bool stripFilled);
    void ApplyDeviceEvent(WPARAM event);
    void ApplyMode(bool playback);

    // Pages may not be destroyed while code of a page runs: a rebuild asked
    // for meanwhile (a device change sent while a service stop waits) is
    // noted and run once, from a posted message, when the work has ended.
    class PageWork {
    public:
        explicit PageWork(CTarnACPLDlg& dialog) : m_dialog(dialog) { m_dialog.BeginPageWork(); }
        ~PageWork() { m_dialog.EndPageWork(); }
        PageWork(const PageWork&) = delete;
        PageWork& operator=(const PageWork&) = delete;

    private:
        CTarnACPLDlg& m_dialog;
    };
    enum DeferredWork : unsigned {
        kDeferredArrival = 1,
        kDeferredRemoval = 2,
        kDeferredEndpointActive = 4,
        kDeferredPlaybackMode = 8,
        kDeferredAsioMode = 16,
        kDeferredExit = 32,
    };
    bool DeferIfBusy(unsigned work);
    void BeginPageWork() { ++m_pageWork; }
    void EndPageWork();
    LRESULT OnDeferredWork(WPARAM, LPARAM);

    // Message and command handlers.
    LRESULT OnTimer(WPARAM id, LPARAM);
    LRESULT OnDeviceChange(WPARAM event, LPARAM data);
    LRESULT OnEndpointActive(WPARAM, LPARAM);
    LRESULT OnVolumeChanged(WPARAM, LPARAM);
    LRESULT OnPlayFormatChanged(WPARAM, LPARAM);
    LRESULT OnRecFormatChanged(WPARAM input, LPARAM);
    LRESULT OnRemoteDatagram(WPARAM slotIndex, LPARAM slot);
    LRESULT OnTray(WPARAM, LPARAM event);
    LRESULT OnTabChange(NMHDR* header);
    void OnModePlayback();
    void OnModeAsio();
    void OnVolumeUp();
    void OnVolumeDown();
    void OnNetworkSetting();
    void OnNetworkServer();
    void OnTrayShow();
    void OnTrayHide();
    void OnExit();
    void OnShowAsio();
    void OnRefreshAsio();

    struct PageEntry {
        std::unique_ptr<CDialog> page;
        char title[kPageTitleChars];
    };

    Options m_options;
    HWND m_window = nullptr;
    int m_versionCode = 4;
    int m_is32Bit = 1;
    USHORT m_vendorId = 0;
    USHORT m_productId = 0;

    // Pages: those in the list are owned by it; the hidden companion (the ASIO
    // page in Playback mode, the Playback page in ASIO mode) and the
    // remote-control page are owned beside it.
    CPPagePlay* m_pagePlay = nullptr;
    CPPageRecord* m_pageRecord = nullptr;
    CPPageASIO* m_pageAsio = nullptr;
    CPPageRemoteCtrl* m_pageRemote = nullptr;
    CDialog* m_pageInformation = nullptr;
    PageEntry m_pages[kMaxPages];
    int m_pageCount = 0;
    int m_asioIndex = 0;
    int m_currentPage = 0;
    std::unique_ptr<CDialog> m_companion;
    // The remote control's view of this dialog (TarnACPLDlgRemote.h); it
    // outlives every remote-control page.
    class RemoteSide;
    std::unique_ptr<RemoteSide> m_remoteSide;
    std::unique_ptr<CDialog> m_remoteOwned;

    int m_arrivalPending = 0;
    int m_pageWork = 0;
    unsigned m_deferredWork = 0;
    PanelSwitches m_switches;
    int m_playbackMode = 0;
    int m_asioMode = 1;
    int m_modeSwitched = 0;
    PanelStatusCopies m_status;
    CTrayIcon m_tray;
    HDEVNOTIFY m_deviceNotify = nullptr;
    HANDLE m_audioDevice = INVALID_HANDLE_VALUE;
    int m_openRetry = 0;
    int m_retryCountdown = 0;
    int m_firstTick = 0;
    std::unique_ptr<EndpointControl> m_endpoints;
    int m_playAvailable = 0;
    int m_recAvailable = 0;
    int m_asioAvailable = 0;
    int m_remoteState = 0;
    DWORD m_playRate = 0;
    WORD m_playBits = 0;
    DWORD m_recRate = 0;
    WORD m_recBits = 0;
    int m_recInputCount = 0;
    KsFormatMasks m_masks;
    UINT m_taskbarCreated = 0;
    HICON m_iconBig = nullptr;
    HICON m_iconSmall = nullptr;
};
