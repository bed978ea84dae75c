// The UDP service on loopback: slots, size limits, the probe, a held port,
// stopping with a hand-over pending, the senders and the adapter list.
#include "tests/remote/RemoteHost.h"

#include "remote/AdapterList.h"
#include "remote/RemoteClient.h"
#include "remote/RemoteIds.h"
#include "remote/RemoteStartSwitch.h"
#include "remote/UdpSend.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>

namespace {

constexpr uint32_t kLoopback = 0x7F000001;
constexpr DWORD kAnswerTimeoutMs = 5000;
const std::string kVelmor = R"({"api":"velmor"})";
const std::string kOk = R"({"status":"ok","output":{},"error":"no"})";

// Waits for done() without handling this thread's messages; false after the bound.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = 30000) {
    for (DWORD start = GetTickCount();; Sleep(5)) {
        if (done()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
    }
}

// A message sent from another thread waits for this one.
bool SentMessageWaits() { return (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0; }

// How many handles the object has (0 when it cannot be asked).
ULONG HandleCount(HANDLE handle) {
    struct BasicInformation {
        ULONG attributes, access, handles, pointers, reserved[10];
    } info = {};
    using Query = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
    if (!query || query(handle, 0, &info, sizeof(info), nullptr) < 0) return 0;  // ObjectBasicInformation
    return info.handles;
}

TEST(UdpService, AnswersFromAnotherPortAndProbes) {
    RemoteHost host;
    ASSERT_EQ(S_OK, host.StartResult());
    RemoteClient client;
    std::string answer;
    sockaddr_in from = {};
    ASSERT_TRUE(client.Exchange(kLoopback, host.Port(), kVelmor, kAnswerTimeoutMs, &answer, &from));
    EXPECT_EQ(kOk, answer);
    EXPECT_NE(host.Port(), ntohs(from.sin_port));

    // An empty datagram is a presence probe: one zero byte back, address on the page.
    ASSERT_TRUE(client.Send(kLoopback, host.Port(), "", 0));
    ASSERT_TRUE(client.Receive(kLoopback, kAnswerTimeoutMs, &answer, &from));
    EXPECT_EQ(std::string(1, '\0'), answer);
    EXPECT_NE(host.Port(), ntohs(from.sin_port));
    uint32_t probe = 0;
    host.Invoke([&](FakeRemotePanel& panel, RemoteProtocol&, UdpService&) { probe = panel.probeAddress; });
    EXPECT_EQ(kLoopback, probe);
}

TEST(UdpService, VolumeKeyHoldsTheQueueInOrder) {
    RemoteHost host;
    ASSERT_EQ(S_OK, host.StartResult());
    host.Invoke([](FakeRemotePanel& panel, RemoteProtocol&, UdpService&) { panel.keyHoldMs = 800; });
    RemoteClient client;
    const std::string volUp = R"({"api":"vol_up"})";
    DWORD start = GetTickCount();
    ASSERT_TRUE(client.Send(kLoopback, host.Port(), volUp.data(), static_cast<int>(volUp.size())));
    ASSERT_TRUE(client.Send(kLoopback, host.Port(), kVelmor.data(), static_cast<int>(kVelmor.size())));
    std::string first, second;
    ASSERT_TRUE(client.Receive(kLoopback, kAnswerTimeoutMs, &first));
    EXPECT_GE(GetTickCount() - start, 780u);
    EXPECT_EQ(R"({"status":"ok","output":{"playback":{"volume":""}},"error":"no"})", first);
    ASSERT_TRUE(client.Receive(kLoopback, kAnswerTimeoutMs, &second));
    EXPECT_EQ(kOk, second);  // waited in the socket, then served
}

TEST(UdpService, SlotsRunZeroToSevenThenZero) {
    RemoteHost host;
    ASSERT_EQ(S_OK, host.StartResult());
    RemoteClient client;
    std::string answer;
    for (int i = 0; i < 9; ++i) ASSERT_TRUE(client.Exchange(kLoopback, host.Port(), kVelmor, kAnswerTimeoutMs, &answer));
    auto delivered = host.Delivered();
    ASSERT_EQ(9u, delivered.size());
    for (int i = 0; i < 9; ++i) EXPECT_EQ(i % 8, delivered[i].first);
}

TEST(UdpService, PayloadOf992IsDeliveredAnd993IsNot) {
    RemoteHost host;
    ASSERT_EQ(S_OK, host.StartResult());
    RemoteClient client;
    std::string answer;
    // Padding after the object is ignored: a full-size request is served.
    std::string full = kVelmor + std::string(kUdpMaxPayload - kVelmor.size(), ' ');
    ASSERT_EQ(992u, full.size());
    ASSERT_TRUE(client.Exchange(kLoopback, host.Port(), full, kAnswerTimeoutMs, &answer));
    EXPECT_EQ(kOk, answer);
    std::string over = full + " ";
    ASSERT_TRUE(client.Send(kLoopback, host.Port(), over.data(), static_cast<int>(over.size())));
    ASSERT_TRUE(client.Exchange(kLoopback, host.Port(), kVelmor, kAnswerTimeoutMs, &answer));
    auto delivered = host.Delivered();
    ASSERT_EQ(2u, delivered.size());
    EXPECT_EQ(992u, delivered[0].second);
    EXPECT_EQ(kVelmor.size(), delivered[1].second);
    EXPECT_EQ(1, delivered[1].first);  // the refused datagram kept its slot
}

TEST(UdpService, HeldPortFailsStartAndAFreePortWorks) {
    RemoteClient holder;  // a bound socket on some port
    ASSERT_TRUE(holder.Ready());
    UdpService service(nullptr);
    EXPECT_EQ(E_FAIL, StartUdpService(&service, kUdpSlotSize, holder.LocalPort()));
    StopUdpService(&service);
    EXPECT_EQ(nullptr, service.shared);
    EXPECT_EQ(INVALID_SOCKET, service.socket);
    EXPECT_EQ(S_OK, StartUdpService(&service, kUdpSlotSize, 0));
    // Only the starts of the ring's own slots pass for a delivered datagram.
    char forged[kUdpSlotSize] = {};
    EXPECT_TRUE(IsUdpServiceSlot(&service, service.ring + kUdpSlotSize));
    EXPECT_FALSE(IsUdpServiceSlot(&service, service.ring + 1));
    EXPECT_FALSE(IsUdpServiceSlot(&service, service.ring + kUdpSlotCount * kUdpSlotSize));
    EXPECT_FALSE(IsUdpServiceSlot(&service, forged));
    DWORD start = GetTickCount();
    StopUdpService(&service);  // nothing received: returns at once
    EXPECT_LT(GetTickCount() - start, 2000u);
    StopUdpService(&service);  // twice is harmless
    UdpService never(nullptr);
    StopUdpService(&never);
}

// The window is this thread's and this thread does not pump: the receive
// thread is blocked in its hand-over when the service is stopped.
struct PendingWindow {
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_PANEL_REMOTE_DATAGRAM) {
            ++handled;
            text.assign(reinterpret_cast<const char*>(lParam) + kUdpSlotPayloadOffset);
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    static int handled;
    static std::string text;
};
int PendingWindow::handled = 0;
std::string PendingWindow::text;

TEST(UdpService, StopCompletesAPendingHandOverOnALiveRing) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = PendingWindow::Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "VelmorPendingWindow";
    RegisterClassA(&wc);
    HWND window = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(nullptr, window);
    UdpService service(window);
    ASSERT_EQ(S_OK, StartUdpService(&service, kUdpSlotSize, 0));
    RemoteClient client;
    ASSERT_TRUE(client.Send(kLoopback, UdpServiceBoundPort(&service), kVelmor.data(), int(kVelmor.size())));
    ASSERT_TRUE(WaitUntil([] { return SentMessageWaits(); })) << "step: the receive thread hands the datagram over";
    EXPECT_EQ(0, PendingWindow::handled);
    DWORD start = GetTickCount();
    StopUdpService(&service);
    EXPECT_LT(GetTickCount() - start, 4000u);
    EXPECT_EQ(1, PendingWindow::handled);
    EXPECT_EQ(kVelmor, PendingWindow::text);
    DestroyWindow(window);
}

// The owner's thread does not answer: the stop gives up after its wait, and
// the stop event goes once the late thread has ended (no handle per stop).
TEST(UdpService, StopThatTimesOutLeavesNoHandle) {
    HANDLE created = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE pending = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HWND window = nullptr;
    // The owner's thread handles nothing: it only says when a hand-over waits for it.
    std::thread owner([&] {
        window = CreateWindowA("STATIC", "", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr, nullptr, nullptr);
        SetEvent(created);
        while (WaitForSingleObject(release, 5) == WAIT_TIMEOUT) {
            if (SentMessageWaits()) SetEvent(pending);
        }
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(created, 30000)) << "step: the owner's window";
    RemoteClient client;
    HANDLE stopEvent = nullptr;
    {
        UdpService service(window);
        ASSERT_EQ(S_OK, StartUdpService(&service, kUdpSlotSize, 0));
        // The stop event seen through a handle of the test's own: its count
        // tells whether the service's handle is still open (handle values are reused).
        ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), service.stopEvent, GetCurrentProcess(), &stopEvent, 0, FALSE,
                                    DUPLICATE_SAME_ACCESS));
        EXPECT_EQ(2u, HandleCount(stopEvent));
        ASSERT_TRUE(client.Send(kLoopback, UdpServiceBoundPort(&service), kVelmor.data(), int(kVelmor.size())));
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pending, 30000)) << "step: the hand-over waits for the owner";
        StopUdpService(&service);
    }
    SetEvent(release);  // the window's thread ends: the hand-over fails, the thread ends
    owner.join();
    EXPECT_TRUE(WaitUntil([&] { return HandleCount(stopEvent) == 1; })) << "the stop event is still open";
    CloseHandle(stopEvent);
    CloseHandle(created);
    CloseHandle(pending);
    CloseHandle(release);
}

TEST(UdpSend, DirectedBroadcastAddress) {
    EXPECT_EQ(0xC0A801FFu, DirectedBroadcastAddress(0xFFFFFF00u, 0xC0A80114u));  // 192.168.1.20/24
    EXPECT_EQ(0x0AFFFFFFu, DirectedBroadcastAddress(0xFF000000u, 0x0A000007u));  // 10.0.0.7/8
    EXPECT_EQ(0x7F000001u, DirectedBroadcastAddress(0xFFFFFFFFu, 0x7F000001u));  // a host mask: itself
}

TEST(UdpSend, NotificationCarriesEighteenBytes) {
    // A host mask keeps the broadcast on the loopback address itself.
    RemoteClient listener;
    ASSERT_TRUE(listener.Ready());
    EXPECT_EQ(S_OK, NotifyController(0xFFFFFFFFu, kLoopback, listener.LocalPort()));
    std::string datagram;
    ASSERT_TRUE(listener.Receive(kLoopback, kAnswerTimeoutMs, &datagram));
    EXPECT_EQ(std::string("CorvaTechNotifyBC", 18), datagram);
}

// Scripted adapter lists in the layout GetAdaptersInfo uses.
struct ScriptedAdapter {
    const char* address;
    const char* mask;
    const char* description;
};
std::vector<ScriptedAdapter> g_adapters;
bool g_listFails = false;
int g_calls = 0;

ULONG WINAPI ScriptedAdapters(PIP_ADAPTER_INFO info, PULONG size) {
    ++g_calls;
    if (g_listFails) return ERROR_NO_DATA;
    ULONG needed = static_cast<ULONG>(g_adapters.size() * sizeof(IP_ADAPTER_INFO));
    if (*size < needed) {
        *size = needed;
        return ERROR_BUFFER_OVERFLOW;
    }
    std::memset(info, 0, needed);
    for (size_t i = 0; i < g_adapters.size(); ++i) {
        info[i].Next = i + 1 < g_adapters.size() ? &info[i + 1] : nullptr;
        info[i].Type = MIB_IF_TYPE_ETHERNET;
        std::strcpy(info[i].IpAddressList.IpAddress.String, g_adapters[i].address);
        std::strcpy(info[i].IpAddressList.IpMask.String, g_adapters[i].mask);
        std::strcpy(info[i].Description, g_adapters[i].description);
    }
    return ERROR_SUCCESS;
}

class AdapterListTest : public ::testing::Test {
protected:
    AdapterListTest() { m_previous = InstallAdapterInfoSource(ScriptedAdapters); g_listFails = false; g_calls = 0; }
    ~AdapterListTest() override { InstallAdapterInfoSource(m_previous); }
    AdapterInfoSource m_previous;
};

TEST_F(AdapterListTest, ThreeAddressedAdaptersAndOneWithout) {
    g_adapters = {{"192.168.1.20", "255.255.255.0", "First"},
                  {"0.0.0.0", "0.0.0.0", "Unplugged"},
                  {"10.0.0.7", "255.0.0.0", "Second"},
                  {"172.16.5.1", "255.255.0.0", "Third"}};
    UdpService service(nullptr);
    int count = -1;
    EXPECT_EQ(1, EnumerateAdapters(&service, &count));
    EXPECT_EQ(4, count);
    EXPECT_EQ(2, g_calls);  // grown once, then filled
    AdapterTable table = {};
    table.port = kRemoteDefaultPort;
    for (int pass = 0; pass < 2; ++pass) {  // a refresh leaves one entry per adapter
        ASSERT_EQ(3, FillAdapterTable(&service, &table));
    }
    EXPECT_STREQ("First", table.descriptions[0]);
    EXPECT_STREQ("Second", table.descriptions[1]);
    EXPECT_STREQ("Third", table.descriptions[2]);
    EXPECT_EQ(kRemoteDefaultPort, table.port);
    EXPECT_EQ(0xC0A80114u, SelectedAdapterAddress(table));
    // The notification of entry 0 would go to its subnet's broadcast address.
    EXPECT_EQ(0xC0A801FFu, DirectedBroadcastAddress(ntohl(table.masks[0]), ntohl(table.addresses[0])));
    table.selected = 1;
    EXPECT_EQ(0x0A000007u, SelectedAdapterAddress(table));
}

TEST_F(AdapterListTest, MoreThanSixteenAdaptersFillTheTableOnly) {
    std::vector<std::string> addresses;
    for (int i = 0; i < 20; ++i) addresses.push_back("10.1.0." + std::to_string(i + 1));
    g_adapters.clear();
    for (const auto& a : addresses) g_adapters.push_back({a.c_str(), "255.255.0.0", "Many"});
    UdpService service(nullptr);
    int count = 0;
    EXPECT_EQ(1, EnumerateAdapters(&service, &count));
    EXPECT_EQ(20, count);
    AdapterTable table = {};
    EXPECT_EQ(kAdapterTableEntries, FillAdapterTable(&service, &table));
    EXPECT_EQ(0x0A010010u, ntohl(table.addresses[15]));
}

TEST_F(AdapterListTest, FailingListLeavesNothing) {
    g_adapters = {{"192.168.1.20", "255.255.255.0", "First"}};
    UdpService service(nullptr);
    AdapterTable table = {};
    ASSERT_EQ(1, FillAdapterTable(&service, &table));
    g_listFails = true;
    int count = 5;
    EXPECT_EQ(0, EnumerateAdapters(&service, &count));
    EXPECT_EQ(0, count);
    EXPECT_EQ(nullptr, service.adapterBuffer);
    EXPECT_EQ(0, FillAdapterTable(&service, &table));
    EXPECT_EQ(kLoopback, SelectedAdapterAddress(table));
}

}  // namespace

namespace {

TEST(RemoteStartSwitch, PortsAndRefusals) {
    uint16_t port = 0;
    EXPECT_EQ(RemoteSwitch::Absent, ParseRemoteSwitch("\"C:\\Program Files\\VelmorR5R6ACPL.exe\"", &port));
    EXPECT_EQ(RemoteSwitch::Absent, ParseRemoteSwitch("VelmorR5R6ACPL.exe /remoted", &port));
    EXPECT_EQ(RemoteSwitch::Start, ParseRemoteSwitch("VelmorR5R6ACPL.exe /REMOTE", &port));
    EXPECT_EQ(5566, port);
    EXPECT_EQ(RemoteSwitch::Start, ParseRemoteSwitch("x.exe /tray /remote:6000", &port));
    EXPECT_EQ(6000, port);
    for (const char* line : {"/remote:", "/remote:0", "/remote:65536", "/remote:12a", "/remote:999999"}) {
        EXPECT_EQ(RemoteSwitch::Invalid, ParseRemoteSwitch(line, &port)) << line;
    }
}

}  // namespace
