// The virtual device's Core Audio endpoints as any Core Audio client sees them.
#include "SimHarness.h"

#include "device/EndpointKeys.h"
#include "simulator/SimHid.h"
#include "simulator/endpoints/Endpoints.h"

#include <audioclient.h>
#include <devicetopology.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>

namespace simtest {
namespace {

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

TEST_F(SimEndpoints, PropertyWritesNeedAStoreOpenedForWriting) {
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
    EXPECT_EQ(S_OK, writing->SetValue(kKeyEngineFloatFormat, value));
    EXPECT_EQ(STG_E_ACCESSDENIED, writing->SetValue(kKeyDeviceFriendlyName, value));
    PropVariantClear(&value);
    // A key never written reads as empty.
    EXPECT_EQ(S_OK, reading->GetValue(kKeyEngineFloatFormat8a, &value));
    EXPECT_EQ(VT_EMPTY, value.vt);
    writing->Release();
    reading->Release();

    sim::EndpointValues v = {};
    sim::ReadEndpoint(sim::kDeviceLineIn, v);
    EXPECT_EQ(0u, v.formatWrites[0]);
    EXPECT_EQ(2u, v.formatWrites[1]);

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
    volume->Release();
    device->Release();
}

}  // namespace
}  // namespace simtest
