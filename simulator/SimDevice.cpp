#include "SimDevice.h"

#include "SimHid.h"
#include "SimKs.h"
#include "SimNotify.h"
#include "SimObjects.h"
#include "SimSetupApi.h"
#include "endpoints/EndpointObjects.h"
#include "endpoints/Endpoints.h"

#include "device/KsConstants.h"

#include <cstring>
#include <new>

namespace sim {

namespace {

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// Synchronous completion on an overlapped handle still reports through the OVERLAPPED.
void CompleteAtOnce(OVERLAPPED* overlapped, DWORD bytes) {
    if (!overlapped) return;
    overlapped->Internal = 0;
    overlapped->InternalHigh = bytes;
    HANDLE event = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(overlapped->hEvent) & ~ULONG_PTR(1));
    if (event) SetEvent(event);
}

HANDLE WINAPI SimCreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                             DWORD disposition, DWORD flags, HANDLE templateFile) {
    PathTarget target;
    bool present = false;
    if (!ResolvePath(path, target, present)) {
        return RealDeviceApi().CreateFileA(path, access, share, security, disposition, flags, templateFile);
    }
    if (!present) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (disposition != OPEN_EXISTING) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    SharedState* state = State();
    auto* object = new (std::nothrow) Object{target.audio ? Kind::Filter : Kind::Hid, state->generation,
                                             (flags & FILE_FLAG_OVERLAPPED) != 0, target.vendorId, target.productId,
                                             target.deviceHid, nullptr};
    HANDLE handle = object ? AddObject(object) : nullptr;
    if (!handle) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return handle;
}

BOOL WINAPI SimDeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                               LPDWORD returned, LPOVERLAPPED overlapped) {
    DWORD bytes = 0;
    DWORD error = ERROR_SUCCESS;
    {
        LocalLock lock;
        Object* object = FindObject(handle);
        if (!object) {
            Unlock();
            BOOL result = RealDeviceApi().DeviceIoControl(handle, code, in, inSize, out, outSize, returned, overlapped);
            Lock();
            return result;
        }
        if (IsRemoved(*object)) {
            error = ERROR_DEVICE_NOT_CONNECTED;
        } else if (object->kind == Kind::Pin) {
            error = PinRequest(*object, code, in, inSize, out, outSize, bytes, overlapped);
        } else if (object->kind == Kind::Filter && code == kIoctlKsProperty) {
            if (!in || inSize < sizeof(KSPROPERTY)) {
                error = ERROR_INVALID_USER_BUFFER;
            } else {
                error = FilterProperty(*object, static_cast<const KSPROPERTY*>(in), inSize, out, outSize, bytes);
            }
        } else {
            error = ERROR_INVALID_FUNCTION;
        }
    }
    if (returned) *returned = bytes;
    if (error == ERROR_SUCCESS) {
        CompleteAtOnce(overlapped, bytes);
        return TRUE;
    }
    return Fail(error);
}

BOOL WINAPI SimWriteFile(HANDLE handle, LPCVOID data, DWORD length, LPDWORD written, LPOVERLAPPED overlapped) {
    bool deviceHid = false;
    {
        LocalLock lock;
        Object* object = FindObject(handle);
        if (!object) {
            Unlock();
            BOOL result = RealDeviceApi().WriteFile(handle, data, length, written, overlapped);
            Lock();
            return result;
        }
        if (object->kind != Kind::Hid) return Fail(ERROR_INVALID_FUNCTION);
        if (object->deviceHid && IsRemoved(*object)) return Fail(ERROR_DEVICE_NOT_CONNECTED);
        deviceHid = object->deviceHid;
    }
    if (written) *written = 0;
    if (!data && length) return Fail(ERROR_NOACCESS);
    if (deviceHid) {
        DWORD error = ReceiveReport(static_cast<const BYTE*>(data), length);
        if (error != ERROR_SUCCESS) return Fail(error);
    }
    if (written) *written = length;
    CompleteAtOnce(overlapped, length);
    return TRUE;
}

BOOL WINAPI SimCloseHandle(HANDLE handle) {
    if (RemoveObject(handle)) return TRUE;
    return RealDeviceApi().CloseHandle(handle);
}

DWORD WINAPI SimKsCreatePin(HANDLE filter, PKSPIN_CONNECT connect, ACCESS_MASK access, PHANDLE pin) {
    bool ours;
    {
        LocalLock lock;
        ours = FindObject(filter) != nullptr;
    }
    if (!ours) return RealDeviceApi().KsCreatePin(filter, connect, access, pin);
    return CreatePin(filter, connect, pin);
}

HRESULT WINAPI SimCoCreateInstance(REFCLSID cls, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object) {
    // The device enumerator lists the virtual device's endpoints.
    if (IsEqualCLSID(cls, __uuidof(MMDeviceEnumerator))) {
        if (outer) return CLASS_E_NOAGGREGATION;
        return CreateDeviceEnumerator(iid, object);
    }
    return RealDeviceApi().CoCreateInstance(cls, outer, context, iid, object);
}

const DeviceApiTable kTable = {
    SimSetupDiGetClassDevsA,
    SimSetupDiEnumDeviceInterfaces,
    SimSetupDiGetDeviceInterfaceDetailA,
    SimSetupDiGetDeviceInterfaceAlias,
    SimSetupDiEnumDeviceInfo,
    SimSetupDiGetDeviceRegistryPropertyA,
    SimSetupDiGetDeviceInstanceIdA,
    SimSetupDiOpenDeviceInterfaceRegKey,
    SimSetupDiDestroyDeviceInfoList,
    SimCreateFileA,
    SimDeviceIoControl,
    SimWriteFile,
    SimCloseHandle,
    SimKsCreatePin,
    SimHidD_GetHidGuid,
    SimHidD_GetAttributes,
    SimHidD_GetPreparsedData,
    SimHidD_FreePreparsedData,
    SimHidP_GetCaps,
    SimRegisterDeviceNotificationA,
    SimUnregisterDeviceNotification,
    SimCoCreateInstance,
};

void ClearCounters(SharedState& state) {
    state.reportCount = 0;
    std::memset(state.reports, 0, sizeof(state.reports));
    state.markerReports = 0;
    for (Stream& stream : state.streams) {
        stream.queued = stream.completed = stream.cancelled = stream.underruns = stream.bytes = 0;
        std::memset(stream.channel, 0, sizeof(stream.channel));
    }
}

}  // namespace

const DeviceApiTable& DeviceTable() { return kTable; }

void Plug() {
    SharedState* state = State();
    if (!state) return;
    bool was;
    {
        StateLock shared;
        was = state->present != 0;
        state->present = 1;
    }
    if (!was) BroadcastDeviceChange(true);
}

void Unplug() {
    SharedState* state = State();
    if (!state) return;
    bool was;
    {
        StateLock shared;
        was = state->present != 0;
        if (was) {
            state->present = 0;
            ++state->generation;
            state->dsdMode = 0;
            for (Stream& stream : state->streams) {
                stream.open = 0;
                stream.state = 0;
            }
        }
    }
    if (!was) return;
    WakeClock();
    BroadcastDeviceChange(false);
}

void ResetDevice() {
    SharedState* state = State();
    if (!state) return;
    bool was;
    {
        StateLock shared;
        was = state->present != 0;
        state->config = DefaultConfig();
        state->present = 1;
        state->dsdMode = 0;
        state->markerState = 0;
        state->volumeSteps = 0;
        state->lastVolumeKey = 0;
        ClearCounters(*state);
        ResetEndpoints(*state);
    }
    if (!was) BroadcastDeviceChange(true);
}

void ClearLog() {
    SharedState* state = State();
    if (!state) return;
    StateLock shared;
    ClearCounters(*state);
}

}  // namespace sim
