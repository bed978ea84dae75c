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
#include <cmath>
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

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA data) override {
        if (unregistered) ++afterUnregister;
        thread = GetCurrentThreadId();
        if (data && data->nChannels == 2) ++notices;
        Sleep(1);  // a slow client: unregistering must wait for it
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD state) override {
        lastState = state;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow, ERole, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }
};

// A callback with a real reference count, to see who holds it.
class Counted : public IAudioEndpointVolumeCallback, public IMMNotificationClient {
public:
    LONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
    HRESULT STDMETHODCALLTYPE OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow, ERole, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }
};

WAVEFORMATEXTENSIBLE Stereo(DWORD rate, WORD bits, bool floating = false) {
    WAVEFORMATEXTENSIBLE f = {};
    f.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    f.Format.nChannels = 2;
    f.Format.nSamplesPerSec = rate;
    f.Format.wBitsPerSample = bits;
    f.Format.nBlockAlign = static_cast<WORD>(2 * bits / 8);
    f.Format.nAvgBytesPerSec = f.Format.nBlockAlign * rate;
    f.Format.cbSize = sizeof(f) - sizeof(WAVEFORMATEX);
    f.Samples.wValidBitsPerSample = bits;
    f.dwChannelMask = 3;
    f.SubFormat = floating ? kKsDataFormatSubtypeIeeeFloat : kKsDataFormatSubtypePcm;
    return f;
}

HRESULT Write(IPropertyStore* store, const PROPERTYKEY& key, WAVEFORMATEXTENSIBLE& f) {
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_BLOB;
    value.blob.cbSize = sizeof(f);
    value.blob.pBlobData = reinterpret_cast<BYTE*>(&f);
    return store->SetValue(key, value);
}

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

    static sim::EndpointValues Values(uint32_t endpoint) {
        sim::EndpointValues v = {};
        sim::ReadEndpoint(endpoint, v);
        return v;
    }
    // The endpoint's own connector.
    IConnector* Connector(uint32_t endpoint) {
        IMMDevice* device = Device(endpoint);
        IDeviceTopology* topology = nullptr;
        IConnector* connector = nullptr;
        if (device && SUCCEEDED(device->Activate(__uuidof(IDeviceTopology), CLSCTX_ALL, nullptr,
                                                 reinterpret_cast<void**>(&topology)))) {
            topology->GetConnector(0, &connector);
            topology->Release();
        }
        if (device) device->Release();
        return connector;
    }
    // A part of the device's adapter topology, reached from the line input.
    IPart* AdapterPart(UINT localId) {
        IConnector* connector = Connector(sim::kDeviceLineIn);
        IConnector* peer = nullptr;
        IPart* part = nullptr, *found = nullptr;
        IDeviceTopology* adapter = nullptr;
        if (connector && SUCCEEDED(connector->GetConnectedTo(&peer)) &&
            SUCCEEDED(peer->QueryInterface(__uuidof(IPart), reinterpret_cast<void**>(&part))) &&
            SUCCEEDED(part->GetTopologyObjects(&adapter))) {
            adapter->GetPartById(localId, &found);
        }
        for (IUnknown* u : {static_cast<IUnknown*>(adapter), static_cast<IUnknown*>(part),
                            static_cast<IUnknown*>(peer), static_cast<IUnknown*>(connector)}) {
            if (u) u->Release();
        }
        return found;
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

TEST_F(SimEndpoints, PropertyWritesNeedAWritableStoreAndAFormatTheDeviceTakes) {
    IMMDevice* device = Device(sim::kDeviceLineIn);
    IPropertyStore* reading = nullptr;
    ASSERT_EQ(S_OK, device->OpenPropertyStore(STGM_READ, &reading));
    PROPVARIANT value;
    PropVariantInit(&value);
    ASSERT_EQ(S_OK, reading->GetValue(kKeyDeviceFormat, &value));
    ASSERT_EQ(VT_BLOB, value.vt);
    EXPECT_EQ(40u, value.blob.cbSize);
    EXPECT_EQ(STG_E_ACCESSDENIED, reading->SetValue(kKeyDeviceFormat, value));
    PropVariantClear(&value);
    IPropertyStore* writing = nullptr;
    ASSERT_EQ(S_OK, device->OpenPropertyStore(STGM_READWRITE, &writing));
    WAVEFORMATEXTENSIBLE good = Stereo(96000, 16), floating = Stereo(96000, 32, true);
    EXPECT_EQ(S_OK, Write(writing, kKeyEngineFloatFormat, floating));
    EXPECT_EQ(STG_E_ACCESSDENIED, Write(writing, kKeyDeviceFriendlyName, good));
    // A key never written reads as empty.
    EXPECT_EQ(S_OK, reading->GetValue(kKeyEngineFloatFormat8a, &value));
    EXPECT_EQ(VT_EMPTY, value.vt);

    // What the device cannot play, or a blob that does not add up, is refused.
    WAVEFORMATEXTENSIBLE rate = Stereo(22050, 16), wide = Stereo(48000, 32), align = good, perSecond = good,
                         surround = Stereo(48000, 16);
    align.Format.nBlockAlign = 6;
    perSecond.Format.nAvgBytesPerSec += 4;
    surround.Format.nChannels = 6;
    surround.Format.nBlockAlign = 12;
    surround.Format.nAvgBytesPerSec = 12 * 48000;
    surround.dwChannelMask = 0;
    state->config.maxBits = 24;
    EXPECT_EQ(AUDCLNT_E_UNSUPPORTED_FORMAT, Write(writing, kKeyDeviceFormat, rate));
    EXPECT_EQ(AUDCLNT_E_UNSUPPORTED_FORMAT, Write(writing, kKeyDeviceFormat, wide));
    EXPECT_EQ(AUDCLNT_E_UNSUPPORTED_FORMAT, Write(writing, kKeyDeviceFormat, surround));
    EXPECT_EQ(AUDCLNT_E_UNSUPPORTED_FORMAT, Write(writing, kKeyEngineFloatFormat, good));  // not the float form
    EXPECT_EQ(E_INVALIDARG, Write(writing, kKeyDeviceFormat, align));
    EXPECT_EQ(E_INVALIDARG, Write(writing, kKeyDeviceFormat, perSecond));
    writing->Release();
    sim::EndpointValues v = {};
    sim::ReadEndpoint(sim::kDeviceLineIn, v);
    EXPECT_EQ(0u, v.formatWrites[0]);
    EXPECT_EQ(1u, v.formatWrites[1]);
    EXPECT_EQ(48000u, reinterpret_cast<WAVEFORMATEX*>(v.format[0])->nSamplesPerSec);  // the stored format stays

    // The write fault fails one write of each store, counted from its opening.
    state->endpoints.failPropertyWrite = 3;
    for (int store = 0; store < 2; ++store) {
        ASSERT_EQ(S_OK, device->OpenPropertyStore(STGM_READWRITE, &writing));
        EXPECT_EQ(S_OK, Write(writing, kKeyDeviceFormat, good));
        EXPECT_EQ(S_OK, Write(writing, kKeyEngineFloatFormat, floating));
        EXPECT_EQ(E_FAIL, Write(writing, kKeyEngineFloatFormat8a, floating));
        EXPECT_EQ(S_OK, Write(writing, kKeyEngineFloatFormat8b, floating));
        writing->Release();
    }
    sim::ReadEndpoint(sim::kDeviceLineIn, v);
    EXPECT_EQ(0u, v.formatWrites[2]);
    EXPECT_EQ(2u, v.formatWrites[3]);
    reading->Release();

    state->endpoints.refusePropertyWrite = 1;
    EXPECT_EQ(E_ACCESSDENIED, device->OpenPropertyStore(STGM_READWRITE, &writing));
    device->Release();
}

TEST_F(SimEndpoints, EachChannelHasItsRangeAndLevelsSnapToTheStep) {
    const sim::LevelRange left = {-24.0f, 24.0f, 0.5f}, right = {-96.0f, 0.0f, 1.5f}, uneven = {-10.0f, 0.0f, 3.0f};
    ASSERT_EQ(S_OK, sim::SetEndpointRange(sim::kDeviceLineIn, 0, left));
    ASSERT_EQ(S_OK, sim::SetEndpointRange(sim::kDeviceLineIn, 1, right));
    EXPECT_EQ(E_INVALIDARG, sim::SetEndpointRange(sim::kDeviceLineIn, 1, uneven));
    IPart* volumePart = AdapterPart(sim::kLineInFeedId);
    ASSERT_NE(nullptr, volumePart);
    IAudioVolumeLevel* level = nullptr;
    ASSERT_EQ(S_OK, volumePart->Activate(CLSCTX_ALL, __uuidof(IAudioVolumeLevel), reinterpret_cast<void**>(&level)));
    float minimum = 0, maximum = 0, step = 0, db = 0;
    ASSERT_EQ(S_OK, level->GetLevelRange(1, &minimum, &maximum, &step));
    EXPECT_EQ(-96.0f, minimum);
    EXPECT_EQ(1.5f, step);
    // Between two steps the one with the greater effect; outside the range its end.
    EXPECT_EQ(S_OK, level->SetLevel(0, 3.3f, nullptr));
    EXPECT_EQ(S_OK, level->GetLevel(0, &db));
    EXPECT_EQ(3.5f, db);
    EXPECT_EQ(S_OK, level->SetLevel(1, -10.0f, nullptr));
    EXPECT_EQ(S_OK, level->GetLevel(1, &db));
    EXPECT_EQ(-10.5f, db);
    EXPECT_EQ(S_OK, level->SetLevel(1, 5.0f, nullptr));
    EXPECT_EQ(S_OK, level->GetLevel(1, &db));
    EXPECT_EQ(0.0f, db);

    // The endpoint volume reports both ranges as one and refuses what lies outside.
    IMMDevice* device = Device(sim::kDeviceLineIn);
    IAudioEndpointVolume* volume = nullptr;
    ASSERT_EQ(S_OK, device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_ALL, nullptr,
                                     reinterpret_cast<void**>(&volume)));
    ASSERT_EQ(S_OK, volume->GetVolumeRange(&minimum, &maximum, &step));
    EXPECT_EQ(-96.0f, minimum);
    EXPECT_EQ(24.0f, maximum);
    EXPECT_EQ(0.5f, step);
    EXPECT_EQ(E_INVALIDARG, volume->SetChannelVolumeLevel(1, 5.0f, nullptr));
    EXPECT_EQ(E_INVALIDARG, volume->SetChannelVolumeLevel(0, std::nanf(""), nullptr));
    EXPECT_EQ(S_OK, volume->SetChannelVolumeLevel(0, -0.2f, nullptr));
    EXPECT_EQ(S_OK, volume->GetChannelVolumeLevel(0, &db));
    EXPECT_EQ(-0.5f, db);
    volume->Release();
    level->Release();
    volumePart->Release();
    device->Release();
}

TEST_F(SimEndpoints, RegisteredVolumeCallbacksAreHeldAndNotificationClientsAreNot) {
    Counted client;
    ASSERT_EQ(S_OK, enumerator->RegisterEndpointNotificationCallback(&client));
    EXPECT_EQ(1, client.refs);  // the caller keeps it alive until it unregisters
    IMMDevice* device = Device(sim::kDeviceRender);
    IAudioEndpointVolume* volume = nullptr;
    ASSERT_EQ(S_OK, device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_ALL, nullptr,
                                     reinterpret_cast<void**>(&volume)));
    device->Release();
    ASSERT_EQ(S_OK, volume->RegisterControlChangeNotify(&client));
    EXPECT_EQ(2, client.refs);
    // Released while registered: the volume object lives on, holding the callback.
    const LONG alive = sim::LiveEndpointObjects();
    EXPECT_LT(0u, volume->Release());
    EXPECT_EQ(alive, sim::LiveEndpointObjects());
    EXPECT_EQ(S_OK, volume->UnregisterControlChangeNotify(&client));
    EXPECT_EQ(1, client.refs);
    EXPECT_EQ(alive - 1, sim::LiveEndpointObjects());
    EXPECT_EQ(S_OK, enumerator->UnregisterEndpointNotificationCallback(&client));
    EXPECT_EQ(1, client.refs);
}

TEST_F(SimEndpoints, TopologyVariantsChangeWhatAWalkFinds) {
    state->endpoints.topology = sim::kTopologyCaptureOnly;
    EXPECT_EQ(1u, Count(eRender, DEVICE_STATE_ACTIVE));
    EXPECT_EQ(3u, Count(eCapture, DEVICE_STATE_ACTIVE));

    state->endpoints.topology = sim::kTopologyMany;
    EXPECT_EQ(2u + sim::kExtraEndpointsPerFlow, Count(eRender, DEVICE_STATE_ACTIVE));
    EXPECT_EQ(3u + sim::kExtraEndpointsPerFlow, Count(eCapture, DEVICE_STATE_ACTIVE));
    EXPECT_EQ(S_OK, sim::SetEndpointMute(sim::kFirstExtraCapture, TRUE, nullptr));
    EXPECT_EQ(0u, Values(sim::kDeviceSpdifIn).mute);
    state->endpoints.topology = sim::kTopologyNormal;
    IMMDevice* gone = nullptr;
    EXPECT_EQ(E_NOTFOUND, enumerator->GetDevice(sim::Endpoint(sim::kFirstExtraRender).id, &gone));

    // The render endpoint's connector claims the wrong flow; the multiplexer becomes a sum.
    state->endpoints.topology = sim::kTopologyWrongFlow;
    IConnector* connector = Connector(sim::kDeviceRender);
    ASSERT_NE(nullptr, connector);
    DataFlow flow = In;
    EXPECT_EQ(S_OK, connector->GetDataFlow(&flow));
    EXPECT_EQ(Out, flow);
    connector->Release();
    state->endpoints.topology = sim::kTopologyNoMux;
    IPart* mux = AdapterPart(0x00020008);
    ASSERT_NE(nullptr, mux);
    GUID subtype = GUID_NULL;
    EXPECT_EQ(S_OK, mux->GetSubType(&subtype));
    EXPECT_FALSE(IsEqualGUID(kKsNodeTypeMux, subtype));
    IAudioInputSelector* selector = nullptr;
    EXPECT_EQ(E_NOINTERFACE, mux->Activate(CLSCTX_ALL, __uuidof(IAudioInputSelector),
                                           reinterpret_cast<void**>(&selector)));
    mux->Release();
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

    // Another thread keeps changing the level while this one unregisters.
    EXPECT_EQ(S_OK, volume->UnregisterControlChangeNotify(&listener));  // the registration holds the object
    volume->Release();
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
    // Ranges per channel, the topology and the write fault.
    EXPECT_EQ(0u, tool("fault refuse-property-write off").exitCode);
    EXPECT_EQ(1u, tool("format render 24 22050").exitCode);  // not a rate of the device
    EXPECT_EQ(0u, tool("range spdif -96 0 1 -48 0 0.5").exitCode);
    EXPECT_EQ(1u, tool("range spdif 0 -96 1").exitCode);
    EXPECT_EQ(0u, tool("topology many").exitCode);
    EXPECT_EQ(0u, tool("fault fail-property-write 3").exitCode);
    EXPECT_EQ(2u, tool("fault fail-property-write 5").exitCode);
    EXPECT_EQ(2u, tool("topology star").exitCode);
    list = tool("endpoints");
    EXPECT_NE(std::string::npos, list.output.find("endpoint 4 range left -96.00..0.00 step 1.00 right -48.00..0.00 step "
                                                  "0.50 dB")) << list.output;
    EXPECT_NE(std::string::npos, list.output.find("\"Speakers 2 (Velmor R6)\"")) << list.output;
    EXPECT_NE(std::string::npos, list.output.find("topology many\nfault refuse-property-write off\n"
                                                  "fault fail-property-write 3")) << list.output;
    EXPECT_EQ(3u, state->endpoints.failPropertyWrite);
    state->config.model = sim::kModelR5;
    EXPECT_EQ(1u, tool("mute line on").exitCode);  // an R5 has no line input
}

}  // namespace
}  // namespace simtest
