#include "SimHarness.h"

#include "simulator/TestPattern.h"

#include <cstdio>
#include <cstring>

namespace simtest {

void SimTest::SetUp() {
    char name[64];
    snprintf(name, sizeof(name), "test-%lu", GetCurrentProcessId());
    ASSERT_TRUE(sim::Attach(name));
    sim::ResetDevice();
    InstallDeviceApi(&sim::DeviceTable());
    state = sim::State();
    ASSERT_NE(nullptr, state);
    // A Core Audio client, as any: the device enumerator needs COM.
    comInitialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
}

void SimTest::TearDown() {
    InstallDeviceApi(nullptr);
    if (comInitialized) CoUninitialize();
}

const DeviceApiTable& Api() { return DeviceApi(); }

std::string InterfacePath(const GUID& cls) {
    HDEVINFO set = Api().SetupDiGetClassDevsA(&cls, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return "";
    auto data = Sized<SP_DEVICE_INTERFACE_DATA>();
    std::string path;
    if (Api().SetupDiEnumDeviceInterfaces(set, nullptr, &cls, 0, &data)) {
        DWORD size = 0;
        Api().SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr);
        std::vector<BYTE> buffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = sizeof(*detail);
        if (size && Api().SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, nullptr, nullptr)) {
            path = detail->DevicePath;
        }
    }
    Api().SetupDiDestroyDeviceInfoList(set);
    return path;
}

HANDLE OpenFilter(DWORD flags) {
    std::string path = InterfacePath(sim::kCategoryAudio);
    return Api().CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | flags, nullptr);
}

namespace {

DWORD Request(HANDLE handle, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event) | 1);
    DWORD local = 0;
    DWORD& bytes = returned ? *returned : local;
    DWORD error = ERROR_SUCCESS;
    if (!Api().DeviceIoControl(handle, code, in, inSize, out, outSize, &bytes, &overlapped)) {
        error = GetLastError();
        // A request that pends is judged by its final status and byte count.
        if (error == ERROR_IO_PENDING && WaitForSingleObject(event, 5000) == WAIT_OBJECT_0) {
            error = GetOverlappedResult(handle, &overlapped, &bytes, FALSE) ? ERROR_SUCCESS : GetLastError();
        }
    }
    CloseHandle(event);
    return error;
}

}  // namespace

DWORD Property(HANDLE handle, const GUID& set, ULONG id, ULONG flags, void* out, DWORD outSize, DWORD* returned,
               ULONG pinId) {
    KSP_PIN request = {};
    request.Property.Set = set;
    request.Property.Id = id;
    request.Property.Flags = flags;
    request.PinId = pinId == ~0u ? 0 : pinId;
    DWORD inSize = pinId == ~0u ? sizeof(KSPROPERTY) : sizeof(KSP_PIN);
    return Request(handle, IOCTL_KS_PROPERTY, &request, inSize, out, outSize, returned);
}

DWORD PinProperty(HANDLE filter, ULONG pinId, ULONG id, void* out, DWORD outSize, DWORD* returned) {
    return Property(filter, sim::kPropSetPin, id, KSPROPERTY_TYPE_GET, out, outSize, returned, pinId);
}

std::vector<BYTE> PinPropertyMulti(HANDLE filter, ULONG pinId, ULONG id) {
    DWORD size = 0;
    EXPECT_EQ(DWORD(ERROR_MORE_DATA), PinProperty(filter, pinId, id, nullptr, 0, &size));
    std::vector<BYTE> reply(size);
    DWORD got = 0;
    EXPECT_EQ(DWORD(ERROR_SUCCESS), PinProperty(filter, pinId, id, reply.data(), size, &got));
    EXPECT_EQ(size, got);
    return reply;
}

std::vector<BYTE> ConnectBuffer(ULONG pinId, const PinFormat& f) {
    DWORD waveSize = f.extensible ? sizeof(WAVEFORMATEXTENSIBLE) : sizeof(WAVEFORMATEX);
    std::vector<BYTE> buffer(sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT) + waveSize);
    auto* connect = reinterpret_cast<KSPIN_CONNECT*>(buffer.data());
    connect->Interface.Set = sim::kInterfaceStandard;
    connect->Medium.Set = sim::kMediumStandard;
    connect->PinId = pinId;
    connect->Priority.PriorityClass = KSPRIORITY_NORMAL;
    connect->Priority.PrioritySubClass = 1;
    auto* format = reinterpret_cast<KSDATAFORMAT*>(connect + 1);
    format->FormatSize = sizeof(KSDATAFORMAT) + waveSize;
    format->MajorFormat = sim::kFormatTypeAudio;
    format->SubFormat = sim::kSubtypePcm;
    format->Specifier = sim::kSpecifierWaveFormatEx;
    format->SampleSize = f.channels * f.bits / 8;
    auto* wave = reinterpret_cast<WAVEFORMATEXTENSIBLE*>(format + 1);
    wave->Format.wFormatTag = f.extensible ? WAVE_FORMAT_EXTENSIBLE : WAVE_FORMAT_PCM;
    wave->Format.nChannels = f.channels;
    wave->Format.nSamplesPerSec = f.rate;
    wave->Format.wBitsPerSample = f.bits;
    wave->Format.nBlockAlign = static_cast<WORD>(f.channels * f.bits / 8);
    wave->Format.nAvgBytesPerSec = f.rate * wave->Format.nBlockAlign;
    if (f.extensible) {
        wave->Format.cbSize = 22;
        wave->Samples.wValidBitsPerSample = f.validBits ? f.validBits : f.bits;
        wave->dwChannelMask = f.channelMask != ~0u ? f.channelMask : (1u << f.channels) - 1;
        wave->SubFormat = sim::kSubtypePcm;
    }
    return buffer;
}

DWORD CreatePin(HANDLE filter, ULONG pinId, const PinFormat& format, HANDLE* pin) {
    std::vector<BYTE> connect = ConnectBuffer(pinId, format);
    *pin = nullptr;
    return Api().KsCreatePin(filter, reinterpret_cast<KSPIN_CONNECT*>(connect.data()), GENERIC_READ | GENERIC_WRITE,
                             pin);
}

DWORD SetState(HANDLE pin, KSSTATE state) {
    return Property(pin, sim::kPropSetConnection, KSPROPERTY_CONNECTION_STATE, KSPROPERTY_TYPE_SET, &state,
                    sizeof(state));
}

void StepTo(HANDLE pin, KSSTATE from, KSSTATE to) {
    int step = to > from ? 1 : -1;
    for (int s = from + step; s != to + step; s += step) {
        ASSERT_EQ(DWORD(ERROR_SUCCESS), SetState(pin, static_cast<KSSTATE>(s))) << "to state " << s;
    }
}

DWORD Reset(HANDLE pin, ULONG how) { return Request(pin, IOCTL_KS_RESET_STATE, &how, sizeof(how), nullptr, 0, nullptr); }

Packet::Packet(size_t bytes) : data(bytes) {
    header.Size = sizeof(header);
    header.PresentationTime.Numerator = 1;
    header.PresentationTime.Denominator = 1;
    header.FrameExtent = static_cast<ULONG>(bytes);
    header.Data = data.data();
    overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

Packet::~Packet() { CloseHandle(overlapped.hEvent); }

HANDLE Packet::Event() const { return overlapped.hEvent; }

DWORD Packet::Queue(HANDLE pin, bool write) {
    header.DataUsed = write ? header.FrameExtent : 0;
    DWORD code = write ? IOCTL_KS_WRITE_STREAM : IOCTL_KS_READ_STREAM;
    if (Api().DeviceIoControl(pin, code, nullptr, 0, &header, header.Size, nullptr, &overlapped)) return ERROR_SUCCESS;
    return GetLastError();
}

bool Packet::Wait(DWORD ms) { return WaitForSingleObject(overlapped.hEvent, ms) == WAIT_OBJECT_0; }

void FillPattern(std::vector<BYTE>& data, uint64_t first, uint32_t frames, unsigned channels, unsigned bits) {
    unsigned bytes = bits / 8;
    for (uint32_t f = 0; f < frames; ++f) {
        for (unsigned c = 0; c < channels; ++c) {
            TestPattern::Store(&data[(static_cast<size_t>(f) * channels + c) * bytes],
                               TestPattern::Sample(c, first + f, bits), bytes);
        }
    }
}

}  // namespace simtest
