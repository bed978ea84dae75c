#include "device/DeviceApi.h"
#include "device/KsConstants.h"
#include "device/KsIrpTarget.h"
#include "device/KsList.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

HANDLE const kDevice = reinterpret_cast<HANDLE>(0x4242);
#ifdef VELMOR_PANEL_BUILD
constexpr bool kPanelBuild = true;
#else
constexpr bool kPanelBuild = false;
#endif

struct Target : CKsIrpTarget {
    explicit Target(HANDLE handle) { m_handle = handle; }
};

// A scripted device behind the seam.
constexpr LONG kStatusPending = 0x103;
constexpr LONG kStatusUnsuccessful = static_cast<LONG>(0xC0000001);
constexpr LONG kStatusBufferOverflow = static_cast<LONG>(0x80000005);

struct FakeDevice {
    int calls = 0;
    std::vector<KSPROPERTY> requests;
    std::vector<BYTE> reply;        // what a property GET answers
    DWORD claimed_size = 0;         // a size query's answer, when not 0
    DWORD error = ERROR_SUCCESS;    // forced failure of every request
    bool complete_later = false;    // answer ERROR_IO_PENDING and complete from another thread
    LONG final_status = 0;          // ... with this status
    ULONG_PTR final_bytes = 0;      // ... and byte count
    ULONG_PTR event_seen = 0;
};
FakeDevice* g_fake = nullptr;

DWORD WINAPI CompleteSoon(void* overlapped) {
    Sleep(20);
    auto* o = static_cast<OVERLAPPED*>(overlapped);
    o->InternalHigh = g_fake->final_bytes;
    o->Internal = g_fake->final_status;
    SetEvent(reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(o->hEvent) & ~ULONG_PTR(1)));
    return 0;
}

BOOL WINAPI FakeIoctl(HANDLE, DWORD, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned,
                      LPOVERLAPPED overlapped) {
    FakeDevice& fake = *g_fake;
    ++fake.calls;
    if (in && inSize >= sizeof(KSPROPERTY)) fake.requests.push_back(*static_cast<KSPROPERTY*>(in));
    fake.event_seen = reinterpret_cast<ULONG_PTR>(overlapped->hEvent);
    if (fake.complete_later) {
        overlapped->Internal = kStatusPending;
        CloseHandle(CreateThread(nullptr, 0, CompleteSoon, overlapped, 0, nullptr));
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    if (fake.error != ERROR_SUCCESS) {
        SetLastError(fake.error);
        return FALSE;
    }
    if (outSize == 0 && fake.claimed_size) {
        *returned = fake.claimed_size;
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    if (outSize < fake.reply.size()) {
        *returned = static_cast<DWORD>(fake.reply.size());
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    if (!fake.reply.empty()) std::memcpy(out, fake.reply.data(), fake.reply.size());
    *returned = static_cast<DWORD>(fake.reply.size());
    return TRUE;
}

class KsIrpTarget : public ::testing::Test {
protected:
    void SetUp() override {
        g_fake = &fake;
        table = RealDeviceApi();
        table.DeviceIoControl = FakeIoctl;
        InstallDeviceApi(&table);
    }
    void TearDown() override {
        InstallDeviceApi(nullptr);
        g_fake = nullptr;
    }

    FakeDevice fake;
    DeviceApiTable table;
};

TEST_F(KsIrpTarget, SizeQueryOnlyForPropertiesWithoutBuffer) {
    fake.reply.assign(48, 0);
    DWORD returned = 7;
    KSPROPERTY property = {};
    EXPECT_EQ(S_OK, CKsIrpTarget::SyncIoctl(kDevice, kIoctlKsProperty, &property, sizeof(property), nullptr, 0,
                                            &returned));
    EXPECT_EQ(48u, returned);

    BYTE small[16];
    returned = 7;
    EXPECT_EQ(E_FAIL, CKsIrpTarget::SyncIoctl(kDevice, kIoctlKsProperty, &property, sizeof(property), small,
                                              sizeof(small), &returned));
    EXPECT_EQ(0u, returned);

    returned = 7;
    EXPECT_EQ(E_FAIL,
              CKsIrpTarget::SyncIoctl(kDevice, kIoctlKsResetState, &property, sizeof(property), nullptr, 0, &returned));
    EXPECT_EQ(0u, returned);
}

TEST_F(KsIrpTarget, PendingRequestCountsByItsFinalStatusAndBytes) {
    fake.complete_later = true;
    fake.final_bytes = 12;
    DWORD returned = 99;
    KSPROPERTY property = {};
    BYTE out[16];
    EXPECT_EQ(S_OK, CKsIrpTarget::SyncIoctl(kDevice, kIoctlKsProperty, &property, sizeof(property), out, sizeof(out),
                                            &returned));
    EXPECT_EQ(12u, returned);
    EXPECT_EQ(1u, fake.event_seen & 1) << "the event travels with its low bit set";
    // No bytes-returned pointer is fine too.
    EXPECT_EQ(S_OK, CKsIrpTarget::SyncIoctl(kDevice, kIoctlKsProperty, &property, sizeof(property), out, sizeof(out),
                                            nullptr));

    // Fails after pending: a failure, not S_OK.
    fake.final_status = kStatusUnsuccessful;
    EXPECT_EQ(E_FAIL, CKsIrpTarget::SyncIoctl(kDevice, kIoctlKsProperty, &property, sizeof(property), out, sizeof(out),
                                              &returned));
    EXPECT_EQ(0u, returned);

    // A size query that pends still reports its size; "more data" into a buffer stays a failure.
    fake.final_status = kStatusBufferOverflow;
    fake.final_bytes = 48;
    EXPECT_EQ(S_OK, CKsIrpTarget::SyncIoctl(kDevice, kIoctlKsProperty, &property, sizeof(property), nullptr, 0,
                                            &returned));
    EXPECT_EQ(48u, returned);
    EXPECT_EQ(E_FAIL, CKsIrpTarget::SyncIoctl(kDevice, kIoctlKsProperty, &property, sizeof(property), out, sizeof(out),
                                              &returned));
    EXPECT_EQ(0u, returned);
}

TEST_F(KsIrpTarget, PanelBuildSendsPropertyRequestsOnly) {
    ULONG reset = KSRESET_BEGIN;
    EXPECT_EQ(kPanelBuild ? E_FAIL : S_OK,
              CKsIrpTarget::SyncIoctl(kDevice, kIoctlKsResetState, &reset, sizeof(reset), nullptr, 0, nullptr));
    EXPECT_EQ(kPanelBuild ? 0 : 1, fake.calls);
}

TEST_F(KsIrpTarget, FailuresAndBadHandlesAreReported) {
    DWORD returned = 5;
    EXPECT_EQ(E_FAIL, CKsIrpTarget::SyncIoctl(INVALID_HANDLE_VALUE, kIoctlKsProperty, nullptr, 0, nullptr, 0,
                                              &returned));
    EXPECT_EQ(E_FAIL, CKsIrpTarget::SyncIoctl(nullptr, kIoctlKsProperty, nullptr, 0, nullptr, 0, &returned));
    EXPECT_EQ(0, fake.calls);

    fake.error = ERROR_NOT_FOUND;
    KSPROPERTY property = {};
    EXPECT_EQ(E_FAIL, CKsIrpTarget::SyncIoctl(kDevice, kIoctlKsProperty, &property, sizeof(property), nullptr, 0,
                                              &returned));
    EXPECT_EQ(0u, returned);

    Target target(kDevice);
    KSMULTIPLE_ITEM* item = reinterpret_cast<KSMULTIPLE_ITEM*>(1);
    EXPECT_EQ(E_FAIL, target.GetPropertyMulti(kKsPropSetIdTopology, kKsPropertyTopologyNodes, &item));
    EXPECT_EQ(nullptr, item);
    EXPECT_EQ(E_INVALIDARG, target.GetPropertyMulti(kKsPropSetIdTopology, kKsPropertyTopologyNodes, nullptr));
}

TEST_F(KsIrpTarget, MultiItemReplyTakesTwoRequests) {
    const GUID nodes[2] = {kKsPropSetIdPin, kKsPropSetIdConnection};
    KSMULTIPLE_ITEM header = {sizeof(header) + sizeof(nodes), 2};
    fake.reply.resize(sizeof(header) + sizeof(nodes));
    std::memcpy(fake.reply.data(), &header, sizeof(header));
    std::memcpy(fake.reply.data() + sizeof(header), nodes, sizeof(nodes));

    Target target(kDevice);
    KSMULTIPLE_ITEM* item = nullptr;
    ASSERT_EQ(S_OK, target.GetPropertyMulti(kKsPropSetIdTopology, kKsPropertyTopologyNodes, &item));
    ASSERT_NE(nullptr, item);
    EXPECT_EQ(2u, item->Count);
    EXPECT_EQ(0, std::memcmp(item + 1, nodes, sizeof(nodes)));
    delete[] reinterpret_cast<BYTE*>(item);

    ASSERT_EQ(2u, fake.requests.size());
    for (const KSPROPERTY& request : fake.requests) {
        EXPECT_EQ(kKsPropSetIdTopology, request.Set);
        EXPECT_EQ(kKsPropertyTopologyNodes, request.Id);
        EXPECT_EQ(kKsPropertyTypeGet, request.Flags);
    }
    static_assert(sizeof(KSPROPERTY) == 24, "KSPROPERTY is 24 bytes on the wire");

    // An empty reply leaves no buffer; a reply shorter than its header still
    // gives a buffer the header can be read from.
    fake.reply.clear();
    item = reinterpret_cast<KSMULTIPLE_ITEM*>(1);
    EXPECT_EQ(S_OK, target.GetPropertyMulti(kKsPropSetIdTopology, kKsPropertyTopologyNodes, &item));
    EXPECT_EQ(nullptr, item);
    fake.reply.assign(4, 0xFF);
    ASSERT_EQ(S_OK, target.GetPropertyMulti(kKsPropSetIdTopology, kKsPropertyTopologyNodes, &item));
    ASSERT_NE(nullptr, item);
    EXPECT_EQ(0u, item->Count);
    delete[] reinterpret_cast<BYTE*>(item);

    // A reply claiming more than any device sends is refused, not allocated.
    fake.claimed_size = 16u << 20;
    item = reinterpret_cast<KSMULTIPLE_ITEM*>(1);
    EXPECT_EQ(E_FAIL, target.GetPropertyMulti(kKsPropSetIdTopology, kKsPropertyTopologyNodes, &item));
    EXPECT_EQ(nullptr, item);
}

TEST(KsList, KeepsInsertionOrderThroughRemovals) {
    int items[4] = {0, 1, 2, 3};
    CKsList<int> list;
    for (int& item : items) ASSERT_EQ(S_OK, list.AddTail(&item));
    EXPECT_EQ(4u, list.Count());

    EXPECT_EQ(&items[1], list.Remove(list.Head()->next));  // middle
    EXPECT_EQ(&items[0], list.Remove(list.Head()));        // head
    EXPECT_EQ(&items[3], list.Remove(list.Tail()));        // tail
    ASSERT_EQ(1u, list.Count());
    EXPECT_EQ(list.Head(), list.Tail());
    EXPECT_EQ(nullptr, list.Head()->previous);
    EXPECT_EQ(nullptr, list.Head()->next);

    ASSERT_EQ(S_OK, list.AddTail(&items[0]));
    std::vector<int> walked;
    for (auto* entry = list.Head(); entry; entry = entry->next) walked.push_back(*entry->item);
    EXPECT_EQ((std::vector<int>{2, 0}), walked);
    EXPECT_EQ(&items[2], list.Tail()->previous->item);

    list.RemoveAll();
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(nullptr, list.Head());
    EXPECT_EQ(nullptr, list.Tail());
    EXPECT_EQ(nullptr, list.Remove(nullptr));
}

}  // namespace
