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

constexpr ULONG_PTR kStatusPendingMark = 0x103;  // STATUS_PENDING

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The status a request that pended completes with, for the errors the device answers.
LONG NtStatusOf(DWORD error) {
    static const struct {
        DWORD error;
        LONG status;
    } kStatuses[] = {
        {ERROR_SUCCESS, 0},
        {ERROR_MORE_DATA, static_cast<LONG>(0x80000005)},            // STATUS_BUFFER_OVERFLOW
        {ERROR_INSUFFICIENT_BUFFER, static_cast<LONG>(0xC0000023)},  // STATUS_BUFFER_TOO_SMALL
        {ERROR_INVALID_PARAMETER, static_cast<LONG>(0xC000000D)},
        {ERROR_INVALID_FUNCTION, static_cast<LONG>(0xC0000010)},     // STATUS_INVALID_DEVICE_REQUEST
        {ERROR_INVALID_USER_BUFFER, static_cast<LONG>(0xC00000E8)},
        {ERROR_NOACCESS, static_cast<LONG>(0xC0000005)},
        {ERROR_NOT_FOUND, static_cast<LONG>(0xC0000225)},
        {ERROR_SET_NOT_FOUND, static_cast<LONG>(0xC0000230)},        // STATUS_PROPSET_NOT_FOUND
        {ERROR_DEVICE_NOT_CONNECTED, static_cast<LONG>(0xC000009D)},
    };
    for (const auto& entry : kStatuses) {
        if (entry.error == error) return entry.status;
    }
    return static_cast<LONG>(0xC0000001);  // STATUS_UNSUCCESSFUL
}

// The platform marks an overlapped request pending before the device sees
// it; only a completion, at once or later, replaces the mark.
void MarkPending(OVERLAPPED* overlapped) {
    if (!overlapped) return;
    overlapped->Internal = kStatusPendingMark;
    overlapped->InternalHigh = 0;
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
    bool pend = false;
    {
        LocalLock lock;
        Object* object = FindObject(handle);
        if (!object) {
            Unlock();
            BOOL result = RealDeviceApi().DeviceIoControl(handle, code, in, inSize, out, outSize, returned, overlapped);
            Lock();
            return result;
        }
        MarkPending(overlapped);
        SharedState* state = State();
        Config config = state ? state->config : DefaultConfig();
        bool property = code == kIoctlKsProperty && object->kind != Kind::Hid;
        bool stream = object->kind == Kind::Pin && (code == kIoctlKsWriteStream || code == kIoctlKsReadStream);
        uint32_t pendFault = property ? config.pendProperties : kPendNever;
        if (IsRemoved(*object)) {
            error = ERROR_DEVICE_NOT_CONNECTED;
        } else if (object->overlapped && !overlapped) {
            error = ERROR_INVALID_PARAMETER;  // an overlapped handle takes no request without its OVERLAPPED
        } else if (pendFault == kPendThenFail) {
            error = ERROR_GEN_FAILURE;  // the request is never acted on
        } else if (stream && config.failStreams) {
            error = ERROR_NO_SYSTEM_RESOURCES;  // refused at once, as with a full queue
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
        // Some drivers answer a size query "insufficient buffer" instead.
        if (property && error == ERROR_MORE_DATA && outSize == 0 && config.sizeQueryInsufficient) {
            error = ERROR_INSUFFICIENT_BUFFER;
        }
        // Only an overlapped request can pend: on a synchronous handle the
        // platform waits for the outcome itself.
        pend = pendFault != kPendNever && object->overlapped && overlapped;
        if (pend) CompleteLater(overlapped, NtStatusOf(error), bytes);
    }
    if (pend) {
        if (returned) *returned = 0;
        return Fail(ERROR_IO_PENDING);
    }
    if (returned) *returned = bytes;
    if (error == ERROR_SUCCESS) {
        Complete(overlapped, 0, bytes);  // synchronous, still reported through the OVERLAPPED
        return TRUE;
    }
    // A warning (more data) still completes the request; an error leaves the mark.
    if (error == ERROR_MORE_DATA) Complete(overlapped, NtStatusOf(error), bytes);
    return Fail(error);
}

BOOL WINAPI SimWriteFile(HANDLE handle, LPCVOID data, DWORD length, LPDWORD written, LPOVERLAPPED overlapped) {
    MarkPending(overlapped);
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
        // An overlapped handle takes no write without its OVERLAPPED.
        if (object->overlapped && !overlapped) return Fail(ERROR_INVALID_PARAMETER);
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
    Complete(overlapped, 0, length);
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
    ActOnDueReports(state, true);
    state.reportCount = 0;
    state.reportsActedOn = 0;
    std::memset(state.reports, 0, sizeof(state.reports));
    state.markerReports = 0;
    for (Stream& stream : state.streams) {
        stream.queued = stream.completed = stream.cancelled = stream.underruns = stream.bytes = 0;
        stream.dryMicroseconds = 0;
        stream.partialPackets = 0;
        stream.takes = stream.startFaults = stream.leadFaults = stream.markerFaults = stream.changedPackets = 0;
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
        ActOnDueReports(*state, true);
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
        ActOnDueReports(*state, true);
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
