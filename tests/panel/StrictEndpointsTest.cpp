// The panel on virtual endpoints as strict as Windows: held registrations,
// refused and half-failed format writes, per-channel ranges, topologies.
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
        control = std::make_unique<EndpointControl>(nullptr);
        control->UseVersion(kWinCode8, 0);
    }
    void TearDown() override {
        dialog.reset();
        control.reset();
        // Every registration was undone: a watched volume left registered would stay alive.
        EXPECT_EQ(baseline, sim::LiveEndpointObjects());
        InstallDeviceApi(nullptr);
    }
    HRESULT Find() {
        control->ReleaseEndpoints();
        return control->FindEndpoints(kVelmorVendorId, sim::ProductId(state->config), kVelmorAudioInterface, &capture,
                                      &render, &usable);
    }
    static sim::EndpointValues Values(uint32_t endpoint) {
        sim::EndpointValues v = {};
        sim::ReadEndpoint(endpoint, v);
        return v;
    }
    static WAVEFORMATEX Format(uint32_t endpoint) {
        return *reinterpret_cast<const WAVEFORMATEX*>(Values(endpoint).format[0]);
    }
    void StartDialog() {
        PutPanelSwitch(kPanelSwitchKey, kSwitchPlayRec, 1);
        CTarnACPLDlg::Options options;
        options.versionCode = kWinCode7;
        options.arrivalSettleMs = options.volumeKeyHoldMs = options.shutdownWaitMs = 0;
        dialog.reset(new CTarnACPLDlg(options));
        ASSERT_TRUE(dialog->Create(nullptr));
        for (DWORD start = GetTickCount(); GetTickCount() - start < 200;) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }
    static LRESULT Position(CDialog* page, int id) { return SendMessageA(page->Item(id), TBM_GETPOS, 0, 0); }

    sim::SharedState* state = nullptr;
    LONG baseline = 0;
    std::unique_ptr<EndpointControl> control;
    int capture = -1, render = -1, usable = -1;
    RegistrySandbox registry;
    PanelSwitchSandbox switches;
    std::unique_ptr<CTarnACPLDlg> dialog;
};

TEST_F(StrictEndpoints, AFailedThirdWriteLeavesTheStoredFormatAndARefusedOneChangesNothing) {
    ASSERT_EQ(S_OK, Find());
    state->endpoints.failPropertyWrite = 3;
    EXPECT_EQ(E_FAIL, control->SetRenderFormat(16, 44100));
    EXPECT_EQ(48000u, Format(sim::kDeviceRender).nSamplesPerSec);
    EXPECT_EQ(48000u, control->RenderEndpoint(0)->deviceFormat.Format.nSamplesPerSec);
    state->endpoints.failPropertyWrite = 0;
    state->config.maxBits = 16;
    EXPECT_EQ(AUDCLNT_E_UNSUPPORTED_FORMAT, control->SetCaptureFormat(0, 24, 96000));
    EXPECT_EQ(48000u, Format(sim::kDeviceLineIn).nSamplesPerSec);
}

TEST_F(StrictEndpoints, TopologiesChangeWhatTheSearchFinds) {
    for (uint32_t topology : {sim::kTopologyCaptureOnly, sim::kTopologyWrongFlow}) {
        state->endpoints.topology = topology;  // the wrong flow fails the walk (0x88890003)
        EXPECT_EQ(S_OK, Find()) << topology;
        EXPECT_EQ(0, render + usable) << topology;
        EXPECT_EQ(2u, control->CaptureCount());
    }
    state->endpoints.topology = sim::kTopologyMany;  // ten and eleven matches: the first eight of each
    ASSERT_EQ(S_OK, Find());
    EXPECT_EQ(kMaxEndpointsPerDirection, control->RenderCount());
    EXPECT_EQ(kMaxEndpointsPerDirection, control->CaptureCount());
    EXPECT_EQ(S_OK, control->SetCaptureFormat(kMaxEndpointsPerDirection - 1, 16, 96000));
}

TEST_F(StrictEndpoints, RecordPageHidesWhatTheDeviceCannotTakeAndPutsARefusedInputBack) {
    state->config.maxBits = 16;
    state->endpoints.topology = sim::kTopologyNoMux;
    StartDialog();
    CPPageRecord* page = dialog->RecordPage();
    ASSERT_NE(nullptr, page);
    EXPECT_FALSE(IsShown(page->Item(IDC_REC_BITS24)) || IsWindowEnabled(page->Item(IDC_REC_BITS32)));
    EXPECT_EQ(24u, Format(sim::kDeviceLineIn).wBitsPerSample);

    // Without a multiplexer the input cannot change: the combo goes back.
    HWND inputs = page->Item(IDC_REC_INPUT);
    SendMessageA(inputs, CB_SETCURSEL, 1, 0);
    SendMessageA(page->Hwnd(), WM_COMMAND, MAKEWPARAM(IDC_REC_INPUT, CBN_SELCHANGE), reinterpret_cast<LPARAM>(inputs));
    EXPECT_EQ(0, SendMessageA(inputs, CB_GETCURSEL, 0, 0));
    EXPECT_EQ(sim::kLineInFeedId, state->endpoints.muxSelection);
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
    EXPECT_EQ(50, Position(play, IDC_PLAY_LEVEL_LEFT));
    EXPECT_EQ(50, Position(play, IDC_PLAY_LEVEL_RIGHT));
    EXPECT_EQ(50, Position(record, IDC_REC_LEVEL_LEFT));
    EXPECT_EQ(50, Position(record, IDC_REC_LEVEL_RIGHT));
    HWND left = play->Item(IDC_PLAY_LEVEL_LEFT);
    SendMessageA(left, TBM_SETPOS, TRUE, 25);
    SendMessageA(play->Hwnd(), WM_VSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 25), reinterpret_cast<LPARAM>(left));
    EXPECT_EQ(-25.0f, Values(sim::kDeviceRender).level[0]);
}

}  // namespace
