// The remote control in the real main dialog on the virtual device: the
// "/remote" start, answers built from the device's endpoints and the shared
// status block, the ASIO page refreshed after a write, the service handed
// over across a mode switch and stopped by unplugging. Loopback only.
#include "tests/remote/RemoteHost.h"

#include "device/DeviceApi.h"
#include "device/PanelWindow.h"
#include "device/SharedTypes.h"
#include "device/StatusBlock.h"
#include "device/VendorStatus.h"
#include "panel/EndpointControl.h"
#include "panel/PPageASIO.h"
#include "panel/PPageRecord.h"
#include "panel/PPageRemoteCtrl.h"
#include "panel/PanelIds.h"
#include "panel/PanelSwitches.h"
#include "panel/TarnACPLDlg.h"
#include "remote/AdapterList.h"
#include "remote/RemoteClient.h"
#include "simulator/SimDevice.h"
#include "simulator/endpoints/Endpoints.h"
#include "tests/panel/PanelTestSupport.h"
#include "tests/support/RegistrySandbox.h"

#include <commctrl.h>
#include <dbt.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace {

using Layout = StatusBlockLayout;

constexpr uint32_t kLoopback = 0x7F000001;
constexpr int kWindows7 = 4;
constexpr int kWindowsLater = 7;
const std::string kMisc = R"("misc":{"gpio":{"0":0,"2":1,"4":0,"5":1}})";

// The panel sees one loopback adapter: nothing it sends leaves this machine.
ULONG WINAPI LoopbackAdapter(PIP_ADAPTER_INFO info, PULONG size) {
    if (*size < sizeof(IP_ADAPTER_INFO)) {
        *size = sizeof(IP_ADAPTER_INFO);
        return ERROR_BUFFER_OVERFLOW;
    }
    *info = IP_ADAPTER_INFO();
    info->Type = MIB_IF_TYPE_LOOPBACK;
    std::strcpy(info->IpAddressList.IpAddress.String, "127.0.0.1");
    std::strcpy(info->IpAddressList.IpMask.String, "255.0.0.0");
    std::strcpy(info->Description, "Loopback");
    return ERROR_SUCCESS;
}

// A notification area that takes every request at once.
BOOL WINAPI NoTray(DWORD, PNOTIFYICONDATAA) { return TRUE; }

// Waits for done() without handling this thread's messages; false after the bound.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = 30000) {
    for (DWORD start = GetTickCount();; Sleep(5)) {
        if (done()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
    }
}

// A window of this thread that unplugs and plugs the device when it is sent
// WM_APP: the device's notices then reach the panel inside whatever this
// thread is waiting in.
struct BounceWindow {
    BounceWindow() {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "VelmorBounceWindow";
        RegisterClassA(&wc);
        window = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
        bounces = barriers = 0;
    }
    ~BounceWindow() { DestroyWindow(window); }
    static LRESULT CALLBACK Proc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_APP + 1) ++barriers;
        if (message != WM_APP) return DefWindowProcA(w, message, wParam, lParam);
        sim::Unplug();
        sim::Plug();
        ++bounces;
        return 0;
    }
    HWND window = nullptr;
    static int bounces;
    static int barriers;
};
int BounceWindow::bounces = 0;
int BounceWindow::barriers = 0;

// Ends the program naming the step when a step does not come back within
// the bound: a panel that hangs then fails by name instead of running into
// CTest's time-out. The bound is far above a step's longest normal run.
class StepWatch {
public:
    explicit StepWatch(DWORD boundMs = 60000) : m_bound(boundMs) {}
    ~StepWatch() {
        if (!m_thread) return;
        SetEvent(m_stop);
        WaitForSingleObject(m_thread, 30000);
        CloseHandle(m_thread);
        CloseHandle(m_stop);
    }
    StepWatch(const StepWatch&) = delete;
    StepWatch& operator=(const StepWatch&) = delete;

    // The step now running; the watch starts with the first.
    void Step(const char* name) {
        m_step.store(name);
        m_since.store(GetTickCount());
        if (m_thread) return;
        m_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    }

private:
    static DWORD WINAPI Run(void* parameter) {
        auto* self = static_cast<StepWatch*>(parameter);
        while (WaitForSingleObject(self->m_stop, 100) == WAIT_TIMEOUT) {
            if (GetTickCount() - self->m_since.load() <= self->m_bound) continue;
            std::fprintf(stderr, "step: %s did not return within %lu ms\n", self->m_step.load(), self->m_bound);
            std::fflush(stderr);
            TerminateProcess(GetCurrentProcess(), 3);
        }
        return 0;
    }

    const DWORD m_bound;
    std::atomic<const char*> m_step{""};
    std::atomic<DWORD> m_since{0};
    HANDLE m_stop = nullptr;
    HANDLE m_thread = nullptr;
};

// Whether a port can be bound (is free).
bool PortFree(uint16_t port) {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    bool bound = bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    closesocket(s);
    return bound;
}

// A port nobody holds right now: the one a fresh client was given.
uint16_t FreePort() { return RemoteClient().LocalPort(); }

std::string Number(uint32_t value) { return std::to_string(value); }

class RemotePanel : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        char name[64];
        std::snprintf(name, sizeof(name), "remote-panel-%lu", GetCurrentProcessId());
        ASSERT_TRUE(sim::Attach(name));
        sim::ResetDevice();
        InstallDeviceApi(&sim::DeviceTable());
        m_adapters = InstallAdapterInfoSource(LoopbackAdapter);
        PutPanelSwitch(kPanelSwitchKey, kSwitchRmtCtrl, 1);
        PutPanelSwitch(kPanelSwitchKey, kSwitchPlayRec, 1);
        port = FreePort();
    }
    void TearDown() override {
        dialog.reset();
        block.Close();
        InstallAdapterInfoSource(m_adapters);
        InstallDeviceApi(nullptr);
        WSACleanup();
    }

    void Start(int versionCode, DWORD volumeKeyHoldMs = 0) {
        CTarnACPLDlg::Options options;
        options.versionCode = versionCode;
        options.arrivalSettleMs = 0;
        options.volumeKeyHoldMs = volumeKeyHoldMs;
        options.shutdownWaitMs = 0;
        options.remoteStartPort = port;
        options.trayNotify = NoTray;
        dialog.reset(new CTarnACPLDlg(options));
        ASSERT_TRUE(dialog->Create(nullptr));
        ASSERT_EQ(S_OK, block.Open());
    }
    // One request; this thread is the panel's user-interface thread.
    std::string Ask(const std::string& request, DWORD timeoutMs = 3000, uint16_t* fromPort = nullptr) {
        std::string answer;
        sockaddr_in from = {};
        if (!client.Send(kLoopback, port, request.data(), static_cast<int>(request.size()))) return "(not sent)";
        if (!PumpUntil([&] { return client.Receive(kLoopback, 1, &answer, &from); }, timeoutMs)) return "(no answer)";
        if (fromPort) *fromPort = ntohs(from.sin_port);
        return answer;
    }
    std::string Text(int id) { return WindowText(GetDlgItem(dialog->Hwnd(), id)); }
    void Command(WPARAM command) { SendMessageA(dialog->Hwnd(), WM_COMMAND, command, 0); }
    bool Running() { return dialog->RemotePage() && dialog->RemotePage()->Active() && !PortFree(port); }
    // The device's own interface, as the system announces it.
    void DeviceChange(WPARAM event) {
        char buffer[sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) + 64] = {};
        auto* notice = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(buffer);
        notice->dbcc_size = sizeof(buffer);
        notice->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        std::strcpy(notice->dbcc_name, "\\\\?\\USB#VID_3A45&PID_0452#5&1#{a5dcbf10}");
        SendMessageA(dialog->Hwnd(), WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(buffer));
    }

    RegistrySandbox registry;
    PanelSwitchSandbox switches;
    std::unique_ptr<CTarnACPLDlg> dialog;
    CStatusBlock block;
    RemoteClient client;
    uint16_t port = 0;
    StepWatch watch;

private:
    AdapterInfoSource m_adapters = nullptr;
};

TEST_F(RemotePanel, AsioModeAnswersFromTheStatusBlock) {
    Start(kWindowsLater);
    ASSERT_NE(nullptr, dialog->RemotePage());
    EXPECT_TRUE(Running());
    EXPECT_EQ(port, UdpServiceBoundPort(&dialog->RemotePage()->Service()));
    EXPECT_EQ("Deactivate", Text(IDC_NETWORK_SERVER));
    EXPECT_EQ(1, dialog->RemoteServiceState());
    EXPECT_TRUE(IsShown(GetDlgItem(dialog->Hwnd(), IDC_REMOTE_GROUP)));

    block.Write(&Layout::bufferSize, 200);
    block.Write(&Layout::bitsPerSample, 24);
    block.Write(&Layout::supporBitsPerSample, kWidthFlag16 | kWidthFlag32);
    EXPECT_EQ(R"({"status":"ok","output":{"asio":{"buffer_size":"20","bit":"24"},)" + kMisc + R"(},"error":"no"})",
              Ask(R"({"api":"get_status"})"));
    EXPECT_EQ(R"({"status":"ok","output":{"asio":{"buffer_size":["2","3","4","5","6","7","8","9","10","12","14",)"
              R"("16","18","20","25","30","40","50","60","70","80","90","100","125","150","175","200","250","300",)"
              R"("350","400","450","500","600"],"bit":["16","32"]}},"error":"no"})",
              Ask(R"({"api":"get_data"})"));
    // The address of the last controller stays on show while the service runs.
    EXPECT_EQ(R"({"status":"ok","output":{},"error":"no"})", Ask(R"({"api":"velmor"})"));
    DWORD shown = 0;
    SendMessageA(GetDlgItem(dialog->Hwnd(), IDC_REMOTE_IP), IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&shown));
    EXPECT_EQ(kLoopback, shown);
    // A failed request clears it; the next good one from the same controller shows it again.
    HWND display = GetDlgItem(dialog->Hwnd(), IDC_REMOTE_IP);
    EXPECT_EQ(R"({"status":"fail","output":{},"error":"no"})", Ask(R"({"api":"nope"})"));
    EXPECT_NE(0, SendMessageA(display, IPM_ISBLANK, 0, 0));
    EXPECT_EQ(R"({"status":"fail","output":{},"error":"no"})", Ask(R"({"api":"nope"})"));
    EXPECT_NE(0, SendMessageA(display, IPM_ISBLANK, 0, 0));
    Ask(R"({"api":"velmor"})");
    EXPECT_EQ(0, SendMessageA(display, IPM_ISBLANK, 0, 0));
    shown = 0;
    SendMessageA(display, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&shown));
    EXPECT_EQ(kLoopback, shown);

    // A write reaches the block and the ASIO page at once.
    block.Write(&Layout::supporBitsPerSample, kWidthFlag16 | kWidthFlag24 | kWidthFlag32);
    EXPECT_EQ(R"({"status":"ok","output":{},"error":"no"})",
              Ask(R"({"api":"set_asio_status","input":{"buffer_size":"7","bit":"32"}})"));
    EXPECT_EQ(70u, block.ReadOr(&Layout::bufferSize, 0));
    EXPECT_EQ(32u, block.ReadOr(&Layout::bitsPerSample, 0));
    ASSERT_NE(nullptr, dialog->AsioPage());
    EXPECT_TRUE(dialog->AsioPage()->IsChecked(IDC_ASIO_PAGE_BITS32));
    EXPECT_FALSE(dialog->AsioPage()->IsChecked(IDC_ASIO_PAGE_BITS24));
    EXPECT_EQ("7", dialog->AsioPage()->ItemText(IDC_ASIO_PAGE_BUFFER).substr(0, 1));

    // A running PCM stream as the poll sees it.
    block.Write(&Layout::driverState, kDriverRunning);
    block.Write(&Layout::streamRate, 48000);
    block.Write(&Layout::streamWidth, 24);
    block.Write(&Layout::period, 480);
    block.Write(&Layout::dsdActive, 0);
    Command(ID_PANEL_REFRESH_ASIO);
    EXPECT_EQ(R"({"status":"ok","output":{"asio":{"rate":"48000","bit":"24","buffer_size":"10","ASIO Format":"PCM"}},)"
              R"("error":"no"})",
              Ask(R"({"api":"get_playing_status"})"));
    block.Write(&Layout::driverState, kDriverUnload);

    // "Network Server" again: stopped, the port free, nothing answers.
    Command(IDC_NETWORK_SERVER);
    EXPECT_EQ("Network Server", Text(IDC_NETWORK_SERVER));
    EXPECT_EQ(0, dialog->RemoteServiceState());
    EXPECT_TRUE(PortFree(port));
    EXPECT_EQ("(no answer)", Ask(R"({"api":"velmor"})", 300));
}

TEST_F(RemotePanel, PlaybackAndRecordFromTheEndpoints) {
    Start(kWindows7);
    ASSERT_TRUE(dialog->PlaybackMode());
    ASSERT_TRUE(Running());
    EndpointControl* endpoints = dialog->Endpoints();
    ASSERT_NE(nullptr, endpoints);

    // Three quarters of the render range, half of the line input's.
    const sim::LevelRange render = sim::Endpoint(sim::kDeviceRender).range;
    const sim::LevelRange line = sim::Endpoint(sim::kDeviceLineIn).range;
    ASSERT_EQ(S_OK, sim::SetEndpointLevel(sim::kDeviceRender, ~0u, render.minimum + (render.maximum - render.minimum) * 0.75f, nullptr));
    ASSERT_EQ(S_OK, sim::SetEndpointLevel(sim::kDeviceLineIn, ~0u, line.minimum + (line.maximum - line.minimum) * 0.5f, nullptr));
    ASSERT_EQ(S_OK, sim::SetRecordSelection(sim::kLineInFeedId));

    EXPECT_EQ(R"({"status":"ok","output":{},"error":"no"})",
              Ask(R"({"api":"set_playback_status","input":{"rate":"96000","bit":"24"}})"));
    WORD channels = 0, bits = 0;
    DWORD rate = 0, mask = 0;
    ASSERT_EQ(S_OK, endpoints->GetRenderFormat(&channels, &rate, &bits, &mask));
    EXPECT_EQ(96000u, rate);
    EXPECT_EQ(24u, bits);
    UINT selected = 99;
    ASSERT_EQ(S_OK, endpoints->GetSelectedInput(&selected));
    DWORD recRate = 0;
    WORD recBits = 0;
    ASSERT_EQ(S_OK, endpoints->GetCaptureFormat(selected, &channels, &recRate, &recBits, &mask));
    EXPECT_EQ(R"({"status":"ok","output":{"playback":{"rate":"96000","bit":"24","volume":"75"},)"
              R"("record":{"rate":")" + Number(recRate) + R"(","bit":")" + Number(recBits) +
                  R"(","volume":"50","resource":"Line In"},"asio":{"buffer_size":")" +
                  Number(block.ReadOr(&Layout::bufferSize, 0) / 10) + R"(","bit":")" +
                  Number(block.ReadOr(&Layout::bitsPerSample, 0)) + R"("},)" + kMisc + R"(},"error":"no"})",
              Ask(R"({"api":"get_status"})"));
    // The main dialog's format statics follow.
    EXPECT_EQ("96000 ", Text(IDC_RATE));

    // Both record inputs named, from the last to the first.
    std::string data = Ask(R"({"api":"get_data"})");
    EXPECT_NE(std::string::npos, data.find(R"("resource":["SPDIF Rx","Line In"])")) << data;
    EXPECT_EQ(0u, data.find(R"({"status":"ok","output":{"playback":{"rate":[)")) << data;

    // Volume 0 mutes the render endpoint and sets its minimum.
    EXPECT_EQ(R"({"status":"ok","output":{},"error":"no"})",
              Ask(R"({"api":"set_playback_status","input":{"volume":0}})"));
    sim::EndpointValues values = {};
    ASSERT_TRUE(sim::ReadEndpoint(sim::kDeviceRender, values));
    EXPECT_EQ(1u, values.mute);
    EXPECT_FLOAT_EQ(render.minimum, values.level[0]);
    EXPECT_FLOAT_EQ(render.minimum, values.level[1]);
    // A member the request may not carry changes nothing and fails.
    EXPECT_EQ(R"({"status":"fail","output":{},"error":"no"})",
              Ask(R"({"api":"set_playback_status","input":{"volume":50,"mode":"x"}})"));
    ASSERT_TRUE(sim::ReadEndpoint(sim::kDeviceRender, values));
    EXPECT_EQ(1u, values.mute);
}

TEST_F(RemotePanel, RecordInputChosenThroughTheRecordPage) {
    Start(kWindows7);
    ASSERT_TRUE(Running());
    EndpointControl* endpoints = dialog->Endpoints();
    ASSERT_NE(nullptr, endpoints);
    CPPageRecord* page = dialog->RecordPage();
    ASSERT_NE(nullptr, page);
    ASSERT_EQ(S_OK, sim::SetRecordSelection(sim::kLineInFeedId));
    page->ReselectCurrentInput();
    const int lineInput = page->CurrentInput();
    Ask(R"({"api":"set_record_status","input":{"resource":"Line In","volume":60}})");
    sim::EndpointValues line = {}, now = {};
    ASSERT_TRUE(sim::ReadEndpoint(sim::kDeviceLineIn, line));
    ASSERT_EQ(0u, line.mute);

    EXPECT_EQ(R"({"status":"ok","output":{},"error":"no"})",
              Ask(R"({"api":"set_record_status","input":{"resource":"SPDIF Rx"}})"));
    UINT selected = 99;
    ASSERT_EQ(S_OK, endpoints->GetSelectedInput(&selected));
    EXPECT_NE(lineInput, static_cast<int>(selected));
    EXPECT_EQ(static_cast<int>(selected), page->CurrentInput());
    // S/PDIF has no level: full scale, and not muted by the switch.
    std::string status = Ask(R"({"api":"get_status"})");
    EXPECT_NE(std::string::npos, status.find(R"("volume":"100","resource":"SPDIF Rx"})")) << status;
    ASSERT_TRUE(sim::ReadEndpoint(sim::kDeviceSpdifIn, now));
    EXPECT_EQ(0u, now.mute);

    // An input name the device does not have changes nothing.
    EXPECT_EQ(R"({"status":"ok","output":{},"error":"no"})",
              Ask(R"({"api":"set_record_status","input":{"resource":"Mic"}})"));
    UINT still = 99;
    ASSERT_EQ(S_OK, endpoints->GetSelectedInput(&still));
    EXPECT_EQ(selected, still);
    EXPECT_EQ(R"({"status":"ok","output":{},"error":"no"})",
              Ask(R"({"api":"set_record_status","input":{"resource":"Line In"}})"));
    ASSERT_EQ(S_OK, endpoints->GetSelectedInput(&still));
    EXPECT_EQ(lineInput, static_cast<int>(still));
    EXPECT_EQ(lineInput, page->CurrentInput());
    // Line In comes back with its own level and mute.
    ASSERT_TRUE(sim::ReadEndpoint(sim::kDeviceLineIn, now));
    EXPECT_EQ(line.level[0], now.level[0]);
    EXPECT_EQ(line.level[1], now.level[1]);
    EXPECT_EQ(0u, now.mute);
    status = Ask(R"({"api":"get_status"})");
    EXPECT_NE(std::string::npos, status.find(R"("volume":"60","resource":"Line In"})")) << status;
}

// Each percentage reads back as set on each range the device offers, on the
// render level and on the line input; 0.5 dB steps over 48 dB are coarser
// than one percent. A format-only request leaves the level where it is.
TEST_F(RemotePanel, VolumesReadBackAsSetOnEveryRange) {
    const sim::LevelRange ranges[] = {{-100.0f, 0.0f, 0.5f}, {-24.0f, 24.0f, 0.5f}, {-96.0f, 0.0f, 0.5f}};
    for (const sim::LevelRange& range : ranges) {
        ASSERT_EQ(S_OK, sim::SetEndpointRange(sim::kDeviceRender, ~0u, range));
        ASSERT_EQ(S_OK, sim::SetEndpointRange(sim::kDeviceLineIn, ~0u, range));
        ASSERT_EQ(S_OK, sim::SetRecordSelection(sim::kLineInFeedId));
        Start(kWindows7);
        for (int v = 0; v <= 100; ++v) {
            const std::string volume = std::to_string(v);
            Ask(R"({"api":"set_playback_status","input":{"volume":)" + volume + "}}");
            Ask(R"({"api":"set_record_status","input":{"resource":"Line In","volume":)" + volume + "}}");
            if (v == 29) Ask(R"({"api":"set_playback_status","input":{"bit":"24"}})");
            std::string status = Ask(R"({"api":"get_status"})");
            EXPECT_NE(std::string::npos, status.find(R"("volume":")" + volume + R"("},"record")"))
                << range.minimum << ".." << range.maximum << ": " << status;
            EXPECT_NE(std::string::npos, status.find(R"("volume":")" + volume + R"(","resource":"Line In")"))
                << range.minimum << ".." << range.maximum << ": " << status;
        }
        dialog.reset();
    }
}

// What get_data lists, the set requests take; a depth the device lacks is neither.
TEST_F(RemotePanel, GetDataOffersWhatTheSetRequestsTake) {
    {
        sim::StateLock lock;
        sim::State()->config.maxBits = 24;
    }
    Start(kWindows7);
    rapidjson::Document data;
    data.Parse(Ask(R"({"api":"get_data"})").c_str());
    ASSERT_TRUE(data.IsObject() && data.HasMember("output"));
    const std::string ok = R"({"status":"ok","output":{},"error":"no"})";
    for (const char* part : {"playback", "record"}) {
        ASSERT_TRUE(data["output"].HasMember(part)) << part;
        const rapidjson::Value& lists = data["output"][part];
        const std::string api = std::string("set_") + part + "_status";
        EXPECT_EQ(2u, lists["bit"].Size()) << part;  // 24 and 16
        for (const auto& rate : lists["rate"].GetArray()) {
            for (const auto& bit : lists["bit"].GetArray()) {
                EXPECT_EQ(ok, Ask(R"({"api":")" + api + R"(","input":{"rate":")" + rate.GetString() +
                                  R"(","bit":")" + bit.GetString() + R"("}})"))
                    << part << " " << rate.GetString() << "/" << bit.GetString();
            }
        }
        EXPECT_EQ(R"({"status":"fail","output":{},"error":"no"})",
                  Ask(R"({"api":")" + api + R"(","input":{"rate":"48000","bit":"32"}})"))
            << part;
    }
}

TEST_F(RemotePanel, ModeSwitchKeepsAnswering) {
    watch.Step("the panel starts with the service");
    Start(kWindows7);
    ASSERT_TRUE(Running());
    CPPageRemoteCtrl* first = dialog->RemotePage();
    watch.Step("the switch to ASIO mode");
    Command(IDC_MODE_ASIO);
    ASSERT_TRUE(dialog->AsioMode());
    EXPECT_NE(first, dialog->RemotePage());
    EXPECT_TRUE(Running());
    EXPECT_EQ("Deactivate", Text(IDC_NETWORK_SERVER));
    watch.Step("a request after the switch to ASIO mode");
    EXPECT_EQ(R"({"status":"ok","output":{},"error":"no"})", Ask(R"({"api":"velmor"})"));
    watch.Step("the switch to Playback mode");
    Command(IDC_MODE_PLAYBACK);
    watch.Step("a request after the switch to Playback mode");
    EXPECT_EQ(R"({"status":"ok","output":{},"error":"no"})", Ask(R"({"api":"velmor"})"));

    // The page of the last build stops the service it took over.
    watch.Step("Network Server stops the service taken over");
    Command(IDC_NETWORK_SERVER);
    EXPECT_EQ("Network Server", Text(IDC_NETWORK_SERVER));
    EXPECT_FALSE(dialog->RemotePage()->Active());
    EXPECT_TRUE(PortFree(port));

    // Once handed over, an ordinary rebuild stops a running service again.
    watch.Step("Network Server starts the service again");
    Command(IDC_NETWORK_SERVER);
    watch.Step("the second switch to ASIO mode");
    Command(IDC_MODE_ASIO);
    ASSERT_TRUE(Running());
    EXPECT_FALSE(dialog->ModeSwitched());
    watch.Step("the device arrival");
    DeviceChange(DBT_DEVICEARRIVAL);
    watch.Step("the endpoint notice after the arrival");
    SendMessageA(dialog->Hwnd(), WM_PANEL_ENDPOINT_ACTIVE, 0, 0);
    EXPECT_TRUE(PortFree(port));
    watch.Step("the panel closes");
    dialog.reset();
}

// Formats the device does not offer and lengths of 0 or that wrap change nothing.
TEST_F(RemotePanel, UnofferedFormatsAndUnusableLengthsFail) {
    Start(kWindows7);
    const std::string fail = R"({"status":"fail","output":{},"error":"no"})";
    auto formats = [&] {
        WORD c = 0, play = 0, rec = 0;
        DWORD m = 0, playRate = 0, recRate = 0;
        dialog->Endpoints()->GetRenderFormat(&c, &playRate, &play, &m);
        return Number(playRate) + Number(play) + Number(SUCCEEDED(dialog->GetRecordFormat(0, &recRate, &rec)) ? recRate : 0);
    };
    const std::string before = formats();
    EXPECT_EQ(fail, Ask(R"({"api":"set_playback_status","input":{"rate":"1","bit":"8"}})"));
    EXPECT_EQ(fail, Ask(R"({"api":"set_playback_status","input":{"rate":"536870912"}})"));
    EXPECT_EQ(fail, Ask(R"({"api":"set_record_status","input":{"rate":"22050"}})"));
    EXPECT_EQ(before, formats());
    block.Write(&Layout::bufferSize, 200);
    EXPECT_EQ(fail, Ask(R"({"api":"set_asio_status","input":{"buffer_size":"0"}})"));
    EXPECT_EQ(fail, Ask(R"({"api":"set_asio_status","input":{"buffer_size":"429496730"}})"));
    EXPECT_EQ(200u, block.ReadOr(&Layout::bufferSize, 0));
    Ask(R"({"api":"set_asio_status","input":{"buffer_size":"7"}})");
    EXPECT_EQ(70u, block.ReadOr(&Layout::bufferSize, 0));
    // A width the driver cannot run is refused like an unusable length.
    block.Write(&Layout::bitsPerSample, 24);
    for (const char* bit : {"0", "7", "2147483647", "x"}) {
        EXPECT_EQ(fail, Ask(std::string(R"({"api":"set_asio_status","input":{"bit":")") + bit + R"("}})")) << bit;
    }
    EXPECT_EQ(24u, block.ReadOr(&Layout::bitsPerSample, 0));
    EXPECT_NE(std::string::npos, Ask(R"({"api":"get_status"})").find(R"("asio":{"buffer_size":"7","bit":"24"})"));
}

// A removal and an arrival that come while a service stop waits for a held
// request run after the stop, in their order: the stopping page lives
// through its stop, the held request is answered, and the audio interface of
// the device as it came back is open.
TEST_F(RemotePanel, DeviceChangeDuringAServiceStopWaitsForTheStop) {
    Start(kWindowsLater);
    ASSERT_TRUE(Running());
    CPPageRemoteCtrl* page = dialog->RemotePage();
    const SOCKET service = page->Service().socket;
    BounceWindow bounce;
    std::thread sender([&] { SendMessageA(bounce.window, WM_APP, 0, 0); });
    ASSERT_TRUE(WaitUntil([] { return (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0; }))
        << "step: the unplug and plug reach this thread";
    ASSERT_TRUE(client.Send(kLoopback, port, R"({"api":"velmor"})", 16));
    ASSERT_TRUE(WaitUntil([&] {
        u_long queued = 1;
        return ioctlsocket(service, FIONREAD, &queued) == 0 && queued == 0;
    })) << "step: the receive thread takes the request";
    Command(IDC_NETWORK_SERVER);  // waits for the hand-over; the bounce runs first
    sender.join();
    EXPECT_EQ(1, bounce.bounces);
    EXPECT_EQ(page, dialog->RemotePage()) << "pages were rebuilt while the stop ran";
    std::string answer;
    EXPECT_TRUE(client.Receive(kLoopback, 30000, &answer)) << "step: the held request is answered";
    EXPECT_EQ(R"({"status":"ok","output":{},"error":"no"})", answer);
    // Posted after the deferred work: once it comes, that work has run.
    PostMessageA(bounce.window, WM_APP + 1, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return bounce.barriers == 1; }, 30000)) << "step: the deferred device changes run";
    ASSERT_EQ(1, dialog->PageCount());
    EXPECT_STREQ("ASIO", dialog->PageTitle(0));
    ULONG streaming = 0, reserved = 0, rate = 0, bits = 0;
    EXPECT_EQ(S_OK, QueryDeviceStreamStatus(dialog->AudioDevice(), &streaming, &reserved, &rate, &bits))
        << "the audio interface of the device that went is still in use";
}

TEST_F(RemotePanel, UnplugStopsTheServiceAndPlugOffersItAgain) {
    Start(kWindowsLater);
    ASSERT_TRUE(Running());
    sim::Unplug();
    EXPECT_EQ(nullptr, dialog->RemotePage());
    EXPECT_FALSE(IsShown(GetDlgItem(dialog->Hwnd(), IDC_REMOTE_GROUP)));
    EXPECT_TRUE(PortFree(port));
    EXPECT_EQ("(no answer)", Ask(R"({"api":"velmor"})", 300));
    Command(IDC_NETWORK_SERVER);  // no page: nothing to start
    EXPECT_TRUE(PortFree(port));

    sim::Plug();
    ASSERT_NE(nullptr, dialog->RemotePage());
    EXPECT_FALSE(dialog->RemotePage()->Active());
    EXPECT_EQ("Network Server", Text(IDC_NETWORK_SERVER));
    EXPECT_EQ(0, dialog->RemoteServiceState());
    // The start-up port holds for the program's life.
    Command(IDC_NETWORK_SERVER);
    EXPECT_TRUE(Running());
    EXPECT_EQ(R"({"status":"ok","output":{},"error":"no"})", Ask(R"({"api":"velmor"})"));
}

TEST_F(RemotePanel, AnswersLeaveFromOneSocketThatIsNotTheService) {
    Start(kWindowsLater);
    ASSERT_TRUE(Running());
    const std::string ok = R"({"status":"ok","output":{},"error":"no"})";
    uint16_t first = 0, second = 0, probe = 0;
    EXPECT_EQ(ok, Ask(R"({"api":"velmor"})", 3000, &first));
    EXPECT_EQ(ok, Ask(R"({"api":"velmor"})", 3000, &second));
    EXPECT_EQ(std::string(1, '\0'), Ask("", 3000, &probe));
    EXPECT_NE(port, first);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first, probe);
    // Stopped and started again: still answered.
    Command(IDC_NETWORK_SERVER);
    Command(IDC_NETWORK_SERVER);
    ASSERT_TRUE(Running());
    EXPECT_EQ(ok, Ask(R"({"api":"velmor"})", 3000, &second));
    EXPECT_NE(port, second);
}

TEST_F(RemotePanel, VolumeKeyIsAnsweredAfterItsHold) {
    Start(kWindowsLater, 800);
    ASSERT_TRUE(Running());
    DWORD start = GetTickCount();
    EXPECT_EQ(R"({"status":"ok","output":{"playback":{"volume":""}},"error":"no"})", Ask(R"({"api":"vol_up"})"));
    EXPECT_GE(GetTickCount() - start, 780u);
    EXPECT_EQ(R"({"status":"fail","output":{},"error":"no"})", Ask(R"({"api":"VOL_UP"})"));
    EXPECT_EQ("(no answer)", Ask(R"({"status":"ok"})", 300));
}

}  // namespace
