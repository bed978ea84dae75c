// Remote-control round trips on loopback: requests per second and
// round-trip p50/p99/max of get_status and set_asio_status, with one and
// with four concurrent senders, against the panel's real main dialog (on the
// virtual device, in ASIO mode) running on its own user-interface thread.
#include "tests/remote/FakeRemotePanel.h"

#include "device/DeviceApi.h"
#include "device/StatusBlock.h"
#include "panel/PPageRemoteCtrl.h"
#include "panel/PanelSwitches.h"
#include "panel/TarnACPLDlg.h"
#include "remote/AdapterList.h"
#include "remote/RemoteClient.h"
#include "remote/RemoteProtocol.h"
#include "simulator/SimDevice.h"

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kLoopback = 0x7F000001;
constexpr char kBlockName[] = "VelmorRemoteBenchBlock";
constexpr int kWindowsLater = 7;  // ASIO mode: the ASIO page and the remote-control page

// The panel sees one loopback adapter only.
ULONG WINAPI LoopbackAdapter(PIP_ADAPTER_INFO info, PULONG size) {
    if (*size < sizeof(IP_ADAPTER_INFO)) {
        *size = sizeof(IP_ADAPTER_INFO);
        return ERROR_BUFFER_OVERFLOW;
    }
    *info = IP_ADAPTER_INFO();
    std::strcpy(info->IpAddressList.IpAddress.String, "127.0.0.1");
    std::strcpy(info->IpAddressList.IpMask.String, "255.0.0.0");
    std::strcpy(info->Description, "Loopback");
    return ERROR_SUCCESS;
}

// "RmtCtrlPP" = 1 for the run; the value found before is put back, and keys
// made for the run are removed again (the installer's test reads their absence).
class RemoteSwitchOn {
public:
    RemoteSwitchOn() {
        HKEY parent = nullptr;
        m_madeParent = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kVendorKey, 0, KEY_READ, &parent) != ERROR_SUCCESS;
        if (parent) RegCloseKey(parent);
        DWORD disposition = 0;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPanelSwitchKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key,
                            &disposition) != ERROR_SUCCESS) {
            m_key = nullptr;
            return;
        }
        m_madeKey = disposition == REG_CREATED_NEW_KEY;
        DWORD size = sizeof(m_saved);
        m_had = RegQueryValueExA(m_key, kSwitchRmtCtrl, nullptr, nullptr, reinterpret_cast<BYTE*>(&m_saved), &size) ==
                ERROR_SUCCESS;
        DWORD on = 1;
        RegSetValueExA(m_key, kSwitchRmtCtrl, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof(on));
    }
    ~RemoteSwitchOn() {
        if (!m_key) return;
        if (m_had) {
            RegSetValueExA(m_key, kSwitchRmtCtrl, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&m_saved), sizeof(m_saved));
        } else {
            RegDeleteValueA(m_key, kSwitchRmtCtrl);
        }
        RegCloseKey(m_key);
        if (m_madeKey) RegDeleteKeyA(HKEY_LOCAL_MACHINE, kPanelSwitchKey);
        if (m_madeParent) RegDeleteKeyA(HKEY_LOCAL_MACHINE, kVendorKey);
    }

private:
    static constexpr char kVendorKey[] = "SOFTWARE\\Velmor";
    HKEY m_key = nullptr;
    bool m_madeKey = false;
    bool m_madeParent = false;
    bool m_had = false;
    DWORD m_saved = 0;
};

// The main dialog on its own thread with the service started on a free port.
class PanelThread {
public:
    PanelThread() {
        m_ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
        WaitForSingleObject(m_ready, 60000);
    }
    ~PanelThread() {
        if (m_window) PostMessageA(m_window, WM_CLOSE, 0, 0);
        WaitForSingleObject(m_thread, 60000);
        CloseHandle(m_thread);
        CloseHandle(m_ready);
    }
    uint16_t Port() const { return m_running ? m_port : 0; }

private:
    static DWORD WINAPI Run(void* parameter) {
        auto* self = static_cast<PanelThread*>(parameter);
        self->m_port = RemoteClient().LocalPort();
        CTarnACPLDlg::Options options;
        options.versionCode = kWindowsLater;
        options.shutdownWaitMs = 0;
        options.remoteStartPort = self->m_port;
        CTarnACPLDlg dialog(options);
        if (dialog.Create(nullptr)) {
            self->m_window = dialog.Hwnd();
            self->m_running = dialog.RemotePage() && dialog.RemotePage()->Active();
        }
        SetEvent(self->m_ready);
        MSG msg;
        while (self->m_window && GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == WM_CLOSE && msg.hwnd == self->m_window) break;
            if (!IsDialogMessageA(self->m_window, &msg)) DispatchMessageA(&msg);
        }
        return 0;
    }

    HANDLE m_ready = nullptr;
    HANDLE m_thread = nullptr;
    HWND m_window = nullptr;
    uint16_t m_port = 0;
    bool m_running = false;
};

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

struct Run {
    std::vector<double> roundTripsMs;
    int lost = 0;
    double seconds = 0;
};

// Each sender sends its share one request at a time and times each answer.
Run Measure(uint16_t port, const std::string& request, int senders, int perSender) {
    std::vector<std::vector<double>> times(senders);
    std::atomic<int> lost{0};
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    std::vector<std::thread> threads;
    for (int s = 0; s < senders; ++s) {
        threads.emplace_back([&, s] {
            RemoteClient client;
            std::string answer;
            for (int i = 0; i < perSender; ++i) {
                LARGE_INTEGER sent, received;
                QueryPerformanceCounter(&sent);
                if (!client.Exchange(kLoopback, port, request, 2000, &answer)) {
                    ++lost;
                    continue;
                }
                QueryPerformanceCounter(&received);
                times[s].push_back(Seconds(sent, received) * 1000.0);
            }
        });
    }
    for (auto& t : threads) t.join();
    QueryPerformanceCounter(&end);
    Run run;
    for (auto& t : times) run.roundTripsMs.insert(run.roundTripsMs.end(), t.begin(), t.end());
    std::sort(run.roundTripsMs.begin(), run.roundTripsMs.end());
    run.lost = lost.load();
    run.seconds = Seconds(start, end);
    return run;
}

double Percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    size_t index = std::min(sorted.size() - 1, static_cast<size_t>(p * double(sorted.size() - 1) + 0.5));
    return sorted[index];
}

void Print(const char* name, int senders, const Run& run) {
    double rate = run.seconds > 0 ? double(run.roundTripsMs.size()) / run.seconds : 0;
    std::printf("%-16s senders %d: %6zu answers %8.0f requests/s  round trip p50 %.3f ms  p99 %.3f ms  max %.3f ms"
                "  lost %d\n",
                name, senders, run.roundTripsMs.size(), rate, Percentile(run.roundTripsMs, 0.5),
                Percentile(run.roundTripsMs, 0.99), run.roundTripsMs.empty() ? 0 : run.roundTripsMs.back(), run.lost);
}

// The user-interface thread's share: one request handled and its answer sent
// (to a loopback socket nobody reads), without the receive path.
double HandlingMicroseconds(const std::string& request, int count) {
    FakeRemotePanel panel;
    panel.asio = true;
    RemoteProtocol protocol(panel, panel);
    protocol.SetStatusBlockName(kBlockName);
    RemoteClient sink;
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < count; ++i) {
        protocol.HandleRemoteCommand(request.data(), request.size(), kLoopback, htons(sink.LocalPort()));
    }
    QueryPerformanceCounter(&end);
    return Seconds(start, end) * 1e6 / count;
}

}  // namespace

int main(int argc, char** argv) {
    int requests = argc > 1 ? std::max(100, std::atoi(argv[1])) : 4000;
    {
        CStatusBlock block;
        if (FAILED(block.Open(kBlockName))) {
            std::fprintf(stderr, "remote_bench: no status block\n");
            return 1;
        }
        block.Write(&StatusBlockLayout::bufferSize, 100);
        block.Write(&StatusBlockLayout::bitsPerSample, 24);
        const std::string getStatus = R"({"api":"get_status"})";
        const std::string setAsio = R"({"api":"set_asio_status","input":{"buffer_size":"20","bit":"24"}})";
        std::printf("protocol alone (scripted panel): get_status %.0f us, set_asio_status %.0f us per request\n",
                    HandlingMicroseconds(getStatus, 1000), HandlingMicroseconds(setAsio, 1000));
    }

    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&controls);
    char instance[64];
    std::snprintf(instance, sizeof(instance), "remote-bench-%lu", GetCurrentProcessId());
    if (!sim::Attach(instance)) {
        std::fprintf(stderr, "remote_bench: no virtual device\n");
        return 1;
    }
    sim::ResetDevice();
    InstallDeviceApi(&sim::DeviceTable());
    InstallAdapterInfoSource(LoopbackAdapter);
    RemoteSwitchOn remoteSwitch;

    // The panel's ASIO page owns the real block; the driver's settings it
    // stores when it closes are put back as they were.
    CStatusBlock block;
    uint32_t savedSize = 0, savedBits = 0;
    bool met = true;
    {
        PanelThread panel;
        if (!panel.Port() || FAILED(block.OpenExisting())) {
            std::fprintf(stderr, "remote_bench: the panel's remote control did not start\n");
            return 1;
        }
        savedSize = block.ReadOr(&StatusBlockLayout::bufferSize, 100);
        savedBits = block.ReadOr(&StatusBlockLayout::bitsPerSample, 16);
        std::printf("remote_bench: %d requests per run to the panel's main dialog on 127.0.0.1 port %u\n", requests,
                    panel.Port());
        const std::string getStatus = R"({"api":"get_status"})";
        const std::string setAsio = R"({"api":"set_asio_status","input":{"buffer_size":"20","bit":"24"}})";
        Measure(panel.Port(), getStatus, 1, 200);  // warm-up
        for (int senders : {1, 4}) {
            Run status = Measure(panel.Port(), getStatus, senders, requests / senders);
            Print("get_status", senders, status);
            Print("set_asio_status", senders, Measure(panel.Port(), setAsio, senders, requests / senders));
            if (senders == 1) {
                double rate = status.seconds > 0 ? double(status.roundTripsMs.size()) / status.seconds : 0;
                met = rate >= 2000 && Percentile(status.roundTripsMs, 0.99) < 2.0;
                std::printf("get_status goal (2000 requests/s, p99 under 2 ms): %s\n", met ? "met" : "missed");
            }
        }
        block.Write(&StatusBlockLayout::bufferSize, savedSize);
        block.Write(&StatusBlockLayout::bitsPerSample, savedBits);
    }
    block.Close();
    InstallDeviceApi(nullptr);
    return 0;
}
