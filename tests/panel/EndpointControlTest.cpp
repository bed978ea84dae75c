// The panel's endpoint control against the virtual device's Core Audio endpoints.
#include "panel/EndpointControl.h"
#include "panel/PanelMessages.h"

#include "device/EndpointKeys.h"
#include "device/HidChannel.h"
#include "device/KsConstants.h"
#include "device/SupportedDevices.h"
#include "simulator/SimDevice.h"
#include "simulator/SimModel.h"
#include "simulator/endpoints/Endpoints.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <psapi.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

class EndpointControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[64];
        snprintf(name, sizeof(name), "panel-%lu", GetCurrentProcessId());
        ASSERT_TRUE(sim::Attach(name));
        sim::ResetDevice();
        InstallDeviceApi(&sim::DeviceTable());
        state = sim::State();
        ASSERT_NE(nullptr, state);
        window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, window);
        control = std::make_unique<EndpointControl>(window);
        control->UseVersion(kWinCode7, 0);
    }
    void TearDown() override {
        control.reset();
        if (window) DestroyWindow(window);
        InstallDeviceApi(nullptr);
    }

    HRESULT Find() {
        return control->FindEndpoints(kVelmorVendorId, sim::ProductId(state->config), kVelmorAudioInterface, &capture,
                                      &render, &usable);
    }
    static sim::EndpointValues Values(uint32_t endpoint) {
        sim::EndpointValues v = {};
        sim::ReadEndpoint(endpoint, v);
        return v;
    }
    void SetFault(uint32_t sim::EndpointsState::*fault) {
        sim::StateLock shared;
        sim::Endpoints(*state).*fault = 1;
    }
    // Waits for a posted message of the window; false when none came.
    bool Posted(UINT message, DWORD timeoutMs = 3000) {
        DWORD start = GetTickCount();
        MSG msg;
        do {
            if (PeekMessageA(&msg, window, message, message, PM_REMOVE)) return true;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_POSTMESSAGE);
        } while (GetTickCount() - start < timeoutMs);
        return false;
    }
    void Drain() {
        Sleep(100);
        MSG msg;
        while (PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) {
        }
    }
    // The control tool in another process, on this device.
    ChildResult Tool(const std::string& args) {
        std::string tool = SiblingProgram("velmor-sim.exe");
        if (GetFileAttributesA(tool.c_str()) == INVALID_FILE_ATTRIBUTES) tool = OtherArchProgram("velmor-sim.exe");
        if (tool.empty()) return ChildResult();
        return RunChild("\"" + tool + "\" --instance " + sim::InstanceName() + " " + args);
    }

    sim::SharedState* state = nullptr;
    HWND window = nullptr;
    std::unique_ptr<EndpointControl> control;
    int capture = 7, render = 7, usable = 7;
};

TEST_F(EndpointControlTest, FindsTheR6EndpointsAndSkipsTheForeignOnes) {
    ASSERT_EQ(S_OK, Find());
    EXPECT_EQ(1, render);
    EXPECT_EQ(1, capture);
    EXPECT_EQ(1, usable);
    EXPECT_TRUE(control->Found());
    ASSERT_EQ(1u, control->RenderCount());
    ASSERT_EQ(2u, control->CaptureCount());

    // The device's endpoints come after the foreign ones in their collections.
    const EndpointRecord* speakers = control->RenderEndpoint(0);
    EXPECT_STREQ(sim::Endpoint(sim::kDeviceRender).id, speakers->id);
    EXPECT_EQ(1u, speakers->index);
    EXPECT_STREQ(L"Speakers (Velmor R6)", speakers->friendlyName);
    EXPECT_STREQ(L"Speakers", speakers->description);
    EXPECT_EQ(3u, speakers->physicalSpeakers);
    EXPECT_EQ(48000u, speakers->deviceFormat.Format.nSamplesPerSec);
    EXPECT_NE(nullptr, speakers->level[0]);
    EXPECT_NE(nullptr, speakers->mute[0]);
    EXPECT_EQ(2u, speakers->levelChannels[0]);
    EXPECT_FLOAT_EQ(-100.0f, speakers->channel[0][1].minimum);
    EXPECT_FLOAT_EQ(-20.0f, speakers->channel[0][1].level);

    const EndpointRecord* line = control->CaptureEndpoint(0);
    const EndpointRecord* spdif = control->CaptureEndpoint(1);
    EXPECT_STREQ(L"Line In (Velmor R6)", line->friendlyName);
    EXPECT_TRUE(IsEqualGUID(kKsNodeTypeLineConnector, line->connectorSubtype));
    EXPECT_FALSE(IsEqualGUID(kKsNodeTypeLineConnector, spdif->connectorSubtype));
    EXPECT_EQ(sim::kLineInFeedId, line->localId);
    EXPECT_EQ(sim::kSpdifInFeedId, spdif->localId);
    EXPECT_NE(nullptr, line->inputSelector);
    EXPECT_NE(nullptr, spdif->inputSelector);
    EXPECT_NE(nullptr, line->level[0]);
    EXPECT_EQ(nullptr, spdif->level[0]);  // the S/PDIF input has a mute only
    EXPECT_NE(nullptr, spdif->mute[0]);
    EXPECT_EQ(nullptr, control->CaptureEndpoint(2));

    // Found: the next call returns at once and leaves the outputs alone.
    capture = render = usable = 7;
    EXPECT_EQ(S_OK, Find());
    EXPECT_EQ(7, render);
    EXPECT_EQ(7, usable);
    EXPECT_EQ(E_FAIL, control->FindEndpoints(kVelmorVendorId, kVelmorProductR6, 1, nullptr, &render, &usable));
}

TEST_F(EndpointControlTest, ModelsPresenceAndVersionDecideWhatIsFound) {
    // The instance id spells the pattern in mixed case: matching upper-cases both.
    EXPECT_NE(std::wstring::npos, sim::EndpointInstance(*state, sim::kDeviceRender).find(L"Vid_3a45&Pid_0452&Mi_01"));

    state->config.model = sim::kModelR5;
    ASSERT_EQ(S_OK, Find());
    EXPECT_EQ(1, render);
    EXPECT_EQ(0, capture);
    EXPECT_EQ(1, usable);
    EXPECT_EQ(0u, control->CaptureCount());
    EXPECT_EQ(E_FAIL, control->GetCaptureVolume(0, nullptr, nullptr, nullptr, nullptr, nullptr));

    // Unplugged: nothing, and the next call searches again.
    control->ReleaseEndpoints();
    sim::Unplug();
    EXPECT_EQ(E_FAIL, Find());
    EXPECT_EQ(0, render);
    EXPECT_EQ(0, usable);
    EXPECT_FALSE(control->Found());
    state->config.model = sim::kModelR6;
    sim::Plug();
    // The endpoints turn active a while after the device's interfaces appear.
    EXPECT_EQ(E_FAIL, Find());
    HRESULT found = E_FAIL;
    for (DWORD start = GetTickCount(); FAILED(found) && GetTickCount() - start < 10000; Sleep(20)) found = Find();
    ASSERT_EQ(S_OK, found) << "the endpoints did not turn active within 10 s";
    EXPECT_EQ(1, capture);

    // Another device's ids match nothing.
    control->ReleaseEndpoints();
    EXPECT_EQ(E_FAIL, control->FindEndpoints(kVelmorVendorId, 0x0999, 1, &capture, &render, &usable));

    // Outside Vista to Windows 8 the endpoints are not used.
    control->UseVersion(kWinCodeOther, 0);
    EXPECT_EQ(S_OK, control->FindEndpoints(kVelmorVendorId, 0x0999, 1, &capture, &render, &usable));
    EXPECT_EQ(1, usable);
    EXPECT_EQ(0, render);
    EXPECT_TRUE(control->Found());
    EXPECT_EQ(0u, control->RenderCount());
}

TEST_F(EndpointControlTest, FaultsOfTheTopology) {
    SetFault(&sim::EndpointsState::noConnector);
    EXPECT_EQ(E_FAIL, Find());  // every walk fails: nothing counted
    EXPECT_EQ(0u, control->RenderCount());

    {
        sim::StateLock shared;
        sim::Endpoints(*state).noConnector = 0;
    }
    SetFault(&sim::EndpointsState::noLevelControl);
    ASSERT_EQ(S_OK, Find());
    EXPECT_EQ(nullptr, control->RenderEndpoint(0)->level[0]);
    float left = 1, right = 1, minimum = 1, maximum = 1, step = 1;
    EXPECT_EQ(S_OK, control->GetRenderVolume(&left, &right, &minimum, &maximum, &step));
    EXPECT_EQ(1.0f, left);  // untouched
    EXPECT_EQ(S_OK, control->SetRenderVolume(-50.0f, -50.0f));
    EXPECT_FLOAT_EQ(-20.0f, Values(sim::kDeviceRender).level[0]);
}

TEST_F(EndpointControlTest, FormatsAreWrittenInPcmAndFloatForm) {
    ASSERT_EQ(S_OK, Find());
    ASSERT_EQ(S_OK, control->SetRenderFormat(16, 96000));
    sim::EndpointValues v = Values(sim::kDeviceRender);
    EXPECT_EQ(1u, v.formatWrites[0]);
    EXPECT_EQ(1u, v.formatWrites[1]);
    EXPECT_EQ(0u, v.formatWrites[2] + v.formatWrites[3]);
    WAVEFORMATEXTENSIBLE pcm, fl;
    memcpy(&pcm, v.format[0], sizeof(pcm));
    memcpy(&fl, v.format[1], sizeof(fl));
    EXPECT_EQ(2u, pcm.Format.nChannels);
    EXPECT_EQ(16u, pcm.Samples.wValidBitsPerSample);
    EXPECT_EQ(4u, pcm.Format.nBlockAlign);
    EXPECT_EQ(384000u, pcm.Format.nAvgBytesPerSec);
    EXPECT_EQ(3u, pcm.dwChannelMask);
    EXPECT_TRUE(IsEqualGUID(kKsDataFormatSubtypePcm, pcm.SubFormat));
    EXPECT_EQ(32u, fl.Format.wBitsPerSample);
    EXPECT_EQ(8u, fl.Format.nBlockAlign);
    EXPECT_EQ(768000u, fl.Format.nAvgBytesPerSec);
    EXPECT_TRUE(IsEqualGUID(kKsDataFormatSubtypeIeeeFloat, fl.SubFormat));
    // The record keeps the float form.
    EXPECT_TRUE(IsEqualGUID(kKsDataFormatSubtypeIeeeFloat, control->RenderEndpoint(0)->deviceFormat.SubFormat));

    WORD channels = 0, bits = 0;
    DWORD rate = 0, mask = 0;
    ASSERT_EQ(S_OK, control->GetRenderFormat(&channels, &rate, &bits, &mask));
    EXPECT_EQ(2, channels);
    EXPECT_EQ(96000u, rate);
    EXPECT_EQ(16, bits);
    EXPECT_EQ(3u, mask);

    // Windows 8 keeps two more copies of the float form.
    control->UseVersion(kWinCode8, 0);
    ASSERT_EQ(S_OK, control->SetCaptureFormat(1, 24, 192000));
    v = Values(sim::kDeviceSpdifIn);
    for (uint32_t k = 0; k < sim::kFormatKeyCount; ++k) EXPECT_EQ(1u, v.formatWrites[k]) << k;
    ASSERT_EQ(S_OK, control->GetCaptureFormat(1, &channels, &rate, &bits, &mask));
    EXPECT_EQ(192000u, rate);
    EXPECT_EQ(24, bits);

    EXPECT_EQ(E_FAIL, control->SetCaptureFormat(2, 24, 48000));
    EXPECT_EQ(E_INVALIDARG, control->SetRenderFormat(0, 48000));
    EXPECT_EQ(E_FAIL, control->GetRenderFormat(nullptr, &rate, &bits, &mask));

    // A store that cannot be opened for writing: the refusal comes back, nothing changes.
    SetFault(&sim::EndpointsState::refusePropertyWrite);
    EXPECT_EQ(E_ACCESSDENIED, control->SetRenderFormat(24, 44100));
    EXPECT_EQ(1u, Values(sim::kDeviceRender).formatWrites[0]);
    EXPECT_EQ(96000u, control->RenderEndpoint(0)->deviceFormat.Format.nSamplesPerSec);
}

TEST_F(EndpointControlTest, VolumesMuteAndRecordInput) {
    ASSERT_EQ(S_OK, sim::SetEndpointLevel(sim::kDeviceRender, 1, -30.0f, nullptr));
    ASSERT_EQ(S_OK, sim::SetEndpointMute(sim::kDeviceLineIn, TRUE, nullptr));
    ASSERT_EQ(S_OK, Find());
    EXPECT_TRUE(control->CaptureEndpoint(0)->muteAtSetup[0]);
    float left = 0, right = 0, minimum = 0, maximum = 0, step = 0;
    ASSERT_EQ(S_OK, control->GetRenderVolume(&left, &right, &minimum, &maximum, &step));
    EXPECT_FLOAT_EQ(-20.0f, left);
    EXPECT_FLOAT_EQ(-30.0f, right);
    EXPECT_FLOAT_EQ(-100.0f, minimum);
    EXPECT_FLOAT_EQ(0.0f, maximum);
    EXPECT_FLOAT_EQ(0.5f, step);

    // Below the minimum sets the minimum; above the maximum the maximum.
    EXPECT_EQ(S_OK, control->SetRenderVolume(-250.0f, 12.0f));
    sim::EndpointValues v = Values(sim::kDeviceRender);
    EXPECT_FLOAT_EQ(-100.0f, v.level[0]);
    EXPECT_FLOAT_EQ(0.0f, v.level[1]);
    EXPECT_FLOAT_EQ(-100.0f, control->RenderEndpoint(0)->channel[0][0].level);
    // A level that is not a number passes no range check: refused whole.
    EXPECT_EQ(E_INVALIDARG, control->SetRenderVolume(-10.0f, std::nanf("")));
    EXPECT_FLOAT_EQ(-100.0f, Values(sim::kDeviceRender).level[0]);

    ASSERT_EQ(S_OK, control->SetCaptureVolume(0, 6.0f, -6.0f));
    ASSERT_EQ(S_OK, control->GetCaptureVolume(0, &left, &right, &minimum, &maximum, &step));
    EXPECT_FLOAT_EQ(6.0f, left);
    EXPECT_FLOAT_EQ(-6.0f, right);
    EXPECT_FLOAT_EQ(24.0f, maximum);

    BOOL mute = FALSE;
    EXPECT_EQ(S_OK, control->GetCaptureMute(0, &mute));
    EXPECT_TRUE(mute);
    EXPECT_EQ(S_OK, control->GetCaptureMute(1, &mute));
    EXPECT_FALSE(mute);
    EXPECT_EQ(E_FAIL, control->GetCaptureMute(2, &mute));

    UINT input = 9;
    EXPECT_EQ(S_OK, control->GetSelectedInput(&input));
    EXPECT_EQ(0u, input);
    ASSERT_EQ(S_OK, sim::SetRecordSelection(sim::kSpdifInFeedId));
    EXPECT_EQ(S_OK, control->GetSelectedInput(&input));
    EXPECT_EQ(1u, input);
    {
        sim::StateLock shared;
        sim::Endpoints(*state).muxSelection = 0x00020077;  // a part no record has
    }
    EXPECT_EQ(S_OK, control->GetSelectedInput(&input));
    EXPECT_EQ(0u, input);
    EXPECT_EQ(E_FAIL, control->GetSelectedInput(nullptr));
}

TEST_F(EndpointControlTest, ChangesArePostedToTheDialog) {
    ASSERT_EQ(S_OK, Find());
    Drain();

    // A level change by anyone, then a volume key of the device.
    ASSERT_EQ(S_OK, sim::SetEndpointLevel(sim::kDeviceRender, ~0u, -40.0f, nullptr));
    EXPECT_TRUE(Posted(WM_PANEL_VOLUME_CHANGED));
    ASSERT_TRUE(SendHidReport(kVelmorVendorId, sim::ProductId(state->config), 0xF6, 0x61, 0x01, 0x00));
    EXPECT_TRUE(Posted(WM_PANEL_VOLUME_CHANGED));
    EXPECT_FLOAT_EQ(-39.5f, Values(sim::kDeviceRender).level[0]);
    ASSERT_TRUE(SendHidReport(kVelmorVendorId, sim::ProductId(state->config), 0xF6, 0x61, 0x02, 0x00));
    EXPECT_TRUE(Posted(WM_PANEL_VOLUME_CHANGED));
    EXPECT_FLOAT_EQ(-40.0f, Values(sim::kDeviceRender).level[1]);
    // The line input's mute is watched too.
    ASSERT_EQ(S_OK, sim::SetEndpointMute(sim::kDeviceLineIn, TRUE, nullptr));
    EXPECT_TRUE(Posted(WM_PANEL_VOLUME_CHANGED));

    // Removal posts nothing; arrival posts the active notice.
    Drain();
    sim::Unplug();
    EXPECT_FALSE(Posted(WM_PANEL_ENDPOINT_ACTIVE, 300));
    sim::Plug();
    EXPECT_TRUE(Posted(WM_PANEL_ENDPOINT_ACTIVE));

    // Once released, the endpoints' changes reach the dialog no more.
    control->ReleaseEndpoints();
    Drain();
    ASSERT_EQ(S_OK, sim::SetEndpointLevel(sim::kDeviceRender, ~0u, -10.0f, nullptr));
    EXPECT_FALSE(Posted(WM_PANEL_VOLUME_CHANGED, 300));
}

TEST_F(EndpointControlTest, ChangesOfAnotherProcessArePosted) {
    ASSERT_EQ(S_OK, Find());
    Drain();
    ChildResult volume = Tool("volume render -33");
    if (!volume.started) GTEST_SKIP() << "no velmor-sim here";
    ASSERT_EQ(0u, volume.exitCode) << volume.output;
    EXPECT_TRUE(Posted(WM_PANEL_VOLUME_CHANGED));
    float left = 0, right = 0, minimum = 0, maximum = 0, step = 0;
    ASSERT_EQ(S_OK, control->GetRenderVolume(&left, &right, &minimum, &maximum, &step));
    EXPECT_FLOAT_EQ(-33.0f, left);

    ASSERT_EQ(0u, Tool("unplug").exitCode);
    ASSERT_EQ(0u, Tool("plug").exitCode);
    EXPECT_TRUE(Posted(WM_PANEL_ENDPOINT_ACTIVE));

    ChildResult list = Tool("endpoints --json");
    EXPECT_NE(std::string::npos, list.output.find("\"level\":[-33.0,-33.0]")) << list.output;
    EXPECT_NE(std::string::npos, list.output.find("\"record_input\":\"line\"")) << list.output;
}

TEST_F(EndpointControlTest, ThousandSearchesLeaveNothingBehind) {
    auto measure = [](LONG& objects, DWORD& handles, SIZE_T& privateBytes) {
        objects = sim::LiveEndpointObjects();
        GetProcessHandleCount(GetCurrentProcess(), &handles);
        PROCESS_MEMORY_COUNTERS_EX memory = {};
        memory.cb = sizeof(memory);
        GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                             sizeof(memory));
        privateBytes = memory.PrivateUsage;
    };
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(S_OK, Find());
        control->ReleaseEndpoints();
    }
    LONG objects0 = 0, objects1 = 0;
    DWORD handles0 = 0, handles1 = 0;
    SIZE_T private0 = 0, private1 = 0;
    measure(objects0, handles0, private0);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(S_OK, Find());
        control->ReleaseEndpoints();
    }
    measure(objects1, handles1, private1);
    EXPECT_EQ(objects0, objects1);
    EXPECT_LE(handles1, handles0 + 2);
    EXPECT_LT(private1, private0 + 512 * 1024) << private0 << " -> " << private1;
    // The enumerator and the player are all that is left.
    control.reset();
    EXPECT_EQ(0, sim::LiveEndpointObjects());
}

}  // namespace
