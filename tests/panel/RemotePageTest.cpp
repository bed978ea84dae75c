// The remote-control page and the network-setting dialog with a scripted
// main dialog: activation, hand-over on a mode switch, stop on any other
// rebuild, adapter tables and the modal dialog. Loopback only.
#include "tests/remote/FakeRemotePanel.h"

#include "panel/PPageRemoteCtrl.h"
#include "panel/RemoteControlIds.h"
#include "panel/RmctNic.h"
#include "remote/RemoteClient.h"
#include "remote/RemoteIds.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kLoopback = 0x7F000001;
const std::string kVelmor = R"({"api":"velmor"})";

// The main dialog's side: a window that routes datagrams to the current page.
class FakePageHost : public IRemotePageHost {
public:
    FakePageHost() {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "VelmorFakeMainDialog";
        RegisterClassA(&wc);
        m_window = CreateWindowA(wc.lpszClassName, "", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr, wc.hInstance, nullptr);
        SetWindowLongPtrA(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~FakePageHost() override { DestroyWindow(m_window); }

    HWND MainWindow() override { return m_window; }
    IRemotePanel& Panel() override { return panel; }
    void SetLocalAddressDisplay(DWORD address) override { localAddress = address; }
    void SetRemoteAddressDisplay(DWORD address, bool show) override {
        remoteAddress = address;
        remoteShown = show;
    }
    void SetNetworkServerText(const char* text) override { serverText = text; }
    void EnableNetworkServer(bool enable) override { serverEnabled = enable; }
    bool ModeSwitched() override { return modeSwitched; }
    void ClearModeSwitched() override { modeSwitched = false; }
    int RemoteServiceState() override { return state; }
    void SetRemoteServiceState(int value) override { state = value; }

    FakeRemotePanel panel;
    CPPageRemoteCtrl* page = nullptr;
    DWORD localAddress = 0, remoteAddress = 1;
    bool remoteShown = true, serverEnabled = true, modeSwitched = false;
    std::string serverText;
    int state = 0;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<FakePageHost*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self && message == WM_PANEL_REMOTE_DATAGRAM) {
            if (self->page) self->page->HandleDatagram(reinterpret_cast<const void*>(lParam));
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    HWND m_window = nullptr;
};

// Scripted adapters: loopback ones only, so a notification stays on this machine.
std::vector<IP_ADAPTER_INFO> g_adapters;

ULONG WINAPI LoopbackAdapters(PIP_ADAPTER_INFO info, PULONG size) {
    ULONG needed = static_cast<ULONG>(g_adapters.size() * sizeof(IP_ADAPTER_INFO));
    if (*size < needed) {
        *size = needed;
        return ERROR_BUFFER_OVERFLOW;
    }
    for (size_t i = 0; i < g_adapters.size(); ++i) {
        info[i] = g_adapters[i];
        info[i].Next = i + 1 < g_adapters.size() ? &info[i + 1] : nullptr;
    }
    return ERROR_SUCCESS;
}

IP_ADAPTER_INFO Adapter(const char* address, const char* mask, const char* description) {
    IP_ADAPTER_INFO a = {};
    a.Type = MIB_IF_TYPE_ETHERNET;
    std::strcpy(a.IpAddressList.IpAddress.String, address);
    std::strcpy(a.IpAddressList.IpMask.String, mask);
    std::strcpy(a.Description, description);
    return a;
}

uint32_t AddressOf(CDialog& dialog, int id) {
    DWORD address = 0;
    dialog.SendItem(id, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
    return address;
}

// Answers from the page's service, with this thread pumping the host window.
bool ExchangeWithPump(RemoteClient& client, uint16_t port, const std::string& request, std::string* answer) {
    if (!client.Send(kLoopback, port, request.data(), static_cast<int>(request.size()))) return false;
    for (int i = 0; i < 500; ++i) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        if (client.Receive(kLoopback, 10, answer)) return true;
    }
    return false;
}

class RemotePageTest : public ::testing::Test {
protected:
    RemotePageTest() {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_INTERNET_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        g_adapters = {Adapter("127.0.0.1", "255.255.255.255", "Loopback one"), Adapter("0.0.0.0", "0.0.0.0", "Down"),
                      Adapter("127.0.0.2", "255.255.255.255", "Loopback two"),
                      Adapter("127.0.0.3", "255.255.255.255", "Loopback three")};
        m_previous = InstallAdapterInfoSource(LoopbackAdapters);
    }
    ~RemotePageTest() override { InstallAdapterInfoSource(m_previous); }

    std::unique_ptr<CPPageRemoteCtrl> MakePage(CPPageRemoteCtrl* previous) {
        std::unique_ptr<CPPageRemoteCtrl> page(new CPPageRemoteCtrl(host, previous));
        EXPECT_TRUE(page->Create(host.MainWindow()));
        host.page = page.get();
        return page;
    }

    FakePageHost host;
    AdapterInfoSource m_previous;
};

TEST_F(RemotePageTest, CreationAndInitialisation) {
    host.serverText = "Deactivate";
    host.state = 1;
    auto page = MakePage(nullptr);
    EXPECT_EQ("Network Server", host.serverText);
    EXPECT_EQ(0, host.state);
    EXPECT_FALSE(host.remoteShown);
    EXPECT_FALSE(IsWindowVisible(page->Hwnd()));
    EXPECT_FALSE(IsWindowEnabled(page->Hwnd()));
    EXPECT_EQ("5566", page->ItemText(IDC_RMT_PORT));
    EXPECT_EQ(kRemoteDefaultPort, page->ServicePort());
    EXPECT_EQ(3, page->Adapters().count);
    EXPECT_EQ(kLoopback, host.localAddress);
    EXPECT_EQ("Activate", page->ItemText(IDC_RMT_ACTIVATE));
}

TEST_F(RemotePageTest, NetworkServerStartsAndStops) {
    auto page = MakePage(nullptr);
    page->SetServicePort(0);  // any free port
    page->OnActivateService();
    ASSERT_TRUE(page->Active());
    EXPECT_EQ("Deactivate", host.serverText);
    EXPECT_EQ("Deactivate", page->ItemText(IDC_RMT_ACTIVATE));
    EXPECT_EQ(1, host.state);
    EXPECT_TRUE(host.serverEnabled);

    RemoteClient client;
    std::string answer;
    uint16_t port = UdpServiceBoundPort(&page->Service());
    ASSERT_TRUE(ExchangeWithPump(client, port, kVelmor, &answer));
    EXPECT_EQ(R"({"status":"ok","output":{},"error":"no"})", answer);
    EXPECT_EQ(kLoopback, AddressOf(*page, IDC_RMT_REMOTE_IP));
    EXPECT_EQ(kLoopback, host.remoteAddress);
    EXPECT_TRUE(host.remoteShown);

    page->OnActivateService();
    EXPECT_FALSE(page->Active());
    EXPECT_EQ("Network Server", host.serverText);
    EXPECT_EQ("Activate", page->ItemText(IDC_RMT_ACTIVATE));
    EXPECT_EQ(0, host.state);
    EXPECT_FALSE(host.remoteShown);
}

TEST_F(RemotePageTest, HeldPortLeavesTheServiceInactive) {
    RemoteClient holder;
    auto page = MakePage(nullptr);
    page->SetServicePort(holder.LocalPort());
    page->OnActivateService();
    EXPECT_FALSE(page->Active());
    EXPECT_EQ("Network Server", host.serverText);
    EXPECT_EQ("Activate", page->ItemText(IDC_RMT_ACTIVATE));
    EXPECT_EQ(0, host.state);
    page->SetServicePort(0);
    page->OnActivateService();
    EXPECT_TRUE(page->Active());
}

TEST_F(RemotePageTest, ModeSwitchHandsOverAndOtherRebuildsStop) {
    auto first = MakePage(nullptr);
    first->SetServicePort(0);
    first->OnActivateService();
    ASSERT_TRUE(first->Active());
    uint16_t port = UdpServiceBoundPort(&first->Service());

    host.modeSwitched = true;
    auto second = MakePage(first.get());
    first.reset();  // the old page goes; the service stays with the new one
    EXPECT_TRUE(second->Active());
    RemoteClient client;
    std::string answer;
    ASSERT_TRUE(ExchangeWithPump(client, port, kVelmor, &answer));
    EXPECT_EQ(kLoopback, AddressOf(*second, IDC_RMT_REMOTE_IP));

    // Device removal and arrival: a new page starts inactive and the port is free.
    host.modeSwitched = false;
    auto third = MakePage(second.get());
    EXPECT_FALSE(second->Active());
    EXPECT_FALSE(third->Active());
    EXPECT_EQ("Network Server", host.serverText);
    EXPECT_EQ(0, host.state);
    third->SetServicePort(port);
    third->OnActivateService();
    EXPECT_TRUE(third->Active());
    EXPECT_EQ(port, UdpServiceBoundPort(&third->Service()));
}

TEST_F(RemotePageTest, NetworkSettingDialogListsAndTakesTheChoice) {
    auto page = MakePage(nullptr);
    page->SetServicePort(0);
    page->OnActivateService();
    ASSERT_TRUE(page->Active());
    uint16_t port = UdpServiceBoundPort(&page->Service());

    // Another thread plays the user: refresh twice, pick the second adapter, OK.
    std::vector<std::string> listed;
    std::thread user([&] {
        HWND dialog = nullptr;
        for (int i = 0; i < 500 && !dialog; ++i, Sleep(10)) dialog = FindWindowA(nullptr, "Network Setting (Remote Control)");
        if (!dialog) return;
        HWND combo = GetDlgItem(dialog, IDC_NIC_ADAPTERS);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_NIC_REFRESH, BN_CLICKED), 0);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_NIC_REFRESH, BN_CLICKED), 0);
        LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            char text[140] = {};
            SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
            listed.push_back(text);
        }
        SendMessageA(combo, CB_SETCURSEL, 1, 0);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_NIC_ADAPTERS, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
        char portText[16] = {};
        GetDlgItemTextA(dialog, IDC_NIC_PORT, portText, sizeof(portText));
        listed.push_back(portText);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    });
    page->OpenNetworkSetting();
    user.join();
    // The dialog shows the page's port: here 0, the "any free port" the test asked for.
    EXPECT_EQ((std::vector<std::string>{"Loopback one", "Loopback two", "Loopback three", "0"}), listed);
    EXPECT_EQ(1, page->Adapters().selected);
    EXPECT_EQ(0x7F000002u, host.localAddress);
    // The running service kept its port and still answers.
    EXPECT_TRUE(page->Active());
    RemoteClient client;
    std::string answer;
    EXPECT_TRUE(ExchangeWithPump(client, port, kVelmor, &answer));
}

TEST_F(RemotePageTest, NotificationGoesThroughTheSelectedAdapter) {
    auto page = MakePage(nullptr);
    SendMessageA(page->Hwnd(), WM_COMMAND, MAKEWPARAM(IDC_RMT_REFRESH, BN_CLICKED), 0);
    ASSERT_EQ(3, page->SendItem(IDC_RMT_ADAPTERS, CB_GETCOUNT));
    EXPECT_EQ(kLoopback, AddressOf(*page, IDC_RMT_LOCAL_IP));
    RemoteClient listener;
    page->SetItemText(IDC_RMT_PORT, std::to_string(listener.LocalPort()).c_str());
    SendMessageA(page->Hwnd(), WM_COMMAND, MAKEWPARAM(IDC_RMT_NOTIFY, BN_CLICKED), 0);
    std::string datagram;
    ASSERT_TRUE(listener.Receive(kLoopback, 5000, &datagram));
    EXPECT_EQ(std::string("CorvaTechNotifyBC", 18), datagram);
    EXPECT_TRUE(IsWindowEnabled(page->Item(IDC_RMT_NOTIFY)));
}

// The page a rebuild ends while its network-setting dialog is open.
std::unique_ptr<CPPageRemoteCtrl> g_endingPage;
std::atomic<bool> g_pageEnded{false};

void CALLBACK EndPageFromTheModalLoop(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    g_endingPage.reset();
    g_pageEnded = true;
}

TEST_F(RemotePageTest, PageEndedWhileItsNetworkSettingIsOpenTakesNothingBack) {
    g_endingPage = MakePage(nullptr);
    CPPageRemoteCtrl* page = g_endingPage.get();
    host.page = nullptr;
    const DWORD shownBefore = host.localAddress;
    g_pageEnded = false;
    // A device change or the poll, as the dialog's loop dispatches it.
    SetTimer(nullptr, 0, 50, EndPageFromTheModalLoop);
    std::thread user([&] {
        HWND dialog = nullptr;
        for (int i = 0; i < 500 && !dialog; ++i, Sleep(10)) dialog = FindWindowA(nullptr, "Network Setting (Remote Control)");
        if (!dialog) return;
        for (int i = 0; i < 500 && !g_pageEnded; ++i) Sleep(10);
        SendMessageA(GetDlgItem(dialog, IDC_NIC_ADAPTERS), CB_SETCURSEL, 1, 0);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_NIC_ADAPTERS, CBN_SELCHANGE), 0);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    });
    page->OpenNetworkSetting();
    user.join();
    EXPECT_TRUE(g_pageEnded);
    EXPECT_EQ(shownBefore, host.localAddress);
}

// With no addressed adapter the dialog has no table to take: OK still hands
// back the port in use (a "/remote:N" one), not the default.
TEST_F(RemotePageTest, NetworkSettingWithoutAdaptersKeepsThePortInUse) {
    g_adapters = {Adapter("0.0.0.0", "0.0.0.0", "Down")};
    auto page = MakePage(nullptr);
    page->SetServicePort(6001);
    std::string shown;
    std::thread user([&] {
        HWND dialog = nullptr;
        for (DWORD start = GetTickCount(); !dialog && GetTickCount() - start < 30000; Sleep(10)) {
            dialog = FindWindowA(nullptr, "Network Setting (Remote Control)");
        }
        if (!dialog) return;
        char portText[16] = {};
        // The window exists before its initialisation has filled it.
        for (DWORD start = GetTickCount(); !portText[0] && GetTickCount() - start < 30000; Sleep(10)) {
            GetDlgItemTextA(dialog, IDC_NIC_PORT, portText, sizeof(portText));
        }
        shown = portText;
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    });
    page->OpenNetworkSetting();
    user.join();
    EXPECT_EQ("6001", shown) << "step: the dialog opens";
    EXPECT_EQ(6001, page->ServicePort());
}

TEST_F(RemotePageTest, NetworkSettingStartsFromThePageTable) {
    CRmctNic dialog(host.MainWindow());
    AdapterTable table = {};
    table.count = 2;
    table.selected = 1;
    table.port = 6000;
    table.addresses[1] = htonl(0x7F000009);
    std::strcpy(table.descriptions[0], "A");
    std::strcpy(table.descriptions[1], "B");
    dialog.Load(table);
    ASSERT_TRUE(dialog.Create(host.MainWindow()));
    EXPECT_EQ(2, dialog.SendItem(IDC_NIC_ADAPTERS, CB_GETCOUNT));
    EXPECT_EQ(1, dialog.SendItem(IDC_NIC_ADAPTERS, CB_GETCURSEL));
    EXPECT_EQ(0x7F000009u, AddressOf(dialog, IDC_NIC_LOCAL_IP));
    EXPECT_EQ("6000", dialog.ItemText(IDC_NIC_PORT));
    EXPECT_FALSE(IsWindowVisible(dialog.Item(IDC_NIC_NOTIFY)));
}

}  // namespace
