// The virtual endpoints where Windows documents what a client sees: the
// property store, the audio client's format answers, COM, device states,
// arrival after the interfaces, and one notice per change.
#include "SimHarness.h"

#include "device/EndpointKeys.h"
#include "device/KsConstants.h"
#include "simulator/endpoints/Endpoints.h"

#include <audioclient.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>

#include <atomic>
#include <functional>
#include <vector>

namespace simtest {
namespace {

struct Heard : IAudioEndpointVolumeCallback, IMMNotificationClient {
    std::atomic<int> notices{0}, properties{0};
    std::atomic<DWORD> lineState{0};
    std::vector<float> left;  // each notice's left level (scalar), read after the waits
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA data) override {
        return left.push_back(data->afChannelVolumes[0]), ++notices, S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR id, DWORD state) override {
        return sim::FindEndpoint(id) == sim::kDeviceLineIn ? lineState = state : 0, S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY key) override {
        return properties += SameKey(key, kKeyDeviceFormat) ? 1 : 0, S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow, ERole, LPCWSTR) override { return S_OK; }
};

bool WaitFor(const std::function<bool()>& done) {
    for (DWORD start = GetTickCount(); !done() && GetTickCount() - start < 10000;) Sleep(10);
    return done();
}

WAVEFORMATEXTENSIBLE Pcm(DWORD rate, WORD bits) {
    WAVEFORMATEXTENSIBLE f = {{WAVE_FORMAT_EXTENSIBLE, 2, rate, rate * bits / 4, WORD(bits / 4), bits, 22}, {bits}, 3,
                              kKsDataFormatSubtypePcm};
    return f;
}

class SimDocumentedEndpoints : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        ASSERT_EQ(S_OK, Api().CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                               __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&enumerator)));
        ASSERT_EQ(S_OK, enumerator->GetDevice(sim::Endpoint(sim::kDeviceRender).id, &device));
    }
    void TearDown() override {
        device->Release();
        enumerator->Release();
        SimTest::TearDown();
    }
    template <typename I>
    I* Activate() {
        I* object = nullptr;
        EXPECT_EQ(S_OK, device->Activate(__uuidof(I), CLSCTX_ALL, nullptr, reinterpret_cast<void**>(&object)));
        return object;
    }
    // Sets the render format through a store opened for it; commits when asked.
    HRESULT Write(const void* blob, ULONG bytes, const PROPERTYKEY& key = kKeyDeviceFormat, bool commit = false) {
        PROPVARIANT value = {};
        value.vt = VT_BLOB;
        value.blob = {bytes, static_cast<BYTE*>(const_cast<void*>(blob))};
        IPropertyStore* store = nullptr;
        HRESULT hr = device->OpenPropertyStore(STGM_READWRITE, &store);
        if (SUCCEEDED(hr)) hr = store->SetValue(key, value);
        if (SUCCEEDED(hr) && commit && SUCCEEDED(hr = store->Commit())) {
            EXPECT_EQ(E_FAIL, store->SetValue(key, value));  // a committed store is spent
        }
        if (store) store->Release();
        return hr;
    }
    DWORD Rate() { return reinterpret_cast<WAVEFORMATEX*>(state->endpoints.endpoint[sim::kDeviceRender].format[0])->nSamplesPerSec; }
    DWORD State(uint32_t endpoint) {
        sim::StateLock shared;
        return sim::EndpointDeviceState(*state, endpoint);
    }
    IMMDeviceEnumerator* enumerator = nullptr;
    IMMDevice* device = nullptr;
};

TEST_F(SimDocumentedEndpoints, TheStoreChecksNoFormatTheAudioClientDoesAndCommitHoldsBackWrites) {
    state->config.maxBits = 16;
    WAVEFORMATEXTENSIBLE wide = Pcm(96000, 24), plain = Pcm(44100, 16);
    IAudioClient* client = Activate<IAudioClient>();
    ASSERT_NE(nullptr, client);
    EXPECT_EQ(AUDCLNT_E_UNSUPPORTED_FORMAT, client->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &wide.Format, nullptr));
    EXPECT_EQ(S_OK, client->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &plain.Format, nullptr));
    // Shared mode compares with the engine's format: another rate names it as the closest.
    WAVEFORMATEX* closest = nullptr;
    EXPECT_EQ(E_POINTER, client->IsFormatSupported(AUDCLNT_SHAREMODE_SHARED, &plain.Format, nullptr));
    ASSERT_EQ(S_FALSE, client->IsFormatSupported(AUDCLNT_SHAREMODE_SHARED, &plain.Format, &closest));
    EXPECT_EQ(48000u, closest->nSamplesPerSec);
    CoTaskMemFree(closest);

    EXPECT_EQ(S_OK, Write(&wide, sizeof(wide)));  // what the device cannot play, taken all the same
    EXPECT_EQ(96000u, Rate());
    BYTE longer[48] = {};
    EXPECT_EQ(INPLACE_S_TRUNCATED, Write(longer, sizeof(longer), kKeyEngineFloatFormat));
    // The stricter reading: values wait for Commit, a store released without it changes nothing.
    state->endpoints.commitRequired = 1;
    for (bool commit : {false, true}) {
        EXPECT_EQ(S_OK, Write(&plain, sizeof(plain), kKeyDeviceFormat, commit));
        EXPECT_EQ(commit ? 44100u : 96000u, Rate());
    }
    sim::Unplug();
    EXPECT_EQ(AUDCLNT_E_DEVICE_INVALIDATED, client->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &plain.Format, nullptr));
    client->Release();
}

TEST_F(SimDocumentedEndpoints, ComStatesArrivalAndOneNoticePerChange) {
    // Without COM on the thread (and no multithreaded apartment in the process) there is no enumerator.
    CoUninitialize();
    void* none = nullptr;
    EXPECT_EQ(CO_E_NOTINITIALIZED, Api().CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                                          __uuidof(IMMDeviceEnumerator), &none));
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));

    Heard heard;
    ASSERT_EQ(S_OK, enumerator->RegisterEndpointNotificationCallback(&heard));
    IAudioEndpointVolume* volume = Activate<IAudioEndpointVolume>();
    ASSERT_EQ(S_OK, volume->RegisterControlChangeNotify(&heard));
    // Two changes at once: two notices, each with the level it left.
    ASSERT_EQ(S_OK, volume->SetMasterVolumeLevel(-50.0f, nullptr));
    ASSERT_EQ(S_OK, volume->SetMasterVolumeLevel(-25.0f, nullptr));
    ASSERT_TRUE(WaitFor([&] { return heard.notices >= 2; }));
    Sleep(50);
    ASSERT_EQ(2, heard.notices.load());
    EXPECT_FLOAT_EQ(0.5f, heard.left[0]);
    EXPECT_FLOAT_EQ(0.75f, heard.left[1]);

    // A format written through the store is told to the notification clients, once per change.
    WAVEFORMATEXTENSIBLE f = Pcm(96000, 24);
    EXPECT_EQ(S_OK, Write(&f, sizeof(f)));
    EXPECT_EQ(S_OK, Write(&f, sizeof(f)));  // the same value: no change
    f.Format.nSamplesPerSec = 44100;
    f.Format.nAvgBytesPerSec = 44100 * f.Format.nBlockAlign;
    EXPECT_EQ(S_OK, Write(&f, sizeof(f)));
    ASSERT_TRUE(WaitFor([&] { return heard.properties >= 2; }));
    EXPECT_EQ(2, heard.properties.load());

    // A disabled endpoint; a removal is NOTPRESENT, and the endpoints come back one by one after the interfaces.
    ASSERT_EQ(S_OK, sim::SetEndpointUserState(sim::kDeviceLineIn, sim::kUserDisabled));
    ASSERT_TRUE(WaitFor([&] { return heard.lineState == DEVICE_STATE_DISABLED; }));
    sim::SetEndpointUserState(sim::kDeviceLineIn, sim::kUserActive);
    state->endpoints.arrivalSpacingMs = 2000;
    sim::Unplug();
    ASSERT_TRUE(WaitFor([&] { return heard.lineState == DEVICE_STATE_NOTPRESENT; }));
    sim::Plug();
    EXPECT_EQ(DWORD(DEVICE_STATE_NOTPRESENT), State(sim::kDeviceRender));
    ASSERT_TRUE(WaitFor([&] { return State(sim::kDeviceRender) == DEVICE_STATE_ACTIVE; }));
    EXPECT_EQ(DWORD(DEVICE_STATE_NOTPRESENT), State(sim::kDeviceLineIn));
    ASSERT_TRUE(WaitFor([&] { return heard.lineState == DEVICE_STATE_ACTIVE; }));

    // The registration died with the device it was made on: no callback, though the device is back
    // (one made on the endpoint's new volume hears the change in the same delivery).
    const int before = heard.notices;
    Heard fresh;
    IAudioEndpointVolume* now = Activate<IAudioEndpointVolume>();
    ASSERT_EQ(S_OK, now->RegisterControlChangeNotify(&fresh));
    ASSERT_EQ(S_OK, sim::SetEndpointLevel(sim::kDeviceRender, ~0u, -10.0f, nullptr));
    ASSERT_TRUE(WaitFor([&] { return fresh.notices > 0; }));
    EXPECT_EQ(before, heard.notices.load());
    EXPECT_EQ(S_OK, now->UnregisterControlChangeNotify(&fresh));
    now->Release();
    EXPECT_EQ(S_OK, volume->UnregisterControlChangeNotify(&heard));
    volume->Release();
    EXPECT_EQ(S_OK, enumerator->UnregisterEndpointNotificationCallback(&heard));
}

}  // namespace
}  // namespace simtest
