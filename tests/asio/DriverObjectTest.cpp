// The driver object's creation, queries and answers to the host's questions.
#include "DriverHarness.h"

#include "asio/ClassFactory.h"
#include "asio/DevicePath.h"
#include "asio/ModuleState.h"
#include "device/AsioSettingsKey.h"
#include "device/StatusBlock.h"

#include <cstring>
#include <string>

namespace asiotest {
namespace {

using DriverCreation = DriverTest;
using DriverAnswers = DriverTest;

TEST_F(DriverCreation, FailsWithoutADeviceAndFollowsTheQueryRules) {
    sim::Unplug();
    HRESULT hr = S_OK;
    EXPECT_EQ(nullptr, Create(&hr));
    EXPECT_EQ(E_FAIL, hr);
    EXPECT_EQ(0, LiveObjects());  // the failed object is gone

    sim::Plug();
    driver = Create(&hr);
    ASSERT_NE(nullptr, driver) << std::hex << hr;
    void* other = nullptr;
    EXPECT_EQ(E_NOINTERFACE, driver->QueryInterface(IID_IClassFactory, &other));
    EXPECT_EQ(nullptr, other);
    ASSERT_EQ(S_OK, driver->QueryInterface(IID_IUnknown, &other));
    static_cast<IUnknown*>(other)->Release();
    ASSERT_EQ(S_OK, driver->QueryInterface(kTestClsid, &other));
    static_cast<IUnknown*>(other)->Release();

    // The factory: any CLSID, IUnknown and IClassFactory only; a lock keeps the module.
    auto* factory = new CAsioClsFactory(kTestClsid);
    factory->NonDelegatingAddRef();
    EXPECT_EQ(E_FAIL, factory->NonDelegatingQueryInterface(IID_IDispatch, &other));
    EXPECT_EQ(S_OK, factory->NonDelegatingQueryInterface(IID_IClassFactory, &other));
    static_cast<IUnknown*>(other)->Release();
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    factory->NonDelegatingRelease();
    driver->Release();
    driver = nullptr;
    EXPECT_EQ(0, LiveObjects());
    EXPECT_FALSE(CanUnload());  // no object, but the lock
    auto* second = new CAsioClsFactory(kTestClsid);
    second->NonDelegatingAddRef();
    EXPECT_EQ(S_OK, second->LockServer(FALSE));
    second->NonDelegatingRelease();
    EXPECT_TRUE(CanUnload());
}

TEST_F(DriverCreation, OwnsThePublishedStateUntilReleased) {
    driver = Create();
    ASSERT_NE(nullptr, driver);
    CStatusBlock block;
    ASSERT_EQ(S_OK, block.Open());
    EXPECT_TRUE(block.IsOwnedBy(static_cast<CAsioSample*>(driver)->OwnerIdentity()));  // its own identity, not the class
    EXPECT_EQ(uint32_t(kDriverLoaded), block.ReadOr(&StatusBlockLayout::driverState, 9));
    char name[256] = "";
    block.ReadDeviceName(name, sizeof(name));
    EXPECT_STREQ("VelmorR5R6", name);
    ASSERT_EQ(ASIOTrue, driver->init(nullptr));
    EXPECT_EQ(uint32_t(kDriverInitialized), block.ReadOr(&StatusBlockLayout::driverState, 9));
    EXPECT_EQ(0x1FFu, block.ReadOr(&StatusBlockLayout::supportSampleRate, 0));
    EXPECT_EQ(0xEu, block.ReadOr(&StatusBlockLayout::supporBitsPerSample, 0));
    driver->Release();
    driver = nullptr;
    EXPECT_EQ(uint32_t(kDriverUnload), block.ReadOr(&StatusBlockLayout::driverState, 9));
    GUID owner = {};
    block.ReadOwner(&owner);
    EXPECT_EQ(GUID(), owner);
    uint32_t rate = 0;
    EXPECT_TRUE(GetSettingDword(kValueSampleRate, &rate));  // settings written at release
}

TEST_F(DriverAnswers, At44100TheSizesLatenciesClocksAndNamesAreThePublishedOnes) {
    ASSERT_NE(nullptr, Ready(44100));
    int32_t minimum = 0, maximum = 0, preferred = 0, granularity = 0;
    ASSERT_EQ(ASE_OK, driver->getBufferSize(&minimum, &maximum, &preferred, &granularity));
    EXPECT_EQ(88, minimum);
    EXPECT_EQ(26460, maximum);
    EXPECT_EQ(441, preferred);
    EXPECT_EQ(44, granularity);
    int32_t input = 0, output = 0;
    ASSERT_EQ(ASE_OK, driver->getLatencies(&input, &output));
    EXPECT_EQ(440, input);  // 44 samples per millisecond
    EXPECT_EQ(440, output);
    ASSERT_EQ(ASE_OK, driver->getChannels(&input, &output));
    EXPECT_EQ(2, input);
    EXPECT_EQ(2, output);

    EXPECT_EQ(ASE_NotPresent, driver->canSampleRate(22050));
    EXPECT_EQ(ASE_OK, driver->canSampleRate(384000));
    ASIOSampleRate rate = 0;
    EXPECT_EQ(ASE_OK, driver->getSampleRate(&rate));
    EXPECT_EQ(44100.0, rate);

    ASIOClockSource clocks[2] = {};
    int32_t count = 2;
    ASSERT_EQ(ASE_OK, driver->getClockSources(clocks, &count));
    EXPECT_EQ(1, count);
    EXPECT_STREQ("Internal", clocks[0].name);
    EXPECT_EQ(ASE_OK, driver->setClockSource(1));
    EXPECT_EQ(ASE_NotPresent, driver->setClockSource(2));

    ASIOChannelInfo info = {};
    info.channel = 0;
    info.isInput = ASIOFalse;
    ASSERT_EQ(ASE_OK, driver->getChannelInfo(&info));
    EXPECT_STREQ("VelmorR5R6_OUT_L", info.name);
    EXPECT_EQ(ASIOSTInt32LSB, info.type);
    EXPECT_EQ(0, info.channelGroup);
    info.channel = 1;
    info.isInput = ASIOTrue;
    ASSERT_EQ(ASE_OK, driver->getChannelInfo(&info));
    EXPECT_STREQ("VelmorR5R6_IN_R", info.name);
    EXPECT_EQ(2, info.channelGroup);
    info.channel = 2;
    EXPECT_EQ(ASE_InvalidParameter, driver->getChannelInfo(&info));

    char name[64];
    std::memset(name, 'x', sizeof(name));
    driver->getDriverName(name);
    EXPECT_STREQ("VelmorR5R6", name);
    EXPECT_EQ(2, driver->getDriverVersion());
}

TEST_F(DriverAnswers, FutureSelectorsAndIoFormat) {
    ASSERT_NE(nullptr, Ready(48000));
    EXPECT_EQ(ASE_SUCCESS, driver->future(kAsioCanTimeInfo, nullptr));
    for (int32_t selector = kAsioEnableTimeCodeRead; selector <= kAsioCanOutputMeter; ++selector) {
        if (selector == kAsioCanTimeInfo) continue;
        EXPECT_EQ(ASE_NotPresent, driver->future(selector, nullptr)) << selector;
    }
    EXPECT_EQ(ASE_InvalidParameter, driver->future(17, nullptr));
    ASIOIoFormat format = {};
    format.FormatType = 5;
    EXPECT_EQ(ASE_NotPresent, driver->future(kAsioSetIoFormat, &format));
    EXPECT_EQ(kASIOFormatInvalid, format.FormatType);
    format.FormatType = kASIODSDFormat;
    EXPECT_EQ(ASE_SUCCESS, driver->future(kAsioSetIoFormat, &format));
    format.FormatType = 9;
    EXPECT_EQ(ASE_SUCCESS, driver->future(kAsioGetIoFormat, &format));
    EXPECT_EQ(kASIODSDFormat, format.FormatType);
    EXPECT_EQ(ASE_SUCCESS, driver->future(kAsioCanDoIoFormat, nullptr));
    EXPECT_EQ(ASE_InvalidParameter, driver->future(kAsioSetIoFormat, nullptr));
    EXPECT_EQ(ASE_OK, driver->outputReady());  // not running: nothing to do
}

TEST_F(DriverAnswers, UnusableRegistryRateAndWidthFallBackToWhatTheDeviceDoes) {
    PutSettingDword(kValueSampleRate, 50000);
    PutSettingDword(kValueBitsPerSample, 20);
    driver = Create();
    ASSERT_NE(nullptr, driver);
    ASSERT_EQ(ASIOTrue, driver->init(nullptr));
    ASIOSampleRate rate = 0;
    EXPECT_EQ(ASE_OK, driver->getSampleRate(&rate));
    EXPECT_EQ(32000.0, rate);  // the lowest rate both directions run
    ASIOChannelInfo info = {};
    ASSERT_EQ(ASE_OK, driver->getChannelInfo(&info));
    EXPECT_EQ(ASIOSTInt32LSB, info.type);  // the widest the device takes
}

TEST_F(DriverAnswers, DsdNeedsThirtyTwoBitPcmAndRunsAtTheCarrierRate) {
    device->config.maxBits = 24;
    driver = Create();
    ASSERT_NE(nullptr, driver);
    ASSERT_EQ(ASIOTrue, driver->init(nullptr));
    EXPECT_EQ(ASE_NoClock, driver->canSampleRate(2822400));
    driver->Release();
    driver = nullptr;

    device->config.maxBits = 32;
    ASSERT_NE(nullptr, Ready(2822400));
    ASIOSampleRate rate = 0;
    EXPECT_EQ(ASE_OK, driver->getSampleRate(&rate));
    EXPECT_EQ(2822400.0, rate);
    CStatusBlock block;
    ASSERT_EQ(S_OK, block.Open());
    EXPECT_EQ(88200u, block.ReadOr(&StatusBlockLayout::streamRate, 0));
    int32_t minimum = 0, maximum = 0, preferred = 0, granularity = 0;
    driver->getBufferSize(&minimum, &maximum, &preferred, &granularity);
    EXPECT_EQ(28224, minimum);
    EXPECT_EQ(282240, maximum);
    EXPECT_EQ(28224, preferred);
    EXPECT_EQ(28224, granularity);
    ASIOChannelInfo info = {};
    ASSERT_EQ(ASE_OK, driver->getChannelInfo(&info));
    EXPECT_EQ(ASIOSTDSDInt8MSB1, info.type);
    EXPECT_EQ(32u, block.ReadOr(&StatusBlockLayout::streamWidth, 0));
    EXPECT_EQ(ASE_OK, driver->canSampleRate(11289600));
}

TEST(DriverDevicePath, OnlyAListedDeviceWithAnInterfaceNumberIsTaken) {
    uint16_t vendor = 0, product = 0;
    EXPECT_TRUE(MatchSupportedPath("\\\\?\\usb#vid_3a45&pid_0454&mi_01#7&2a1f&0&0001#{guid}\\global", &vendor, &product));
    EXPECT_EQ(0x3A45, vendor);
    EXPECT_EQ(0x0454, product);
    vendor = product = 0;
    for (const char* path : {"\\\\?\\usb#vid_3a45&pid_0452#7&2a1f&0&0001",         // no interface
                             "\\\\?\\usb#vid_3a45&pid_0455&mi_01#7&2a1f&0&0001",   // unknown product
                             "\\\\?\\usb#vid_3a46&pid_0452&mi_01#7&2a1f&0&0001",   // unknown vendor
                             "\\\\?\\usb#vid_3a4&pid_0452&mi_01", "", static_cast<const char*>(nullptr)}) {
        EXPECT_FALSE(MatchSupportedPath(path, &vendor, &product)) << (path ? path : "null");
    }
    EXPECT_EQ(0, vendor + product);  // untouched by a refused path
}

TEST_F(DriverAnswers, ControlPanelShowsARunningPanelAndStartsNothingWithoutItsFolder) {
    CStatusBlock block;
    ASSERT_EQ(S_OK, block.Open());
    ASSERT_NE(nullptr, Ready(48000));
    // No panel and no "ASIOCPL": nothing starts, no request is left in the block.
    EXPECT_EQ(ASE_OK, driver->controlPanel());
    EXPECT_EQ(0u, block.ReadOr(&StatusBlockLayout::showPanelRequest, 9));
    // A folder too long for the program's name: nothing starts either.
    PutSettingRaw(kValueAsioCpl, REG_SZ, std::string(258, 'x').append("\\").c_str(), 261);
    EXPECT_EQ(ASE_OK, driver->controlPanel());
    EXPECT_EQ(0u, block.ReadOr(&StatusBlockLayout::showPanelRequest, 9));

    // A running panel is asked to show its ASIO page through the block.
    HWND panel = CreateWindowExA(0, "STATIC", kPanelWindowTitle, 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, panel);
    block.Write(&StatusBlockLayout::changed, 0);
    EXPECT_EQ(ASE_OK, driver->controlPanel());
    EXPECT_EQ(1u, block.ReadOr(&StatusBlockLayout::showPanelRequest, 0));
    EXPECT_EQ(1u, block.ReadOr(&StatusBlockLayout::changed, 0));
    DestroyWindow(panel);
}

}  // namespace
}  // namespace asiotest
