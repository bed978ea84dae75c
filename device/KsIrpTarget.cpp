#include "KsIrpTarget.h"

#include "DeviceApi.h"
#include "KsConstants.h"
#include "KsTrace.h"

#include <new>

namespace {

KSPROPERTY MakeProperty(const GUID& set, ULONG id, ULONG flags) {
    KSPROPERTY property = {};
    property.Set = set;
    property.Id = id;
    property.Flags = flags;
    return property;
}

// The final status and byte count of a request that completed after pending.
DWORD FinalResult(HANDLE handle, OVERLAPPED& overlapped, DWORD& returned) {
    if (GetOverlappedResult(handle, &overlapped, &returned, FALSE)) return ERROR_SUCCESS;
    DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

}  // namespace

bool CKsIrpTarget::IsValidHandle(HANDLE handle) {
    TraceMessage(6, "%s Enter", "CKsIrpTarget::IsValidHandle()");
    bool valid = handle != nullptr && handle != INVALID_HANDLE_VALUE;
    TraceMessage(6, "%s Leave", "CKsIrpTarget::IsValidHandle()");
    return valid;
}

BOOL CKsIrpTarget::SafeCloseHandle(HANDLE& handle) {
    if (!IsValidHandle(handle)) return TRUE;
    BOOL closed = DeviceApi().CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
    return closed;
}

HRESULT CKsIrpTarget::SyncIoctl(HANDLE handle, DWORD ioctl, void* in, DWORD inSize, void* out, DWORD outSize,
                                DWORD* bytesReturned) {
    TraceMessage(6, "%s Enter", "CKsIrpTarget::SyncIoctl()");
    DWORD local = 0;
    DWORD& returned = bytesReturned ? *bytesReturned : local;
    HRESULT hr = Request(handle, ioctl, in, inSize, out, outSize, returned);
    TraceMessage(6, "%s Leave, returning %#08x", "CKsIrpTarget::SyncIoctl", static_cast<unsigned>(hr));
    return hr;
}

HRESULT CKsIrpTarget::Request(HANDLE handle, DWORD ioctl, void* in, DWORD inSize, void* out, DWORD outSize,
                              DWORD& returned) {
    if (!IsValidHandle(handle)) {
        TraceMessage(1, "CKsIrpTarget::SyncIoctl Invalid Handle");
        return E_FAIL;
    }
#ifdef VELMOR_PANEL_BUILD
    // The panel only reads properties; it never streams.
    if (ioctl != kIoctlKsProperty) {
        TraceMessage(1, "CKsIrpTarget::SyncIoctl unsupported request 0x%08lx", ioctl);
        returned = 0;
        return E_FAIL;
    }
#endif
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!event) {
        TraceMessage(1, "CKsIrpTarget::SyncIoctl CreateEvent failed");
        return E_OUTOFMEMORY;
    }
    OVERLAPPED overlapped = {};
    // The low bit keeps the completion off the handle's completion port.
    overlapped.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event) | 1);

    DWORD error = ERROR_SUCCESS;
    if (!DeviceApi().DeviceIoControl(handle, ioctl, in, inSize, out, outSize, &returned, &overlapped)) {
        error = GetLastError();
    }
    if (error == ERROR_IO_PENDING) {
        DWORD wait = WaitForSingleObject(event, INFINITE);
        if (wait == WAIT_OBJECT_0) {
            // The request's own outcome: a state change may still fail, a size
            // query still reports its size.
            error = FinalResult(handle, overlapped, returned);
        } else {
            TraceMessage(1, "CKsIrpTarget::SyncIoctl WaitForSingleObject failed dwWait:0x%08lx", wait);
        }
    }

    // A size query's "more data" leaves in returned the size the device needs.
    bool sizeQuery = (error == ERROR_INSUFFICIENT_BUFFER || error == ERROR_MORE_DATA) && ioctl == kIoctlKsProperty &&
                     outSize == 0;
    HRESULT hr = S_OK;
    if (error != ERROR_SUCCESS && !sizeQuery) {
        returned = 0;
        hr = E_FAIL;
    }
    CloseHandle(event);
    return hr;
}

#ifndef VELMOR_PANEL_BUILD
HRESULT CKsIrpTarget::GetPropertySimple(const GUID& set, ULONG id, void* out, DWORD outSize) {
    KSPROPERTY property = MakeProperty(set, id, kKsPropertyTypeGet);
    return SyncIoctl(m_handle, kIoctlKsProperty, &property, sizeof(property), out, outSize, nullptr);
}
#endif

HRESULT CKsIrpTarget::GetPropertyMulti(const GUID& set, ULONG id, KSMULTIPLE_ITEM** item) {
    KSPROPERTY property = MakeProperty(set, id, kKsPropertyTypeGet);
    return RequestMultiItem(m_handle, &property, sizeof(property), item);
}

HRESULT CKsIrpTarget::RequestMultiItem(HANDLE handle, void* request, DWORD requestSize, KSMULTIPLE_ITEM** item) {
    if (!item) return E_INVALIDARG;
    *item = nullptr;
    DWORD size = 0;
    HRESULT hr = SyncIoctl(handle, kIoctlKsProperty, request, requestSize, nullptr, 0, &size);
    if (FAILED(hr) || size == 0) return hr;
    if (size > kKsMaxReplySize) {
        TraceMessage(1, "CKsIrpTarget: reply of %lu bytes refused", size);
        return E_FAIL;
    }

    // A reply must at least hold the {Size, Count} header before anyone reads it.
    DWORD allocated = size < sizeof(KSMULTIPLE_ITEM) ? sizeof(KSMULTIPLE_ITEM) : size;
    BYTE* buffer = new (std::nothrow) BYTE[allocated]();
    if (!buffer) return E_OUTOFMEMORY;
    DWORD got = 0;
    hr = SyncIoctl(handle, kIoctlKsProperty, request, requestSize, buffer, size, &got);
    if (FAILED(hr)) {
        delete[] buffer;
        return hr;
    }
    *item = reinterpret_cast<KSMULTIPLE_ITEM*>(buffer);
    // Readers bound their walk by Size; a device may claim more than it sent.
    if ((*item)->Size > allocated) (*item)->Size = allocated;
    return hr;
}

HRESULT CKsIrpTarget::SetPropertySimple(const GUID& set, ULONG id, void* value, DWORD valueSize) {
    KSPROPERTY property = MakeProperty(set, id, kKsPropertyTypeSet);
    return SyncIoctl(m_handle, kIoctlKsProperty, &property, sizeof(property), value, valueSize, nullptr);
}
