// The IPv4 adapter list the remote control shows and notifies through, and
// the adapter table its page and its network-setting dialog keep.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstdint>

struct UdpService;

// Same contract as GetAdaptersInfo; tests install a scripted source.
using AdapterInfoSource = ULONG(WINAPI*)(PIP_ADAPTER_INFO info, PULONG size);
// Installs a source (null: the system's GetAdaptersInfo); returns the previous one.
AdapterInfoSource InstallAdapterInfoSource(AdapterInfoSource source);

// 1 when the list was fetched into service->adapterBuffer (count set), 0
// otherwise (no buffer kept, count 0).
int EnumerateAdapters(UdpService* service, int* count = nullptr);
void FreeAdapterBuffer(UdpService* service);

constexpr int kAdapterTableEntries = 16;
constexpr int kAdapterDescriptionChars = 132;

struct AdapterTable {
    int32_t types[kAdapterTableEntries];
    uint32_t addresses[kAdapterTableEntries];  // network byte order, as inet_addr gives it
    uint32_t masks[kAdapterTableEntries];      // network byte order
    char descriptions[kAdapterTableEntries][kAdapterDescriptionChars];
    int32_t count;
    int32_t selected;
    uint16_t port;
};

// Empties the table (port kept) and fills it from a fresh enumeration:
// every adapter whose first IPv4 address is not 0.0.0.0, in system order.
// Adapters beyond the table's 16 entries are left out. Returns the count.
int FillAdapterTable(UdpService* service, AdapterTable* table);

// Host-order address of the selected entry, or 127.0.0.1 without one.
uint32_t SelectedAdapterAddress(const AdapterTable& table);
