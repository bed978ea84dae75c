#include "SimNotify.h"

#include "SimGuids.h"
#include "SimSetupApi.h"
#include "SimState.h"
#include "device/DeviceApi.h"

#include <dbt.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace sim {

namespace {

constexpr uint32_t kTokenMagic = 0x56544E44;  // "DNTV"

struct Token {
    uint32_t magic;
    uint32_t slot;
};

void Send(HWND window, WPARAM event, const GUID& cls, const std::string& path) {
    std::vector<BYTE> buffer(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + path.size() + 1);
    auto* notice = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(buffer.data());
    notice->dbcc_size = static_cast<DWORD>(buffer.size());
    notice->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    notice->dbcc_classguid = cls;
    std::memcpy(notice->dbcc_name, path.c_str(), path.size() + 1);
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(notice), SMTO_ABORTIFHUNG, 2000,
                        &result);
}

}  // namespace

HDEVNOTIFY WINAPI SimRegisterDeviceNotificationA(HANDLE recipient, LPVOID filter, DWORD flags) {
    auto* header = static_cast<DEV_BROADCAST_HDR*>(filter);
    // Service handles and handle notices are the system's business.
    if ((flags & DEVICE_NOTIFY_SERVICE_HANDLE) || !header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) {
        return RealDeviceApi().RegisterDeviceNotificationA(recipient, filter, flags);
    }
    if (!recipient || !IsWindow(static_cast<HWND>(recipient)) ||
        header->dbch_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) - sizeof(char)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    SharedState* state = State();
    if (!state) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* token = new (std::nothrow) Token{kTokenMagic, 0};
    if (!token) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    StateLock shared;
    for (uint32_t i = 0; i < kMaxNotifyWindows; ++i) {
        NotifyWindow& slot = state->notify[i];
        if (slot.hwnd && IsWindow(reinterpret_cast<HWND>(static_cast<ULONG_PTR>(slot.hwnd)))) continue;
        slot.hwnd = static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(recipient));
        slot.pid = GetCurrentProcessId();
        slot.allClasses = (flags & DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) ? 1 : 0;
        slot.classGuid = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(header)->dbcc_classguid;
        token->slot = i;
        return reinterpret_cast<HDEVNOTIFY>(token);
    }
    delete token;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

BOOL WINAPI SimUnregisterDeviceNotification(HDEVNOTIFY notification) {
    auto* token = reinterpret_cast<Token*>(notification);
    if (!token) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Ours carry the magic; anything else came from the system.
    if (token->magic != kTokenMagic) return RealDeviceApi().UnregisterDeviceNotification(notification);
    SharedState* state = State();
    if (state) {
        StateLock shared;
        if (token->slot < kMaxNotifyWindows) state->notify[token->slot] = NotifyWindow();
    }
    token->magic = 0;
    delete token;
    return TRUE;
}

void BroadcastDeviceChange(bool arrival) {
    SharedState* state = State();
    if (!state) return;
    NotifyWindow windows[kMaxNotifyWindows];
    {
        StateLock shared;
        std::memcpy(windows, state->notify, sizeof(windows));
    }
    static const GUID* const kClasses[] = {&kCategoryAudio, &kCategoryRender, &kCategoryCapture, &kHidClass,
                                              &kUsbDeviceClass};
    WPARAM event = arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
    for (const NotifyWindow& w : windows) {
        HWND window = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(w.hwnd));
        if (!w.hwnd || !IsWindow(window)) continue;
        for (const GUID* cls : kClasses) {
            if (!w.allClasses && !SameGuid(w.classGuid, *cls)) continue;
            std::string path = NoticePath(*cls);
            if (!path.empty()) Send(window, event, *cls, path);
        }
    }
}

}  // namespace sim
