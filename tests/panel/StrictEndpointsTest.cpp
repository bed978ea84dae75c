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
#include <functional>
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
    void StartDialog(DWORD settleMs = 0) {
        PutPanelSwitch(kPanelSwitchKey, kSwitchPlayRec, 1);
        CTarnACPLDlg::Options options;
        options.versionCode = kWinCode7;
        options.volumeKeyHoldMs = options.shutdownWaitMs = 0;
        options.arrivalSettleMs = settleMs;
        dialog.reset(new CTarnACPLDlg(options));
        ASSERT_TRUE(dialog->Create(nullptr));
        PumpUntil([] { return false; }, 200);
    }
    // Lets the endpoint notices posted from the device's thread arrive.
    static bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
        for (DWORD start = GetTickCount(); !done() && GetTickCount() - start < timeoutMs;) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
        return done();
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

// The store takes any blob and may hold it until Commit: the panel asks the
// audio client first and commits what it wrote.
TEST_F(StrictEndpoints, FormatWritesAreAskedOfTheAudioClientAndCommitted) {
    ASSERT_EQ(S_OK, Find());
    for (uint32_t commit : {0u, 1u}) {
        state->endpoints.commitRequired = commit;
        EXPECT_EQ(S_OK, control->SetRenderFormat(16, commit ? 44100 : 96000)) << commit;
        EXPECT_EQ(commit ? 44100u : 96000u, Format(sim::kDeviceRender).nSamplesPerSec) << commit;
    }
    state->config.maxBits = 16;
    const uint32_t writes = Values(sim::kDeviceRender).formatWrites[0];
    EXPECT_EQ(AUDCLNT_E_UNSUPPORTED_FORMAT, control->SetRenderFormat(24, 48000));
    EXPECT_EQ(writes, Values(sim::kDeviceRender).formatWrites[0]);  // nothing written
}

// The device's endpoints turn active one by one after its interfaces: a
// panel started meanwhile waits for them, its settle lets the last one come,
// and one the user enables again later joins the Record page.
TEST_F(StrictEndpoints, PagesFollowEndpointsThatComeLateOrComeBack) {
    ASSERT_EQ(S_OK, sim::SetEndpointUserState(sim::kDeviceSpdifIn, sim::kUserDisabled));
    state->endpoints.arrivalMs = state->endpoints.arrivalSpacingMs = 300;
    sim::Unplug();
    sim::Plug();
    StartDialog(1500);
    ASSERT_TRUE(PumpUntil([&] { return dialog->PlaybackPage() != nullptr; }, 10000)) << "no pages after the arrival";
    EXPECT_NE(nullptr, dialog->RecordPage());  // the line input came 300 ms after the render endpoint
    EXPECT_EQ(1u, dialog->Endpoints()->CaptureCount());
    ASSERT_EQ(S_OK, sim::SetEndpointUserState(sim::kDeviceSpdifIn, sim::kUserActive));
    EXPECT_TRUE(PumpUntil([&] { return dialog->Endpoints()->CaptureCount() == 2; }, 5000)) << "S/PDIF not taken up";
    EXPECT_NE(nullptr, dialog->RecordPage());
}

}  // namespace
