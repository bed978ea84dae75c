// Device path matching, the installation switches and the tray icon's record.
#include "panel/DeviceMatch.h"
#include "panel/Dialog.h"
#include "panel/PanelIds.h"
#include "panel/PanelSwitches.h"
#include "panel/TrayIcon.h"
#include "tests/panel/PanelTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(MatchVidPid, ReadsTheIdsInAnyCaseAndNeedsAllThreeMarkers) {
    EXPECT_EQ(S_OK, MatchVidPid("\\\\?\\usb#vid_3a45&pid_0452&mi_01#6&1#{6994ad04}", 0x3A45, 0x0452));
    EXPECT_EQ(S_FALSE, MatchVidPid("\\\\?\\USB#VID_3A45&PID_0451&MI_01#x", 0x3A45, 0x0452));
    EXPECT_EQ(E_FAIL, MatchVidPid("\\\\?\\USB#VID_3A45&PID_0452#x", 0x3A45, 0x0452));  // no MI_
    EXPECT_EQ(E_FAIL, MatchVidPid("USB#VID_3A45&PID_04", 0x3A45, 0x0452));             // short
    EXPECT_EQ(E_FAIL, MatchVidPid("USB#VID_3AZ5&PID_0452&MI_01", 0x3A45, 0x0452));     // not hexadecimal
    EXPECT_EQ(E_FAIL, MatchVidPid(nullptr, 0x3A45, 0x0452));
    // Only the first 260 characters are looked at.
    std::string longPath(300, 'x');
    longPath += "VID_3A45&PID_0452&MI_01";
    EXPECT_EQ(E_FAIL, MatchVidPid(longPath.c_str(), 0x3A45, 0x0452));
}

TEST(IsSupportedDevicePath, WantsTheUsbFormOfASupportedPair) {
    EXPECT_TRUE(IsSupportedDevicePath("\\\\?\\usb#vid_3a45&pid_0454#5&2#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"));
    EXPECT_FALSE(IsSupportedDevicePath("\\\\?\\USB#VID_3A45&PID_0455#5&2#{a5dcbf10}"));
    EXPECT_FALSE(IsSupportedDevicePath("\\\\?\\HID#VID_3A45&PID_0452#5&2"));
    EXPECT_FALSE(IsSupportedDevicePath("\\\\?\\USB#VID_046D&PID_0452#5&2"));
    EXPECT_FALSE(IsSupportedDevicePath(nullptr));
    const char name[] = "\\\\?\\usb#vid_3a45&pid_0451#x";
    EXPECT_TRUE(IsSupportedDevicePath(name));
    EXPECT_STREQ("\\\\?\\usb#vid_3a45&pid_0451#x", name);  // left as it was
}

// (A 32-bit program sees the two keys as one.)
TEST(PanelSwitches, KeyThenWowTwinThenDefaults) {
    PanelSwitchSandbox sandbox;
    PanelSwitches none = ReadPanelSwitches();
    EXPECT_EQ(0, none.playRec);
    EXPECT_EQ(1, none.asioDrv);
    EXPECT_EQ(0, none.rmtCtrl);

    PutPanelSwitch(kPanelSwitchKeyWow, kSwitchPlayRec, 1);
    PutPanelSwitch(kPanelSwitchKeyWow, kSwitchAsioDrv, 0);
    PutPanelSwitch(kPanelSwitchKey, kSwitchRmtCtrl, 5);
    PanelSwitches mixed = ReadPanelSwitches();
    EXPECT_EQ(1, mixed.playRec);
    EXPECT_EQ(0, mixed.asioDrv);
    EXPECT_EQ(5, mixed.rmtCtrl);

    // A key without the value: 0 and a failure; no key: the output is left alone.
    int value = 7;
    EXPECT_EQ(E_FAIL, ReadPanelSwitch("NoSuchSwitch", kPanelSwitchKey, &value));
    EXPECT_EQ(0, value);
    value = 7;
    EXPECT_EQ(E_FAIL, ReadPanelSwitch(kSwitchPlayRec, "SOFTWARE\\Velmor\\NoSuchKey", &value));
    EXPECT_EQ(7, value);
}

TEST(TrayIcon, RecordSizeFollowsTheShellVersion) {
    EXPECT_EQ(static_cast<UINT>(NOTIFYICONDATAA_V2_SIZE), TrayRecordSize(MAKELONG(71, 4)));
    EXPECT_EQ(static_cast<UINT>(sizeof(NOTIFYICONDATAA)), TrayRecordSize(MAKELONG(0, 6)));
    EXPECT_EQ(static_cast<UINT>(sizeof(NOTIFYICONDATAA)), TrayRecordSize(MAKELONG(0, 5)));
    EXPECT_EQ(static_cast<UINT>(NOTIFYICONDATAA_V2_SIZE), TrayRecordSize(0));
#ifndef _WIN64
    EXPECT_EQ(508u, TrayRecordSize(MAKELONG(0, 6)));
    EXPECT_EQ(488u, TrayRecordSize(MAKELONG(71, 4)));
#endif
}

TEST(TrayIcon, MenuOffersHideOrShowThenExit) {
    struct Case {
        bool visible;
        UINT first;
        const char* text;
    };
    for (Case c : {Case{true, ID_TRAY_HIDE, "Hide"}, Case{false, ID_TRAY_SHOW, "Show"}}) {
        HMENU menu = BuildTrayMenu(c.visible);
        ASSERT_NE(nullptr, menu);
        ASSERT_EQ(2, GetMenuItemCount(menu));
        char text[16] = {};
        GetMenuStringA(menu, 0, text, sizeof(text), MF_BYPOSITION);
        EXPECT_STREQ(c.text, text);
        EXPECT_EQ(c.first, GetMenuItemID(menu, 0));
        EXPECT_EQ(static_cast<UINT>(ID_TRAY_EXIT), GetMenuItemID(menu, 1));
        DestroyMenu(menu);
    }
}

TEST(TrayIcon, AddSetTipAndRemove) {
    TestWindow window;
    CTrayIcon tray;
    tray.Add(window.Hwnd());
    EXPECT_TRUE(tray.Added());
    EXPECT_EQ(kTrayIconId, tray.Data().uID);
    EXPECT_EQ(static_cast<UINT>(WM_PANEL_TRAY), tray.Data().uCallbackMessage);
    EXPECT_EQ(static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP), tray.Data().uFlags);
    EXPECT_STREQ(kTrayTipPresent, tray.Data().szTip);
    EXPECT_EQ(nullptr, tray.Data().hIcon);  // the shell keeps its own copy

    std::string longTip(200, 't');
    tray.SetTip(longTip.c_str());
    EXPECT_EQ(std::string(127, 't'), tray.Data().szTip);
    tray.SetTip(kTrayTipAbsent);
    EXPECT_STREQ("N/A", tray.Data().szTip);
    tray.Remove();
    EXPECT_FALSE(tray.Added());
}

}  // namespace

namespace {

// A modal dialog whose handlers end it: the posted command, or Escape.
class CEndsItself : public CDialog {
public:
    explicit CEndsItself(WPARAM first) : CDialog(IDD_PANEL_MAIN), m_first(first) {
        OnCommandId(ID_PANEL_EXIT, &CEndsItself::OnExit);
    }
    int inits = 0;

protected:
    BOOL OnInitDialog() override {
        ++inits;
        PostMessageA(Hwnd(), WM_COMMAND, m_first, 0);
        return TRUE;
    }

private:
    void OnExit() { EndDialog(42); }
    WPARAM m_first;
};

TEST(DialogBase, ModalDialogsEndThroughMemberHandlersAndEscape) {
    CEndsItself byHandler(ID_PANEL_EXIT);
    EXPECT_EQ(42, byHandler.DoModal());
    EXPECT_EQ(1, byHandler.inits);
    EXPECT_EQ(nullptr, byHandler.Hwnd());
    CEndsItself byEscape(IDCANCEL);
    EXPECT_EQ(IDCANCEL, byEscape.DoModal());
    CDialog missing(4242);
    EXPECT_EQ(-1, missing.DoModal());
    EXPECT_FALSE(missing.Create(nullptr));
}

}  // namespace
