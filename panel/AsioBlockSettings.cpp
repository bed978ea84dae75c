#include "AsioBlockSettings.h"

#include "device/AsioSettingsKey.h"
#include "device/RegKey.h"
#include "device/SharedTypes.h"

namespace {

// The driver's own writer keeps the stored value when the block holds a
// length outside the table's span or a width it cannot run; so does the panel.
bool Storable(uint32_t StatusBlockLayout::*field, uint32_t value) {
    if (field == &StatusBlockLayout::bufferSize) {
        return value >= kBufferLengthsMs[0] * 10 && value <= kBufferLengthsMs[kBufferLengthCount - 1] * 10;
    }
    if (field == &StatusBlockLayout::bitsPerSample) return value == 16 || value == 24 || value == 32;
    return true;
}

}  // namespace

HRESULT LoadAsioSettingsIntoBlock(CStatusBlock& block) {
    if (!block.IsValid() || block.ReadOr(&StatusBlockLayout::settingsLoaded, 1) != 0) return S_FALSE;

    CRegKey asio;
    CRegKey driver;
    bool haveKey = asio.Open(HKEY_CURRENT_USER, kAsioKeyPath) == ERROR_SUCCESS &&
                   driver.Open(asio.Get(), kDriverKeyName) == ERROR_SUCCESS;
    for (const BlockHeldSetting& setting : kBlockHeldSettings) {
        uint32_t value = 0;
        bool read = haveKey && driver.QueryDword(setting.name, &value);
        block.Write(setting.field, read ? value : setting.fallback);
    }
    block.Write(&StatusBlockLayout::settingsLoaded, 1);
    return S_OK;
}

HRESULT StoreAsioSettingsFromBlock(const CStatusBlock& block) {
    if (block.ReadOr(&StatusBlockLayout::settingsLoaded, 0) != 1) return S_FALSE;

    CRegKey asio;
    CRegKey driver;
    LONG error = asio.Create(HKEY_CURRENT_USER, kAsioKeyPath);
    if (error == ERROR_SUCCESS) error = driver.Create(asio.Get(), kDriverKeyName);
    for (int i = 0; i < kPanelStoredSettings && error == ERROR_SUCCESS; ++i) {
        uint32_t value = 0;
        if (!block.Read(kBlockHeldSettings[i].field, &value)) return S_FALSE;
        if (!Storable(kBlockHeldSettings[i].field, value)) continue;  // the stored value stays
        error = driver.SetDword(kBlockHeldSettings[i].name, value);
    }
    return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(error);
}
