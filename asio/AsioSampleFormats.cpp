// The driver object's rates, formats and channels: the DSD host rates and
// the frame rates they run at, the rate records in use, and what the host
// asks and sets of rates and channels.
#include "AsioSample.h"
#include "DriverLog.h"

#include <cstdio>

namespace {

constexpr int32_t kDsdHostRates[3] = {kDsd64Rate, kDsd128Rate, kDsd256Rate};
constexpr int32_t kDsdFrameRates[3] = {kDsd64FrameRate, kDsd128FrameRate, kDsd256FrameRate};

}  // namespace

int32_t CAsioSample::DsdIndex() const {
    for (int i = 0; i < 3; ++i) {
        if (m_hostRate == kDsdHostRates[i]) return i;
    }
    return -1;
}

bool CAsioSample::IsDsdHostRate() const { return DsdIndex() >= 0; }

void CAsioSample::SelectCurrentRecords() {
    for (int d = 0; d < 2; ++d) {
        if (RateRecord* record = RecordOfRate(m_records[d], m_streamRate)) m_current[d] = record;
    }
}

ASIOError CAsioSample::getChannelsImpl(int32_t* numInputChannels, int32_t* numOutputChannels) {
    int32_t inputs = m_current[kCaptureDirection] ? m_current[kCaptureDirection]->channelCount : 0;
    int32_t outputs = m_current[kRenderDirection] ? m_current[kRenderDirection]->channelCount : 0;
    if (numInputChannels) *numInputChannels = inputs;
    if (numOutputChannels) *numOutputChannels = outputs;
    return inputs || outputs ? ASE_OK : ASE_NotPresent;
}

ASIOError CAsioSample::canSampleRateImpl(ASIOSampleRate sampleRate) {
    int32_t rate = sampleRate >= 0 && sampleRate < 2147483647.0 ? static_cast<int32_t>(sampleRate) : 0;
    for (int i = 0; i < 3; ++i) {
        if (rate != kDsdHostRates[i]) continue;
        if (!OwnsBlock() || !(m_block.ReadOr(&StatusBlockLayout::supporBitsPerSample, 0) & kWidthFlag32)) {
            return ASE_NoClock;
        }
        rate = kDsdFrameRates[i];
    }
    RateRecord* render = RecordOfRate(m_records[kRenderDirection], rate);
    RateRecord* capture = RecordOfRate(m_records[kCaptureDirection], rate);
    bool renderChannels = render && render->valid && render->channelCount > 0;
    bool captureChannels = capture && capture->valid && capture->channelCount > 0;
    return renderChannels || captureChannels ? ASE_OK : ASE_NotPresent;
}

ASIOError CAsioSample::getSampleRateImpl(ASIOSampleRate* sampleRate) {
    ASIOError error = getChannelsImpl(nullptr, nullptr);
    if (!sampleRate) return error;
    if (m_streamRate == 0) {
        *sampleRate = 0.0;
        return ASE_NoClock;
    }
    *sampleRate = IsDsdHostRate() ? m_hostRate : m_streamRate;
    return ASE_OK;
}

ASIOError CAsioSample::setSampleRateImpl(ASIOSampleRate sampleRate) {
    ASIOError error = canSampleRateImpl(sampleRate);
    if (error != ASE_OK) return error;
    int32_t rate = static_cast<int32_t>(sampleRate);
    bool changed = false;
    if (rate != m_hostRate) {
        m_hostRate = rate;
        changed = true;
    }
    int32_t wanted = rate;
    for (int i = 0; i < 3; ++i) {
        if (rate == kDsdHostRates[i]) wanted = kDsdFrameRates[i];
    }
    // DSD forces 32-bit slots; a PCM rate runs at the configured width again.
    if (!IsDsdHostRate() && m_configuredWidth && m_sampleWidth != m_configuredWidth) {
        m_sampleWidth = m_configuredWidth;
        Publish(&StatusBlockLayout::streamWidth, static_cast<uint32_t>(m_sampleWidth));
    }
    if (wanted != m_streamRate || changed) {
        // The device cannot go on at a rate the driver no longer reports: a
        // running stream stops (inside a callback, when it returns).
        if (m_state == kDriverRunning) stopImpl();
        m_streamRate = wanted;
        Publish(&StatusBlockLayout::streamRate, static_cast<uint32_t>(wanted));
        SelectCurrentRecords();
        // Only a host with buffers has callbacks to hear it; without buffers the
        // next createBuffers opens the pins at the new rate.
        if (m_state == kDriverPrepared) {
            InterlockedExchange(&m_rateChanged, 1);
            // The host may dispose or release inside either call: each is read
            // again, and nothing of the object is touched once it is gone.
            const auto frames = static_cast<ASIOSampleRate>(wanted);
            auto rateChanged = m_callbacks.sampleRateDidChange;
            if (rateChanged) driverlog::Line("to the host: sampleRateDidChange(%d)", wanted);
            if (rateChanged && !CallOut([&] { rateChanged(frames); })) return ASE_OK;
            auto message = m_callbacks.asioMessage;
            if (message) driverlog::Line("to the host: reset request (the rate changed while prepared)");
            if (message && !CallOut([&] { message(kAsioResetRequest, 0, nullptr, nullptr); })) return ASE_OK;
        }
    }
    return ASE_OK;
}

ASIOError CAsioSample::getChannelInfoImpl(ASIOChannelInfo* info) {
    if (!info) return ASE_InvalidParameter;
    int32_t inputs = 0, outputs = 0;
    ASIOError error = getChannelsImpl(&inputs, &outputs);
    if (error != ASE_OK) return error;
    bool input = info->isInput != ASIOFalse;
    if (info->channel < 0 || info->channel >= (input ? inputs : outputs)) return ASE_InvalidParameter;
    // With buffers made, what they hold, whatever rate was set since.
    const bool prepared = m_preparedBytes > 0;
    RateRecord* record = prepared && m_active[input ? kCaptureDirection : kRenderDirection]
                             ? m_active[input ? kCaptureDirection : kRenderDirection]
                             : m_current[input ? kCaptureDirection : kRenderDirection];
    ChannelSlot* slot = ChannelOf(record, info->channel);
    if (!slot) return ASE_NotPresent;
    info->isActive = slot->active && slot->pinSlot->opened ? ASIOTrue : ASIOFalse;
    info->channelGroup = static_cast<int32_t>(slot->pinSlot->pin->PinId());
    if (prepared) {
        info->type = m_preparedDsd ? ASIOSTDSDInt8MSB1
                     : m_preparedBytes == 3 ? ASIOSTInt24LSB
                     : m_preparedBytes == 4 ? ASIOSTInt32LSB
                                            : ASIOSTInt16LSB;
    } else if (IsDsdHostRate()) {
        info->type = ASIOSTDSDInt8MSB1;
        m_sampleWidth = 32;
        if (m_block.Write(&StatusBlockLayout::streamWidth, 32)) m_block.MarkChanged();
    } else {
        info->type = m_sampleWidth == 24 ? ASIOSTInt24LSB : m_sampleWidth == 32 ? ASIOSTInt32LSB : ASIOSTInt16LSB;
    }
    snprintf(info->name, sizeof(info->name), "%s_%s_%s", m_deviceName, input ? "IN" : "OUT",
             info->channel == 0 ? "L" : "R");
    return ASE_OK;
}
