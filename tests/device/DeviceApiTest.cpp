#include "device/DeviceApi.h"

#include <gtest/gtest.h>

namespace {

TEST(DeviceApi, RealTableIsCompleteAndInForceByDefault) {
    const DeviceApiTable& real = RealDeviceApi();
    // Every slot is a function pointer; a slot left out of the table would be null.
    const void* const* slot = reinterpret_cast<const void* const*>(&real);
    for (size_t i = 0; i < sizeof(DeviceApiTable) / sizeof(void*); ++i) EXPECT_NE(nullptr, slot[i]) << "slot " << i;
    EXPECT_EQ(&real, &DeviceApi());
}

int g_closed = 0;
BOOL WINAPI CountingClose(HANDLE) {
    ++g_closed;
    return TRUE;
}

TEST(DeviceApi, InstalledTableTakesTheCallsUntilRemoved) {
    DeviceApiTable fake = RealDeviceApi();
    fake.CloseHandle = CountingClose;
    InstallDeviceApi(&fake);
    EXPECT_TRUE(DeviceApi().CloseHandle(reinterpret_cast<HANDLE>(0x1234)));
    EXPECT_EQ(1, g_closed);
    InstallDeviceApi(nullptr);
    EXPECT_EQ(&RealDeviceApi(), &DeviceApi());
    EXPECT_FALSE(DeviceApi().CloseHandle(reinterpret_cast<HANDLE>(0x1234)));
    EXPECT_EQ(1, g_closed);
}

}  // namespace
