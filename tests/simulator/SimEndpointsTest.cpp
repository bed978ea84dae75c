// The virtual device's Core Audio endpoints as any Core Audio client sees them.
#include "SimHarness.h"

#include "device/EndpointKeys.h"
#include "simulator/SimHid.h"
#include "tests/support/ChildProcess.h"
#include "simulator/endpoints/Endpoints.h"

#include <audioclient.h>
#include <devicetopology.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>

#include <atomic>
#include <functional>
#include <thread>

namespace simtest {
namespace {

// Counts the notifications it gets and notes the thread they came on.
class Listener : public IAudioEndpointVolumeCallback, public IMMNotificationClient {
public:
    std::atomic<int> notices{0};
    std::atomic<int> afterUnregister{0};
    std::atomic<bool> unregistered{false};
    std::atomic<DWORD> thread{0};
    std::atomic<DWORD> lastState{0};
    std::atomic<int> arrivals{0};

    std::atomic<LONG> refs{1};

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
    HRESULT STDMETHODCALLTYPE OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA data) override {
        if (unregistered) ++afterUnregister;
        thread = GetCurrentThreadId();
        if (data && data->nChannels == 2) ++notices;
        Sleep(1);  // a slow client: unregistering must wait for it
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD state) override {
        lastState = state;
        if (state == DEVICE_STATE_ACTIVE) ++arrivals;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow, ERole, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }
};

bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 300 && !done(); ++i) Sleep(10);
    return done();
}

class SimEndpoints : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        baseline = sim::LiveEndpointObjects();
        ASSERT_EQ(S_OK, Api().CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                               __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&enumerator)));
    }
    void TearDown() override {
        if (enumerator) enumerator->Release();
        EXPECT_EQ(baseline, sim::LiveEndpointObjects());  // every object handed out came back
        SimTest::TearDown();
    }
    UINT Count(EDataFlow flow, DWORD mask) {
        IMMDeviceCollection* collection = nullptr;
        if (FAILED(enumerator->EnumAudioEndpoints(flow, mask, &collection))) return ~0u;
        UINT count = 0;
        collection->GetCount(&count);
        collection->Release();
        return count;
    }
    IMMDevice* Device(uint32_t endpoint) {
        IMMDevice* device = nullptr;
        EXPECT_EQ(S_OK, enumerator->GetDevice(sim::Endpoint(endpoint).id, &device));
        return device;
    }

    LONG baseline = 0;
    IMMDeviceEnumerator* enumerator = nullptr;
};

TEST_F(SimEndpoints, EnumerationFollowsModelAndPresence) {
    EXPECT_EQ(2u, Count(eRender, DEVICE_STATE_ACTIVE));
    EXPECT_EQ(3u, Count(eCapture, DEVICE_STATE_ACTIVE));
    EXPECT_EQ(5u, Count(eAll, DEVICE_STATE_ACTIVE));
    state->config.model = sim::kModelR5;
    EXPECT_EQ(1u, Count(eCapture, DEVICE_STATE_ACTIVE));
    sim::Unplug();
    EXPECT_EQ(1u, Count(eRender, DEVICE_STATE_ACTIVE));
    EXPECT_EQ(3u, Count(eAll, DEVICE_STATE_NOTPRESENT));
    EXPECT_EQ(~0u, Count(eRender, 0));

    // A removed endpoint can still be looked up, but not activated.
    IMMDevice* device = Device(sim::kDeviceRender);
    DWORD deviceState = 0;
    EXPECT_EQ(S_OK, device->GetState(&deviceState));
    EXPECT_EQ(DWORD(DEVICE_STATE_NOTPRESENT), deviceState);
    IAudioEndpointVolume* volume = nullptr;
    EXPECT_EQ(AUDCLNT_E_DEVICE_INVALIDATED, device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_ALL, nullptr,
                                                             reinterpret_cast<void**>(&volume)));
    device->Release();
    IMMDevice* none = nullptr;
    EXPECT_EQ(E_NOTFOUND, enumerator->GetDevice(L"{0.0.0.00000000}.{nothing}", &none));
}

// The store checks access, not formats: whether the device plays one is
// the audio client's question (SimDocumentedEndpointsTest).
TEST_F(SimEndpoints, PropertyWritesNeedAWritableStore) {
    IMMDevice* device = Device(sim::kDeviceLineIn);
    IPropertyStore* reading = nullptr;
    ASSERT_EQ(S_OK, device->OpenPropertyStore(STGM_READ, &reading));
    PROPVARIANT value;
    PropVariantInit(&value);
    ASSERT_EQ(S_OK, reading->GetValue(kKeyDeviceFormat, &value));
    ASSERT_EQ(VT_BLOB, value.vt);
    EXPECT_EQ(40u, value.blob.cbSize);
    EXPECT_EQ(STG_E_ACCESSDENIED, reading->SetValue(kKeyDeviceFormat, value));
    IPropertyStore* writing = nullptr;
    ASSERT_EQ(S_OK, device->OpenPropertyStore(STGM_READWRITE, &writing));
    EXPECT_EQ(S_OK, writing->SetValue(kKeyEngineFloatFormat, value));
    EXPECT_EQ(STG_E_ACCESSDENIED, writing->SetValue(kKeyDeviceFriendlyName, value));
    // Even a blob that does not add up is stored as given.
    auto* f = reinterpret_cast<WAVEFORMATEXTENSIBLE*>(value.blob.pBlobData);
    f->Format.nBlockAlign = 5;
    EXPECT_EQ(S_OK, writing->SetValue(kKeyDeviceFormat, value));
    PropVariantClear(&value);
    // A key never written reads as empty.
    EXPECT_EQ(S_OK, reading->GetValue(kKeyEngineFloatFormat8a, &value));
    EXPECT_EQ(VT_EMPTY, value.vt);
    writing->Release();
    reading->Release();

    sim::EndpointValues v = {};
    sim::ReadEndpoint(sim::kDeviceLineIn, v);
    EXPECT_EQ(1u, v.formatWrites[0]);
    EXPECT_EQ(1u, v.formatWrites[1]);

    state->endpoints.refusePropertyWrite = 1;
    EXPECT_EQ(E_ACCESSDENIED, device->OpenPropertyStore(STGM_READWRITE, &writing));
    device->Release();
}

TEST_F(SimEndpoints, LevelsKeepToTheirRangeAndTheVolumeKeysStep) {
    IMMDevice* device = Device(sim::kDeviceRender);
    IAudioEndpointVolume* volume = nullptr;
    ASSERT_EQ(S_OK, device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_ALL, nullptr,
                                     reinterpret_cast<void**>(&volume)));
    EXPECT_EQ(E_INVALIDARG, volume->SetMasterVolumeLevel(0.5f, nullptr));
    EXPECT_EQ(S_OK, volume->SetMasterVolumeLevel(-0.25f, nullptr));

    BYTE up[64] = {0, 0xF6, 0x61, 0x01};
    EXPECT_EQ(DWORD(ERROR_SUCCESS), sim::ReceiveReport(up, sizeof(up)));
    float db = 0;
    EXPECT_EQ(S_OK, volume->GetMasterVolumeLevel(&db));
    EXPECT_FLOAT_EQ(0.0f, db);  // one step up, held at the maximum
    up[3] = 0x02;
    EXPECT_EQ(DWORD(ERROR_SUCCESS), sim::ReceiveReport(up, sizeof(up)));
    EXPECT_EQ(S_OK, volume->GetChannelVolumeLevel(1, &db));
    EXPECT_FLOAT_EQ(-0.5f, db);

    // Each channel its own range; between two steps the one with the greater effect.
    ASSERT_EQ(S_OK, sim::SetEndpointRange(sim::kDeviceRender, 1, {-50.0f, 0.0f, 1.25f}));
    EXPECT_EQ(E_INVALIDARG, sim::SetEndpointRange(sim::kDeviceRender, 1, {-10.0f, 0.0f, 3.0f}));
    EXPECT_EQ(S_OK, volume->SetChannelVolumeLevel(1, -10.3f, nullptr));
    EXPECT_EQ(S_OK, volume->GetChannelVolumeLevel(1, &db));
    EXPECT_FLOAT_EQ(-11.25f, db);
    EXPECT_EQ(E_INVALIDARG, volume->SetChannelVolumeLevel(1, -60.0f, nullptr));
    EXPECT_EQ(S_OK, sim::SetEndpointLevel(sim::kDeviceRender, 1, -60.0f, nullptr, sim::OutOfRange::Clamp));
    EXPECT_EQ(S_OK, volume->GetChannelVolumeLevel(1, &db));
    EXPECT_FLOAT_EQ(-50.0f, db);  // a topology level control holds the range's end
    volume->Release();
    device->Release();
}

TEST_F(SimEndpoints, NotificationsComeOnTheDevicesThreadAndStopAtUnregistration) {
    Listener listener;
    ASSERT_EQ(S_OK, enumerator->RegisterEndpointNotificationCallback(&listener));
    IMMDevice* device = Device(sim::kDeviceLineIn);
    IAudioEndpointVolume* volume = nullptr;
    ASSERT_EQ(S_OK, device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_ALL, nullptr,
                                     reinterpret_cast<void**>(&volume)));
    ASSERT_EQ(S_OK, volume->RegisterControlChangeNotify(&listener));

    EXPECT_EQ(S_OK, volume->SetMute(TRUE, nullptr));
    ASSERT_TRUE(WaitFor([&] { return listener.notices > 0; }));
    EXPECT_NE(GetCurrentThreadId(), listener.thread.load());
    sim::Unplug();
    ASSERT_TRUE(WaitFor([&] { return listener.lastState == DEVICE_STATE_NOTPRESENT; }));
    sim::Plug();
    ASSERT_TRUE(WaitFor([&] { return listener.lastState == DEVICE_STATE_ACTIVE; }));
    // Unplugged and plugged again before the device's thread looks: still an
    // arrival, which a panel waiting for its endpoint needs.
    const int arrivals = listener.arrivals;
    sim::Unplug();
    sim::Plug();
    ASSERT_TRUE(WaitFor([&] { return listener.arrivals > arrivals; }));
    EXPECT_EQ(DEVICE_STATE_ACTIVE, listener.lastState.load());

    // A registration holds the callback and its endpoint volume.
    EXPECT_EQ(2, listener.refs.load());
    const LONG alive = sim::LiveEndpointObjects();
    EXPECT_LT(0u, volume->Release());
    EXPECT_EQ(alive, sim::LiveEndpointObjects());
    EXPECT_EQ(S_OK, volume->UnregisterControlChangeNotify(&listener));
    EXPECT_EQ(1, listener.refs.load());  // notification clients are not held
    EXPECT_EQ(alive - 1, sim::LiveEndpointObjects());

    // Another thread keeps changing the level while this one unregisters.
    ASSERT_EQ(S_OK, device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_ALL, nullptr,
                                     reinterpret_cast<void**>(&volume)));
    ASSERT_EQ(S_OK, volume->RegisterControlChangeNotify(&listener));
    std::atomic<bool> stop{false};
    std::thread changer([&] {
        for (int i = 0; !stop; ++i) sim::SetEndpointLevel(sim::kDeviceLineIn, ~0u, i % 2 ? -1.0f : -2.0f, nullptr);
    });
    Sleep(100);
    EXPECT_EQ(S_OK, volume->UnregisterControlChangeNotify(&listener));
    listener.unregistered = true;
    Sleep(100);
    stop = true;
    changer.join();
    EXPECT_EQ(0, listener.afterUnregister.load());
    EXPECT_EQ(E_NOTFOUND, volume->UnregisterControlChangeNotify(&listener));
    EXPECT_EQ(S_OK, enumerator->UnregisterEndpointNotificationCallback(&listener));
    volume->Release();
    device->Release();
}

// velmor-sim changes the endpoints as a user in the mixer would, from another process.
TEST_F(SimEndpoints, ToolListsAndChangesTheEndpoints) {
    auto tool = [](const std::string& args) {
        return RunChild("\"" + SiblingProgram("velmor-sim.exe") + "\" --instance " + sim::InstanceName() + " " + args);
    };
    ChildResult list = tool("endpoints");
    ASSERT_EQ(0u, list.exitCode) << list.output;
    EXPECT_NE(std::string::npos, list.output.find("endpoint 2 render device active \"Speakers (Velmor R6)\" format 2 ch "
                                                  "48000 Hz 24 bits pcm level -20.00 -20.00 dB mute off"))
        << list.output;
    EXPECT_NE(std::string::npos, list.output.find("record-input line"));

    EXPECT_EQ(0u, tool("volume line 3 -3").exitCode);
    EXPECT_EQ(0u, tool("mute spdif on").exitCode);
    EXPECT_EQ(0u, tool("select spdif").exitCode);
    EXPECT_EQ(0u, tool("format render 32 192000").exitCode);
    EXPECT_EQ(1u, tool("volume render 5").exitCode);  // above the range: nothing changes
    EXPECT_EQ(2u, tool("volume speakers 1").exitCode);
    sim::EndpointValues line = {}, spdif = {}, render = {};
    sim::ReadEndpoint(sim::kDeviceLineIn, line);
    sim::ReadEndpoint(sim::kDeviceSpdifIn, spdif);
    sim::ReadEndpoint(sim::kDeviceRender, render);
    EXPECT_FLOAT_EQ(3.0f, line.level[0]);
    EXPECT_FLOAT_EQ(-3.0f, line.level[1]);
    EXPECT_EQ(1u, spdif.mute);
    EXPECT_EQ(sim::kSpdifInFeedId, state->endpoints.muxSelection);
    EXPECT_FLOAT_EQ(-20.0f, render.level[0]);
    EXPECT_EQ(1u, render.formatWrites[0]);
    WAVEFORMATEXTENSIBLE format;
    memcpy(&format, render.format[0], sizeof(format));
    EXPECT_EQ(192000u, format.Format.nSamplesPerSec);

    EXPECT_EQ(0u, tool("fault refuse-property-write on").exitCode);
    EXPECT_EQ(1u, tool("format render 16 44100").exitCode);
    ChildResult json = tool("endpoints --json");
    EXPECT_NE(std::string::npos, json.output.find("\"refuse_property_write\":true")) << json.output;
    EXPECT_NE(std::string::npos, json.output.find("\"record_input\":\"spdif\"")) << json.output;
    EXPECT_EQ(0u, tool("range spdif -96 0 1 -48 0 0.5").exitCode);
    EXPECT_EQ(0u, tool("topology many").exitCode);
    EXPECT_EQ(2u, tool("fault fail-property-write 5").exitCode);
    list = tool("endpoints");
    EXPECT_NE(std::string::npos, list.output.find("endpoint 4 range left -96.00..0.00 step 1.00 right -48.00..0.00"))
        << list.output;
    EXPECT_NE(std::string::npos, list.output.find("\"Speakers 9 (Velmor R6)\"")) << list.output;
    state->config.model = sim::kModelR5;
    EXPECT_EQ(1u, tool("mute line on").exitCode);  // an R5 has no line input
}

}  // namespace
}  // namespace simtest
