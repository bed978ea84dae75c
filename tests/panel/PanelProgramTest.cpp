// The shipped panel program (32-bit) with the driver and the reference host,
// all on one virtual device: what a listener sees of a running stream,
// the driver's controlPanel in both directions, the panel's choices reaching
// the driver, and a single panel per desktop. Few 32-bit starts: each may
// take most of a minute where 32-bit Wine is emulated.
#include "device/AsioSettingsKey.h"
#include "device/PanelWindow.h"
#include "device/SharedTypes.h"
#include "device/StatusBlock.h"
#include "panel/PanelIds.h"
#include "panel/PanelSwitches.h"
#include "remote/RemoteClient.h"
#include "simulator/SimDevice.h"
#include "tests/panel/PanelTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RegistrySandbox.h"
#include "tests/support/SavedRegistration.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <future>
#include <string>

namespace {

using Layout = StatusBlockLayout;

constexpr DWORD kStartTimeoutMs = 240000;
// Each later step of a running panel: a 32-bit panel may run emulated.
constexpr DWORD kStepTimeoutMs = 60000;
const char kAppDefaults[] = "Software\\Wine\\AppDefaults\\VelmorR5R6ACPL.exe";

HWND FindDescendant(HWND root, int id) {
    struct Search {
        int id;
        HWND found;
    } search = {id, nullptr};
    EnumChildWindows(
        root,
        [](HWND child, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            if (GetDlgCtrlID(child) != s->id) return TRUE;
            s->found = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string Text(HWND window) {
    char text[256] = {};
    if (window) SendMessageA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text));
    return text;
}

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs) {
    for (DWORD waited = 0;; waited += 50) {
        if (done()) return true;
        if (waited >= timeoutMs) return false;
        Sleep(50);
    }
}

HWND PanelWindow() { return FindWindowA(nullptr, kPanelWindowTitle); }

class PanelProgram : public ::testing::Test {
protected:
    void SetUp() override {
        panel = OtherArchProgram("VelmorR5R6ACPL.exe");
        if (panel.empty()) GTEST_SKIP() << "the 32-bit panel is not built";
        ASSERT_EQ(nullptr, PanelWindow()) << "a panel is already running";
        char name[64];
        std::snprintf(name, sizeof(name), "panel-e2e-%lu", GetCurrentProcessId());
        ASSERT_TRUE(sim::Attach(name));
        sim::ResetDevice();
        SetEnvironmentVariableA("VELMOR_SIM_INSTANCE", name);
        SetEnvironmentVariableA("VELMOR_DEVICE", "simulated");
        dll = SiblingProgram("VelmorR5R6ASIO.dll");
        registration.Save();
        ASSERT_EQ(0u, RunChild("regsvr32 /s \"" + dll + "\"").exitCode);
        // A Windows without endpoint control: the panel shows its ASIO page.
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kAppDefaults, 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key, nullptr));
        RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("winxp"), 6);
        RegCloseKey(key);
    }
    void TearDown() override {
        if (HWND window = PanelWindow()) SendMessageTimeoutA(window, WM_COMMAND, ID_PANEL_EXIT, 0, SMTO_BLOCK, 5000, nullptr);
        WaitFor([] { return PanelWindow() == nullptr; }, 10000);
        // The test's own registration goes; the one the prefix had (scripts/demo's, say) comes back.
        if (!dll.empty()) registration.Restore([this] { RunChild("regsvr32 /s /u \"" + dll + "\""); });
        RegDeleteKeyA(HKEY_CURRENT_USER, kAppDefaults);
        SetEnvironmentVariableA("VELMOR_DEVICE", nullptr);
        SetEnvironmentVariableA("VELMOR_SIM_INSTANCE", nullptr);
    }

    // Starts the program without waiting for it; true once its window exists.
    bool StartPanel(const std::string& arguments = "") {
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        std::string command = "\"" + panel + "\" " + arguments;
        if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
            return false;
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        // The title comes first in the dialog's start-up; the window shows
        // once the start-up is over.
        return WaitFor([] { return IsWindowVisible(PanelWindow()) != FALSE; }, kStartTimeoutMs);
    }
    ChildResult Host(const std::string& arguments) {
        return RunChild("\"" + SiblingProgram("asiohost.exe") + "\" " + arguments);
    }
    HWND Control(int id) { return FindDescendant(PanelWindow(), id); }
    void PageCommand(int id, WORD code) {
        HWND control = Control(id);
        SendMessageA(GetParent(control), WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(control));
    }

    std::string panel;
    std::string dll;
    SavedRegistration registration;
    RegistrySandbox settings;
    PanelSwitchSandbox switches;
};

TEST_F(PanelProgram, ShowsTheDriverAndItsStreamAndHandsChoicesToTheDriver) {
    PutSettingDword(kValueBufferSize, 200);
    PutSettingDword(kValueBitsPerSample, 16);
    // With the remote control allowed and started from the command line on
    // a free loopback-reachable port.
    PutPanelSwitch(kPanelSwitchKeyWow, kSwitchRmtCtrl, 1);
    const uint16_t remotePort = RemoteClient().LocalPort();
    ASSERT_TRUE(StartPanel("/remote:" + std::to_string(remotePort))) << "step: the panel starts";

    // Started before any driver: the panel made the block from the driver's key.
    CStatusBlock block;
    ASSERT_EQ(S_OK, block.OpenExisting());
    EXPECT_EQ(200u, block.ReadOr(&Layout::bufferSize, 0));
    EXPECT_EQ(1u, block.ReadOr(&Layout::settingsLoaded, 0));
    ASSERT_TRUE(WaitFor([&] { return Text(Control(IDC_ASIO_PAGE_STATE)) == "UNLOAD"; }, kStepTimeoutMs))
        << "step: the ASIO page shows the driver unloaded";
    EXPECT_EQ("20", Text(Control(IDC_ASIO_PAGE_BUFFER)));

    // A controller finds it, reads it and sets the ASIO preferences.
    EXPECT_EQ("Deactivate", Text(Control(IDC_NETWORK_SERVER)));
    auto remote = [&](const std::string& command) {
        return RunChild("\"" + SiblingProgram("velmor-remote.exe") + "\" --host 127.0.0.1 --port " +
                        std::to_string(remotePort) + " --timeout 30000 " + command);
    };
    ChildResult found = remote("probe");
    EXPECT_EQ(0u, found.exitCode) << found.output;
    EXPECT_NE(std::string::npos, found.output.find("127.0.0.1")) << found.output;
    ChildResult status = remote("--json status");
    EXPECT_EQ(0u, status.exitCode) << status.output;
    EXPECT_NE(std::string::npos, status.output.find(R"("asio":{"buffer_size":"20","bit":"16"})")) << status.output;
    ChildResult set = remote("set-asio --buffer-ms 40 --bit 24");
    EXPECT_EQ(0u, set.exitCode) << set.output;
    status = remote("--json status");
    EXPECT_NE(std::string::npos, status.output.find(R"("asio":{"buffer_size":"40","bit":"24"})")) << status.output;
    EXPECT_TRUE(WaitFor([&] { return Text(Control(IDC_ASIO_PAGE_BUFFER)) == "40"; }, kStepTimeoutMs))
        << "step: the ASIO page shows the controller's 40 ms";
    remote("set-asio --buffer-ms 20 --bit 16");
    EXPECT_EQ(200u, block.ReadOr(&Layout::bufferSize, 0));

    // A second start gives way to the running panel and ends at once.
    ChildResult second = RunChild("\"" + panel + "\"", kStartTimeoutMs);
    EXPECT_TRUE(second.started);
    EXPECT_EQ(0u, second.exitCode);
    EXPECT_NE(nullptr, PanelWindow());

    // A running stream: within two polls of the driver's start.
    // Long enough for a slow panel's poll to see it: the waits end with the
    // condition, the stream's length only bounds them.
    auto play = std::async(std::launch::async, [&] { return Host("play VelmorR5R6 --rate 48000 --seconds 30"); });
    EXPECT_TRUE(WaitFor([&] { return block.ReadOr(&Layout::driverState, 0) == kDriverRunning; }, kStepTimeoutMs))
        << "step: the host starts the driver";
    EXPECT_TRUE(WaitFor([&] { return Text(Control(IDC_ASIO_PAGE_STATE)) == "RUNNING"; }, 25000))
        << "step: the ASIO page shows the running driver";
    EXPECT_EQ("PCM stream", Text(Control(IDC_ASIO_PAGE_KIND)));
    EXPECT_EQ(0u, Text(Control(IDC_ASIO_PAGE_DESCRIPTION)).find("2 Channels, "));
    EXPECT_NE(std::string::npos, Text(Control(IDC_ASIO_PAGE_DESCRIPTION)).find("48000 Hz, Buffer 20.0 ms"));

    // "Reset" reaches the running host.
    PageCommand(IDC_ASIO_PAGE_RESET, BN_CLICKED);
    ChildResult played = play.get();
    EXPECT_EQ(std::string::npos, played.output.find("reset requests 0")) << played.output;
    EXPECT_NE(std::string::npos, played.output.find("reset requests")) << played.output;

    // The driver's controlPanel brings the hidden panel forward on the ASIO page.
    SendMessageA(PanelWindow(), WM_COMMAND, IDOK, 0);
    ASSERT_FALSE(IsWindowVisible(PanelWindow()));
    EXPECT_EQ(0u, Host("controlpanel VelmorR5R6").exitCode);
    EXPECT_TRUE(WaitFor([] { return IsWindowVisible(PanelWindow()) != FALSE; }, kStepTimeoutMs))
        << "step: controlPanel shows the hidden panel";
    EXPECT_TRUE(WaitFor([&] { return block.ReadOr(&Layout::showPanelRequest, 9) == 0; }, kStepTimeoutMs))
        << "step: the panel takes the show request";
    EXPECT_EQ(0u, block.ReadOr(&Layout::showPanelRequest, 9));
    EXPECT_EQ(0u, block.ReadOr(&Layout::changed, 9));

    // 24 bits and 5 ms chosen in the panel are what the driver takes at its next init.
    HWND bits24 = Control(IDC_ASIO_PAGE_BITS24);
    ASSERT_TRUE(IsWindowVisible(bits24));
    SendMessageA(bits24, BM_CLICK, 0, 0);
    SendMessageA(Control(IDC_ASIO_PAGE_BUFFER), CB_SETCURSEL, 3, 0);
    PageCommand(IDC_ASIO_PAGE_BUFFER, CBN_SELCHANGE);
    EXPECT_EQ(24u, block.ReadOr(&Layout::bitsPerSample, 0));
    EXPECT_EQ(50u, block.ReadOr(&Layout::bufferSize, 0));
    ChildResult probe = Host("probe VelmorR5R6 --json");
    EXPECT_NE(std::string::npos, probe.output.find("\"preferred\":240")) << probe.output;  // 5 ms at 48 kHz
    EXPECT_NE(std::string::npos, probe.output.find("\"type\":17")) << probe.output;

    // Unplugging and plugging while the panel runs rebuilds its pages.
    for (int i = 0; i < 3; ++i) {
        sim::Unplug();
        EXPECT_TRUE(WaitFor([&] { return Text(Control(IDC_INFO_TEXT)) == "No Device Available"; }, kStepTimeoutMs))
            << "step: unplug " << i << " shows the Information page";
        sim::Plug();
        EXPECT_TRUE(WaitFor([&] { return Control(IDC_ASIO_PAGE_STATE) != nullptr; }, kStepTimeoutMs))
            << "step: plug " << i << " brings the ASIO page back";
    }

    // The program ends on ID_PANEL_EXIT and stores the two choices.
    block.Close();
    SendMessageTimeoutA(PanelWindow(), WM_COMMAND, ID_PANEL_EXIT, 0, SMTO_BLOCK, 5000, nullptr);
    ASSERT_TRUE(WaitFor([] { return PanelWindow() == nullptr; }, kStepTimeoutMs)) << "step: the panel ends";
    uint32_t stored = 0;
    EXPECT_TRUE(GetSettingDword(kValueBufferSize, &stored));
    EXPECT_EQ(50u, stored);
    EXPECT_TRUE(GetSettingDword(kValueBitsPerSample, &stored));
    EXPECT_EQ(24u, stored);
}

TEST_F(PanelProgram, ControlPanelWithoutThePanelStartsItThroughTheDriversKey) {
    std::string folder = panel.substr(0, panel.find_last_of("\\/") + 1);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\ASIO\\VelmorR5R6", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegSetValueExA(key, kValueAsioCpl, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>(folder.size() + 1));
    RegCloseKey(key);
    EXPECT_EQ(0u, Host("controlpanel VelmorR5R6").exitCode);
    EXPECT_TRUE(WaitFor([] { return IsWindowVisible(PanelWindow()) != FALSE; }, kStartTimeoutMs))
        << "step: controlPanel starts the panel";
}

}  // namespace
