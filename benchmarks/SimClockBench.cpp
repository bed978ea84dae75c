// How closely the virtual device keeps time: for a few formats, queue packets
// the way the driver does (a ring of 8, two ahead) and measure when each
// completion wakes the waiting thread. Prints, per format, the completion
// rate against the nominal packet rate, the spread of completion intervals
// around the packet duration, the underruns the device counted and the
// process's CPU share.
#include "simulator/SimDevice.h"
#include "simulator/SimGuids.h"
#include "simulator/TestPattern.h"

#include <winioctl.h>
#include <mmreg.h>
#include <ks.h>
#include <ksmedia.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Case {
    const char* name;
    ULONG rate;
    WORD bits;
    uint32_t frames;  // per packet
};

const DeviceApiTable& Api() { return DeviceApi(); }

HANDLE OpenFilter() {
    const GUID audio = sim::kCategoryAudio;
    HDEVINFO set = Api().SetupDiGetClassDevsA(&audio, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof(data);
    HANDLE filter = INVALID_HANDLE_VALUE;
    if (Api().SetupDiEnumDeviceInterfaces(set, nullptr, &audio, 0, &data)) {
        char buffer[512] = {};
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer);
        detail->cbSize = sizeof(*detail);
        if (Api().SetupDiGetDeviceInterfaceDetailA(set, &data, detail, sizeof(buffer), nullptr, nullptr)) {
            filter = Api().CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OVERLAPPED, nullptr);
        }
    }
    Api().SetupDiDestroyDeviceInfoList(set);
    return filter;
}

DWORD Ioctl(HANDLE handle, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event;
    DWORD got = 0, error = 0;
    if (!Api().DeviceIoControl(handle, code, in, inSize, out, outSize, &got, &overlapped)) error = GetLastError();
    CloseHandle(event);
    return error;
}

void SetState(HANDLE pin, KSSTATE state) {
    KSPROPERTY property = {};
    property.Set = sim::kPropSetConnection;
    property.Id = KSPROPERTY_CONNECTION_STATE;
    property.Flags = KSPROPERTY_TYPE_SET;
    Ioctl(pin, IOCTL_KS_PROPERTY, &property, sizeof(property), &state, sizeof(state));
}

HANDLE CreatePin(HANDLE filter, const Case& c) {
    std::vector<BYTE> buffer(sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEXTENSIBLE));
    auto* connect = reinterpret_cast<KSPIN_CONNECT*>(buffer.data());
    connect->Interface.Set = sim::kInterfaceStandard;
    connect->Medium.Set = sim::kMediumStandard;
    connect->Priority.PriorityClass = KSPRIORITY_NORMAL;
    auto* format = reinterpret_cast<KSDATAFORMAT*>(connect + 1);
    format->FormatSize = sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEXTENSIBLE);
    format->MajorFormat = sim::kFormatTypeAudio;
    format->SubFormat = sim::kSubtypePcm;
    format->Specifier = sim::kSpecifierWaveFormatEx;
    auto* wave = reinterpret_cast<WAVEFORMATEXTENSIBLE*>(format + 1);
    wave->Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    wave->Format.nChannels = 2;
    wave->Format.nSamplesPerSec = c.rate;
    wave->Format.wBitsPerSample = c.bits;
    wave->Format.nBlockAlign = static_cast<WORD>(2 * c.bits / 8);
    wave->Format.nAvgBytesPerSec = c.rate * wave->Format.nBlockAlign;
    wave->Format.cbSize = 22;
    wave->Samples.wValidBitsPerSample = c.bits;
    wave->dwChannelMask = 3;
    wave->SubFormat = sim::kSubtypePcm;
    HANDLE pin = nullptr;
    return Api().KsCreatePin(filter, connect, GENERIC_READ | GENERIC_WRITE, &pin) == 0 ? pin : nullptr;
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t index = static_cast<size_t>(p * (values.size() - 1) + 0.5);
    return values[index];
}

uint64_t CpuTime() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& f) { return (uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    return ticks(kernel) + ticks(user);
}

void Run(const Case& c, double seconds) {
    HANDLE filter = OpenFilter();
    HANDLE pin = CreatePin(filter, c);
    if (!pin) {
        std::printf("%-24s could not open the pin\n", c.name);
        return;
    }
    const size_t bytes = c.frames * 2 * c.bits / 8;
    struct Slot {
        KSSTREAM_HEADER header;
        OVERLAPPED overlapped;
        std::vector<BYTE> data;
    };
    Slot slots[8];
    HANDLE events[8];
    for (int k = 0; k < 8; ++k) {
        slots[k].data.assign(bytes, 0);
        slots[k].header = KSSTREAM_HEADER();
        slots[k].header.Size = sizeof(KSSTREAM_HEADER);
        slots[k].header.FrameExtent = slots[k].header.DataUsed = static_cast<ULONG>(bytes);
        slots[k].header.Data = slots[k].data.data();
        slots[k].overlapped = OVERLAPPED();
        events[k] = slots[k].overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    auto queue = [&](int k) {
        Api().DeviceIoControl(pin, IOCTL_KS_WRITE_STREAM, nullptr, 0, &slots[k].header, sizeof(KSSTREAM_HEADER),
                              nullptr, &slots[k].overlapped);
    };
    SetState(pin, KSSTATE_ACQUIRE);
    SetState(pin, KSSTATE_PAUSE);
    queue(0);
    queue(1);

    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    const double nominalMs = 1000.0 * c.frames / c.rate;
    const int total = static_cast<int>(seconds * 1000.0 / nominalMs);
    std::vector<double> at;
    at.reserve(total);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    uint64_t cpuStart = CpuTime();
    QueryPerformanceCounter(&now);
    double start = now.QuadPart * 1000.0 / frequency.QuadPart;
    SetState(pin, KSSTATE_RUN);
    for (int n = 0; n < total; ++n) {
        int k = n % 8;
        if (WaitForSingleObject(events[k], 2000) != WAIT_OBJECT_0) break;
        QueryPerformanceCounter(&now);
        at.push_back(now.QuadPart * 1000.0 / frequency.QuadPart);
        queue((n + 2) % 8);
    }
    uint64_t cpu = CpuTime() - cpuStart;
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
    const sim::Stream& stream = sim::State()->streams[0];
    uint64_t underruns = stream.underruns;
    SetState(pin, KSSTATE_PAUSE);
    SetState(pin, KSSTATE_ACQUIRE);
    SetState(pin, KSSTATE_STOP);
    Api().CloseHandle(pin);
    Api().CloseHandle(filter);
    for (HANDLE e : events) CloseHandle(e);

    if (at.size() < 2) {
        std::printf("%-24s no completions\n", c.name);
        return;
    }
    double elapsed = at.back() - start;
    double rate = at.size() * 1000.0 / elapsed;
    double nominalRate = 1000.0 / nominalMs;
    std::vector<double> deviation;
    for (size_t i = 1; i < at.size(); ++i) deviation.push_back(std::fabs(at[i] - at[i - 1] - nominalMs));
    // Drift: where the last completion fell against where the clock should have put it.
    double drift = at.back() - (start + at.size() * nominalMs);
    std::printf("%-24s %7.3f ms  rate %8.2f/s nominal %8.2f/s ratio %.5f  jitter p50 %.3f p99 %.3f max %.3f ms"
                "  drift %+.3f ms  underruns %llu  cpu %4.1f%%\n",
                c.name, nominalMs, rate, nominalRate, rate / nominalRate, Percentile(deviation, 0.5),
                Percentile(deviation, 0.99), Percentile(deviation, 1.0), drift,
                static_cast<unsigned long long>(underruns), 100.0 * (cpu / 10000.0) / elapsed);
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    if (seconds <= 0) seconds = 5.0;
    char name[64];
    snprintf(name, sizeof(name), "bench-%lu", GetCurrentProcessId());
    if (!sim::Attach(name)) return 1;
    sim::ResetDevice();
    InstallDeviceApi(&sim::DeviceTable());
    std::printf("virtual device clock, %.1f s per format (completions as the waiting thread sees them)\n", seconds);
    const Case cases[] = {
        {"44100 Hz 16-bit 10 ms", 44100, 16, 441},
        {"48000 Hz 24-bit 2 ms", 48000, 24, 96},
        {"192000 Hz 32-bit 2 ms", 192000, 32, 384},
        {"88200 Hz 32-bit (DSD64)", 88200, 32, 882},
        {"384000 Hz 32-bit 5 ms", 384000, 32, 1920},
    };
    for (const Case& c : cases) Run(c, seconds);
    InstallDeviceApi(nullptr);
    return 0;
}
