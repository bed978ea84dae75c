#include "FakeKsDevice.h"

#include <cstdlib>
#include <cstring>
#include <new>

FakeKsDevice* g_ks = nullptr;

namespace {

struct {
    bool armed = false;
    size_t size = 0;
    int skip = 0;
} g_fault;

void* Allocate(size_t size) {
    if (g_fault.armed && (g_fault.size == 0 || g_fault.size == size) && g_fault.skip-- == 0) {
        g_fault.armed = false;
        return nullptr;
    }
    return std::malloc(size ? size : 1);
}

std::vector<BYTE> MultiItem(const void* items, size_t bytes, ULONG count) {
    KSMULTIPLE_ITEM header = {static_cast<ULONG>(sizeof(header) + bytes), count};
    std::vector<BYTE> reply(sizeof(header) + bytes);
    std::memcpy(reply.data(), &header, sizeof(header));
    if (bytes) std::memcpy(reply.data() + sizeof(header), items, bytes);
    return reply;
}

template <typename T>
std::vector<BYTE> Bytes(const T& value) {
    std::vector<BYTE> bytes(sizeof(value));
    std::memcpy(bytes.data(), &value, sizeof(value));
    return bytes;
}

// The answer to a pin property; false when the property fails.
bool PinProperty(const FakeKsDevice& device, ULONG pin, ULONG property, std::vector<BYTE>* reply) {
    if (property == kKsPropertyPinCTypes) {
        if (device.pinCountFails) return false;
        *reply = Bytes(device.claimedPinCount ? device.claimedPinCount : static_cast<ULONG>(device.pins.size()));
        return true;
    }
    if (device.failing.count({pin, property}) || pin >= device.pins.size()) return false;
    auto raw = device.raw.find({pin, property});
    if (raw != device.raw.end()) {
        *reply = raw->second;
        return true;
    }
    const FakeKsPin& p = device.pins[pin];
    switch (property) {
    case kKsPropertyPinCInstances:
    case kKsPropertyPinGlobalCInstances:
        *reply = Bytes(KSPIN_CINSTANCES{1, 0});
        return true;
    case kKsPropertyPinDataFlow:
        *reply = Bytes(p.dataFlow);
        return true;
    case kKsPropertyPinDataRanges:
        *reply = MultiItem(p.ranges.data(), p.ranges.size(), p.rangeCount);
        return true;
    case kKsPropertyPinInterfaces:
        *reply = MultiItem(p.interfaces.data(), p.interfaces.size() * sizeof(KSIDENTIFIER),
                           static_cast<ULONG>(p.interfaces.size()));
        return true;
    case kKsPropertyPinMediums:
        *reply = MultiItem(p.mediums.data(), p.mediums.size() * sizeof(KSIDENTIFIER),
                           static_cast<ULONG>(p.mediums.size()));
        return true;
    case kKsPropertyPinCommunication:
        *reply = Bytes(p.communication);
        return true;
    case kKsPropertyPinCategory:
        *reply = Bytes(kKsCategoryAudio);
        return true;
    case kKsPropertyPinName:
        reply->resize((p.name.size() + 1) * sizeof(wchar_t));
        std::memcpy(reply->data(), p.name.c_str(), reply->size());
        return true;
    default:
        return false;
    }
}

BOOL Answer(const std::vector<BYTE>& reply, void* out, DWORD outSize, DWORD* returned) {
    if (outSize < reply.size()) {
        *returned = static_cast<DWORD>(reply.size());
        SetLastError(outSize == 0 ? ERROR_MORE_DATA : ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (!reply.empty()) std::memcpy(out, reply.data(), reply.size());
    *returned = static_cast<DWORD>(reply.size());
    return TRUE;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

BOOL WINAPI FakeIoctl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                      LPDWORD returned, LPOVERLAPPED) {
    FakeKsDevice& device = *g_ks;
    DWORD local = 0;
    if (!returned) returned = &local;
    if (code == kIoctlKsWriteStream || code == kIoctlKsReadStream) {
        device.streams.push_back({code, outSize});
        return device.streamError == ERROR_SUCCESS ? TRUE : Fail(device.streamError);
    }
    if (code == kIoctlKsResetState) {
        if (inSize != sizeof(ULONG)) return Fail(ERROR_INVALID_PARAMETER);
        device.resets.push_back(*static_cast<ULONG*>(in));
        return TRUE;
    }
    if (code != kIoctlKsProperty || inSize < sizeof(KSPROPERTY)) return Fail(ERROR_INVALID_FUNCTION);
    const KSPROPERTY& property = *static_cast<KSPROPERTY*>(in);
    if (property.Set == kKsPropSetIdConnection && property.Flags == kKsPropertyTypeSet) {
        if (device.stateFails || outSize != sizeof(KSSTATE)) return Fail(ERROR_INVALID_PARAMETER);
        device.states.push_back({handle, *static_cast<KSSTATE*>(out)});
        return TRUE;
    }
    if (handle != kFakeFilterHandle) return Fail(ERROR_INVALID_HANDLE);
    if (property.Set == kKsPropSetIdTopology && property.Id == kKsPropertyTopologyNodes) {
        std::vector<BYTE> reply = device.rawTopology
                                      ? device.topology
                                      : MultiItem(device.nodes.data(), device.nodes.size() * sizeof(GUID),
                                                  static_cast<ULONG>(device.nodes.size()));
        return Answer(reply, out, outSize, returned);
    }
    if (property.Set == kKsPropSetIdPin && inSize == sizeof(KSP_PIN)) {
        const KSP_PIN& request = *static_cast<KSP_PIN*>(in);
        EXPECT_EQ(kKsPropertyTypeGet, request.Property.Flags);
        EXPECT_EQ(0u, request.Reserved);
        std::vector<BYTE> reply;
        if (!PinProperty(device, request.PinId, request.Property.Id, &reply)) return Fail(ERROR_NOT_FOUND);
        return Answer(reply, out, outSize, returned);
    }
    return Fail(ERROR_NOT_FOUND);
}

HANDLE WINAPI FakeCreateFile(LPCSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD flags, HANDLE) {
    g_ks->createFlags.push_back(flags);
    if (!g_ks->openable.count(path)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return kFakeFilterHandle;
}

BOOL WINAPI FakeClose(HANDLE handle) {
    g_ks->closed.push_back(handle);
    return TRUE;
}

DWORD WINAPI FakeCreatePin(HANDLE filter, PKSPIN_CONNECT connect, ACCESS_MASK, PHANDLE pin) {
    FakeKsDevice& device = *g_ks;
    const KSDATAFORMAT* format = reinterpret_cast<const KSDATAFORMAT*>(connect + 1);
    const BYTE* bytes = reinterpret_cast<const BYTE*>(connect);
    device.connects.emplace_back(bytes, bytes + sizeof(KSPIN_CONNECT) + format->FormatSize);
    device.createdFrom.push_back(filter);
    if (device.createPinResult != 0) return device.createPinResult;
    *pin = FakeKsDevice::PinHandle(device.nextPin++);
    return 0;
}

}  // namespace

void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }

void FailAllocation(size_t size, int skip) {
    g_fault.size = size;
    g_fault.skip = skip;
    g_fault.armed = true;
}

void StopFailingAllocations() { g_fault.armed = false; }

KSDATARANGE_AUDIO AudioRange(ULONG maxChannels, ULONG minBits, ULONG maxBits, ULONG minRate, ULONG maxRate,
                             const GUID& subFormat) {
    KSDATARANGE_AUDIO range = {};
    range.DataRange.FormatSize = sizeof(range);
    range.DataRange.MajorFormat = kKsDataFormatTypeAudio;
    range.DataRange.SubFormat = subFormat;
    range.DataRange.Specifier = kKsDataFormatSpecifierWaveFormatEx;
    range.MaximumChannels = maxChannels;
    range.MinimumBitsPerSample = minBits;
    range.MaximumBitsPerSample = maxBits;
    range.MinimumSampleFrequency = minRate;
    range.MaximumSampleFrequency = maxRate;
    return range;
}

void FakeKsPin::AddRange(const void* range, size_t size) {
    const BYTE* bytes = static_cast<const BYTE*>(range);
    ranges.insert(ranges.end(), bytes, bytes + size);
    ++rangeCount;
}

void KsFakeTest::SetUp() {
    g_ks = &device;
    table = RealDeviceApi();
    table.DeviceIoControl = FakeIoctl;
    table.CreateFileA = FakeCreateFile;
    table.CloseHandle = FakeClose;
    table.KsCreatePin = FakeCreatePin;
    InstallDeviceApi(&table);
}

void KsFakeTest::TearDown() {
    StopFailingAllocations();
    InstallDeviceApi(nullptr);
    g_ks = nullptr;
}
