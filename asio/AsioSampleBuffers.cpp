// The driver object's buffers and their run: the sizes and latencies it
// announces, createBuffers and disposeBuffers with the stream packets and the
// device's DSD mode, and start, stop and outputReady.
#include "AsioSample.h"

ASIOError CAsioSample::getLatenciesImpl(int32_t* inputLatency, int32_t* outputLatency) {
    ASIOError error = getChannelsImpl(nullptr, nullptr);
    if (error != ASE_OK) return error;
    int32_t input, output;
    if (m_state == kDriverPrepared || m_state == kDriverRunning) {
        // The buffers in use, whatever size the host chose.
        input = m_bufferSize;
        output = m_bufferSize * (m_packetsAhead - 1);
    } else {
        int64_t period = m_streamRate == 44100 ? static_cast<int64_t>(m_bufferTime * 44 / 10000)
                                               : static_cast<int64_t>(m_streamRate) * static_cast<int64_t>(m_bufferTime) / 10000000;
        input = static_cast<int32_t>(period);
        output = static_cast<int32_t>(period * (m_packetsAhead - 1));
    }
    if (inputLatency) *inputLatency = input;
    if (outputLatency) *outputLatency = output;
    return ASE_OK;
}

ASIOError CAsioSample::getBufferSizeImpl(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                     int32_t* granularity) {
    ASIOError error = getChannelsImpl(nullptr, nullptr);
    if (error != ASE_OK) return error;
    int32_t minimum, maximum, preferred, step;
    int dsd = DsdIndex();
    if (dsd >= 0) {
        static const int32_t kDsdMinimum[3] = {28224, 56448, 112896};
        static const int32_t kDsdMaximum[3] = {282240, 564480, 1128960};
        minimum = preferred = step = kDsdMinimum[dsd];
        maximum = kDsdMaximum[dsd];
    } else {
        int64_t r = m_streamRate;
        minimum = static_cast<int32_t>(r * kBufferLengthsMs[m_minimumIndex] / 1000);
        maximum = static_cast<int32_t>(r * kBufferLengthsMs[kBufferLengthCount - 1] / 1000);
        preferred = static_cast<int32_t>(r * static_cast<int64_t>(m_bufferTime) / 10000000);
        step = static_cast<int32_t>(r / 1000);
    }
    if (minSize) *minSize = minimum;
    if (maxSize) *maxSize = maximum;
    if (preferredSize) *preferredSize = preferred;
    if (granularity) *granularity = step;
    return ASE_OK;
}

ASIOError CAsioSample::createBuffersImpl(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                                     ASIOCallbacks* callbacks) {
    // Inside a callback the engine that would serve them is still the old one.
    if (OnStreamThread()) return ASE_InvalidMode;
    AwaitDeferredDispose();
    // Buffers already made stay until disposeBuffers.
    if (m_state == kDriverPrepared || m_state == kDriverRunning) return ASE_InvalidMode;
    try {
        return CreateBuffersSteps(bufferInfos, numChannels, bufferSize, callbacks);
    } catch (...) {
        disposeBuffersImpl();
        return ASE_NoMemory;
    }
}

bool CAsioSample::BuffersRequestValid(const ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                                      const ASIOCallbacks* callbacks) {
    if (m_state != kDriverInitialized || !callbacks || numChannels < 0 || (numChannels > 0 && !bufferInfos)) {
        return false;
    }
    // Only the sizes getBufferSize announces: they keep every buffer and packet size in range.
    int32_t minimum = 0, maximum = 0;
    if (getBufferSizeImpl(&minimum, &maximum, nullptr, nullptr) != ASE_OK ||
        bufferSize < minimum || bufferSize > maximum) {
        return false;
    }
    // DSD travels as 32 one-bit samples per frame: a size between frames has no packet.
    if (IsDsdHostRate() && bufferSize % kDsdBitsPerFrame != 0) return false;
    // Every channel named must be one the device has in that direction.
    int32_t inputs = 0, outputs = 0;
    getChannelsImpl(&inputs, &outputs);
    for (int32_t i = 0; i < numChannels; ++i) {
        const int32_t count = bufferInfos[i].isInput != ASIOFalse ? inputs : outputs;
        if (bufferInfos[i].channelNum < 0 || bufferInfos[i].channelNum >= count) return false;
    }
    return true;
}

bool CAsioSample::EveryBufferServed(const ASIOBufferInfo* bufferInfos, int32_t numChannels) const {
    for (int32_t i = 0; i < numChannels; ++i) {
        const bool input = bufferInfos[i].isInput != ASIOFalse;
        const ChannelSlot* channel = ChannelOf(m_active[input ? kCaptureDirection : kRenderDirection],
                                               bufferInfos[i].channelNum);
        if (!channel || !channel->pinSlot->opened) return false;
    }
    return true;
}

ASIOError CAsioSample::CreateBuffersSteps(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                                          ASIOCallbacks* callbacks) {
    int32_t inputs = 0, outputs = 0;
    ASIOError error = getChannelsImpl(&inputs, &outputs);
    if (error != ASE_OK) return error;
    // Requests the driver cannot serve are refused before anything is made.
    if (!BuffersRequestValid(bufferInfos, numChannels, bufferSize, callbacks)) return ASE_InvalidParameter;
    m_active[kRenderDirection] = m_current[kRenderDirection];
    m_active[kCaptureDirection] = m_current[kCaptureDirection];
    const bool dsd = IsDsdHostRate();
    const int32_t width = dsd ? 32 : m_sampleWidth;

    bool asksInput = false;
    for (int32_t i = 0; i < numChannels; ++i) asksInput |= bufferInfos[i].isInput != ASIOFalse;
    if (inputs > 0 && asksInput) {
        error = m_active[kCaptureDirection] ? AllocateBuffers(*m_active[kCaptureDirection], true, bufferInfos,
                                                              numChannels, bufferSize, width, dsd)
                                            : ASE_InvalidParameter;
    }
    if (error == ASE_OK && outputs > 0) {
        error = m_active[kRenderDirection] ? AllocateBuffers(*m_active[kRenderDirection], false, bufferInfos,
                                                             numChannels, bufferSize, width, dsd)
                                           : ASE_InvalidParameter;
    }
    // A pin the device would not open (busy, or refusing every channel count)
    // would leave the host with buffers that never move.
    if (error == ASE_OK && !EveryBufferServed(bufferInfos, numChannels)) error = ASE_NotPresent;
    if (error == ASE_OK) {
        m_callbacks = *callbacks;
        m_bufferSize = bufferSize;
        m_preparedDsd = dsd;
        m_preparedBytes = width / 8;
        m_preparedRate = m_streamRate;
        m_preparedHostRate = m_hostRate;
        if (!StartEngine()) error = ASE_NoMemory;
    }
    if (error != ASE_OK) {
        disposeBuffersImpl();
        for (int32_t i = 0; i < numChannels; ++i) bufferInfos[i].buffers[0] = bufferInfos[i].buffers[1] = nullptr;
        return error;
    }
    AskHostCapabilities();
    SetState(kDriverPrepared);
    if (OwnsBlock()) {
        int index = DsdIndex();
        Publish(&StatusBlockLayout::period, static_cast<uint32_t>(dsd ? bufferSize / 32 : bufferSize));
        Publish(&StatusBlockLayout::dsdActive, dsd ? 1 : 0);
        Publish(&StatusBlockLayout::dsd128, index == 1 ? 1 : 0);
        Publish(&StatusBlockLayout::dsd256, index == 2 ? 1 : 0);
        Publish(&StatusBlockLayout::nativeDsd, dsd ? 1 : 0);
    }
    if (dsd) {
        int i = DsdIndex();
        SendReport(static_cast<BYTE>(0xF5 + i), 0x21, static_cast<BYTE>(0x32 + i), 0x2E);
    }
    return ASE_OK;
}

ASIOError CAsioSample::disposeBuffersImpl() {
    if (OnStreamThread()) {
        // Inside a callback: done when it returns (see the header).
        ASIOError error = getChannelsImpl(nullptr, nullptr);
        if (m_state == kDriverPrepared || m_state == kDriverRunning) {
            InterlockedExchange(&m_stopRequested, 1);
            InterlockedExchange(&m_disposeRequested, 1);
            SetState(kDriverInitialized);
        }
        return error;
    }
    AwaitDeferredDispose();
    return DisposeSteps();
}

ASIOError CAsioSample::DisposeSteps() {
    ASIOError error = getChannelsImpl(nullptr, nullptr);
    StopEngine();
    // Only an object that had the device's playback (or put it in DSD) may take
    // it out of DSD: one refused because another host streams leaves that host's mode alone.
    const bool heldPlayback =
        m_preparedDsd || (m_active[kRenderDirection] && m_active[kRenderDirection]->openedMask != 0);
    // The callbacks were the host's for these buffers only, and so was a rate change to tell.
    m_callbacks = {};
    InterlockedExchange(&m_rateChanged, 0);
    m_preparedBytes = 0;
    m_preparedDsd = false;
    m_preparedRate = m_preparedHostRate = 0;
    // Whatever the current rate says now, the buffers made are released.
    if (m_active[kCaptureDirection]) ReleaseBuffers(*m_active[kCaptureDirection]);
    if (m_active[kRenderDirection]) ReleaseBuffers(*m_active[kRenderDirection]);
    if (m_state >= static_cast<int32_t>(kDriverInitialized)) SetState(kDriverInitialized);
    // The streaming thread has ended: no render copy can find markers again.
    ClearMarkerReport();
    if (OwnsBlock()) {
        Publish(&StatusBlockLayout::dsdActive, 0);
        Publish(&StatusBlockLayout::dsd128, 0);
        Publish(&StatusBlockLayout::nativeDsd, 0);
    }
    if (heldPlayback) {
        for (int i = 0; i < 3; ++i) SendReport(static_cast<BYTE>(0xF5 + i), 0x21, static_cast<BYTE>(0x32 + i), 0x08);
    }
    m_active[kRenderDirection] = m_active[kCaptureDirection] = nullptr;
    return error;
}

ASIOError CAsioSample::startImpl() {
    ASIOError error = getChannelsImpl(nullptr, nullptr);
    if (error != ASE_OK) return error;
    AwaitDeferredDispose();
    if (m_state != kDriverPrepared) return ASE_OK;
    // Inside a callback: the engine that would acknowledge is this thread.
    if (OnStreamThread()) return ASE_InvalidMode;
    // Buffers made for another rate, sample width or format would stream at a
    // rate the driver no longer reports, or wrong data: the host disposes and
    // creates them again first (as the reset request asked).
    if (PreparedFormatStale()) return ASE_InvalidMode;
    SetState(kDriverRunning);
    ResetEvent(m_ackEvent);
    SetEvent(m_controlEvents[1]);
    // Waits for the engine; an engine thread that ended cannot answer.
    HANDLE waits[2] = {m_ackEvent, m_streamThread};
    WaitForMultipleObjects(m_streamThread ? 2 : 1, waits, FALSE, INFINITE);
    return ASE_OK;
}

bool CAsioSample::PreparedFormatStale() const {
    const bool dsd = IsDsdHostRate();
    return dsd != m_preparedDsd || m_streamRate != m_preparedRate || m_hostRate != m_preparedHostRate ||
           (!dsd && m_sampleWidth / 8 != m_preparedBytes);
}

ASIOError CAsioSample::stopImpl() {
    ASIOError error = getChannelsImpl(nullptr, nullptr);
    AwaitDeferredDispose();
    if (OnStreamThread()) {
        // Inside a callback: the stream stops when it returns, with no further callback.
        if (error == ASE_OK && m_state == kDriverRunning) InterlockedExchange(&m_stopRequested, 1);
    } else if (error == ASE_OK && m_state == kDriverRunning) {
        ResetEvent(m_ackEvent);
        SetEvent(m_controlEvents[2]);
        HANDLE waits[2] = {m_ackEvent, m_streamThread};
        WaitForMultipleObjects(m_streamThread ? 2 : 1, waits, FALSE, INFINITE);
    }
    ClearMarkerReport();
    if (m_state == kDriverPrepared || m_state == kDriverRunning) SetState(kDriverPrepared);
    return error;
}
