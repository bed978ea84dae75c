#include "SimHid.h"

#include "SimDevice.h"
#include "SimGuids.h"
#include "SimObjects.h"
#include "endpoints/Endpoints.h"

#include <cstring>
#include <new>

namespace sim {

namespace {

constexpr uint32_t kPreparsedMagic = 0x50505256;  // "VRPP"
constexpr NTSTATUS kHidpSuccess = 0x00110000;
constexpr NTSTATUS kHidpInvalidPreparsedData = static_cast<NTSTATUS>(0xC0110001);

struct Preparsed {
    uint32_t magic;
    USHORT inputLength;
    USHORT outputLength;
    USHORT usagePage;
};

// The device's firmware acts on a mode report a few milliseconds after the
// write returns (the USB transfer, then the mode switch); volume keys act at once.
constexpr uint64_t kModeReportLatency = 3 * 10000;  // 100 ns units

bool IsModeReport(const BYTE* r) { return r[0] == 0 && (r[1] == 0xF5 || r[1] == 0xF6 || r[1] == 0xF7 || r[1] == 0xF8) && r[2] == 0x21; }

void ActOnMode(SharedState& state, const BYTE* r) {
    // DSD mode: F5/F6/F7 '!' '2'/'3'/'4' value, 0x2E on and 0x08 off.
    static const BYTE kDsdCommand[3] = {0xF5, 0xF6, 0xF7};
    static const uint32_t kDsdMode[3] = {64, 128, 256};
    for (int i = 0; i < 3; ++i) {
        if (r[1] == kDsdCommand[i] && r[2] == 0x21 && r[3] == 0x32 + i) {
            if (r[4] == 0x2E) state.dsdMode = kDsdMode[i];
            if (r[4] == 0x08 && state.dsdMode == kDsdMode[i]) state.dsdMode = 0;
            return;
        }
    }
    if (r[1] == 0xF8 && r[2] == 0x21 && r[3] == 0x35) {
        state.markerState = r[4];
        ++state.markerReports;
    }
}

void ActOnKey(SharedState& state, const BYTE* r) {
    if (r[0] == 0 && r[1] == 0xF6 && r[2] == 0x61) {
        if (r[3] == 1) ++state.volumeSteps;
        if (r[3] == 2) --state.volumeSteps;
        if (r[3] == 1 || r[3] == 2) StepRenderLevel(state, r[3] == 1 ? 1 : -1);
        if (r[3] <= 2) state.lastVolumeKey = r[3];
    }
}

}  // namespace

void WINAPI SimHidD_GetHidGuid(LPGUID guid) {
    if (guid) *guid = kHidClass;
}

BOOLEAN WINAPI SimHidD_GetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes) {
    LocalLock lock;
    Object* object = FindObject(handle);
    if (!object || object->kind != Kind::Hid) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (IsRemoved(*object) && object->deviceHid) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    if (!attributes) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    attributes->Size = sizeof(HIDD_ATTRIBUTES);
    attributes->VendorID = object->vendorId;
    attributes->ProductID = object->productId;
    attributes->VersionNumber = 0x0107;
    return TRUE;
}

BOOLEAN WINAPI SimHidD_GetPreparsedData(HANDLE handle, PHIDP_PREPARSED_DATA* data) {
    SharedState* state = State();
    LocalLock lock;
    Object* object = FindObject(handle);
    if (!object || object->kind != Kind::Hid || !data || !state) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (IsRemoved(*object) && object->deviceHid) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    auto* preparsed = new (std::nothrow) Preparsed;
    if (!preparsed) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    preparsed->magic = kPreparsedMagic;
    if (object->deviceHid) {
        preparsed->inputLength = 64;
        preparsed->outputLength = static_cast<USHORT>(state->config.hidOutputLength);
        preparsed->usagePage = 0xFF00;
    } else {
        preparsed->inputLength = 8;  // a keyboard-like interface with its LED report
        preparsed->outputLength = 2;
        preparsed->usagePage = 0x0001;
    }
    *data = reinterpret_cast<PHIDP_PREPARSED_DATA>(preparsed);
    return TRUE;
}

BOOLEAN WINAPI SimHidD_FreePreparsedData(PHIDP_PREPARSED_DATA data) {
    auto* preparsed = reinterpret_cast<Preparsed*>(data);
    if (!preparsed || preparsed->magic != kPreparsedMagic) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    preparsed->magic = 0;
    delete preparsed;
    return TRUE;
}

NTSTATUS WINAPI SimHidP_GetCaps(PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps) {
    auto* preparsed = reinterpret_cast<Preparsed*>(data);
    if (!preparsed || preparsed->magic != kPreparsedMagic || !caps) return kHidpInvalidPreparsedData;
    std::memset(caps, 0, sizeof(*caps));
    caps->Usage = 1;
    caps->UsagePage = preparsed->usagePage;
    caps->InputReportByteLength = preparsed->inputLength;
    caps->OutputReportByteLength = preparsed->outputLength;
    return kHidpSuccess;
}

DWORD ReceiveReport(const BYTE* report, DWORD length) {
    SharedState* state = State();
    if (!state) return ERROR_DEVICE_NOT_CONNECTED;
    if (length == 0 || length != state->config.hidOutputLength) return ERROR_INVALID_PARAMETER;
    BYTE bytes[kReportBytes] = {};
    std::memcpy(bytes, report, length < kReportBytes ? length : kReportBytes);
    StateLock shared;
    // A report about to leave the log is acted on first, due or not.
    if (state->reportCount - state->reportsActedOn >= kReportLogSize) {
        const Report& oldest = state->reports[state->reportsActedOn % kReportLogSize];
        if (IsModeReport(oldest.data)) ActOnMode(*state, oldest.data);
        ++state->reportsActedOn;
    }
    Report& entry = state->reports[state->reportCount % kReportLogSize];
    entry.time = NowFileTime();
    entry.length = length;
    entry.pid = GetCurrentProcessId();
    std::memcpy(entry.data, bytes, sizeof(bytes));
    ++state->reportCount;
    ActOnKey(*state, bytes);
    return ERROR_SUCCESS;
}

void ActOnDueReports(SharedState& state, bool all) {
    if (state.reportsActedOn == state.reportCount) return;
    StateLock shared;
    const uint64_t now = NowFileTime();
    while (state.reportsActedOn != state.reportCount) {
        const Report& report = state.reports[state.reportsActedOn % kReportLogSize];
        if (!all && report.time + kModeReportLatency > now) break;
        if (IsModeReport(report.data)) ActOnMode(state, report.data);
        ++state.reportsActedOn;
    }
}

}  // namespace sim
