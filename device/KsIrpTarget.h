// One kernel-streaming handle and the synchronous requests made on it.
#pragma once

#include <windows.h>
#include <ks.h>

// Bounds on what a device may claim: a reply larger than this, or more pins
// than this, is a faulty answer rather than something to allocate or walk.
constexpr DWORD kKsMaxReplySize = 1u << 20;
constexpr ULONG kKsMaxPinCount = 256;

class CKsIrpTarget {
public:
    static bool IsValidHandle(HANDLE handle);
    // Closes a valid handle through the device seam and marks it invalid.
    // CloseHandle's result, or TRUE when there was nothing to close.
    static BOOL SafeCloseHandle(HANDLE& handle);

    // One DeviceIoControl on an overlapped handle, waited for; a request that
    // pends counts by its final status and byte count. A property request
    // with no output buffer that the device answers "more data" is a size
    // query: S_OK with the needed size in *bytesReturned.
    static HRESULT SyncIoctl(HANDLE handle, DWORD ioctl, void* in, DWORD inSize, void* out, DWORD outSize,
                             DWORD* bytesReturned);

#ifndef VELMOR_PANEL_BUILD
    // KSPROPERTY GET into a fixed buffer.
    HRESULT GetPropertySimple(const GUID& set, ULONG id, void* out, DWORD outSize);
#endif
    // KSPROPERTY GET of a variable-sized reply. *item receives a zero-filled
    // buffer the caller frees with delete[] (null when the reply is empty).
    // Its Size never claims more than the buffer holds; a reply claiming more
    // than kKsMaxReplySize fails.
    HRESULT GetPropertyMulti(const GUID& set, ULONG id, KSMULTIPLE_ITEM** item);
    // KSPROPERTY SET; the value travels as the output buffer.
    HRESULT SetPropertySimple(const GUID& set, ULONG id, void* value, DWORD valueSize);

    HANDLE Handle() const { return m_handle; }

    // How many items of itemSize bytes the reply really carries after its header.
    static ULONG MultiItemCapacity(const KSMULTIPLE_ITEM* item, DWORD itemSize) {
        if (!item || itemSize == 0 || item->Size < sizeof(KSMULTIPLE_ITEM)) return 0;
        return (item->Size - sizeof(KSMULTIPLE_ITEM)) / itemSize;
    }

protected:
    CKsIrpTarget() = default;

    // The two-call size query behind the multi-item properties: any request
    // structure, the reply as for GetPropertyMulti.
    static HRESULT RequestMultiItem(HANDLE handle, void* request, DWORD requestSize, KSMULTIPLE_ITEM** item);

    ~CKsIrpTarget() = default;

    HANDLE m_handle = INVALID_HANDLE_VALUE;

private:
    static HRESULT Request(HANDLE handle, DWORD ioctl, void* in, DWORD inSize, void* out, DWORD outSize,
                           DWORD& returned);
};
