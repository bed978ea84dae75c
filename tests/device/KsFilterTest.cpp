#include "FakeKsDevice.h"

#include "device/KsFilter.h"
#include "device/KsPin.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

const char kLink[] = "\\\\?\\usb#vid_3a45&pid_0451&mi_01#7&1&0#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\global";

FakeKsPin Pin(ULONG communication, ULONG dataFlow) {
    FakeKsPin pin;
    pin.communication = communication;
    pin.dataFlow = dataFlow;
    return pin;
}

std::vector<ULONG> Ids(CKsList<CKsPin>& list) {
    std::vector<ULONG> ids;
    for (auto* entry = list.Head(); entry; entry = entry->next) ids.push_back(entry->item->PinId());
    return ids;
}

class KsFilter : public KsFakeTest {
protected:
    void SetUp() override {
        KsFakeTest::SetUp();
        device.openable.insert(kLink);
    }
};

TEST_F(KsFilter, NamesAreCheckedAndCutToTheirBuffers) {
    HRESULT hr = S_OK;
    CKsFilter noLink(nullptr, "name", &hr);
    EXPECT_EQ(E_INVALIDARG, hr);
    CKsFilter noName(kLink, nullptr, &hr);
    EXPECT_EQ(E_INVALIDARG, hr);
    EXPECT_STREQ("", noName.SymbolicLink());

    std::string longLink(300, 'L');
    std::string longName(260, 'N');
    CKsFilter filter(longLink.c_str(), longName.c_str(), &hr);
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(std::string(259, 'L'), filter.SymbolicLink());
    EXPECT_EQ(std::string(259, 'N'), filter.FriendlyName());
    EXPECT_EQ(kKsFilterPlain, filter.Type());
}

TEST_F(KsFilter, OpensOverlappedAndClosesWithTheLastPin) {
    HRESULT hr = E_FAIL;
    {
        CKsFilter missing("\\\\?\\nothing", "", &hr);
        EXPECT_EQ(E_FAIL, missing.Instantiate());
        EXPECT_FALSE(CKsIrpTarget::IsValidHandle(missing.Handle()));
    }
    EXPECT_TRUE(device.closed.empty());

    device.pins = {Pin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN)};
    {
        CKsFilter filter(kLink, "R6", &hr);
        ASSERT_EQ(S_OK, filter.Instantiate());
        EXPECT_EQ(kFakeFilterHandle, filter.Handle());
        EXPECT_EQ(DWORD(FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED), device.createFlags.back());
        ASSERT_EQ(S_OK, filter.EnumeratePins());
        // Opening again closes the handle first; enumerating again is refused
        // until the lists are emptied, so pins are never listed twice.
        ASSERT_EQ(S_OK, filter.Instantiate());
        EXPECT_EQ(std::vector<HANDLE>{kFakeFilterHandle}, device.closed);
        EXPECT_EQ(E_FAIL, filter.EnumeratePins());
        EXPECT_EQ(1u, filter.Pins().Count());
        EXPECT_EQ(1u, filter.RenderSinkPins().Count());
        filter.DestroyLists();
        EXPECT_EQ(S_OK, filter.EnumeratePins());
        EXPECT_EQ(1u, filter.RenderSinkPins().Count());
    }
    EXPECT_EQ((std::vector<HANDLE>{kFakeFilterHandle, kFakeFilterHandle}), device.closed);
}

TEST_F(KsFilter, SortsPinsByDataFlowAndCommunication) {
    device.pins = {
        Pin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN),    Pin(KSPIN_COMMUNICATION_SOURCE, KSPIN_DATAFLOW_OUT),
        Pin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_OUT),   Pin(KSPIN_COMMUNICATION_SOURCE, KSPIN_DATAFLOW_IN),
        Pin(KSPIN_COMMUNICATION_NONE, KSPIN_DATAFLOW_OUT),   Pin(KSPIN_COMMUNICATION_BOTH, KSPIN_DATAFLOW_IN),
        Pin(KSPIN_COMMUNICATION_BOTH, KSPIN_DATAFLOW_OUT),   Pin(KSPIN_COMMUNICATION_BRIDGE, KSPIN_DATAFLOW_IN),
    };
    HRESULT hr = E_FAIL;
    CKsFilter filter(kLink, "R6", &hr);
    ASSERT_EQ(S_OK, filter.Instantiate());
    ASSERT_EQ(S_OK, filter.EnumeratePins());

    EXPECT_EQ((std::vector<ULONG>{0, 1, 2, 3, 4, 5, 6, 7}), Ids(filter.Pins()));
    EXPECT_EQ((std::vector<ULONG>{0, 5}), Ids(filter.RenderSinkPins()));
    EXPECT_EQ((std::vector<ULONG>{3, 5}), Ids(filter.RenderSourcePins()));
    EXPECT_EQ((std::vector<ULONG>{2, 6}), Ids(filter.CaptureSinkPins()));
    EXPECT_EQ((std::vector<ULONG>{1, 6}), Ids(filter.CaptureSourcePins()));
    EXPECT_EQ((std::vector<ULONG>{4}), Ids(filter.NoCommPins()));

    EXPECT_EQ(S_OK, filter.DestroyLists());
    EXPECT_TRUE(filter.Pins().IsEmpty());
    EXPECT_TRUE(filter.RenderSinkPins().IsEmpty());
    EXPECT_TRUE(filter.RenderSourcePins().IsEmpty());
}

TEST_F(KsFilter, FilterWithoutClassifiablePinsIsNotViable) {
    device.pins = {Pin(KSPIN_COMMUNICATION_BRIDGE, KSPIN_DATAFLOW_IN), Pin(7, KSPIN_DATAFLOW_OUT)};
    HRESULT hr = E_FAIL;
    CKsFilter filter(kLink, "R6", &hr);
    ASSERT_EQ(S_OK, filter.Instantiate());
    EXPECT_EQ(E_FAIL, filter.EnumeratePins());
    EXPECT_EQ(2u, filter.Pins().Count());

    CKsFilter countless(kLink, "R6", &hr);
    ASSERT_EQ(S_OK, countless.Instantiate());
    device.pinCountFails = true;
    EXPECT_EQ(E_FAIL, countless.EnumeratePins());
    EXPECT_TRUE(countless.Pins().IsEmpty());

    // A count no device has is a faulty reply, not billions of requests.
    device.pinCountFails = false;
    device.claimedPinCount = 0xFFFFFFFFu;
    CKsFilter bogus(kLink, "R6", &hr);
    ASSERT_EQ(S_OK, bogus.Instantiate());
    EXPECT_EQ(E_FAIL, bogus.EnumeratePins());
    EXPECT_TRUE(bogus.Pins().IsEmpty());
    device.claimedPinCount = 0;

    CKsFilter closed(kLink, "R6", &hr);
    EXPECT_EQ(E_FAIL, closed.EnumeratePins());
}

TEST_F(KsFilter, PinKeepsWhatItCouldReadAndSaysSo) {
    device.pins = {Pin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN)};
    device.pins[0].AddRange(AudioRange(2, 16, 32, 32000, 384000));
    HRESULT hr = E_FAIL;
    CKsFilter filter(kLink, "R6", &hr);
    ASSERT_EQ(S_OK, filter.Instantiate());

    CKsPin pin(&filter, 0, &hr);
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(KSPIN_COMMUNICATION_SINK, pin.GetCommunication());
    EXPECT_EQ(KSPIN_DATAFLOW_IN, pin.GetDataFlow());
    EXPECT_EQ(1u, pin.InterfaceCount());
    EXPECT_EQ(kKsInterfaceSetIdStandard, pin.Interfaces()[0].Set);
    EXPECT_EQ(1u, pin.MediumCount());
    EXPECT_EQ(1u, pin.DataRangeCount());
    EXPECT_EQ(ULONG(sizeof(KSDATARANGE_AUDIO)), pin.DataRanges()[0].FormatSize);
    EXPECT_EQ(kKsCategoryAudio, pin.Category());
    EXPECT_EQ(1u, pin.CInstances().PossibleCount);
    EXPECT_EQ(0, std::memcmp(L"Speaker", pin.Name(), sizeof(L"Speaker"))) << "the wide reply is kept as raw bytes";
    EXPECT_EQ(KSSTATE_STOP, pin.State());
    EXPECT_EQ(kKsPinPlain, pin.Type());

    // A failed read leaves the pin usable: S_FALSE counts as success.
    device.failing.insert({0, kKsPropertyPinCategory});
    device.pins[0].name.assign(200, L'x');  // 402 bytes: more than the name buffer takes
    CKsPin partial(&filter, 0, &hr);
    EXPECT_EQ(S_FALSE, hr);
    EXPECT_EQ(KSPIN_COMMUNICATION_SINK, partial.GetCommunication());
    EXPECT_EQ(GUID{}, partial.Category());
    EXPECT_EQ('\0', partial.Name()[kKsPinNameSize - 1]);

    // A pin on a filter that is not open reads nothing but still exists.
    CKsFilter closed(kLink, "R6", &hr);
    CKsPin unread(&closed, 0, &hr);
    EXPECT_EQ(S_FALSE, hr);
    EXPECT_EQ(0u, unread.InterfaceCount());
}

TEST_F(KsFilter, MalformedMultiItemRepliesAreNeverReadPastTheirSize) {
    device.pins = {Pin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN)};
    HRESULT hr = E_FAIL;
    CKsFilter filter(kLink, "R6", &hr);
    ASSERT_EQ(S_OK, filter.Instantiate());

    // Five interfaces claimed, one carried.
    KSIDENTIFIER one = {{kKsInterfaceSetIdStandard, 0, 0}};
    std::vector<BYTE> interfaces(sizeof(KSMULTIPLE_ITEM) + sizeof(one));
    KSMULTIPLE_ITEM header = {static_cast<ULONG>(interfaces.size()), 5};
    std::memcpy(interfaces.data(), &header, sizeof(header));
    std::memcpy(interfaces.data() + sizeof(header), &one, sizeof(one));
    device.raw[{0, kKsPropertyPinInterfaces}] = interfaces;

    // A header whose Size claims more than the reply and a data range whose
    // FormatSize runs past the end.
    KSDATARANGE_AUDIO range = AudioRange(2, 16, 24, 44100, 48000);
    std::vector<BYTE> ranges(sizeof(KSMULTIPLE_ITEM) + 2 * sizeof(range));
    header = {0x10000, 2};
    std::memcpy(ranges.data(), &header, sizeof(header));
    std::memcpy(ranges.data() + sizeof(header), &range, sizeof(range));
    range.DataRange.FormatSize = 0x7FFFFFF0;
    std::memcpy(ranges.data() + sizeof(header) + sizeof(range), &range, sizeof(range));
    device.raw[{0, kKsPropertyPinDataRanges}] = ranges;

    CKsPin pin(&filter, 0, &hr);
    EXPECT_EQ(S_FALSE, hr);
    EXPECT_EQ(1u, pin.InterfaceCount());
    EXPECT_EQ(1u, pin.DataRangeCount());
    EXPECT_EQ(DWORD(2 * sizeof(range)), pin.DataRangeBytes());

    // A range of FormatSize 0 would never advance: nothing is walked.
    range.DataRange.FormatSize = 0;
    header = {static_cast<ULONG>(sizeof(header) + sizeof(range)), 1};
    std::memcpy(ranges.data(), &header, sizeof(header));
    std::memcpy(ranges.data() + sizeof(header), &range, sizeof(range));
    ranges.resize(sizeof(header) + sizeof(range));
    device.raw[{0, kKsPropertyPinDataRanges}] = ranges;
    CKsPin stuck(&filter, 0, &hr);
    EXPECT_EQ(S_FALSE, hr);
    EXPECT_EQ(0u, stuck.DataRangeCount());
}

TEST_F(KsFilter, TopologyNodes) {
    HRESULT hr = E_FAIL;
    CKsFilter filter(kLink, "R6", &hr);
    ASSERT_EQ(S_OK, filter.Instantiate());

    // A reply of zero size: no nodes.
    device.rawTopology = true;
    EXPECT_EQ(S_OK, filter.EnumerateNodes());
    EXPECT_TRUE(filter.Nodes().IsEmpty());

    device.rawTopology = false;
    device.nodes = {kKsCategoryAudio, kKsCategoryRender, kKsDataFormatTypeAudio};
    ASSERT_EQ(S_OK, filter.EnumerateNodes());
    ASSERT_EQ(3u, filter.Nodes().Count());
    ULONG expectedId = 0;
    for (auto* entry = filter.Nodes().Head(); entry; entry = entry->next, ++expectedId) {
        EXPECT_EQ(expectedId, entry->item->nodeId);
        EXPECT_EQ(0, std::memcmp("NONE", entry->item->tag, 4));
        EXPECT_EQ(device.nodes[expectedId], entry->item->nodeType);
    }
    ASSERT_EQ(S_OK, filter.EnumerateNodes());
    EXPECT_EQ(3u, filter.Nodes().Count()) << "a second pass replaces the nodes";

    // A node that cannot be stored empties the whole list. Allocations: the
    // reply, then node and entry per node; the second node's entry fails.
    FailAllocation(0, 4);
    EXPECT_EQ(E_FAIL, filter.EnumerateNodes());
    EXPECT_TRUE(filter.Nodes().IsEmpty());

    // A reply claiming more nodes than it carries fails the same way.
    KSMULTIPLE_ITEM header = {static_cast<ULONG>(sizeof(KSMULTIPLE_ITEM) + sizeof(GUID)), 3};
    device.topology.assign(sizeof(header) + sizeof(GUID), 0);
    std::memcpy(device.topology.data(), &header, sizeof(header));
    device.rawTopology = true;
    EXPECT_EQ(E_FAIL, filter.EnumerateNodes());
    EXPECT_TRUE(filter.Nodes().IsEmpty());

    CKsFilter closed(kLink, "R6", &hr);
    EXPECT_EQ(E_FAIL, closed.EnumerateNodes());
}

TEST_F(KsFilter, PlainPinHasNothingToInstantiateOrClose) {
    device.pins = {Pin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN)};
    HRESULT hr = E_FAIL;
    CKsFilter filter(kLink, "R6", &hr);
    ASSERT_EQ(S_OK, filter.Instantiate());
    {
        CKsPin pin(&filter, 0, &hr);
        EXPECT_EQ(nullptr, pin.ConnectRequest());
        EXPECT_EQ(S_OK, pin.Instantiate(TRUE));
        EXPECT_FALSE(CKsIrpTarget::IsValidHandle(pin.Handle()));
        EXPECT_TRUE(device.connects.empty());
        pin.ClosePin();
    }
    EXPECT_TRUE(device.states.empty());
    EXPECT_TRUE(device.closed.empty());
}

// A pin whose instance the test hands it, as KsCreatePin would.
struct OpenPin : CKsPin {
    OpenPin(CKsFilter* filter, HRESULT* hr) : CKsPin(filter, 0, hr) { m_handle = FakeKsDevice::PinHandle(7); }
};

TEST_F(KsFilter, StateFollowsSuccessfulChangesOnly) {
    device.pins = {Pin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN)};
    HRESULT hr = E_FAIL;
    CKsFilter filter(kLink, "R6", &hr);
    ASSERT_EQ(S_OK, filter.Instantiate());
    {
        OpenPin pin(&filter, &hr);
        EXPECT_EQ(S_OK, pin.SetState(KSSTATE_ACQUIRE));
        EXPECT_EQ(S_OK, pin.SetState(KSSTATE_PAUSE));
        EXPECT_EQ(KSSTATE_PAUSE, pin.State());
        device.stateFails = true;
        EXPECT_EQ(E_FAIL, pin.SetState(KSSTATE_RUN));
        EXPECT_EQ(KSSTATE_PAUSE, pin.State());
        device.stateFails = false;
        ASSERT_EQ(2u, device.states.size());
        EXPECT_EQ(FakeKsDevice::PinHandle(7), device.states[0].first);
    }
    // Closing stops the instance, then closes its handle, before the filter's.
    ASSERT_EQ(3u, device.states.size());
    EXPECT_EQ(KSSTATE_STOP, device.states[2].second);
    EXPECT_EQ(std::vector<HANDLE>{FakeKsDevice::PinHandle(7)}, device.closed);
}

#ifndef VELMOR_PANEL_BUILD
TEST_F(KsFilter, ResetAndStreamRequests) {
    device.pins = {Pin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN)};
    HRESULT hr = E_FAIL;
    CKsFilter filter(kLink, "R6", &hr);
    ASSERT_EQ(S_OK, filter.Instantiate());
    OpenPin pin(&filter, &hr);

    EXPECT_EQ(S_OK, pin.Reset());
    EXPECT_EQ((std::vector<ULONG>{KSRESET_BEGIN, KSRESET_END}), device.resets);

    KSSTREAM_HEADER header = {};
    header.Size = sizeof(header);
    OVERLAPPED overlapped = {};
    EXPECT_EQ(S_OK, pin.WriteData(&header, &overlapped));
    device.streamError = ERROR_IO_PENDING;
    EXPECT_EQ(S_OK, pin.ReadData(&header, &overlapped));
    device.streamError = ERROR_DEVICE_NOT_CONNECTED;
    EXPECT_EQ(E_FAIL, pin.WriteData(&header, &overlapped));
    EXPECT_EQ(E_FAIL, pin.ReadData(&header, &overlapped));
    ASSERT_EQ(4u, device.streams.size());
    EXPECT_EQ(kIoctlKsWriteStream, device.streams[0].first);
    EXPECT_EQ(kIoctlKsReadStream, device.streams[1].first);
    EXPECT_EQ(DWORD(sizeof(header)), device.streams[0].second) << "the header's Size is the output length";
    EXPECT_EQ(E_INVALIDARG, pin.WriteData(nullptr, &overlapped));
}
#endif

}  // namespace
