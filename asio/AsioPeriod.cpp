// One period of the streaming engine: the packets it queues, the host's
// buffer switch with the sample position, the copies between the host's
// halves and the packets, and what the driver tells and counts when the
// device ran dry. All on the streaming thread, except outputReady's copy.
#include "AsioSample.h"
#include "ChannelCopy.h"
#include "DriverLog.h"

#include <mmsystem.h>

#include <cinttypes>
#include <cstring>

namespace {

// The render packet of the switch under way.
enum RenderWindow : LONG { kWindowClosed = 0, kWindowOpen = 1, kWindowCopying = 2, kWindowDone = 3 };
// Spins the streaming thread waits for another thread's copy before yielding.
constexpr int kCopySpins = 4096;

}  // namespace

bool CAsioSample::PeriodStep(int ring) {
    const int64_t woke = PerformanceTicks();
    const uint64_t B = static_cast<uint64_t>(m_bufferSize);
    if (m_switchCount != 0) m_sampleCounter += B;
    m_periodTime = static_cast<uint64_t>(timeGetTime()) * 1000000;
    const int queue = (ring + m_packetsAhead) % kPacketsPerPin;
    bool failed = false;
    if (RateRecord* capture = m_active[kCaptureDirection]) {
        for (int32_t p = 0; p < capture->pinCount; ++p) {
            PinSlot& slot = capture->pins[p];
            if (slot.opened) failed |= !QueuePacket(slot, slot.packets[queue], true);
        }
    }
    m_windowRing = queue;
    m_windowHalf = ring % 2;
    InterlockedExchange(&m_renderWindow, kWindowOpen);
    const int64_t called = PerformanceTicks();
    if (!BufferSwitch(ring % 2)) return false;
    const int64_t callback = PerformanceTicks() - called;
    CloseRenderWindow(queue, ring % 2);
    // Stopped or disposed inside the switch: nothing more reaches the device.
    if (m_stopRequested || m_disposeRequested) {
        ServeRequestsFromCallback();
        return true;
    }
    if (RateRecord* render = m_active[kRenderDirection]) {
        for (int32_t p = 0; p < render->pinCount; ++p) {
            PinSlot& slot = render->pins[p];
            if (slot.opened) failed |= !QueuePacket(slot, slot.packets[queue], false);
        }
    }
    m_queuedAt[queue] = PerformanceTicks();
    return CheckDropout(ring, failed, woke, callback);
}

bool CAsioSample::CheckDropout(int ring, bool queueFailed, int64_t woke, int64_t callbackTicks) {
    const int64_t now = PerformanceTicks();
    const int64_t period = m_periodTicks;
    // When the period just served ended on the device: a packet starts when
    // queued or when the one before it ends, whichever is later, and plays
    // for a period; never later than the wake-up it caused.
    const int64_t expected = (m_completionEstimate > m_queuedAt[ring] ? m_completionEstimate : m_queuedAt[ring]) + period;
    int64_t ended = expected;
    if (ended > woke) ended = woke;
    m_completionEstimate = ended;
    const int64_t stepStart = m_lastStepEnd > ended ? m_lastStepEnd : ended;
    m_lastStepEnd = now;
    if (callbackTicks > m_longestCallback) m_longestCallback = callbackTicks;
    if (woke - stepStart > m_latestWake) m_latestWake = woke - stepStart;

    // Dry: the packet that was playing finished before the next one was
    // queued, or the device refused a packet of this period.
    const int next = (ring + 1) % kPacketsPerPin;
    bool dry = queueFailed;
    const RateRecord* record = m_active[kRenderDirection] && m_active[kRenderDirection]->openedMask
                                   ? m_active[kRenderDirection]
                                   : m_active[kCaptureDirection];
    for (int32_t p = 0; record && !dry && p < record->pinCount; ++p) {
        const StreamPacket& packet = record->pins[p].packets[next];
        dry = record->pins[p].opened && packet.queued && HasOverlappedIoCompleted(&packet.overlapped);
    }
    // Not dry, unless the packet that woke the driver ended a whole period
    // after it should have while the next one still plays: the device itself
    // went quiet (a late wake-up of the driver would find the next one done too).
    if (!dry && woke - expected <= period) return true;
    // A dropout: the log's figures in microseconds, from the period's length in ticks and in time.
    const int64_t periodUs = m_hostRate ? int64_t(m_bufferSize) * 1000000 / m_hostRate : 0;
    auto us = [&](int64_t ticks) { return period ? ticks * periodUs / period : 0; };
    const int64_t at = static_cast<int64_t>(m_sampleCounter);
    if (!dry) {
        ++m_dropouts.deviceUnderrun;
        driverlog::Event("dropout at sample %" PRId64 ": device underrun (the device delivered %" PRId64
                         " us late, period %" PRId64 " us)",
                         at, us(woke - expected), periodUs);
    } else if (queueFailed) {
        ++m_dropouts.packetFailed;
        driverlog::Event("dropout at sample %" PRId64 ": packet failed (the device refused a packet)", at);
    } else {
        // Who spent the period the packets ahead covered: the host's switch or
        // the wake-up after the completion; when together they took less than
        // half of it, the device finished its packets early.
        const int64_t wake = woke > stepStart ? woke - stepStart : 0;
        const int64_t budget = period * (m_packetsAhead - 1);
        if (callbackTicks + wake < budget / 2) {
            ++m_dropouts.deviceUnderrun;
            driverlog::Event("dropout at sample %" PRId64 ": device underrun (callback %" PRId64 " us, wake-up %" PRId64
                             " us late, period %" PRId64 " us)",
                             at, us(callbackTicks), us(wake), periodUs);
        } else if (callbackTicks >= wake) {
            ++m_dropouts.hostLate;
            driverlog::Event("dropout at sample %" PRId64 ": host late (callback %" PRId64 " us of a %" PRId64
                             " us period)",
                             at, us(callbackTicks), periodUs);
        } else {
            ++m_dropouts.driverLate;
            driverlog::Event("dropout at sample %" PRId64 ": driver late (woke %" PRId64 " us late, period %" PRId64
                             " us)",
                             at, us(wake), periodUs);
        }
    }
    // An overload report only counts; a resync request would restart the host's engine.
    auto message = m_callbacks.asioMessage;
    if (!m_hostOverload || !message) return true;
    driverlog::Event("to the host: overload");
    if (!CallOut([&] { message(kAsioOverload, 0, nullptr, nullptr); })) return false;
    ServeRequestsFromCallback();
    return true;
}

bool CAsioSample::QueuePacket(PinSlot& slot, StreamPacket& packet, bool capture) {
    HRESULT hr;
    if (capture) {
        packet.header.DataUsed = 0;
        hr = slot.pin->ReadData(&packet.header, &packet.overlapped);
    } else {
        hr = slot.pin->WriteData(&packet.header, &packet.overlapped);
    }
    packet.queued = SUCCEEDED(hr) ? 1 : 0;
    return packet.queued != 0;
}

void CAsioSample::WritePosition(uint64_t position, uint64_t time) {
    // Two 64-bit values a 32-bit reader cannot take in one load: it retries
    // while the count is odd or has moved.
    InterlockedIncrement(&m_positionSequence);
    m_samplePosition = position;
    m_systemTime = time;
    InterlockedIncrement(&m_positionSequence);
}

bool CAsioSample::BufferSwitch(int parity) {
    WritePosition(m_sampleCounter, m_periodTime);
    ++m_switchCount;
    if (m_capabilities[kCanTimeInfo] && m_hostCapabilities[kHostTimeInfo] && m_callbacks.bufferSwitchTimeInfo) {
        std::memset(&m_time, 0, sizeof(m_time));
        AsioTimeInfo& info = m_time.timeInfo;
        info.speed = 1.0;
        info.systemTime.hi = static_cast<uint32_t>(m_periodTime >> 32);
        info.systemTime.lo = static_cast<uint32_t>(m_periodTime);
        info.samplePosition.hi = static_cast<uint32_t>(m_sampleCounter >> 32);
        info.samplePosition.lo = static_cast<uint32_t>(m_sampleCounter);
        info.sampleRate = m_preparedRate;
        info.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid;
        if (InterlockedExchange(&m_rateChanged, 0)) info.flags |= kSampleRateChanged;
        auto call = m_callbacks.bufferSwitchTimeInfo;
        return CallOut([&] { call(&m_time, parity, ASIOTrue); });
    }
    if (auto call = m_callbacks.bufferSwitch) return CallOut([&] { call(parity, ASIOTrue); });
    return true;
}

void CAsioSample::CloseRenderWindow(int ring, int half) {
    const LONG was = InterlockedCompareExchange(&m_renderWindow, kWindowClosed, kWindowOpen);
    if (was == kWindowOpen) {
        if (!m_hostCallsOutputReady) {
            // A host without outputReady has filled its half when the switch returns.
            RenderCopy(ring, half);
        } else if (RateRecord* render = m_active[kRenderDirection]) {
            // It missed it this once: silence, never the audio of eight periods ago.
            for (int32_t p = 0; p < render->pinCount; ++p) {
                KSSTREAM_HEADER& header = render->pins[p].packets[ring].header;
                if (render->pins[p].opened && header.Data) std::memset(header.Data, 0, header.FrameExtent);
            }
        }
        return;
    }
    // An outputReady from another thread may still be copying: the packet
    // goes out whole. The copy takes microseconds; past a short spin the
    // processor is given up, so a copier that lost it finishes even on one core.
    for (int spins = 0; m_renderWindow == kWindowCopying; ++spins) {
        if (spins < kCopySpins) {
            YieldProcessor();
        } else {
            SwitchToThread();
        }
    }
    InterlockedExchange(&m_renderWindow, kWindowClosed);
}

ASIOError CAsioSample::outputReady() {
    InterlockedIncrement(&m_outputReadyCalls);
    if (m_state != kDriverRunning) return ASE_OK;
    // Only while the switch's packet is not yet queued: a late call writes nothing.
    if (InterlockedCompareExchange(&m_renderWindow, kWindowCopying, kWindowOpen) != kWindowOpen) return ASE_OK;
    InterlockedExchange(&m_hostCallsOutputReady, 1);
    RenderCopy(m_windowRing, m_windowHalf);
    InterlockedExchange(&m_renderWindow, kWindowDone);
    return ASE_OK;
}

void CAsioSample::CaptureCopy(int ring) {
    RateRecord* record = m_active[kCaptureDirection];
    if (!record || m_preparedBytes <= 0) return;
    // The buffers' own sample size, whatever rate the host set since.
    CopyPacketsToHalf(*record, ring, m_preparedBytes);
}

void CAsioSample::RenderCopy(int ring, int half) {
    RateRecord* record = m_active[kRenderDirection];
    const int32_t bytes = m_preparedBytes;
    if (!record || m_bufferSize <= 0 || bytes <= 0) return;
    const bool highRate = m_preparedRate == 176400 || m_preparedRate == 352800;
    const bool markerTest = highRate && !m_preparedDsd &&
                            (bytes == 3 ||
                             (bytes == 4 && m_block.ReadOr(&StatusBlockLayout::nativeDsd, 0) == 0));
    int8_t markers[kMaxChannelSlots];
    CopyHalfToPackets(*record, ring, half, bytes, markerTest ? markers : nullptr);
    if (!markerTest) return;
    for (int32_t c = 0; c < record->channelSlotCount && c < kMaxChannelSlots; ++c) {
        if (markers[c] >= 0) MarkerTest(markers[c] == 1);
    }
}

// What one channel's DSD-over-PCM marker scan found (the top byte of every
// sample 0x05/0xFA alternating per sample or per pair, or a constant 0xAA).
void CAsioSample::MarkerTest(bool ok) {
    if (ok && InterlockedCompareExchange(&m_markerReportSent, 1, 0) == 0) QueueMarkerReport(1);
    if (!OwnsBlock()) return;
    uint32_t active = m_block.ReadOr(&StatusBlockLayout::dsdActive, 0);
    if (ok) {
        if (!active) Publish(&StatusBlockLayout::dsdActive, 1);
        uint32_t dsd128 = m_block.ReadOr(&StatusBlockLayout::streamRate, 0) == 352800 ? 1 : 0;
        if (m_block.ReadOr(&StatusBlockLayout::dsd128, 0) != dsd128) Publish(&StatusBlockLayout::dsd128, dsd128);
    } else if (active == 1) {
        m_block.WriteOwned(m_identity, &StatusBlockLayout::dsdActive, 0);
        m_block.WriteOwned(m_identity, &StatusBlockLayout::dsd128, 0);
        m_block.MarkChanged();
    }
}
