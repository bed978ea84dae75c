// The endpoint control's COM side: its interfaces, its session sinks and what
// its notifications post.
#include "panel/PanelMessages.h"
#include "panel/Player.h"

#include "simulator/SimDevice.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

struct Heard : SessionListener {
    int volumeCalls = 0;
    float volume = -1;
    BOOL mute = FALSE;
    int disconnects = 0;
    bool capture = false;
    void OnSessionVolumeChanged(float v, BOOL m) override {
        ++volumeCalls;
        volume = v;
        mute = m;
    }
    void OnSessionDisconnected(bool c, AudioSessionDisconnectReason) override {
        ++disconnects;
        capture = c;
    }
};

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

TEST_F(PlayerTest, SessionSinksTellTheListenerWhatOthersChanged) {
    Heard heard;
    player->SetSessionListener(&heard);
    auto* render = new CAudioSessionEvents(player, window, 0);
    auto* capture = new CAudioSessionEvents(player, window, 1);
    const GUID someoneElse = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};

    EXPECT_EQ(S_OK, render->OnSimpleVolumeChanged(0.5f, TRUE, &kPanelEventContext));  // our own change
    EXPECT_EQ(0, heard.volumeCalls);
    EXPECT_EQ(S_OK, render->OnSimpleVolumeChanged(0.25f, TRUE, &someoneElse));
    EXPECT_EQ(1, heard.volumeCalls);
    EXPECT_FLOAT_EQ(0.25f, heard.volume);
    EXPECT_EQ(S_OK, capture->OnSimpleVolumeChanged(0.75f, FALSE, &someoneElse));  // render sink only
    EXPECT_EQ(1, heard.volumeCalls);

    EXPECT_EQ(S_OK, capture->OnSessionDisconnected(DisconnectReasonDeviceRemoval));
    EXPECT_EQ(1, heard.disconnects);
    EXPECT_TRUE(heard.capture);
    EXPECT_EQ(S_OK, render->OnSessionDisconnected(DisconnectReasonDeviceRemoval));
    EXPECT_FALSE(heard.capture);

    IUnknown* unknown = nullptr;
    ASSERT_EQ(S_OK, render->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    EXPECT_EQ(1u, unknown->Release());
    EXPECT_EQ(0u, render->Release());
    EXPECT_EQ(0u, capture->Release());
    player->SetSessionListener(nullptr);
}

}  // namespace
