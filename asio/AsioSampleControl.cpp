// The driver object's remaining requests: the clock source, the sample
// position, the control panel (the running panel, or the program started from
// the folder the driver's key names) and future's selectors.
#include "AsioSample.h"

#include "FixedText.h"

#include "device/AsioSettingsKey.h"
#include "device/RegKey.h"

#include <shellapi.h>

#include <cstdio>
#include <cstring>

ASIOError CAsioSample::getClockSourcesImpl(ASIOClockSource* clocks, int32_t* numSources) {
    ASIOError error = getChannelsImpl(nullptr, nullptr);
    if (error != ASE_OK) return error;
    if (clocks && numSources && *numSources >= 1) {
        clocks[0].index = 0;
        clocks[0].associatedChannel = -1;
        clocks[0].associatedGroup = -1;
        clocks[0].isCurrentSource = ASIOTrue;
        CopyText(clocks[0].name, sizeof(clocks[0].name), "Internal");
        *numSources = 1;
    }
    return ASE_OK;
}

ASIOError CAsioSample::setClockSourceImpl(int32_t reference) {
    ASIOError error = getChannelsImpl(nullptr, nullptr);
    if (error != ASE_OK) return error;
    return reference > 1 ? ASE_NotPresent : ASE_OK;
}

ASIOError CAsioSample::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) {
    InterlockedIncrement(&m_positionCalls);
    if (getChannelsImpl(nullptr, nullptr) != ASE_OK) return ASE_NotPresent;
    // The streaming thread writes the pair at every switch; on a 32-bit host
    // each is two loads, so a torn or mixed read is taken again.
    uint64_t position, time;
    for (;;) {
        const LONG before = m_positionSequence;
        MemoryBarrier();
        position = m_samplePosition;
        time = m_systemTime;
        MemoryBarrier();
        if (!(before & 1) && before == m_positionSequence) break;
        YieldProcessor();
    }
    if (sPos) {
        sPos->hi = static_cast<uint32_t>(position >> 32);
        sPos->lo = static_cast<uint32_t>(position);
    }
    if (tStamp) {
        tStamp->hi = static_cast<uint32_t>(time >> 32);
        tStamp->lo = static_cast<uint32_t>(time);
    }
    return ASE_OK;
}

ASIOError CAsioSample::controlPanelImpl() {
    auto show = [this] {
        if (m_block.Write(&StatusBlockLayout::showPanelRequest, 1)) m_block.MarkChanged();
    };
    if (FindWindowA(nullptr, kPanelWindowTitle)) {
        show();
        return ASE_OK;
    }
    CRegKey asio, driver;
    if (asio.Open(HKEY_CURRENT_USER, kAsioKeyPath) != ERROR_SUCCESS ||
        driver.Open(asio.Get(), kDriverKeyName) != ERROR_SUCCESS) {
        return ASE_OK;
    }
    char folder[260] = {};
    if (!driver.QueryString(kValueAsioCpl, folder, sizeof(folder)) || !folder[0]) return ASE_OK;
    // The folder and the program name must fit; a longer path starts nothing.
    char path[MAX_PATH];
    if (std::strlen(folder) + sizeof(kPanelProgram) > sizeof(path)) return ASE_OK;
    snprintf(path, sizeof(path), "%s%s", folder, kPanelProgram);
    ShellExecuteA(nullptr, "open", path, nullptr, nullptr, SW_SHOWNORMAL);
    if (FindWindowA(nullptr, kPanelWindowTitle)) show();
    return ASE_OK;
}

ASIOError CAsioSample::futureImpl(int32_t selector, void* opt) {
    switch (selector) {
    case kAsioEnableTimeCodeRead:
    case kAsioDisableTimeCodeRead:
        if (!m_capabilities[kCanTimeCode]) return ASE_NotPresent;
        m_timeCodeRead = selector == kAsioEnableTimeCodeRead;
        return ASE_SUCCESS;
    case kAsioSetInputMonitor:
    case kAsioTransport:
    case kAsioSetInputGain:
    case kAsioGetInputMeter:
    case kAsioSetOutputGain:
    case kAsioGetOutputMeter:
        return ASE_NotPresent;
    case kAsioCanInputMonitor: return m_capabilities[kCanInputMonitor] ? ASE_SUCCESS : ASE_NotPresent;
    case kAsioCanTimeInfo: return m_capabilities[kCanTimeInfo] ? ASE_SUCCESS : ASE_NotPresent;
    case kAsioCanTimeCode: return m_capabilities[kCanTimeCode] ? ASE_SUCCESS : ASE_NotPresent;
    case kAsioCanTransport: return m_capabilities[kCanTransport] ? ASE_SUCCESS : ASE_NotPresent;
    case kAsioCanInputGain: return m_capabilities[kCanInputGain] ? ASE_SUCCESS : ASE_NotPresent;
    case kAsioCanInputMeter: return m_capabilities[kCanInputMeter] ? ASE_SUCCESS : ASE_NotPresent;
    case kAsioCanOutputGain: return m_capabilities[kCanOutputGain] ? ASE_SUCCESS : ASE_NotPresent;
    case kAsioCanOutputMeter: return m_capabilities[kCanOutputMeter] ? ASE_SUCCESS : ASE_NotPresent;
    case kAsioSetIoFormat: {
        auto* format = static_cast<ASIOIoFormat*>(opt);
        if (!format) return ASE_InvalidParameter;
        if (format->FormatType == kASIOPCMFormat || format->FormatType == kASIODSDFormat) {
            m_ioFormat = format->FormatType;
            return ASE_SUCCESS;
        }
        format->FormatType = kASIOFormatInvalid;
        return ASE_NotPresent;
    }
    case kAsioGetIoFormat: {
        auto* format = static_cast<ASIOIoFormat*>(opt);
        if (!format) return ASE_InvalidParameter;
        if (m_ioFormat == kASIOPCMFormat || m_ioFormat == kASIODSDFormat) {
            format->FormatType = m_ioFormat;
            return ASE_SUCCESS;
        }
        format->FormatType = kASIOFormatInvalid;
        return ASE_NotPresent;
    }
    case kAsioCanDoIoFormat: return ASE_SUCCESS;
    case kAsioCanReportOverload: return ASE_SUCCESS;
    case kVelmorGetDropoutCounts:
        if (!opt) return ASE_InvalidParameter;
        std::memcpy(opt, &m_dropouts, sizeof(m_dropouts));
        return ASE_SUCCESS;
    default: return ASE_InvalidParameter;
    }
}
