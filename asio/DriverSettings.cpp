#include "DriverSettings.h"

#include "device/AsioSettingsKey.h"
#include "device/RegKey.h"
#include "device/SharedTypes.h"

namespace {

// A length outside the buffer-length table or a width the driver cannot run
// is not stored: the next session would start from it.
bool StorableValue(CStatusBlock::Field field, uint32_t value) {
    if (field == &StatusBlockLayout::bufferSize) {
        return value >= kBufferLengthsMs[0] * 10 && value <= kBufferLengthsMs[kBufferLengthCount - 1] * 10;
    }
    if (field == &StatusBlockLayout::bitsPerSample) return value == 16 || value == 24 || value == 32;
    return true;
}

}  // namespace

HRESULT ReadDriverSettings(CStatusBlock& block, uint32_t* streamRate) {
    CRegKey asio;
    CRegKey driver;
    if (asio.Open(HKEY_CURRENT_USER, kAsioKeyPath) != ERROR_SUCCESS ||
        driver.Open(asio.Get(), kDriverKeyName) != ERROR_SUCCESS) {
        return S_FALSE;
    }

    uint32_t rate = 0;
    if (streamRate) *streamRate = driver.QueryDword(kValueSampleRate, &rate) ? rate : kDefaultSampleRate;

    if (block.IsValid() && block.ReadOr(&StatusBlockLayout::settingsLoaded, 1) == 0) {
        for (const BlockHeldSetting& setting : kBlockHeldSettings) {
            uint32_t value = 0;
            block.Write(setting.field, driver.QueryDword(setting.name, &value) ? value : setting.fallback);
        }
        block.Write(&StatusBlockLayout::settingsLoaded, 1);
        block.MarkChanged();
    }
    return S_OK;
}

HRESULT WriteDriverSettings(const CStatusBlock& block, uint32_t streamRate) {
    CRegKey asio;
    CRegKey driver;
    LONG error = asio.Create(HKEY_CURRENT_USER, kAsioKeyPath);
    if (error == ERROR_SUCCESS) error = driver.Create(asio.Get(), kDriverKeyName);
    if (error == ERROR_SUCCESS) error = driver.SetDword(kValueSampleRate, streamRate);
    if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);

    if (block.ReadOr(&StatusBlockLayout::settingsLoaded, 0) == 1) {
        for (const BlockHeldSetting& setting : kBlockHeldSettings) {
            uint32_t value = 0;
            if (!block.Read(setting.field, &value)) break;
            if (!StorableValue(setting.field, value)) continue;  // the stored value stays
            error = driver.SetDword(setting.name, value);
            if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);
        }
    }
    return S_OK;
}
