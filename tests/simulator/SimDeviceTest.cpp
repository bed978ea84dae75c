// The virtual device as the enumerator, the filter and the HID channel see it.
#include "SimHarness.h"

#include "device/SupportedDevices.h"

#include <dbt.h>

#include <cstring>
#include <regex>

namespace simtest {
namespace {

using SimEnumeration = SimTest;
using SimFilter = SimTest;
using SimHid = SimTest;
using SimVendorStatus = SimTest;
using SimNotices = SimTest;

TEST_F(SimEnumeration, AudioInterfaceHasTheRealPathFormAliasesServiceAndInstanceId) {
    const GUID audio = sim::kCategoryAudio;
    HDEVINFO set = Api().SetupDiGetClassDevsA(&audio, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(INVALID_HANDLE_VALUE, set);
    auto data = Sized<SP_DEVICE_INTERFACE_DATA>();
    ASSERT_TRUE(Api().SetupDiEnumDeviceInterfaces(set, nullptr, &audio, 0, &data));
    auto more = Sized<SP_DEVICE_INTERFACE_DATA>();
    EXPECT_FALSE(Api().SetupDiEnumDeviceInterfaces(set, nullptr, &audio, 1, &more));
    EXPECT_EQ(DWORD(ERROR_NO_MORE_ITEMS), GetLastError());

    // Detail: size query, then a buffer of exactly that size.
    DWORD size = 0;
    EXPECT_FALSE(Api().SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr));
    EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    std::vector<BYTE> buffer(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof(*detail);
    EXPECT_FALSE(Api().SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size - 1, nullptr, nullptr));
    auto device = Sized<SP_DEVINFO_DATA>();
    ASSERT_TRUE(Api().SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, nullptr, &device));
    EXPECT_TRUE(std::regex_match(std::string(detail->DevicePath),
                                 std::regex(R"(\\\\\?\\usb#vid_3a45&pid_0452&mi_01#[0-9a-f&]+#)"
                                            R"(\{6994ad04-93ef-11d0-a3cc-00a0c9223196\}\\global)")))
        << detail->DevicePath;

    auto alias = Sized<SP_DEVICE_INTERFACE_DATA>();
    const GUID render = sim::kCategoryRender;
    ASSERT_TRUE(Api().SetupDiGetDeviceInterfaceAlias(set, &data, &render, &alias));
    EXPECT_EQ(DWORD(SPINT_ACTIVE), alias.Flags);

    char service[128] = "";
    DWORD type = 0;
    ASSERT_TRUE(Api().SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_SERVICE, &type,
                                                        reinterpret_cast<BYTE*>(service), sizeof(service), nullptr));
    EXPECT_STREQ("VMR5R6HS", service);
    EXPECT_EQ(DWORD(REG_SZ), type);

    DWORD idSize = 0;
    EXPECT_FALSE(Api().SetupDiGetDeviceInstanceIdA(set, &device, nullptr, 0, &idSize));
    EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    std::string id(idSize, '\0');
    ASSERT_TRUE(Api().SetupDiGetDeviceInstanceIdA(set, &device, &id[0], idSize, nullptr));
    EXPECT_EQ(0, id.compare(0, 29, "USB\\VID_3A45&PID_0452&MI_01\\7"));
    EXPECT_TRUE(Api().SetupDiDestroyDeviceInfoList(set));
    EXPECT_FALSE(Api().SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());

    // The instance's own interfaces only, found by its id.
    set = Api().SetupDiGetClassDevsA(&audio, id.c_str(), nullptr, DIGCF_DEVICEINTERFACE);
    ASSERT_NE(INVALID_HANDLE_VALUE, set);
    EXPECT_TRUE(Api().SetupDiEnumDeviceInterfaces(set, nullptr, &audio, 0, &data));
    Api().SetupDiDestroyDeviceInfoList(set);
    set = Api().SetupDiGetClassDevsA(&audio, "USB\\VID_1234&PID_0001\\1", nullptr, DIGCF_DEVICEINTERFACE);
    EXPECT_FALSE(Api().SetupDiEnumDeviceInterfaces(set, nullptr, &audio, 0, &data));
    Api().SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SimEnumeration, ModelSpeedAliasAndPresenceChangeWhatIsListed) {
    state->config.fullSpeed = 1;
    state->config.model = sim::kModelR5;
    const GUID audio = sim::kCategoryAudio;
    HDEVINFO set = Api().SetupDiGetClassDevsA(&audio, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    auto device = Sized<SP_DEVINFO_DATA>();
    ASSERT_TRUE(Api().SetupDiEnumDeviceInfo(set, 0, &device));
    EXPECT_FALSE(Api().SetupDiEnumDeviceInfo(set, 1, &device));
    char service[128] = "";
    ASSERT_TRUE(Api().SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_SERVICE, nullptr,
                                                        reinterpret_cast<BYTE*>(service), sizeof(service), nullptr));
    EXPECT_STREQ("VMR5R6FS", service);
    auto data = Sized<SP_DEVICE_INTERFACE_DATA>();
    auto alias = Sized<SP_DEVICE_INTERFACE_DATA>();
    ASSERT_TRUE(Api().SetupDiEnumDeviceInterfaces(set, nullptr, &audio, 0, &data));
    const GUID capture = sim::kCategoryCapture;
    EXPECT_FALSE(Api().SetupDiGetDeviceInterfaceAlias(set, &data, &capture, &alias));  // render only
    Api().SetupDiDestroyDeviceInfoList(set);
    EXPECT_NE(std::string::npos, InterfacePath(audio).find("pid_0451"));

    const GUID render = sim::kCategoryRender;
    state->config.alias = sim::kAliasRemoved;
    set = Api().SetupDiGetClassDevsA(&audio, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_TRUE(Api().SetupDiEnumDeviceInterfaces(set, nullptr, &audio, 0, &data));
    ASSERT_TRUE(Api().SetupDiGetDeviceInterfaceAlias(set, &data, &render, &alias));
    EXPECT_TRUE(alias.Flags & SPINT_REMOVED);
    Api().SetupDiDestroyDeviceInfoList(set);
    EXPECT_EQ("", InterfacePath(render));

    state->config.alias = sim::kAliasMissing;
    set = Api().SetupDiGetClassDevsA(&audio, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_TRUE(Api().SetupDiEnumDeviceInterfaces(set, nullptr, &audio, 0, &data));
    EXPECT_FALSE(Api().SetupDiGetDeviceInterfaceAlias(set, &data, &render, &alias));
    Api().SetupDiDestroyDeviceInfoList(set);

    sim::Unplug();
    EXPECT_EQ("", InterfacePath(audio));
    sim::Plug();
    EXPECT_NE("", InterfacePath(audio));
}

TEST_F(SimFilter, PinPropertiesAnswerWithSizeQueriesAndPublishedStructures) {
    HANDLE filter = OpenFilter();
    ASSERT_NE(INVALID_HANDLE_VALUE, filter);
    ULONG count = 0;
    ASSERT_EQ(DWORD(ERROR_SUCCESS), PinProperty(filter, 0, KSPROPERTY_PIN_CTYPES, &count, sizeof(count)));
    ASSERT_EQ(5u, count);

    int renderSinks = 0, captureSinks = 0, bridges = 0;
    for (ULONG pin = 0; pin < count; ++pin) {
        ULONG communication = 9, flow = 9;
        ASSERT_EQ(DWORD(0), PinProperty(filter, pin, KSPROPERTY_PIN_COMMUNICATION, &communication, 4));
        ASSERT_EQ(DWORD(0), PinProperty(filter, pin, KSPROPERTY_PIN_DATAFLOW, &flow, 4));
        if (communication == KSPIN_COMMUNICATION_SINK) (flow == KSPIN_DATAFLOW_IN ? renderSinks : captureSinks)++;
        if (communication == KSPIN_COMMUNICATION_NONE) ++bridges;

        std::vector<BYTE> ranges = PinPropertyMulti(filter, pin, KSPROPERTY_PIN_DATARANGES);
        ASSERT_GE(ranges.size(), sizeof(KSMULTIPLE_ITEM));
        auto* item = reinterpret_cast<KSMULTIPLE_ITEM*>(ranges.data());
        EXPECT_EQ(ranges.size(), item->Size);
        ASSERT_EQ(1u, item->Count);
        auto* range = reinterpret_cast<KSDATARANGE_AUDIO*>(item + 1);
        EXPECT_EQ(sizeof(KSDATARANGE_AUDIO), range->DataRange.FormatSize);
        EXPECT_TRUE(sim::SameGuid(sim::kFormatTypeAudio, range->DataRange.MajorFormat));
        if (communication == KSPIN_COMMUNICATION_SINK) {
            EXPECT_TRUE(sim::SameGuid(sim::kSubtypePcm, range->DataRange.SubFormat));
            EXPECT_EQ(2u, range->MaximumChannels);
            EXPECT_EQ(16u, range->MinimumBitsPerSample);
            EXPECT_EQ(32u, range->MaximumBitsPerSample);
            EXPECT_EQ(32000u, range->MinimumSampleFrequency);
            EXPECT_EQ(384000u, range->MaximumSampleFrequency);
            KSPIN_CINSTANCES instances = {};
            ASSERT_EQ(DWORD(0), PinProperty(filter, pin, KSPROPERTY_PIN_CINSTANCES, &instances, 8));
            EXPECT_EQ(1u, instances.PossibleCount);
            EXPECT_EQ(0u, instances.CurrentCount);
        }

        std::vector<BYTE> interfaces = PinPropertyMulti(filter, pin, KSPROPERTY_PIN_INTERFACES);
        auto* identifiers = reinterpret_cast<KSIDENTIFIER*>(interfaces.data() + sizeof(KSMULTIPLE_ITEM));
        EXPECT_TRUE(sim::SameGuid(sim::kInterfaceStandard, identifiers[0].Set));
        EXPECT_EQ(0u, identifiers[0].Id);
        std::vector<BYTE> mediums = PinPropertyMulti(filter, pin, KSPROPERTY_PIN_MEDIUMS);
        EXPECT_TRUE(sim::SameGuid(sim::kMediumStandard,
                                  reinterpret_cast<KSIDENTIFIER*>(mediums.data() + sizeof(KSMULTIPLE_ITEM))->Set));

        BYTE name[259] = {};
        DWORD got = 0;
        ASSERT_EQ(DWORD(0), PinProperty(filter, pin, KSPROPERTY_PIN_NAME, name, sizeof(name), &got));
        EXPECT_GT(got, 2u);
        EXPECT_EQ(0, name[got - 2] | name[got - 1]);  // a terminated wide string
        GUID category = {};
        EXPECT_EQ(DWORD(0), PinProperty(filter, pin, KSPROPERTY_PIN_CATEGORY, &category, sizeof(category)));
    }
    EXPECT_EQ(1, renderSinks);
    EXPECT_EQ(1, captureSinks);
    EXPECT_EQ(3, bridges);

    DWORD size = 0;
    EXPECT_EQ(DWORD(ERROR_MORE_DATA),
              Property(filter, sim::kPropSetTopology, KSPROPERTY_TOPOLOGY_NODES, KSPROPERTY_TYPE_GET, nullptr, 0, &size));
    EXPECT_EQ(sizeof(KSMULTIPLE_ITEM) + 7 * sizeof(GUID), size);
    EXPECT_TRUE(Api().CloseHandle(filter));
}

TEST_F(SimFilter, PropertiesPendThenAnswerOrFailWhenAskedTo) {
    HANDLE filter = OpenFilter();
    ASSERT_NE(INVALID_HANDLE_VALUE, filter);
    state->config.pendProperties = sim::kPendThenAnswer;
    KSP_PIN request = {};
    request.Property.Set = sim::kPropSetPin;
    request.Property.Id = KSPROPERTY_PIN_CTYPES;
    request.Property.Flags = KSPROPERTY_TYPE_GET;
    ULONG count = 0;
    DWORD got = 99;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    EXPECT_FALSE(Api().DeviceIoControl(filter, IOCTL_KS_PROPERTY, &request, sizeof(request), &count, sizeof(count),
                                       &got, &overlapped));
    EXPECT_EQ(DWORD(ERROR_IO_PENDING), GetLastError());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(overlapped.hEvent, 2000));
    EXPECT_TRUE(GetOverlappedResult(filter, &overlapped, &got, FALSE));
    EXPECT_EQ(4u, got);
    EXPECT_EQ(5u, count);
    CloseHandle(overlapped.hEvent);
    // A size query that pends ends "more data" with the size.
    DWORD size = 0;
    EXPECT_EQ(DWORD(ERROR_MORE_DATA),
              Property(filter, sim::kPropSetTopology, KSPROPERTY_TOPOLOGY_NODES, KSPROPERTY_TYPE_GET, nullptr, 0, &size));
    EXPECT_GT(size, DWORD(sizeof(KSMULTIPLE_ITEM)));

    // Pend, then fail without acting: the pin stays where it was.
    HANDLE pin = nullptr;
    ASSERT_EQ(DWORD(0), CreatePin(filter, 0, PinFormat(), &pin));
    state->config.pendProperties = sim::kPendThenFail;
    EXPECT_EQ(DWORD(ERROR_GEN_FAILURE), SetState(pin, KSSTATE_ACQUIRE));
    EXPECT_EQ(ULONG(KSSTATE_STOP), state->streams[0].state);
    // A synchronous handle gets the outcome at once.
    HANDLE sync = OpenFilter(0);
    EXPECT_FALSE(Api().DeviceIoControl(sync, IOCTL_KS_PROPERTY, &request, sizeof(request), &count, sizeof(count),
                                       &got, nullptr));
    EXPECT_EQ(DWORD(ERROR_GEN_FAILURE), GetLastError());
    Api().CloseHandle(sync);
    Api().CloseHandle(pin);

    // Some drivers answer a size query "insufficient buffer"; the size is the same.
    state->config.pendProperties = sim::kPendNever;
    state->config.sizeQueryInsufficient = 1;
    DWORD again = 0;
    EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), Property(filter, sim::kPropSetTopology, KSPROPERTY_TOPOLOGY_NODES,
                                                         KSPROPERTY_TYPE_GET, nullptr, 0, &again));
    EXPECT_EQ(size, again);
    Api().CloseHandle(filter);
}

TEST_F(SimFilter, MalformedPropertyRequestsGetThePlatformsErrors) {
    HANDLE filter = OpenFilter();
    ASSERT_NE(INVALID_HANDLE_VALUE, filter);
    ULONG value = 0;
    DWORD got = 7;
    const GUID unknown = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    EXPECT_EQ(DWORD(ERROR_SET_NOT_FOUND), Property(filter, unknown, 1, KSPROPERTY_TYPE_GET, &value, 4));
    EXPECT_EQ(DWORD(ERROR_NOT_FOUND), PinProperty(filter, 0, 99, &value, 4, &got));
    EXPECT_EQ(0u, got);
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), PinProperty(filter, 5, KSPROPERTY_PIN_DATAFLOW, &value, 4));
    EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), PinProperty(filter, 0, KSPROPERTY_PIN_CINSTANCES, &value, 4));
    EXPECT_EQ(DWORD(ERROR_INVALID_FUNCTION),
              Property(filter, sim::kPropSetPin, KSPROPERTY_PIN_DATAFLOW, KSPROPERTY_TYPE_SET, &value, 4, nullptr, 0));
    // A pin property without its pin id, and a request shorter than a KSPROPERTY.
    EXPECT_EQ(DWORD(ERROR_INVALID_USER_BUFFER),
              Property(filter, sim::kPropSetPin, KSPROPERTY_PIN_DATAFLOW, KSPROPERTY_TYPE_GET, &value, 4));
    OVERLAPPED overlapped = {};
    KSPROPERTY shortRequest = {};
    EXPECT_FALSE(Api().DeviceIoControl(filter, IOCTL_KS_PROPERTY, &shortRequest, 8, &value, 4, &got, &overlapped));
    EXPECT_EQ(DWORD(ERROR_INVALID_USER_BUFFER), GetLastError());
    EXPECT_FALSE(Api().DeviceIoControl(filter, IOCTL_KS_WRITE_STREAM, nullptr, 0, nullptr, 0, &got, &overlapped));
    EXPECT_EQ(DWORD(ERROR_INVALID_FUNCTION), GetLastError());
    // A handle opened for overlapped requests takes none without its OVERLAPPED.
    KSP_PIN request = {};
    request.Property.Set = sim::kPropSetPin;
    request.Property.Id = KSPROPERTY_PIN_CTYPES;
    request.Property.Flags = KSPROPERTY_TYPE_GET;
    EXPECT_FALSE(Api().DeviceIoControl(filter, IOCTL_KS_PROPERTY, &request, sizeof(request), &value, 4, &got, nullptr));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());

    // After removal the handle is dead, and after closing it is no handle at all.
    sim::Unplug();
    EXPECT_EQ(DWORD(ERROR_DEVICE_NOT_CONNECTED), PinProperty(filter, 0, KSPROPERTY_PIN_CTYPES, &value, 4));
    sim::Plug();
    EXPECT_EQ(DWORD(ERROR_DEVICE_NOT_CONNECTED), PinProperty(filter, 0, KSPROPERTY_PIN_CTYPES, &value, 4));
    EXPECT_TRUE(Api().CloseHandle(filter));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), PinProperty(filter, 0, KSPROPERTY_PIN_CTYPES, &value, 4));
}

// The HID interface as FindHidDevice walks it.
struct HidEntry {
    std::string path;
    USHORT vendor = 0, product = 0, outputLength = 0;
};

std::vector<HidEntry> HidInterfaces() {
    GUID hid = {};
    Api().HidD_GetHidGuid(&hid);
    HDEVINFO set = Api().SetupDiGetClassDevsA(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    std::vector<HidEntry> found;
    auto data = Sized<SP_DEVICE_INTERFACE_DATA>();
    for (DWORD i = 0; Api().SetupDiEnumDeviceInterfaces(set, nullptr, &hid, i, &data); ++i) {
        DWORD size = 0;
        Api().SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr);
        std::vector<BYTE> buffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = sizeof(*detail);
        if (!Api().SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, nullptr, nullptr)) continue;
        HidEntry entry;
        entry.path = detail->DevicePath;
        HANDLE handle = Api().CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        HIDD_ATTRIBUTES attributes = {};
        attributes.Size = sizeof(attributes);
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        HIDP_CAPS caps = {};
        if (handle != INVALID_HANDLE_VALUE && Api().HidD_GetAttributes(handle, &attributes) &&
            Api().HidD_GetPreparsedData(handle, &preparsed)) {
            EXPECT_EQ(0x00110000, Api().HidP_GetCaps(preparsed, &caps));
            Api().HidD_FreePreparsedData(preparsed);
            entry.vendor = attributes.VendorID;
            entry.product = attributes.ProductID;
            entry.outputLength = caps.OutputReportByteLength;
        }
        Api().CloseHandle(handle);
        found.push_back(entry);
    }
    Api().SetupDiDestroyDeviceInfoList(set);
    return found;
}

HANDLE OpenDeviceHid(DWORD flags = 0) {
    for (const HidEntry& entry : HidInterfaces()) {
        if (entry.vendor == kVelmorVendorId && entry.product == kVelmorProductR6) {
            return Api().CreateFileA(entry.path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
        }
    }
    return INVALID_HANDLE_VALUE;
}

DWORD Send(HANDLE hid, BYTE b1, BYTE b2, BYTE b3, BYTE b4, DWORD length = 64) {
    BYTE report[128] = {0, b1, b2, b3, b4};
    DWORD written = 0;
    if (Api().WriteFile(hid, report, length, &written, nullptr)) return written == length ? 0 : ERROR_WRITE_FAULT;
    return GetLastError();
}

TEST_F(SimHid, InterfacesListASiblingAndForeignOnesBeforeTheDevice) {
    std::vector<HidEntry> all = HidInterfaces();
    ASSERT_EQ(2u, all.size());
    EXPECT_EQ(kVelmorVendorId, all[0].vendor);  // same vendor, another product
    EXPECT_NE(kVelmorProductR6, all[0].product);
    EXPECT_EQ(kVelmorProductR6, all[1].product);
    EXPECT_EQ(64, all[1].outputLength);

    state->config.hidExtraInterfaces = 300;
    state->config.hidOutputLength = 0;
    all = HidInterfaces();
    ASSERT_EQ(302u, all.size());
    EXPECT_NE(kVelmorVendorId, all[0].vendor);
    EXPECT_EQ(kVelmorProductR6, all[301].product);
    EXPECT_EQ(0, all[301].outputLength);

    // Unplugged: only the foreign interfaces remain.
    sim::Unplug();
    EXPECT_EQ(300u, HidInterfaces().size());
}

TEST_F(SimHid, ReportsAreLoggedWithTimeAndSwitchTheDsdMode) {
    HANDLE hid = OpenDeviceHid();
    ASSERT_NE(INVALID_HANDLE_VALUE, hid);
    // Mode reports take effect a little after the write, in the order written.
    auto settle = [&] {
        for (int i = 0; i < 1000 && state->reportsActedOn != state->reportCount; ++i) {
            Sleep(1);
            sim::ActOnDueReports(*state);
        }
    };
    uint64_t before = sim::NowFileTime();
    EXPECT_EQ(DWORD(0), Send(hid, 0xF5, 0x21, 0x32, 0x2E));
    EXPECT_EQ(0u, state->dsdMode) << "acted on inside the write";
    settle();
    EXPECT_EQ(64u, state->dsdMode);
    EXPECT_EQ(DWORD(0), Send(hid, 0xF6, 0x21, 0x33, 0x08));  // another mode's "off" leaves DSD64 on
    settle();
    EXPECT_EQ(64u, state->dsdMode);
    EXPECT_EQ(DWORD(0), Send(hid, 0xF5, 0x21, 0x32, 0x08));
    EXPECT_EQ(DWORD(0), Send(hid, 0xF8, 0x21, 0x35, 0x01));
    settle();
    EXPECT_EQ(0u, state->dsdMode);
    EXPECT_EQ(1u, state->markerState);
    EXPECT_EQ(1u, state->markerReports);
    EXPECT_EQ(DWORD(0), Send(hid, 0xF6, 0x61, 0x01, 0x00));
    EXPECT_EQ(DWORD(0), Send(hid, 0xF6, 0x61, 0x00, 0x00));
    EXPECT_EQ(1, state->volumeSteps);

    ASSERT_EQ(6u, state->reportCount);
    EXPECT_EQ(0xF5, state->reports[0].data[1]);
    EXPECT_EQ(0x2E, state->reports[0].data[4]);
    EXPECT_EQ(64u, state->reports[0].length);
    EXPECT_GE(state->reports[0].time, before);
    EXPECT_LE(state->reports[0].time, state->reports[5].time);

    // A write of any other length is refused and not logged.
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), Send(hid, 0xF6, 0x61, 0x02, 0x00, 65));
    EXPECT_EQ(6u, state->reportCount);
    state->config.hidOutputLength = 65;
    EXPECT_EQ(DWORD(0), Send(hid, 0xF6, 0x61, 0x02, 0x00, 65));
    EXPECT_EQ(65u, state->reports[6].length);

    // Through an overlapped handle a write without its OVERLAPPED is refused, as on the platform.
    HANDLE overlappedHid = OpenDeviceHid(FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, overlappedHid);
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), Send(overlappedHid, 0xF6, 0x61, 0x02, 0x00, 65));
    EXPECT_EQ(7u, state->reportCount);
    BYTE report[65] = {0, 0xF6, 0x61, 0x00};
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    EXPECT_TRUE(Api().WriteFile(overlappedHid, report, sizeof(report), &written, &overlapped));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(overlapped.hEvent, 0));
    CloseHandle(overlapped.hEvent);
    EXPECT_EQ(8u, state->reportCount);
    Api().CloseHandle(overlappedHid);

    sim::Unplug();
    EXPECT_EQ(DWORD(ERROR_DEVICE_NOT_CONNECTED), Send(hid, 0xF6, 0x61, 0x02, 0x00, 65));
    Api().CloseHandle(hid);
}

// The vendor status property, read the way the panel reads it.
DWORD ReadVendorStatus(HANDLE device, const GUID& set, BYTE (&reply)[72], DWORD& got) {
    BYTE request[72] = {};
    auto* property = reinterpret_cast<KSPROPERTY*>(request);
    property->Set = set;
    property->Id = sim::kVendorStatusId;
    property->Flags = KSPROPERTY_TYPE_GET;
    std::memset(reply, 0xCC, sizeof(reply));
    got = 0;
    if (Api().DeviceIoControl(device, IOCTL_KS_PROPERTY, request, 72, reply, 72, &got, nullptr)) return 0;
    return GetLastError();
}

ULONG At(const BYTE* reply, int offset) {
    ULONG value;
    std::memcpy(&value, reply + offset, 4);
    return value;
}

TEST_F(SimVendorStatus, ReportsTheRunningStreamThroughEitherSet) {
    HANDLE device = OpenFilter(0);
    ASSERT_NE(INVALID_HANDLE_VALUE, device);
    BYTE reply[72];
    DWORD got = 0;
    ASSERT_EQ(DWORD(0), ReadVendorStatus(device, sim::kVendorSet1, reply, got));
    EXPECT_EQ(72u, got);
    EXPECT_EQ(0u, At(reply, 32));

    HANDLE filter = OpenFilter();
    HANDLE pin = nullptr;
    PinFormat format;
    format.rate = 96000;
    format.bits = 24;
    ASSERT_EQ(DWORD(0), CreatePin(filter, 0, format, &pin));
    StepTo(pin, KSSTATE_STOP, KSSTATE_RUN);
    ASSERT_EQ(DWORD(0), ReadVendorStatus(device, sim::kVendorSet2, reply, got));
    EXPECT_EQ(1u, At(reply, 32));
    EXPECT_EQ(2u, At(reply, 36));
    EXPECT_EQ(96000u, At(reply, 40));
    EXPECT_EQ(24u, At(reply, 44));

    state->config.refuseFirstVendorSet = 1;
    EXPECT_EQ(DWORD(ERROR_SET_NOT_FOUND), ReadVendorStatus(device, sim::kVendorSet1, reply, got));
    EXPECT_EQ(DWORD(0), ReadVendorStatus(device, sim::kVendorSet2, reply, got));
    state->config.vendorReplyLength = 47;
    EXPECT_EQ(DWORD(0), ReadVendorStatus(device, sim::kVendorSet2, reply, got));
    EXPECT_EQ(47u, got);
    EXPECT_EQ(0xCC, reply[47]);  // nothing written past the reply
    Api().CloseHandle(pin);
    Api().CloseHandle(filter);
    Api().CloseHandle(device);
}

struct Notice {
    WPARAM event = 0;
    std::string path;
    int count = 0;
};
Notice g_notice;

LRESULT CALLBACK NoticeWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE) {
        ++g_notice.count;
        g_notice.event = wParam;
        auto* header = reinterpret_cast<DEV_BROADCAST_HDR*>(lParam);
        if (header && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
            g_notice.path = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(header)->dbcc_name;
        }
        return TRUE;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(SimNotices, RegisteredWindowsHearOfRemovalAndArrivalUntilUnregistered) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = NoticeWindow;
    wc.lpszClassName = "SimNoticeWindow";
    RegisterClassA(&wc);
    HWND window = CreateWindowA("SimNoticeWindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = sim::kCategoryAudio;
    HDEVNOTIFY token = Api().RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    ASSERT_NE(nullptr, token);

    sim::Unplug();
    EXPECT_EQ(1, g_notice.count);
    EXPECT_EQ(WPARAM(DBT_DEVICEREMOVECOMPLETE), g_notice.event);
    EXPECT_NE(std::string::npos, g_notice.path.find("vid_3a45&pid_0452&mi_01"));
    sim::Unplug();  // already gone: no second notice
    EXPECT_EQ(1, g_notice.count);
    sim::Plug();
    EXPECT_EQ(2, g_notice.count);
    EXPECT_EQ(WPARAM(DBT_DEVICEARRIVAL), g_notice.event);

    EXPECT_TRUE(Api().UnregisterDeviceNotification(token));
    sim::Unplug();
    EXPECT_EQ(2, g_notice.count);

    // The USB device itself, as the panel listens for it.
    filter.dbcc_classguid = sim::kUsbDeviceClass;
    token = Api().RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    ASSERT_NE(nullptr, token);
    sim::Plug();
    EXPECT_EQ(3, g_notice.count);
    EXPECT_EQ(0u, g_notice.path.find("\\\\?\\usb#vid_3a45&pid_0452#")) << g_notice.path;
    EXPECT_NE(std::string::npos, g_notice.path.find("{a5dcbf10-6530-11d2-901f-00c04fb951ed}")) << g_notice.path;
    EXPECT_TRUE(Api().UnregisterDeviceNotification(token));
    DestroyWindow(window);
}

}  // namespace
}  // namespace simtest
