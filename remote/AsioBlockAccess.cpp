#include "AsioBlockAccess.h"

#include "RemoteIds.h"
#include "device/StatusBlock.h"

bool ReadAsioSetting(const char* blockName, AsioSetting* setting) {
    CStatusBlock block;
    uint32_t bufferSize = 0, bits = 0;
    if (FAILED(block.OpenExisting(blockName)) || !block.Read(&StatusBlockLayout::bufferSize, &bufferSize) ||
        !block.Read(&StatusBlockLayout::bitsPerSample, &bits)) {
        return false;
    }
    setting->bufferMs = static_cast<int32_t>(bufferSize / 10);
    setting->bits = static_cast<int32_t>(bits);
    return true;
}

bool WriteAsioSetting(const char* blockName, const AsioSetting& setting) {
    CStatusBlock block;
    if (FAILED(block.OpenExisting(blockName))) return false;
    if (block.IsValid()) {
        block.Write(&StatusBlockLayout::bufferSize, static_cast<uint32_t>(setting.bufferMs) * 10u);
        block.Write(&StatusBlockLayout::bitsPerSample, static_cast<uint32_t>(setting.bits));
    }
    return true;
}

bool ReadAsioWidthMask(const char* blockName, uint32_t* mask) {
    CStatusBlock block;
    return SUCCEEDED(block.OpenExisting(blockName)) && block.Read(&StatusBlockLayout::supporBitsPerSample, mask);
}

void RefreshAsioPage(HWND window, const char* windowTitle) {
    if (!window) window = FindWindowA(nullptr, windowTitle);
    if (!window) return;
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, WM_COMMAND, MAKEWPARAM(ID_PANEL_REFRESH_ASIO, 0), 0, SMTO_ABORTIFHUNG,
                        kRefreshTimeoutMs, &result);
}
