// The real main dialog, its resources linked in, on the virtual device:
// driven by messages, read through its controls.
#include "device/AsioSettingsKey.h"
#include "device/DeviceApi.h"
#include "device/SharedTypes.h"
#include "device/StatusBlock.h"
#include "panel/EndpointControl.h"
#include "panel/PPageASIO.h"
#include "panel/PPagePlay.h"
#include "panel/PPageRemoteCtrl.h"
#include "panel/PanelIds.h"
#include "panel/PanelSwitches.h"
#include "panel/TarnACPLDlg.h"
#include "simulator/SimDevice.h"
#include "tests/panel/PanelTestSupport.h"
#include "tests/support/RegistrySandbox.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using Layout = StatusBlockLayout;
using Titles = std::vector<std::string>;

constexpr int kWindows7 = 4;
constexpr int kWindows8 = 6;
constexpr int kWindowsLater = 7;

// The notification area as the dialog drives it: nothing here can stall it.
std::vector<std::string> g_trayTips;
BOOL WINAPI RecordingTray(DWORD message, PNOTIFYICONDATAA data) {
    if (message == NIM_MODIFY) g_trayTips.push_back(data->szTip);
    return TRUE;
}

class MainDialog : public ::testing::Test {
protected:
    void SetUp() override {
        char name[64];
        std::snprintf(name, sizeof(name), "panel-%lu", GetCurrentProcessId());
        ASSERT_TRUE(sim::Attach(name));
        sim::ResetDevice();
        device = sim::State();
        InstallDeviceApi(&sim::DeviceTable());
    }
    void TearDown() override {
        dialog.reset();
        block.Close();
        InstallDeviceApi(nullptr);
    }

    void Start(int versionCode) {
        CTarnACPLDlg::Options options;
        options.versionCode = versionCode;
        options.arrivalSettleMs = 0;
        options.volumeKeyHoldMs = 0;
        options.shutdownWaitMs = 0;
        options.trayNotify = RecordingTray;
        g_trayTips.clear();
        dialog.reset(new CTarnACPLDlg(options));
        ASSERT_TRUE(dialog->Create(nullptr));
    }
    HWND Item(int id) { return GetDlgItem(dialog->Hwnd(), id); }
    bool Shown(int id) { return IsShown(Item(id)); }
    std::string Text(int id) { return WindowText(Item(id)); }
    Titles PageTitles() {
        Titles titles;
        for (int i = 0; i < dialog->PageCount(); ++i) titles.push_back(dialog->PageTitle(i));
        return titles;
    }
    Titles Strip(int id) { return TabTitles(Item(id)); }
    void Command(WPARAM command) { SendMessageA(dialog->Hwnd(), WM_COMMAND, command, 0); }
    void SelectTab(int stripId, int index) {
        SendMessageA(Item(stripId), TCM_SETCURSEL, index, 0);
        NMHDR header = {Item(stripId), static_cast<UINT_PTR>(stripId), static_cast<UINT>(TCN_SELCHANGE)};
        SendMessageA(dialog->Hwnd(), WM_NOTIFY, stripId, reinterpret_cast<LPARAM>(&header));
    }
    // Lets the endpoint notifications posted from other threads arrive.
    bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
        for (DWORD waited = 0; waited <= timeoutMs; waited += 10) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
            if (done()) return true;
            Sleep(10);
        }
        return false;
    }

    void Tick() { SendMessageA(dialog->Hwnd(), WM_TIMER, IDT_PANEL_POLL, 0); }
    void DeviceNotice(WPARAM event, const char* name) {
        std::vector<char> buffer(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) + std::strlen(name));
        auto* notice = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(buffer.data());
        notice->dbcc_size = static_cast<DWORD>(buffer.size());
        notice->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        std::memcpy(notice->dbcc_name, name, std::strlen(name) + 1);
        SendMessageA(dialog->Hwnd(), WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(notice));
    }

    RegistrySandbox registry;
    PanelSwitchSandbox switches;
    sim::SharedState* device = nullptr;
    CStatusBlock block;
    std::unique_ptr<CTarnACPLDlg> dialog;
};

TEST_F(MainDialog, LaterWindowsShowTheAsioPageAlone) {
    Start(kWindowsLater);
    EXPECT_EQ(kPanelWindowTitle, WindowText(dialog->Hwnd()));
    EXPECT_TRUE(dialog->AsioMode());
    EXPECT_FALSE(dialog->ModeSwitched());
    EXPECT_EQ(Titles({"ASIO"}), PageTitles());
    EXPECT_EQ(Titles({"ASIO"}), Strip(IDC_TAB_ASIO));
    EXPECT_TRUE(Shown(IDC_TAB_ASIO));
    EXPECT_FALSE(Shown(IDC_TAB_PLAYBACK));
    EXPECT_TRUE(Shown(IDC_LINE_ASIO));
    EXPECT_FALSE(Shown(IDC_MODE_PLAYBACK));
    EXPECT_FALSE(Shown(IDC_MODE_ASIO));
    EXPECT_FALSE(Shown(IDC_LABEL_RESOLUTION));
    EXPECT_FALSE(Shown(IDC_ASIO_STATE));
    EXPECT_FALSE(Shown(IDC_REMOTE_GROUP));  // no "RmtCtrlPP": no remote control
    EXPECT_TRUE(dialog->AudioDeviceOpen());
    EXPECT_EQ(0, dialog->AsioIndex());
    ASSERT_NE(nullptr, dialog->AsioPage());
    EXPECT_TRUE(IsShown(dialog->AsioPage()->Hwnd()));
    EXPECT_STREQ("VelmorR5R6", dialog->Tray().Data().szTip);
    EXPECT_NE(0, dialog->VendorId());
    // The device's render filter offers 16 to 32 bits at every rate.
    EXPECT_NE(0u, dialog->FormatMasks().playRates);
    EXPECT_NE(0u, dialog->FormatMasks().playDepths);
}

TEST_F(MainDialog, AsioPageNeedsTheAudioInterfaceOnLaterWindows) {
    sim::Unplug();
    Start(kWindowsLater);
    EXPECT_FALSE(dialog->AudioDeviceOpen());
    EXPECT_FALSE(dialog->AsioAvailable());
    EXPECT_EQ(Titles({"Information"}), PageTitles());
    EXPECT_EQ(Titles({"Information"}), Strip(IDC_TAB_ASIO));
    EXPECT_FALSE(Shown(IDC_REMOTE_GROUP));
}

TEST_F(MainDialog, SwitchOffTheAsioPageLeavesTheInformationPage) {
    PutPanelSwitch(kPanelSwitchKey, kSwitchAsioDrv, 0);
    Start(kWindowsLater);
    EXPECT_EQ(Titles({"Information"}), PageTitles());
}

TEST_F(MainDialog, RemovalBuildsTheInformationPageAndArrivalTheAsioPage) {
    Start(kWindowsLater);
    sim::Unplug();
    EXPECT_EQ(Titles({"Information"}), PageTitles());
    EXPECT_EQ(Titles({"Information"}), Strip(IDC_TAB_ASIO));
    EXPECT_STREQ("N/A", dialog->Tray().Data().szTip);
    EXPECT_FALSE(dialog->AudioDeviceOpen());
    EXPECT_EQ(0, dialog->VendorId());
    EXPECT_EQ(0u, dialog->FormatMasks().playRates);
    EXPECT_FALSE(Shown(IDC_MODE_PLAYBACK));
    EXPECT_FALSE(Shown(IDC_MODE_ASIO));
    EXPECT_FALSE(Shown(IDC_REMOTE_GROUP));
    EXPECT_FALSE(IsWindowEnabled(Item(IDC_VOLUME_UP)));
    EXPECT_EQ(nullptr, dialog->AsioPage());

    sim::Plug();
    EXPECT_STREQ("VelmorR5R6", dialog->Tray().Data().szTip);
    EXPECT_EQ(Titles({"N/A", "VelmorR5R6"}), g_trayTips);
    EXPECT_EQ(Titles({"ASIO"}), PageTitles());
    EXPECT_EQ(Titles({"ASIO"}), Strip(IDC_TAB_ASIO));
    EXPECT_TRUE(dialog->AudioDeviceOpen());
    EXPECT_TRUE(IsShown(dialog->AsioPage()->Hwnd()));
    EXPECT_TRUE(IsWindowEnabled(Item(IDC_VOLUME_UP)));
}

TEST_F(MainDialog, ArrivalOfAnotherDeviceIsIgnored) {
    Start(kWindowsLater);
    CPPageASIO* page = dialog->AsioPage();
    DeviceNotice(DBT_DEVICEARRIVAL, "\\\\?\\USB#VID_046D&PID_0452#5&1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
    DeviceNotice(DBT_DEVICEREMOVECOMPLETE, "\\\\?\\HID#VID_3A45&PID_0452#5&1#{4d1e55b2}");
    DeviceNotice(DBT_DEVICEQUERYREMOVE, "\\\\?\\USB#VID_3A45&PID_0452#5&1#{a5dcbf10}");
    EXPECT_EQ(page, dialog->AsioPage());
    EXPECT_EQ(Titles({"ASIO"}), PageTitles());
    EXPECT_STREQ("VelmorR5R6", dialog->Tray().Data().szTip);
}

TEST_F(MainDialog, EmptyPlaybackModeAndShowAsioWithoutPages) {
    Start(kWindowsLater);
    Command(IDC_MODE_PLAYBACK);  // no Playback page allowed: nothing to show
    EXPECT_TRUE(dialog->PlaybackMode());
    EXPECT_FALSE(dialog->ModeSwitched()) << "cleared once the pages are built";
    EXPECT_TRUE(Shown(IDC_MODE_ASIO));
    EXPECT_EQ(0, dialog->PageCount());
    EXPECT_TRUE(Strip(IDC_TAB_PLAYBACK).empty());
    Command(ID_PANEL_SHOW_ASIO);
    EXPECT_TRUE(IsWindowVisible(dialog->Hwnd()));
    EXPECT_EQ(0, dialog->CurrentPage());

    Command(IDC_MODE_ASIO);
    EXPECT_TRUE(dialog->AsioMode());
    EXPECT_EQ(Titles({"ASIO"}), Strip(IDC_TAB_ASIO));
}

TEST_F(MainDialog, DriverRequestsReachTheWindowThroughThePoll) {
    Start(kWindowsLater);
    ASSERT_EQ(S_OK, block.Open());
    block.Write(&Layout::driverState, kDriverRunning);
    block.Write(&Layout::streamRate, 48000);
    block.Write(&Layout::streamWidth, 24);
    block.Write(&Layout::period, 480);
    block.Write(&Layout::changed, 1);
    block.Write(&Layout::showPanelRequest, 1);
    ShowWindow(dialog->Hwnd(), SW_HIDE);
    Tick();
    EXPECT_EQ(0u, block.ReadOr(&Layout::changed, 9));
    EXPECT_EQ(0u, block.ReadOr(&Layout::showPanelRequest, 9));
    EXPECT_TRUE(IsWindowVisible(dialog->Hwnd()));
    EXPECT_EQ(dialog->AsioIndex(), dialog->CurrentPage());
    HWND page = dialog->AsioPage()->Hwnd();
    EXPECT_EQ("RUNNING", WindowText(GetDlgItem(page, IDC_ASIO_PAGE_STATE)));
    EXPECT_EQ("PCM stream", WindowText(GetDlgItem(page, IDC_ASIO_PAGE_KIND)));
    EXPECT_EQ("2 Channels, 24 bits, 48000 Hz, Buffer 10.0 ms", WindowText(GetDlgItem(page, IDC_ASIO_PAGE_DESCRIPTION)));
    EXPECT_EQ(1, dialog->StatusCopies().asioRunning);
    EXPECT_STREQ("PCM", dialog->StatusCopies().asioFormat);
    // In ASIO mode the summary's stream statics stay hidden.
    EXPECT_FALSE(Shown(IDC_ASIO_STREAM));
    EXPECT_FALSE(Shown(IDC_ASIO_FORMAT));
}

TEST_F(MainDialog, SummaryTextsFollowTheBlock) {
    Start(kWindowsLater);
    ASSERT_EQ(S_OK, block.Open());
    block.Write(&Layout::driverState, kDriverRunning);
    block.Write(&Layout::bitsPerSample, 7);
    block.Write(&Layout::bufferSize, 55);
    block.Write(&Layout::streamRate, 88200);
    block.Write(&Layout::streamWidth, 32);
    block.Write(&Layout::period, 882);
    block.Write(&Layout::dsdActive, 1);
    dialog->ShowAsioSummary(block);
    EXPECT_EQ("RUNNING", Text(IDC_ASIO_STATE));
    EXPECT_EQ("16 bits", Text(IDC_ASIO_PREFERRED));
    EXPECT_EQ(16u, block.ReadOr(&Layout::bitsPerSample, 0));
    EXPECT_EQ("5 ms ", Text(IDC_ASIO_BUFFER));
    EXPECT_EQ("DSD64", Text(IDC_ASIO_FORMAT));
    EXPECT_EQ("2.8224 m ", Text(IDC_ASIO_STREAM));
    EXPECT_STREQ("DSD64", dialog->StatusCopies().asioFormat);
    EXPECT_FLOAT_EQ(10.0f, dialog->StatusCopies().asioBufferMs);
    EXPECT_EQ(88200, dialog->StatusCopies().asioRate);
    block.Write(&Layout::dsdActive, 0);
    dialog->ShowAsioSummary(block);
    EXPECT_EQ("88.2 k / 32 bits ", Text(IDC_ASIO_STREAM));
    block.Write(&Layout::driverState, kDriverPrepared);
    dialog->ShowAsioSummary(block);
    EXPECT_EQ("PREPARED", Text(IDC_ASIO_STATE));
    EXPECT_EQ(0, dialog->StatusCopies().asioRunning);

    dialog->ShowDeviceStreamLine(44100, 24, true);
    EXPECT_EQ("44.1 k / 24 bits ", Text(IDC_DEVICE_STREAM));
    EXPECT_TRUE(Shown(IDC_DEVICE_STREAM));
    EXPECT_EQ(1, dialog->StatusCopies().deviceLineShown);
    dialog->ShowDeviceStreamLine(44100, 24, false);
    EXPECT_FALSE(Shown(IDC_DEVICE_STREAM));
    EXPECT_EQ(0, dialog->StatusCopies().deviceLineShown);
}

TEST_F(MainDialog, VolumeKeysPressAndRelease) {
    Start(kWindowsLater);
    uint32_t before = device->reportCount;
    SendMessageA(dialog->Hwnd(), WM_COMMAND, MAKEWPARAM(IDC_VOLUME_UP, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Item(IDC_VOLUME_UP)));
    SendMessageA(dialog->Hwnd(), WM_COMMAND, MAKEWPARAM(IDC_VOLUME_DOWN, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Item(IDC_VOLUME_DOWN)));
    ASSERT_EQ(before + 4, device->reportCount);
    const uint8_t expected[4] = {1, 0, 2, 0};
    for (uint32_t i = 0; i < 4; ++i) {
        const sim::Report& report = device->reports[(before + i) % sim::kReportLogSize];
        EXPECT_EQ(0xF6, report.data[1]);
        EXPECT_EQ(0x61, report.data[2]);
        EXPECT_EQ(expected[i], report.data[3]);
        EXPECT_EQ(0, report.data[4]);
    }
    EXPECT_EQ(BST_UNCHECKED, SendMessageA(Item(IDC_VOLUME_UP), BM_GETCHECK, 0, 0));
}

TEST_F(MainDialog, HideMinimiseShowAndExit) {
    Start(kWindowsLater);
    ShowWindow(dialog->Hwnd(), SW_SHOW);
    SendMessageA(dialog->Hwnd(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(Item(IDOK)));
    EXPECT_FALSE(IsWindowVisible(dialog->Hwnd()));
    Command(ID_TRAY_SHOW);
    EXPECT_TRUE(IsWindowVisible(dialog->Hwnd()));
    SendMessageA(dialog->Hwnd(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_FALSE(IsWindowVisible(dialog->Hwnd()));
    SendMessageA(dialog->Hwnd(), WM_PANEL_TRAY, 0, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(IsWindowVisible(dialog->Hwnd()));
    EXPECT_FALSE(IsIconic(dialog->Hwnd()));
    Command(ID_TRAY_HIDE);
    EXPECT_FALSE(IsWindowVisible(dialog->Hwnd()));
    Command(ID_PANEL_EXIT);
    EXPECT_EQ(nullptr, dialog->Hwnd());
}

TEST_F(MainDialog, EndpointWindowsWithoutTheDeviceShowInformationInThePlaybackStrip) {
    sim::Unplug();
    Start(kWindows8);
    EXPECT_TRUE(dialog->PlaybackMode());
    EXPECT_EQ(Titles({"Information"}), PageTitles());
    EXPECT_EQ(Titles({"Information"}), Strip(IDC_TAB_PLAYBACK));
    EXPECT_TRUE(Shown(IDC_TAB_PLAYBACK));
    EXPECT_FALSE(Shown(IDC_TAB_ASIO));
    EXPECT_FALSE(Shown(IDC_MODE_ASIO));
    EXPECT_FALSE(Shown(IDC_ASIO_STATE));
}

TEST_F(MainDialog, PlaybackModeListsRecordWithoutItsTabAndAsioModeShowsBoth) {
    PutPanelSwitch(kPanelSwitchKey, kSwitchPlayRec, 1);
    Start(kWindows7);
    ASSERT_TRUE(dialog->PlaybackAvailable() && dialog->RecordAvailable() && dialog->AsioAvailable());
    EXPECT_TRUE(dialog->PlaybackMode());
    EXPECT_EQ(Titles({"Playback", "Record"}), PageTitles());
    EXPECT_EQ(Titles({"Playback"}), Strip(IDC_TAB_PLAYBACK));
    EXPECT_TRUE(Shown(IDC_TAB_PLAYBACK));
    EXPECT_FALSE(Shown(IDC_TAB_ASIO));
    EXPECT_FALSE(Shown(IDC_MODE_PLAYBACK));
    EXPECT_TRUE(Shown(IDC_MODE_ASIO));
    EXPECT_TRUE(Shown(IDC_ASIO_STATE));
    EXPECT_FALSE(Shown(IDC_RESOLUTION));
    EXPECT_FALSE(Shown(IDC_REMOTE_GROUP));  // no "RmtCtrlPP"
    EXPECT_TRUE(IsShown(dialog->Page(0)->Hwnd()));
    EXPECT_FALSE(IsShown(dialog->Page(1)->Hwnd()));
    // The hidden ASIO page feeds the summary statics.
    ASSERT_NE(nullptr, dialog->AsioPage());
    EXPECT_FALSE(IsShown(dialog->AsioPage()->Hwnd()));
    EXPECT_EQ("UNLOAD", Text(IDC_ASIO_STATE));
    EXPECT_EQ("16 bits", Text(IDC_ASIO_PREFERRED));
    EXPECT_EQ(0x3A45, dialog->VendorId());
    EXPECT_NE(0u, dialog->FormatMasks().recRates);

    Command(IDC_MODE_ASIO);
    EXPECT_TRUE(dialog->AsioMode());
    EXPECT_FALSE(dialog->ModeSwitched()) << "cleared once the remote control was handed over";
    EXPECT_EQ(Titles({"Record", "ASIO"}), PageTitles());
    EXPECT_EQ(Titles({"Record", "ASIO"}), Strip(IDC_TAB_ASIO));
    EXPECT_EQ(1, dialog->AsioIndex());
    EXPECT_EQ(0, dialog->CurrentPage());
    EXPECT_TRUE(Shown(IDC_MODE_PLAYBACK));
    EXPECT_FALSE(Shown(IDC_MODE_ASIO));
    EXPECT_TRUE(Shown(IDC_RESOLUTION));
    EXPECT_FALSE(Shown(IDC_ASIO_STATE));
    ASSERT_NE(nullptr, dialog->PlaybackPage());  // the hidden companion
    EXPECT_FALSE(IsShown(dialog->PlaybackPage()->Hwnd()));

    SelectTab(IDC_TAB_ASIO, 1);
    EXPECT_EQ(1, dialog->CurrentPage());
    EXPECT_TRUE(IsShown(dialog->AsioPage()->Hwnd()));
    EXPECT_FALSE(IsShown(dialog->Page(0)->Hwnd()));
    SelectTab(IDC_TAB_ASIO, 0);
    Command(ID_PANEL_SHOW_ASIO);
    EXPECT_EQ(1, dialog->CurrentPage());
    EXPECT_EQ(1, SendMessageA(Item(IDC_TAB_ASIO), TCM_GETCURSEL, 0, 0));

    Command(IDC_MODE_PLAYBACK);
    EXPECT_EQ(Titles({"Playback", "Record"}), PageTitles());
    EXPECT_EQ(Titles({"Playback"}), Strip(IDC_TAB_PLAYBACK));
}

// The messages of one kind waiting in this thread's queue, taken out.
std::vector<WPARAM> Posted(HWND window, UINT message) {
    std::vector<WPARAM> found;
    MSG m;
    while (PeekMessageA(&m, window, message, message, PM_REMOVE)) found.push_back(m.wParam);
    return found;
}

TEST_F(MainDialog, PollReportsEndpointFormatsThatDifferFromTheShownOnes) {
    PutPanelSwitch(kPanelSwitchKey, kSwitchPlayRec, 1);
    Start(kWindows7);
    HWND window = dialog->Hwnd();
    // The pages showed the formats as they were built; one changes elsewhere.
    ASSERT_EQ(S_OK, dialog->Endpoints()->SetRenderFormat(16, 88200));
    Posted(window, WM_PANEL_PLAY_FORMAT_CHANGED);
    Tick();
    EXPECT_EQ(1u, Posted(window, WM_PANEL_PLAY_FORMAT_CHANGED).size());

    DWORD rate = 0;
    WORD bits = 0;
    ASSERT_EQ(S_OK, dialog->ShowPlaybackFormat(&rate, &bits));
    EXPECT_EQ(std::to_string(rate) + " ", Text(IDC_RATE));
    EXPECT_EQ(std::to_string(bits) + " bits", Text(IDC_RESOLUTION));
    Tick();
    EXPECT_TRUE(Posted(window, WM_PANEL_PLAY_FORMAT_CHANGED).empty());

    // Record inputs: each one whose format differs from the stored one, by index.
    ASSERT_EQ(2, dialog->RecordInputCount());
    ASSERT_EQ(S_OK, dialog->Endpoints()->SetCaptureFormat(1, 16, 88200));
    Posted(window, WM_PANEL_REC_FORMAT_CHANGED);
    Tick();
    EXPECT_EQ(std::vector<WPARAM>({1}), Posted(window, WM_PANEL_REC_FORMAT_CHANGED));
    ASSERT_EQ(S_OK, dialog->GetRecordFormat(1, &rate, &bits));
    Tick();
    std::vector<WPARAM> after = Posted(window, WM_PANEL_REC_FORMAT_CHANGED);
    EXPECT_EQ(after.end(), std::find(after.begin(), after.end(), WPARAM(1)));
}

TEST_F(MainDialog, WithoutSwitchesTheEndpointLayoutWaitsForTheAsioButton) {
    Start(kWindows7);
    EXPECT_TRUE(dialog->PlaybackMode());
    EXPECT_TRUE(dialog->AsioAvailable());
    EXPECT_FALSE(dialog->PlaybackAvailable());
    EXPECT_EQ(0, dialog->PageCount());
    EXPECT_TRUE(Strip(IDC_TAB_PLAYBACK).empty());
    EXPECT_TRUE(Shown(IDC_MODE_ASIO));
    Command(IDC_MODE_ASIO);
    EXPECT_EQ(Titles({"ASIO"}), Strip(IDC_TAB_ASIO));
    EXPECT_EQ(0, dialog->AsioIndex());
}

TEST_F(MainDialog, EndpointLayoutRebuildsWhenTheEndpointBecomesActive) {
    PutPanelSwitch(kPanelSwitchKey, kSwitchPlayRec, 1);
    Start(kWindows8);
    sim::Unplug();
    EXPECT_EQ(Titles({"Information"}), Strip(IDC_TAB_PLAYBACK));
    EXPECT_STREQ("N/A", dialog->Tray().Data().szTip);
    // The device's endpoints are watched every 10 ms: let the removal be seen.
    PumpUntil([] { return false; }, 100);
    sim::Plug();
    // The arrival clears the pages; the endpoint's activation builds them.
    ASSERT_TRUE(PumpUntil([&] { return dialog->PageCount() > 0; }, 5000));
    EXPECT_EQ(Titles({"Playback", "Record"}), PageTitles());
    EXPECT_EQ(Titles({"Playback"}), Strip(IDC_TAB_PLAYBACK));
    EXPECT_STREQ("VelmorR5R6", dialog->Tray().Data().szTip);
}

// A mode button pressed while an arrival waits for its endpoints builds the
// Information page; the endpoints' activation then replaces it, never adds to it.
TEST_F(MainDialog, EndpointActivationAfterAModeSwitchReplacesThePages) {
    PutPanelSwitch(kPanelSwitchKey, kSwitchPlayRec, 1);
    Start(kWindows8);
    DeviceNotice(DBT_DEVICEARRIVAL, "\\\\?\\USB#VID_3A45&PID_0452#5&1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
    EXPECT_EQ(0, dialog->PageCount());
    Command(IDC_MODE_ASIO);
    EXPECT_EQ(Titles({"Information"}), PageTitles());
    SendMessageA(dialog->Hwnd(), WM_PANEL_ENDPOINT_ACTIVE, 0, 0);
    EXPECT_EQ(Titles({"Record", "ASIO"}), PageTitles());
    EXPECT_EQ(Titles({"Record", "ASIO"}), Strip(IDC_TAB_ASIO));
    EXPECT_EQ(1, dialog->AsioIndex());
}

// Whatever the build before showed, a mode button is there exactly when it
// leads to a page.
TEST_F(MainDialog, ModeButtonsAlwaysLeadToAPage) {
    Start(kWindows7);  // the program's defaults: no Playback or Record page
    Command(IDC_MODE_ASIO);
    EXPECT_EQ(Titles({"ASIO"}), Strip(IDC_TAB_ASIO));
    EXPECT_FALSE(Shown(IDC_MODE_PLAYBACK));
    Command(IDC_MODE_PLAYBACK);
    EXPECT_TRUE(Shown(IDC_MODE_ASIO));

    sim::Unplug();
    PumpUntil([] { return false; }, 100);
    sim::Plug();
    ASSERT_TRUE(PumpUntil([&] { return Shown(IDC_MODE_ASIO); }, 5000));
    EXPECT_FALSE(Shown(IDC_MODE_PLAYBACK));
    Command(IDC_MODE_ASIO);
    EXPECT_EQ(Titles({"ASIO"}), Strip(IDC_TAB_ASIO));

    dialog.reset();
    PutPanelSwitch(kPanelSwitchKey, kSwitchPlayRec, 1);
    PutPanelSwitch(kPanelSwitchKey, kSwitchAsioDrv, 0);
    Start(kWindows7);
    EXPECT_EQ(Titles({"Playback"}), Strip(IDC_TAB_PLAYBACK));
    EXPECT_FALSE(Shown(IDC_MODE_ASIO));
    EXPECT_FALSE(Shown(IDC_MODE_PLAYBACK));
}

// The "Remote Control" group is there exactly when the remote-control page
// is, also beside an empty strip and after an unplug and plug.
TEST_F(MainDialog, RemoteGroupFollowsTheRemotePage) {
    Start(kWindows7);  // no switches: empty Playback strip, no remote control
    EXPECT_TRUE(Strip(IDC_TAB_PLAYBACK).empty());
    EXPECT_FALSE(Shown(IDC_REMOTE_GROUP));
    EXPECT_FALSE(Shown(IDC_NETWORK_SERVER));
    dialog.reset();
    PutPanelSwitch(kPanelSwitchKey, kSwitchRmtCtrl, 1);
    Start(kWindows7);
    ASSERT_NE(nullptr, dialog->RemotePage());
    EXPECT_TRUE(Shown(IDC_REMOTE_GROUP));
    sim::Unplug();
    EXPECT_FALSE(Shown(IDC_REMOTE_GROUP));
    PumpUntil([] { return false; }, 100);
    sim::Plug();
    ASSERT_TRUE(PumpUntil([&] { return dialog->RemotePage() != nullptr; }, 30000)) << "step: the arrival rebuilds";
    EXPECT_TRUE(Strip(IDC_TAB_PLAYBACK).empty());
    EXPECT_TRUE(Shown(IDC_REMOTE_GROUP));
    EXPECT_TRUE(Shown(IDC_NETWORK_SERVER));
}

// The notice comes for any endpoint: one of another device keeps the arrival
// pending and leaves the Information page, not an empty window.
TEST_F(MainDialog, ActivationOfAnotherEndpointKeepsWaitingForOurs) {
    PutPanelSwitch(kPanelSwitchKey, kSwitchPlayRec, 1);
    Start(kWindows8);
    sim::Unplug();
    DeviceNotice(DBT_DEVICEARRIVAL, "\\\\?\\USB#VID_3A45&PID_0452#5&1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
    SendMessageA(dialog->Hwnd(), WM_PANEL_ENDPOINT_ACTIVE, 0, 0);
    EXPECT_EQ(Titles({"Information"}), PageTitles());
    EXPECT_EQ(Titles({"Information"}), Strip(IDC_TAB_PLAYBACK));
    sim::Plug();
    ASSERT_TRUE(PumpUntil([&] { return dialog->PlaybackPage() != nullptr; }, 5000));
    EXPECT_EQ(Titles({"Playback", "Record"}), PageTitles());
}

// A log-off may end the program before the ASIO page goes: the settings are
// stored when the session asks.
TEST_F(MainDialog, EndOfSessionStoresTheAsioSettings) {
    Start(kWindowsLater);
    ASSERT_NE(nullptr, dialog->AsioPage());
    dialog->AsioPage()->Block().Write(&Layout::bufferSize, 250);
    EXPECT_EQ(TRUE, SendMessageA(dialog->Hwnd(), WM_QUERYENDSESSION, 0, 0));
    uint32_t stored = 0;
    ASSERT_TRUE(GetSettingDword(kValueBufferSize, &stored));
    EXPECT_EQ(250u, stored);
}

// The virtual device, except that while hideServices is set no device names
// its driver's service: the audio interface then cannot be opened.
bool hideServices = false;
BOOL WINAPI ServiceHidingProperty(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property, PDWORD type, PBYTE buffer,
                                  DWORD size, PDWORD required) {
    if (hideServices && property == SPDRP_SERVICE) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    return sim::DeviceTable().SetupDiGetDeviceRegistryPropertyA(set, device, property, type, buffer, size, required);
}

TEST_F(MainDialog, AudioInterfaceThatFailsAfterArrivalIsRetriedEverySeventhTick) {
    DeviceApiTable table = sim::DeviceTable();
    table.SetupDiGetDeviceRegistryPropertyA = ServiceHidingProperty;
    InstallDeviceApi(&table);
    Start(kWindowsLater);
    sim::Unplug();
    hideServices = true;
    sim::Plug();
    hideServices = false;
    EXPECT_FALSE(dialog->AudioDeviceOpen());
    EXPECT_EQ(Titles({"Information"}), PageTitles());
    for (int tick = 1; tick <= 6; ++tick) {
        Tick();
        EXPECT_FALSE(dialog->AudioDeviceOpen()) << "tick " << tick;
    }
    Tick();
    EXPECT_TRUE(dialog->AudioDeviceOpen());
    EXPECT_EQ(Titles({"ASIO"}), PageTitles());
    EXPECT_EQ(Titles({"ASIO"}), Strip(IDC_TAB_ASIO));
    dialog.reset();
    InstallDeviceApi(nullptr);
}

TEST_F(MainDialog, UnplugAndPlugCyclesKeepObjectCountsFlat) {
    Start(kWindowsLater);
    for (int i = 0; i < 5; ++i) {
        sim::Unplug();
        sim::Plug();
    }
    DWORD user = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    DWORD gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    for (int i = 0; i < 100; ++i) {
        sim::Unplug();
        sim::Plug();
    }
    EXPECT_EQ(Titles({"ASIO"}), PageTitles());
    EXPECT_LE(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS), user + 2);
    EXPECT_LE(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), gdi + 2);
}

}  // namespace
