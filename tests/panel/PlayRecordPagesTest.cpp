// The Playback and Record pages: their pure parts, then the real main dialog
// on the virtual device's endpoints (Windows 8 layout, "PlayRecPP" set).
#include "device/DeviceApi.h"
#include "panel/EndpointControl.h"
#include "panel/PPagePlay.h"
#include "panel/PPageRecord.h"
#include "panel/PanelIds.h"
#include "panel/PanelSwitches.h"
#include "panel/PlayRecordFormats.h"
#include "panel/PlayRecordIds.h"
#include "panel/TarnACPLDlg.h"
#include "simulator/SimDevice.h"
#include "simulator/SimState.h"
#include "simulator/endpoints/Endpoints.h"
#include "tests/panel/PanelTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RegistrySandbox.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <mmreg.h>
#include <ks.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

constexpr uint32_t kBit96000 = 1u << 4;
constexpr uint32_t kBit48000 = 1u << 6;
constexpr uint32_t kBit24 = 1u << 1;
constexpr uint32_t kBit16 = 1u << 2;

// ---------------------------------------------------------------- without windows

TEST(PlayRecordFormats, ListRunsDepthThenRateAndTheComboShowsItReversed) {
    PageFormat entries[kMaxPageFormats];
    int count = BuildPageFormats(kBit96000 | kBit48000, kBit24 | kBit16, entries, kMaxPageFormats);
    ASSERT_EQ(4, count);
    // Top to bottom: 16/48000, 16/96000, 24/48000, 24/96000.
    const int expected[4][2] = {{16, 48000}, {16, 96000}, {24, 48000}, {24, 96000}};
    for (int position = 0; position < count; ++position) {
        const PageFormat& entry = entries[FormatEntryAtPosition(count, position)];
        EXPECT_EQ(expected[position][0], entry.bits) << position;
        EXPECT_EQ(expected[position][1], entry.rate) << position;
        EXPECT_EQ(position, FormatPositionOfEntry(count, FormatEntryAtPosition(count, position)));
    }
    // Every format fits, and nothing is written past the room given.
    EXPECT_EQ(27, BuildPageFormats(0x1FF, 0x7, entries, kMaxPageFormats));
    EXPECT_EQ(5, BuildPageFormats(0x1FF, 0x7, entries, 5));
    EXPECT_EQ(0, BuildPageFormats(0x1FF, 0, entries, kMaxPageFormats));
}

TEST(PlayRecordFormats, TrackbarPositionsAndDecibelsBothWays) {
    EXPECT_EQ(10, LevelToPosition(-10.0f, -100.0f, 0.0f));
    EXPECT_FLOAT_EQ(-25.0f, PositionToLevel(25, -100.0f, 0.0f));
    EXPECT_EQ(0, LevelToPosition(0.0f, -100.0f, 0.0f));
    EXPECT_EQ(100, LevelToPosition(-100.0f, -100.0f, 0.0f));
    // The percentage below the maximum is rounded to the nearest position,
    // so that every position comes back from its own level on any range.
    EXPECT_EQ(10, LevelToPosition(-10.25f, -100.0f, 0.0f));
    EXPECT_EQ(10, LevelToPosition(-9.75f, -100.0f, 0.0f));
    const float ranges[][2] = {{-100.0f, 0.0f}, {-24.0f, 24.0f}, {-96.0f, 0.0f}};
    for (const auto& range : ranges) {
        for (int position = 0; position <= kLevelPositions; ++position) {
            EXPECT_EQ(position, LevelToPosition(PositionToLevel(position, range[0], range[1]), range[0], range[1]))
                << range[0] << ".." << range[1];
        }
    }
    EXPECT_EQ(50, LevelToPosition(0.0f, -24.0f, 24.0f));
    EXPECT_FLOAT_EQ(24.0f, PositionToLevel(0, -24.0f, 24.0f));
    // A control without a range, or a level that is not a number, sits at the top.
    EXPECT_EQ(0, LevelToPosition(-5.0f, 0.0f, 0.0f));
    EXPECT_EQ(0, LevelToPosition(std::nanf(""), -100.0f, 0.0f));
}

TEST(PlayRecordFormats, RemoteRecordsListEnabledFormatsAndTwoInputNames) {
    bool rates[kPanelRateCount] = {false, false, false, false, true, false, true, true, false};
    bool depths[kPanelDepthCount] = {false, true, true};
    RecordFormatList list = {};
    FillFormatList(rates, depths, list.words);
    EXPECT_EQ(96000, list.words[0]);
    EXPECT_EQ(48000, list.words[1]);
    EXPECT_EQ(44100, list.words[2]);
    EXPECT_EQ(3, list.words[kFormatListRateCountAt]);
    EXPECT_EQ(24, list.words[kFormatListDepthsAt]);
    EXPECT_EQ(16, list.words[kFormatListDepthsAt + 1]);
    EXPECT_EQ(2, list.words[kFormatListDepthCountAt]);

    // Three inputs: the last two, backwards; the record has no room for more.
    bool isLine[3] = {true, false, true};
    FillInputNames(isLine, 3, &list);
    const char* names = reinterpret_cast<const char*>(&list.words[kRecordInputNamesAt]);
    EXPECT_STREQ("Line In", names);
    EXPECT_STREQ("SPDIF Rx", names + kRecordInputNameChars);
    EXPECT_EQ(2, list.words[kRecordInputNameCountAt]);
    EXPECT_EQ(0, list.words[kRecordInputNameCountAt - 1] & 0xFF000000);
}

TEST(PlayRecordFormats, InputNamesConvertOnlyWhenTheyFit) {
    char name[kInputNameBytes] = "before";
    EXPECT_TRUE(ConvertInputName(L"Line In (Velmor R6)", name));
    EXPECT_STREQ("Line In (Velmor R6)", name);
    std::wstring tooLong(kInputNameBytes, L'x');
    EXPECT_FALSE(ConvertInputName(tooLong.c_str(), name));
    EXPECT_STREQ("Line In (Velmor R6)", name);
    EXPECT_FALSE(ConvertInputName(nullptr, name));
}

// ---------------------------------------------------------------- the pages on the virtual device

constexpr int kWindows8 = 6;

// A notification area that takes every request at once.
BOOL WINAPI NoTray(DWORD, PNOTIFYICONDATAA) { return TRUE; }

class PlayRecordPages : public ::testing::Test {
protected:
    void SetUp() override {
        char name[64];
        std::snprintf(name, sizeof(name), "pages-%lu", GetCurrentProcessId());
        ASSERT_TRUE(sim::Attach(name));
        sim::ResetDevice();
        device = sim::State();
        InstallDeviceApi(&sim::DeviceTable());
        PutPanelSwitch(kPanelSwitchKey, kSwitchPlayRec, 1);
    }
    void TearDown() override {
        dialog.reset();
        InstallDeviceApi(nullptr);
    }
    void Start(int versionCode = kWindows8) {
        CTarnACPLDlg::Options options;
        options.versionCode = versionCode;
        options.arrivalSettleMs = 0;
        options.volumeKeyHoldMs = 0;
        options.shutdownWaitMs = 0;
        options.trayNotify = NoTray;
        dialog.reset(new CTarnACPLDlg(options));
        ASSERT_TRUE(dialog->Create(nullptr));
        Pump();
        play = dialog->PlaybackPage();
        record = dialog->RecordPage();
    }
    // The messages the dialog posted itself, and the endpoints' notices.
    void Pump(DWORD ms = 200) {
        DWORD start = GetTickCount();
        MSG msg;
        do {
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        } while (GetTickCount() - start < ms);
    }
    void Tick() {
        SendMessageA(dialog->Hwnd(), WM_TIMER, IDT_PANEL_POLL, 0);
        Pump();
    }
    static Lines ComboLines(HWND combo) {
        Lines lines;
        int count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            char text[128] = {};
            SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            lines.push_back(text);
        }
        return lines;
    }
    static std::string Selected(HWND combo) {
        LRESULT at = SendMessageA(combo, CB_GETCURSEL, 0, 0);
        if (at < 0) return "";
        char text[128] = {};
        SendMessageA(combo, CB_GETLBTEXT, at, reinterpret_cast<LPARAM>(text));
        return text;
    }
    static void Choose(CDialog* page, int comboId, int position) {
        SendMessageA(page->Item(comboId), CB_SETCURSEL, position, 0);
        SendMessageA(page->Hwnd(), WM_COMMAND, MAKEWPARAM(comboId, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(page->Item(comboId)));
    }
    static void Click(CDialog* page, int id) { SendMessageA(page->Item(id), BM_CLICK, 0, 0); }
    static void Scroll(CDialog* page, int trackbarId, int position) {
        SendMessageA(page->Item(trackbarId), TBM_SETPOS, TRUE, position);
        SendMessageA(page->Hwnd(), WM_VSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position),
                     reinterpret_cast<LPARAM>(page->Item(trackbarId)));
    }
    static int Position(CDialog* page, int trackbarId) {
        return static_cast<int>(SendMessageA(page->Item(trackbarId), TBM_GETPOS, 0, 0));
    }
    static sim::EndpointValues Values(uint32_t endpoint) {
        sim::EndpointValues v = {};
        sim::ReadEndpoint(endpoint, v);
        return v;
    }
    static WAVEFORMATEXTENSIBLE Format(uint32_t endpoint) {
        WAVEFORMATEXTENSIBLE format = {};
        sim::EndpointValues v = Values(endpoint);
        std::memcpy(&format, v.format[0], sizeof(format));
        return format;
    }
    // The control tool in another process, on this device.
    static ChildResult Tool(const std::string& args) {
        std::string tool = SiblingProgram("velmor-sim.exe");
        if (GetFileAttributesA(tool.c_str()) == INVALID_FILE_ATTRIBUTES) tool = OtherArchProgram("velmor-sim.exe");
        if (tool.empty()) return ChildResult();
        return RunChild("\"" + tool + "\" --instance " + sim::InstanceName() + " " + args);
    }
    void PlayStream(bool running, ULONG rate = 0, ULONG bits = 0) {
        sim::StateLock lock;
        sim::Stream& stream = device->streams[0];
        stream.open = running ? 1 : 0;
        stream.state = running ? KSSTATE_RUN : KSSTATE_STOP;
        stream.rate = rate;
        stream.validBits = bits;
        stream.channels = 2;
    }

    RegistrySandbox registry;
    PanelSwitchSandbox switches;
    sim::SharedState* device = nullptr;
    std::unique_ptr<CTarnACPLDlg> dialog;
    CPPagePlay* play = nullptr;
    CPPageRecord* record = nullptr;
};

TEST_F(PlayRecordPages, PlaybackModeListsBothPagesAndTheFormatsBottomUp) {
    {
        sim::StateLock lock;
        device->config.maxBits = 24;  // depths 24 and 16 at every rate
    }
    Start();
    ASSERT_NE(nullptr, play);
    ASSERT_NE(nullptr, record);
    EXPECT_EQ(2, dialog->PageCount());
    EXPECT_EQ(std::string("Playback"), dialog->PageTitle(0));
    EXPECT_EQ(std::string("Record"), dialog->PageTitle(1));

    HWND combo = play->Item(IDC_PLAY_FORMAT);
    Lines lines = ComboLines(combo);
    ASSERT_EQ(18u, lines.size());
    EXPECT_EQ("2 Channels, 16 bits, 32000 Hz", lines.front());
    EXPECT_EQ("2 Channels, 16 bits, 44100 Hz", lines[1]);
    EXPECT_EQ("2 Channels, 16 bits, 384000 Hz", lines[8]);
    EXPECT_EQ("2 Channels, 24 bits, 32000 Hz", lines[9]);
    EXPECT_EQ("2 Channels, 24 bits, 384000 Hz", lines.back());
    // Re-selected from the endpoint's own format.
    EXPECT_EQ("2 Channels, 24 bits, 48000 Hz", Selected(combo));
    EXPECT_EQ(48000u, dialog->PlaybackRate());
    EXPECT_EQ("48000 ", WindowText(GetDlgItem(dialog->Hwnd(), IDC_RATE)));

    // The top line goes to the endpoint and into the main dialog.
    Choose(play, IDC_PLAY_FORMAT, 0);
    WAVEFORMATEXTENSIBLE format = Format(sim::kDeviceRender);
    EXPECT_EQ(32000u, format.Format.nSamplesPerSec);
    EXPECT_EQ(16u, format.Format.wBitsPerSample);
    EXPECT_EQ(32000u, dialog->PlaybackRate());
    EXPECT_EQ(16u, dialog->PlaybackBits());

    // The radios (outside the visible page) set a format too.
    Click(play, IDC_PLAY_RATE96000);
    Click(play, IDC_PLAY_BITS24);
    EXPECT_EQ(96000u, Format(sim::kDeviceRender).Format.nSamplesPerSec);
    EXPECT_EQ(24u, Format(sim::kDeviceRender).Format.wBitsPerSample);

    // The remote control's list: what the device's masks offer (the page's
    // own radios are all enabled).
    PlayFormatList list = {};
    ASSERT_EQ(S_OK, play->GetSupportedFormats(&list));
    EXPECT_EQ(9, list.words[kFormatListRateCountAt]);
    EXPECT_EQ(384000, list.words[0]);
    EXPECT_EQ(2, list.words[kFormatListDepthCountAt]);
    EXPECT_EQ(24, list.words[kFormatListDepthsAt]);
    EXPECT_TRUE(IsWindowEnabled(play->Item(IDC_PLAY_BITS32)));
}

TEST_F(PlayRecordPages, ComboFollowsAFormatChangedElsewhereAndARefusalChangesNothing) {
    Start();
    ASSERT_NE(nullptr, play);
    HWND combo = play->Item(IDC_PLAY_FORMAT);
    ASSERT_EQ(S_OK, dialog->Endpoints()->SetRenderFormat(16, 88200));
    Tick();  // the poll sees the change and posts it to the page
    EXPECT_EQ("2 Channels, 16 bits, 88200 Hz", Selected(combo));
    EXPECT_EQ(88200u, dialog->PlaybackRate());

    {
        sim::StateLock lock;
        sim::Endpoints(*device).refusePropertyWrite = 1;
    }
    Choose(play, IDC_PLAY_FORMAT, 0);
    EXPECT_EQ(88200u, Format(sim::kDeviceRender).Format.nSamplesPerSec);
    EXPECT_EQ(88200u, dialog->PlaybackRate());
    EXPECT_EQ(16u, dialog->PlaybackBits());
}

TEST_F(PlayRecordPages, PlaybackVolumeBothWaysAndTheVolumeKey) {
    Start();
    ASSERT_NE(nullptr, play);
    ASSERT_EQ(S_OK, sim::SetEndpointLevel(sim::kDeviceRender, ~0u, -10.0f, nullptr));
    Pump(500);  // the endpoint's notice reaches the dialog
    EXPECT_EQ(10, Position(play, IDC_PLAY_LEVEL_LEFT));
    EXPECT_EQ(10, Position(play, IDC_PLAY_LEVEL_RIGHT));

    // The channels are not linked: only the left level moves.
    Scroll(play, IDC_PLAY_LEVEL_LEFT, 25);
    sim::EndpointValues v = Values(sim::kDeviceRender);
    EXPECT_FLOAT_EQ(-25.0f, v.level[0]);
    EXPECT_FLOAT_EQ(-10.0f, v.level[1]);

    // "Volume +" steps the device's level; the trackbars follow.
    ASSERT_EQ(S_OK, sim::SetEndpointLevel(sim::kDeviceRender, ~0u, -10.5f, nullptr));
    Pump(500);
    EXPECT_EQ(11, Position(play, IDC_PLAY_LEVEL_LEFT));
    SendMessageA(dialog->Hwnd(), WM_COMMAND, IDC_VOLUME_UP, 0);
    Pump(500);
    EXPECT_FLOAT_EQ(-10.0f, Values(sim::kDeviceRender).level[0]);
    EXPECT_EQ(10, Position(play, IDC_PLAY_LEVEL_LEFT));
    EXPECT_EQ(10, Position(play, IDC_PLAY_LEVEL_RIGHT));

    // Mute both ways.
    play->SetCheck(IDC_PLAY_MUTE, true);
    SendMessageA(play->Hwnd(), WM_COMMAND, MAKEWPARAM(IDC_PLAY_MUTE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(play->Item(IDC_PLAY_MUTE)));
    EXPECT_EQ(1u, Values(sim::kDeviceRender).mute);
    EXPECT_EQ(TRUE, dialog->Endpoints()->RenderEndpoint(0)->muteState[0]);
    ASSERT_EQ(S_OK, sim::SetEndpointMute(sim::kDeviceRender, FALSE, nullptr));
    Pump(500);
    EXPECT_FALSE(play->IsChecked(IDC_PLAY_MUTE));
}

TEST_F(PlayRecordPages, RecordFormatOfOneInputGoesToEveryInput) {
    Start();
    ASSERT_NE(nullptr, record);
    EXPECT_EQ(2, record->InputCount());
    EXPECT_EQ(2, dialog->RecordInputCount());
    // Only the formats of the capture pin are offered.
    EXPECT_TRUE(IsShown(record->Item(IDC_REC_RATE48000)));
    EXPECT_TRUE(IsWindowEnabled(record->Item(IDC_REC_BITS24)));
    EXPECT_TRUE(record->IsChecked(IDC_REC_RATE48000));
    EXPECT_TRUE(record->IsChecked(IDC_REC_BITS24));

    ASSERT_EQ(S_OK, dialog->Endpoints()->SetCaptureFormat(1, 16, 96000));
    Tick();  // input 1 differs: the page reads it and applies it to all
    for (uint32_t input : {sim::kDeviceLineIn, sim::kDeviceSpdifIn}) {
        EXPECT_EQ(96000u, Format(input).Format.nSamplesPerSec) << input;
        EXPECT_EQ(16u, Format(input).Format.wBitsPerSample) << input;
    }
    EXPECT_TRUE(record->IsChecked(IDC_REC_RATE96000));
    EXPECT_FALSE(record->IsChecked(IDC_REC_RATE48000));
    EXPECT_TRUE(record->IsChecked(IDC_REC_BITS16));
    EXPECT_EQ(96000u, dialog->RecordRate());

    // A radio click does the same.
    Click(record, IDC_REC_RATE44100);
    for (uint32_t input : {sim::kDeviceLineIn, sim::kDeviceSpdifIn}) {
        EXPECT_EQ(44100u, Format(input).Format.nSamplesPerSec) << input;
    }

    RecordFormatList list = {};
    ASSERT_EQ(S_OK, record->GetSupportedFormats(&list));
    const char* names = reinterpret_cast<const char*>(&list.words[kRecordInputNamesAt]);
    EXPECT_STREQ("SPDIF Rx", names);
    EXPECT_STREQ("Line In", names + kRecordInputNameChars);
    EXPECT_EQ(2, list.words[kRecordInputNameCountAt]);
}

// A format no radio shows stays on the inputs when the page is built again.
TEST_F(PlayRecordPages, RecordPageBuildLeavesAFormatItCannotShow) {
    Start();
    {
        // A rate the device does not take (the store refuses it now), left by an earlier driver.
        sim::StateLock lock;
        for (uint32_t input : {sim::kDeviceLineIn, sim::kDeviceSpdifIn}) {
            auto* format = reinterpret_cast<WAVEFORMATEX*>(sim::Endpoints(*device).endpoint[input].format[0]);
            format->nSamplesPerSec = 22050;
            format->nAvgBytesPerSec = 22050 * format->nBlockAlign;
        }
    }
    SendMessageA(dialog->Hwnd(), WM_COMMAND, IDC_MODE_PLAYBACK, 0);
    ASSERT_NE(nullptr, dialog->RecordPage());
    for (uint32_t input : {sim::kDeviceLineIn, sim::kDeviceSpdifIn}) {
        EXPECT_EQ(22050u, Format(input).Format.nSamplesPerSec) << input;
    }
}

TEST_F(PlayRecordPages, SpdifInputHidesTheLevelsAndMute) {
    Start();
    ASSERT_NE(nullptr, record);
    HWND inputs = record->Item(IDC_REC_INPUT);
    Lines names = ComboLines(inputs);
    ASSERT_EQ(2u, names.size());
    EXPECT_NE(std::string::npos, names[0].find("Line In"));
    EXPECT_NE(std::string::npos, names[1].find("S/PDIF In"));
    EXPECT_EQ(0, record->CurrentInput());
    EXPECT_TRUE(IsLineConnector(record->InputConnectors()[0]));
    EXPECT_FALSE(IsLineConnector(record->InputConnectors()[1]));
    const int lineControls[] = {IDC_REC_LEVEL_LEFT, IDC_REC_LEVEL_RIGHT, IDC_REC_LABEL_LEFT, IDC_REC_LABEL_RIGHT,
                                IDC_REC_MUTE};
    for (int id : lineControls) EXPECT_TRUE(IsShown(record->Item(id))) << id;
    // The line input's level: 0 dB on -24..24 is half way.
    EXPECT_EQ(50, Position(record, IDC_REC_LEVEL_LEFT));
    Scroll(record, IDC_REC_LEVEL_RIGHT, 25);
    EXPECT_FLOAT_EQ(12.0f, Values(sim::kDeviceLineIn).level[1]);
    Click(record, IDC_REC_MUTE);
    EXPECT_EQ(1u, Values(sim::kDeviceLineIn).mute);
    EXPECT_EQ(TRUE, dialog->Endpoints()->CaptureEndpoint(0)->muteState[0]);

    Choose(record, IDC_REC_INPUT, 1);
    EXPECT_EQ(1, record->CurrentInput());
    EXPECT_EQ(sim::kSpdifInFeedId, sim::Endpoints(*device).muxSelection);
    for (int id : lineControls) EXPECT_FALSE(IsShown(record->Item(id))) << id;

    // Selected elsewhere: the page asks the multiplexer.
    ASSERT_EQ(S_OK, sim::SetRecordSelection(sim::kLineInFeedId));
    record->ReselectCurrentInput();
    EXPECT_EQ(0, record->CurrentInput());
    EXPECT_EQ(0, SendMessageA(inputs, CB_GETCURSEL, 0, 0));
    for (int id : lineControls) EXPECT_TRUE(IsShown(record->Item(id))) << id;
}

TEST_F(PlayRecordPages, DeviceStreamShowsOnThePageAndInAsioModeOnTheMainDialog) {
    Start();
    ASSERT_NE(nullptr, play);
    HWND line = play->Item(IDC_PLAY_DEVICE_FORMAT);
    Tick();
    EXPECT_FALSE(IsShown(line));
    PlayStream(true, 96000, 24);
    Tick();
    EXPECT_TRUE(IsShown(line));
    EXPECT_EQ("2 ch, 24 bits, 96000 Hz", WindowText(line));
    EXPECT_FALSE(IsShown(GetDlgItem(dialog->Hwnd(), IDC_DEVICE_STREAM)));  // Playback mode
    PlayStream(false);
    Tick();
    EXPECT_FALSE(IsShown(line));

    // ASIO mode: the hidden Playback page feeds line 1057.
    SendMessageA(dialog->Hwnd(), WM_COMMAND, IDC_MODE_ASIO, 0);
    ASSERT_NE(nullptr, dialog->PlaybackPage());
    EXPECT_FALSE(IsShown(dialog->PlaybackPage()->Hwnd()));
    HWND stream = GetDlgItem(dialog->Hwnd(), IDC_DEVICE_STREAM);
    PlayStream(true, 44100, 16);
    Tick();
    EXPECT_TRUE(IsShown(stream));
    EXPECT_EQ("44.1 k / 16 bits ", WindowText(stream));
    EXPECT_EQ(1, dialog->StatusCopies().deviceLineShown);
    PlayStream(false);
    Tick();
    EXPECT_FALSE(IsShown(stream));
}

TEST_F(PlayRecordPages, PagesFollowTheControlToolAndItSeesTheChosenFormat) {
    Start();
    ASSERT_NE(nullptr, play);
    ChildResult volume = Tool("volume render -30 -40");
    if (!volume.started) GTEST_SKIP() << "no velmor-sim here";
    ASSERT_EQ(0u, volume.exitCode) << volume.output;
    Pump(500);
    EXPECT_EQ(30, Position(play, IDC_PLAY_LEVEL_LEFT));
    EXPECT_EQ(40, Position(play, IDC_PLAY_LEVEL_RIGHT));

    ASSERT_EQ(0u, Tool("format render 16 44100").exitCode);
    Tick();
    EXPECT_EQ("2 Channels, 16 bits, 44100 Hz", Selected(play->Item(IDC_PLAY_FORMAT)));

    Choose(play, IDC_PLAY_FORMAT, 0);  // 16 bits, 32000 Hz
    ChildResult list = Tool("endpoints --json");
    EXPECT_NE(std::string::npos, list.output.find("\"flow\":\"render\",\"device\":true,\"active\":true,"
                                                  "\"channels\":2,\"rate\":32000,\"bits\":16"))
        << list.output;
}

TEST_F(PlayRecordPages, PagesWithoutAParentOnlyShowTheDeviceStream) {
    TestWindow parent;
    CPPagePlay page(nullptr);
    ASSERT_TRUE(page.Create(parent.Hwnd()));
    EXPECT_EQ(0, page.FormatCount());
    page.RefreshVolume();
    page.ReselectCurrentFormat();
    page.ShowDeviceFormat(S_OK, true, 48000, 16, true);
    EXPECT_TRUE(IsShown(page.Item(IDC_PLAY_DEVICE_FORMAT)));
    page.ShowDeviceFormat(E_FAIL, true, 48000, 16, false);
    EXPECT_FALSE(IsShown(page.Item(IDC_PLAY_DEVICE_FORMAT)));
    CPPageRecord recordPage(nullptr);
    ASSERT_TRUE(recordPage.Create(parent.Hwnd()));
    EXPECT_EQ(0, recordPage.InputCount());
    recordPage.RefreshFromInput(3);
    EXPECT_EQ(E_POINTER, recordPage.GetSupportedFormats(nullptr));
}

}  // namespace
