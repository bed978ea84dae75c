// One kernel-streaming handle and the synchronous requests made on it.
#pragma once

#include <windows.h>
#include <ks.h>

class CKsIrpTarget {
public:
    static bool IsValidHandle(HANDLE handle);
    // Closes a valid handle through the device seam and marks it invalid.
    // CloseHandle's result, or TRUE when there was nothing to close.
    static BOOL SafeCloseHandle(HANDLE& handle);

    // One DeviceIoControl on an overlapped handle, waited for. A property
    // request with no output buffer that the device answers "more data" is a
    // size query: S_OK with the needed size in *bytesReturned.
    static HRESULT SyncIoctl(HANDLE handle, DWORD ioctl, void* in, DWORD inSize, void* out, DWORD outSize,
                             DWORD* bytesReturned);

#ifndef VELMOR_PANEL_BUILD
    // KSPROPERTY GET into a fixed buffer.
    HRESULT GetPropertySimple(const GUID& set, ULONG id, void* out, DWORD outSize);
#endif
    // KSPROPERTY GET of a variable-sized reply. *item receives a zero-filled
    // buffer the caller frees with delete[] (null when the reply is empty).
    HRESULT GetPropertyMulti(const GUID& set, ULONG id, KSMULTIPLE_ITEM** item);
    // KSPROPERTY SET; the value travels as the output buffer.
    HRESULT SetPropertySimple(const GUID& set, ULONG id, void* value, DWORD valueSize);

    HANDLE Handle() const { return m_handle; }

protected:
    CKsIrpTarget() = default;
    ~CKsIrpTarget() = default;

    HANDLE m_handle = INVALID_HANDLE_VALUE;

private:
    static HRESULT Request(HANDLE handle, DWORD ioctl, void* in, DWORD inSize, void* out, DWORD outSize,
                           DWORD& returned);
};
