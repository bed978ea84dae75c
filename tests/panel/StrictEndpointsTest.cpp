// The panel on virtual endpoints that are as strict as Windows: the
// references its registrations hold, format writes the device refuses or
// that fail half way, and the device topologies it must cope with.
#include "device/DeviceApi.h"
#include "device/SupportedDevices.h"
#include "panel/EndpointControl.h"
#include "panel/PPagePlay.h"
#include "panel/PPageRecord.h"
#include "panel/PanelSwitches.h"
#include "panel/PlayRecordIds.h"
#include "panel/TarnACPLDlg.h"
#include "simulator/SimDevice.h"
#include "simulator/SimModel.h"
#include "simulator/endpoints/Endpoints.h"
#include "tests/panel/PanelTestSupport.h"
#include "tests/support/RegistrySandbox.h"

#include <gtest/gtest.h>

#include <audioclient.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

class StrictEndpoints : public ::testing::Test {
protected:
    void SetUp() override {
        char name[64];
        std::snprintf(name, sizeof(name), "strict-%lu", GetCurrentProcessId());
        ASSERT_TRUE(sim::Attach(name));
        sim::ResetDevice();
        InstallDeviceApi(&sim::DeviceTable());
        state = sim::State();
        baseline = sim::LiveEndpointObjects();
        window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        control = std::make_unique<EndpointControl>(window);
        control->UseVersion(kWinCode7, 0);
    }
    void TearDown() override {
        dialog.reset();
        control.reset();
        EXPECT_EQ(baseline, sim::LiveEndpointObjects());  // every registration was undone
        if (window) DestroyWindow(window);
        InstallDeviceApi(nullptr);
    }
    HRESULT Find() {
        return control->FindEndpoints(kVelmorVendorId, sim::ProductId(state->config), kVelmorAudioInterface, &capture,
                                      &render, &usable);
    }
    void Topology(sim::EndpointTopology topology) {
        sim::StateLock shared;
        sim::Endpoints(*state).topology = topology;
    }
    static WAVEFORMATEXTENSIBLE Format(uint32_t endpoint) {
        sim::EndpointValues v = {};
        sim::ReadEndpoint(endpoint, v);
        WAVEFORMATEXTENSIBLE format;
        std::memcpy(&format, v.format[0], sizeof(format));
        return format;
    }
    // The main dialog in Playback mode (Windows 7), pages built.
    void StartDialog() {
        PutPanelSwitch(kPanelSwitchKey, kSwitchPlayRec, 1);
        CTarnACPLDlg::Options options;
        options.versionCode = kWinCode7;
        options.arrivalSettleMs = 0;
        options.volumeKeyHoldMs = 0;
        options.shutdownWaitMs = 0;
        dialog.reset(new CTarnACPLDlg(options));
        ASSERT_TRUE(dialog->Create(nullptr));
        DWORD start = GetTickCount();
        MSG msg;
        do {
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        } while (GetTickCount() - start < 200);
    }

    sim::SharedState* state = nullptr;
    LONG baseline = 0;
    HWND window = nullptr;
    std::unique_ptr<EndpointControl> control;
    int capture = -1, render = -1, usable = -1;
    RegistrySandbox registry;
    PanelSwitchSandbox switches;
    std::unique_ptr<CTarnACPLDlg> dialog;
};

TEST_F(StrictEndpoints, WatchedVolumesHoldThePlayerUntilTheEndpointsAreReleased) {
    ASSERT_EQ(S_OK, Find());
    Player* player = control->GetPlayer();
    ASSERT_TRUE(player->Watching(eRender) && player->Watching(eCapture));
    // Its own reference, and one for each watched endpoint volume.
    EXPECT_EQ(4u, player->AddRef());
    player->Release();
    control->ReleaseEndpoints();
    EXPECT_EQ(2u, player->AddRef());
    player->Release();
    ASSERT_EQ(S_OK, Find());  // found again: the destructor has registrations to undo
}

TEST_F(StrictEndpoints, AFailedThirdWriteLeavesTheStoredFormatAndARefusedOneChangesNothing) {
    control->UseVersion(kWinCode8, 0);
    ASSERT_EQ(S_OK, Find());
    {
        sim::StateLock shared;
        sim::Endpoints(*state).failPropertyWrite = 3;
    }
    EXPECT_EQ(E_FAIL, control->SetRenderFormat(16, 44100));
    EXPECT_EQ(48000u, Format(sim::kDeviceRender).Format.nSamplesPerSec);
    EXPECT_EQ(24u, Format(sim::kDeviceRender).Format.wBitsPerSample);
    EXPECT_EQ(48000u, control->RenderEndpoint(0)->deviceFormat.Format.nSamplesPerSec);
    {
        sim::StateLock shared;
        sim::Endpoints(*state).failPropertyWrite = 0;
    }
    state->config.maxBits = 16;
    EXPECT_EQ(AUDCLNT_E_UNSUPPORTED_FORMAT, control->SetCaptureFormat(0, 24, 96000));
    EXPECT_EQ(AUDCLNT_E_UNSUPPORTED_FORMAT, control->SetCaptureFormat(0, 16, 22050));
    EXPECT_EQ(48000u, Format(sim::kDeviceLineIn).Format.nSamplesPerSec);
}

TEST_F(StrictEndpoints, TopologiesWithoutAUsableRenderEndpointFindTheRecordSideOnly) {
    for (sim::EndpointTopology topology : {sim::kTopologyCaptureOnly, sim::kTopologyWrongFlow}) {
        Topology(topology);
        control->ReleaseEndpoints();
        EXPECT_EQ(S_OK, Find()) << topology;
        EXPECT_EQ(0, render) << topology;  // the wrong flow fails the walk (0x88890003)
        EXPECT_EQ(1, capture) << topology;
        EXPECT_EQ(0, usable) << topology;
        EXPECT_EQ(0u, control->RenderCount());
        EXPECT_EQ(2u, control->CaptureCount());
        EXPECT_EQ(E_FAIL, control->SetRenderFormat(16, 48000));
    }
}

TEST_F(StrictEndpoints, NineMatchesAndMoreKeepTheFirstEight) {
    Topology(sim::kTopologyMany);
    ASSERT_EQ(S_OK, Find());
    EXPECT_EQ(kMaxEndpointsPerDirection, control->RenderCount());
    EXPECT_EQ(kMaxEndpointsPerDirection, control->CaptureCount());
    EXPECT_EQ(0, std::wcscmp(sim::Endpoint(sim::kDeviceRender).id, control->RenderEndpoint(0)->id));
    EXPECT_EQ(S_OK, control->SetCaptureFormat(kMaxEndpointsPerDirection - 1, 16, 96000));
    UINT selected = 9;
    EXPECT_EQ(S_OK, control->GetSelectedInput(&selected));
    EXPECT_EQ(0u, selected);
}

TEST_F(StrictEndpoints, RecordPageHidesWhatTheDeviceCannotTakeAndPutsARefusedInputBack) {
    state->config.maxBits = 16;
    for (uint32_t input : {sim::kDeviceLineIn, sim::kDeviceSpdifIn}) {
        WAVEFORMATEXTENSIBLE f = Format(input);
        f.Format.wBitsPerSample = f.Samples.wValidBitsPerSample = 16;
        f.Format.nBlockAlign = 4;
        f.Format.nAvgBytesPerSec = 4 * f.Format.nSamplesPerSec;
        sim::StateLock shared;
        std::memcpy(sim::Endpoints(*state).endpoint[input].format[0], &f, sizeof(f));
    }
    Topology(sim::kTopologyNoMux);
    StartDialog();
    CPPageRecord* page = dialog->RecordPage();
    ASSERT_NE(nullptr, page);
    EXPECT_FALSE(IsShown(page->Item(IDC_REC_BITS24)));
    EXPECT_FALSE(IsWindowEnabled(page->Item(IDC_REC_BITS32)));
    EXPECT_TRUE(page->IsChecked(IDC_REC_BITS16));
    EXPECT_EQ(16u, Format(sim::kDeviceSpdifIn).Format.wBitsPerSample);

    // Without a multiplexer the input cannot change: the combo goes back.
    HWND inputs = page->Item(IDC_REC_INPUT);
    SendMessageA(inputs, CB_SETCURSEL, 1, 0);
    SendMessageA(page->Hwnd(), WM_COMMAND, MAKEWPARAM(IDC_REC_INPUT, CBN_SELCHANGE), reinterpret_cast<LPARAM>(inputs));
    EXPECT_EQ(0, SendMessageA(inputs, CB_GETCURSEL, 0, 0));
    EXPECT_EQ(0, page->CurrentInput());
    EXPECT_EQ(sim::kLineInFeedId, sim::Endpoints(*state).muxSelection);
}

TEST_F(StrictEndpoints, EachTrackbarFollowsItsOwnChannelsRange) {
    ASSERT_EQ(S_OK, sim::SetEndpointRange(sim::kDeviceRender, 1, {-50.0f, 0.0f, 0.5f}));
    ASSERT_EQ(S_OK, sim::SetEndpointLevel(sim::kDeviceRender, 0, -50.0f, nullptr));
    ASSERT_EQ(S_OK, sim::SetEndpointLevel(sim::kDeviceRender, 1, -25.0f, nullptr));
    ASSERT_EQ(S_OK, sim::SetEndpointRange(sim::kDeviceLineIn, 1, {-96.0f, 0.0f, 0.5f}));
    ASSERT_EQ(S_OK, sim::SetEndpointLevel(sim::kDeviceLineIn, 1, -48.0f, nullptr));
    StartDialog();
    CPPagePlay* play = dialog->PlaybackPage();
    CPPageRecord* record = dialog->RecordPage();
    ASSERT_TRUE(play && record);
    auto position = [](CDialog* page, int id) { return SendMessageA(page->Item(id), TBM_GETPOS, 0, 0); };
    EXPECT_EQ(50, position(play, IDC_PLAY_LEVEL_LEFT));
    EXPECT_EQ(50, position(play, IDC_PLAY_LEVEL_RIGHT));
    EXPECT_EQ(50, position(record, IDC_REC_LEVEL_LEFT));
    EXPECT_EQ(50, position(record, IDC_REC_LEVEL_RIGHT));

    // A move of the left trackbar sets the left level on the left channel's range.
    HWND left = play->Item(IDC_PLAY_LEVEL_LEFT);
    SendMessageA(left, TBM_SETPOS, TRUE, 25);
    SendMessageA(play->Hwnd(), WM_VSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 25), reinterpret_cast<LPARAM>(left));
    sim::EndpointValues v = {};
    sim::ReadEndpoint(sim::kDeviceRender, v);
    EXPECT_EQ(-25.0f, v.level[0]);
    EXPECT_EQ(-25.0f, v.level[1]);
}

}  // namespace
