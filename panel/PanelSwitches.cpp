#include "PanelSwitches.h"

#include "device/RegKey.h"

HRESULT ReadPanelSwitch(const char* valueName, const char* keyPath, int* value) {
    CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, keyPath) != ERROR_SUCCESS) return E_FAIL;
    uint32_t read = 0;
    if (!key.QueryDword(valueName, &read)) {
        *value = 0;
        return E_FAIL;
    }
    *value = static_cast<int>(read);
    return S_OK;
}

namespace {

void ReadOne(const char* name, int fallback, int* value) {
    if (SUCCEEDED(ReadPanelSwitch(name, kPanelSwitchKey, value))) return;
    if (SUCCEEDED(ReadPanelSwitch(name, kPanelSwitchKeyWow, value))) return;
    *value = fallback;
}

}  // namespace

PanelSwitches ReadPanelSwitches() {
    PanelSwitches switches;
    ReadOne(kSwitchPlayRec, 0, &switches.playRec);
    ReadOne(kSwitchAsioDrv, 1, &switches.asioDrv);
    ReadOne(kSwitchRmtCtrl, 0, &switches.rmtCtrl);
    return switches;
}
