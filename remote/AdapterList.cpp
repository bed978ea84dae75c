#include "AdapterList.h"

#include "UdpService.h"

#include <cstring>

namespace {

AdapterInfoSource g_source = nullptr;

ULONG CallSource(PIP_ADAPTER_INFO info, PULONG size) {
    return g_source ? g_source(info, size) : GetAdaptersInfo(info, size);
}

}  // namespace

AdapterInfoSource InstallAdapterInfoSource(AdapterInfoSource source) {
    AdapterInfoSource previous = g_source;
    g_source = source;
    return previous;
}

void FreeAdapterBuffer(UdpService* service) {
    if (service && service->adapterBuffer) {
        GlobalFree(service->adapterBuffer);
        service->adapterBuffer = nullptr;
    }
}

int EnumerateAdapters(UdpService* service, int* count) {
    if (count) *count = 0;
    if (!service) return 0;
    FreeAdapterBuffer(service);
    ULONG size = sizeof(IP_ADAPTER_INFO);
    void* buffer = GlobalAlloc(GPTR, size);
    if (!buffer) return 0;
    ULONG result = CallSource(static_cast<PIP_ADAPTER_INFO>(buffer), &size);
    if (result == ERROR_BUFFER_OVERFLOW) {
        GlobalFree(buffer);
        buffer = GlobalAlloc(GPTR, size);
        if (!buffer) return 0;
    } else if (result != ERROR_SUCCESS) {
        GlobalFree(buffer);
        return 0;
    }
    if (CallSource(static_cast<PIP_ADAPTER_INFO>(buffer), &size) != ERROR_SUCCESS) {
        GlobalFree(buffer);
        return 0;
    }
    service->adapterBuffer = buffer;
    if (count) {
        for (auto* adapter = static_cast<PIP_ADAPTER_INFO>(buffer); adapter; adapter = adapter->Next) ++*count;
    }
    return 1;
}

int FillAdapterTable(UdpService* service, AdapterTable* table) {
    uint16_t port = table->port;
    std::memset(table, 0, sizeof(*table));
    table->port = port;
    if (!EnumerateAdapters(service)) return 0;
    for (auto* adapter = static_cast<PIP_ADAPTER_INFO>(service->adapterBuffer);
         adapter && table->count < kAdapterTableEntries; adapter = adapter->Next) {
        uint32_t address = inet_addr(adapter->IpAddressList.IpAddress.String);
        if (address == 0 || address == INADDR_NONE) continue;
        int i = table->count++;
        table->types[i] = static_cast<int32_t>(adapter->Type);
        table->addresses[i] = address;
        table->masks[i] = inet_addr(adapter->IpAddressList.IpMask.String);
        static_assert(sizeof(adapter->Description) <= kAdapterDescriptionChars, "description room");
        std::memcpy(table->descriptions[i], adapter->Description, sizeof(adapter->Description));
        table->descriptions[i][kAdapterDescriptionChars - 1] = '\0';
    }
    return table->count;
}

uint32_t SelectedAdapterAddress(const AdapterTable& table) {
    if (table.count <= 0 || table.selected < 0 || table.selected >= table.count) return INADDR_LOOPBACK;
    return ntohl(table.addresses[table.selected]);
}
