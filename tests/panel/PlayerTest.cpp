// The endpoint control's COM side: its interfaces, its session sinks and what
// its notifications post.
#include "panel/PanelMessages.h"
#include "panel/Player.h"

#include "simulator/SimDevice.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[64];
        snprintf(name, sizeof(name), "player-%lu", GetCurrentProcessId());
        ASSERT_TRUE(sim::Attach(name));
        InstallDeviceApi(&sim::DeviceTable());
        window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        player = new Player(window);
    }
    void TearDown() override {
        EXPECT_EQ(0u, player->Release());
        DestroyWindow(window);
        InstallDeviceApi(nullptr);
    }
    bool Posted(UINT message) {
        MSG msg;
        return PeekMessageA(&msg, window, message, message, PM_REMOVE) != FALSE;
    }

    HWND window = nullptr;
    Player* player = nullptr;
};

TEST_F(PlayerTest, AnswersItsTwoInterfacesAndPostsTheirNotices) {
    EXPECT_NE(nullptr, player->Enumerator());
    EXPECT_TRUE(player->NotificationRegistered());
    IUnknown* unknown = nullptr;
    IAudioEndpointVolumeCallback* callback = nullptr;
    IMMNotificationClient* client = nullptr;
    ASSERT_EQ(S_OK, player->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    ASSERT_EQ(S_OK, unknown->QueryInterface(__uuidof(IAudioEndpointVolumeCallback), reinterpret_cast<void**>(&callback)));
    ASSERT_EQ(S_OK, callback->QueryInterface(__uuidof(IMMNotificationClient), reinterpret_cast<void**>(&client)));
    EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(client));
    void* other = nullptr;
    EXPECT_EQ(E_NOINTERFACE, player->QueryInterface(__uuidof(IAudioSessionEvents), &other));
    EXPECT_EQ(nullptr, other);

    EXPECT_EQ(S_OK, callback->OnNotify(nullptr));
    EXPECT_TRUE(Posted(WM_PANEL_VOLUME_CHANGED));
    for (DWORD state : {DEVICE_STATE_DISABLED, DEVICE_STATE_NOTPRESENT, DEVICE_STATE_UNPLUGGED}) {
        EXPECT_EQ(S_OK, client->OnDeviceStateChanged(L"x", state));
    }
    EXPECT_FALSE(Posted(WM_PANEL_ENDPOINT_ACTIVE));
    EXPECT_EQ(S_OK, client->OnDeviceStateChanged(L"x", DEVICE_STATE_ACTIVE));
    EXPECT_TRUE(Posted(WM_PANEL_ENDPOINT_ACTIVE));
    EXPECT_EQ(S_OK, client->OnDefaultDeviceChanged(eRender, eConsole, L"x"));
    EXPECT_FALSE(Posted(WM_PANEL_VOLUME_CHANGED) || Posted(WM_PANEL_ENDPOINT_ACTIVE));
    client->Release();
    callback->Release();
    unknown->Release();
}

// The device notices the Player registers for: an unplug and plug of the
// device reach the window as an endpoint that became active.
TEST_F(PlayerTest, UnplugAndPlugOfTheDeviceReachTheWindow) {
    sim::ResetDevice();
    ASSERT_TRUE(player->NotificationRegistered());
    while (Posted(WM_PANEL_ENDPOINT_ACTIVE)) {
    }
    sim::Unplug();
    sim::Plug();
    bool posted = false;
    for (DWORD start = GetTickCount(); !posted && GetTickCount() - start < 30000; Sleep(10)) {
        posted = Posted(WM_PANEL_ENDPOINT_ACTIVE);
    }
    EXPECT_TRUE(posted) << "step: the endpoint's activation is posted";
}

}  // namespace
