// The streaming engine of the driver object: a time-critical thread driven
// by the completion events of the stream packets, and a watchdog. Between
// createBuffers and disposeBuffers; start and stop hand over through events.
// Nothing is allocated here: packets, buffers and events exist beforehand.
#include "AsioSample.h"
#include "ChannelCopy.h"

#include "device/HidChannel.h"

#include <mmsystem.h>

#include <cstring>
#include <initializer_list>

namespace {

constexpr int kControlEvents = 4;
constexpr int kRenderBase = 4;
constexpr int kCaptureBase = 4 + kMaxPinSlots * kPacketsPerPin;  // 28
constexpr int kWaitHandles = kCaptureBase + kMaxPinSlots * kPacketsPerPin;  // 52
constexpr LONGLONG kWatchdogDue = -20000000;  // 2 s, relative

enum ControlEvent { kQuit = 0, kStart = 1, kStop = 2, kResetRequest = 3 };
// Notification events: [0] quit; [3] device notifications.
enum NotifyEvent { kNotifyQuit = 0, kNotifyDevice = 3 };

int64_t PerformanceTicks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

}  // namespace

bool CAsioSample::StartEngine() {
    for (HANDLE event : m_controlEvents) ResetEvent(event);
    ResetEvent(m_watchdogQuit);
    ResetEvent(m_ackEvent);
    m_streamThread = CreateThread(nullptr, 0, StreamThreadEntry, this, CREATE_SUSPENDED, nullptr);
    m_watchdogThread = CreateThread(nullptr, 0, WatchdogThreadEntry, this, CREATE_SUSPENDED, nullptr);
    if (!m_streamThread || !m_watchdogThread) {
        // Never resumed: they have run no code of ours.
        for (HANDLE* thread : {&m_streamThread, &m_watchdogThread}) {
            if (*thread) {
                TerminateThread(*thread, 0);
                CloseHandle(*thread);
                *thread = nullptr;
            }
        }
        return false;
    }
    DWORD_PTR process = 0, system = 0;
    GetProcessAffinityMask(GetCurrentProcess(), &process, &system);
    for (HANDLE thread : {m_streamThread, m_watchdogThread}) {
        if (process) SetThreadAffinityMask(thread, process);
        SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
        SetThreadPriorityBoost(thread, FALSE);
        ResumeThread(thread);
    }
    return true;
}

void CAsioSample::StopEngine() {
    if (m_watchdogThread) {
        SetEvent(m_watchdogQuit);
        WaitForSingleObject(m_watchdogThread, INFINITE);
        CloseHandle(m_watchdogThread);
        m_watchdogThread = nullptr;
    }
    if (m_streamThread) {
        SetEvent(m_controlEvents[kQuit]);
        WaitForSingleObject(m_streamThread, INFINITE);
        CloseHandle(m_streamThread);
        m_streamThread = nullptr;
    }
}

void CAsioSample::AskHostCapabilities() {
    for (int32_t& flag : m_hostCapabilities) flag = 0;
    m_hostOverload = 0;
    auto message = m_callbacks.asioMessage;
    if (!message) return;
    m_hostOverload = message(kAsioSelectorSupported, kAsioOverload, nullptr, nullptr) == 1 ? 1 : 0;
    if (message(kAsioEngineVersion, 0, nullptr, nullptr) <= 1) return;
    // Each capability is its own selector; the host answers 1 when it has it.
    auto ask = [&](int32_t selector) { return message(selector, 0, nullptr, nullptr) == 1 ? 1 : 0; };
    if (m_capabilities[kCanTimeInfo]) {
        m_hostCapabilities[kHostTimeInfo] = ask(kAsioSupportsTimeInfo);
        if (m_capabilities[kCanTimeCode]) m_hostCapabilities[kHostTimeCode] = ask(kAsioSupportsTimeCode);
    }
    if (m_capabilities[kCanInputMonitor]) m_hostCapabilities[kHostInputMonitor] = ask(kAsioSupportsInputMonitor);
    if (m_capabilities[kCanInputGain]) m_hostCapabilities[kHostInputGain] = ask(kAsioSupportsInputGain);
    if (m_capabilities[kCanInputMeter]) m_hostCapabilities[kHostInputMeter] = ask(kAsioSupportsInputMeter);
    if (m_capabilities[kCanOutputGain]) m_hostCapabilities[kHostOutputGain] = ask(kAsioSupportsOutputGain);
    if (m_capabilities[kCanOutputMeter]) m_hostCapabilities[kHostOutputMeter] = ask(kAsioSupportsOutputMeter);
}

DWORD WINAPI CAsioSample::StreamThreadEntry(void* self) {
    static_cast<CAsioSample*>(self)->StreamLoop();
    return 0;
}

DWORD WINAPI CAsioSample::WatchdogThreadEntry(void* self) {
    static_cast<CAsioSample*>(self)->WatchdogLoop();
    return 0;
}

DWORD WINAPI CAsioSample::NotifyThreadEntry(void* self) {
    static_cast<CAsioSample*>(self)->NotifyLoop();
    return 0;
}

void CAsioSample::ArmWatchdog() {
    LARGE_INTEGER due;
    due.QuadPart = kWatchdogDue;
    SetWaitableTimer(m_watchdogTimer, &due, 0, nullptr, nullptr, FALSE);
}

void CAsioSample::WatchdogLoop() {
    HANDLE waits[2] = {m_watchdogQuit, m_watchdogTimer};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) SetEvent(m_controlEvents[kResetRequest]);
    CancelWaitableTimer(m_watchdogTimer);
}

void CAsioSample::NotifyLoop() {
    for (;;) {
        DWORD wait = WaitForMultipleObjects(4, m_notifyEvents, FALSE, INFINITE);
        if (wait == WAIT_OBJECT_0 + kNotifyQuit || wait >= WAIT_OBJECT_0 + 4) return;
        // Read once: disposeBuffers takes the host's callbacks away.
        auto message = m_callbacks.asioMessage;
        if (wait == WAIT_OBJECT_0 + kNotifyDevice && m_state == kDriverRunning && m_resyncAllowed && message &&
            message(kAsioResyncRequest, 0, nullptr, nullptr) == 0) {
            SetEvent(m_controlEvents[kResetRequest]);
        }
    }
}

// Every opened pin of the active records through the given states, capture before render at each step.
void CAsioSample::StepPins(const KSSTATE* steps, int count) {
    for (int s = 0; s < count; ++s) {
        for (int direction : {kCaptureDirection, kRenderDirection}) {
            RateRecord* record = m_active[direction];
            if (!record) continue;
            for (int32_t p = 0; p < record->pinCount; ++p) {
                if (record->pins[p].opened) record->pins[p].pin->SetState(steps[s]);
            }
        }
    }
}

void CAsioSample::EngineStart(int32_t& engineState, uint32_t (&completion)[2][2], uint32_t (&directions)[2]) {
    std::memset(completion, 0, sizeof(completion));
    std::memset(directions, 0, sizeof(directions));
    static const KSSTATE kUp[2] = {KSSTATE_ACQUIRE, KSSTATE_PAUSE};
    StepPins(kUp, 2);
    // A new take starts clean: completions of the requests the last stop
    // cancelled are not periods, and the inputs hold nothing of the last take.
    for (int direction : {kRenderDirection, kCaptureDirection}) {
        RateRecord* record = m_active[direction];
        if (!record) continue;
        for (int32_t p = 0; p < record->pinCount; ++p) {
            for (StreamPacket& packet : record->pins[p].packets) ResetEvent(packet.overlapped.hEvent);
        }
        if (direction != kCaptureDirection) continue;
        for (int32_t c = 0; c < record->channelSlotCount; ++c) {
            ChannelSlot& channel = record->channels[c];
            for (void* half : channel.halves) {
                if (half) std::memset(half, 0, static_cast<size_t>(channel.halfBytes));
            }
        }
    }
    m_lastPeriodTicks = 0;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    // The period of the pins as opened, whatever rate the host set since.
    const int64_t frames = m_preparedDsd ? m_bufferSize / 32 : m_bufferSize;
    const RateRecord* pins = m_active[kRenderDirection] ? m_active[kRenderDirection] : m_active[kCaptureDirection];
    const int64_t pinRate = pins ? pins->rate : m_streamRate;
    m_periodTicks = pinRate > 0 ? frequency.QuadPart * frames / pinRate : 0;
    m_switchCount = 0;
    m_samplePosition = 0;
    m_sampleCounter = 0;
    m_periodTime = static_cast<uint64_t>(timeGetTime()) * 1000000;
    for (int k = 0; k < m_packetsAhead; ++k) {
        RateRecord* render = m_active[kRenderDirection];
        RateRecord* capture = m_active[kCaptureDirection];
        if (render) {
            for (int32_t p = 0; p < render->pinCount; ++p) {
                PinSlot& slot = render->pins[p];
                if (slot.opened && slot.packets[k].header.Data) {
                    std::memset(slot.packets[k].header.Data, 0, slot.packets[k].header.FrameExtent);
                }
            }
        }
        if (capture) {
            for (int32_t p = 0; p < capture->pinCount; ++p) {
                PinSlot& slot = capture->pins[p];
                if (slot.opened) QueuePacket(slot, slot.packets[k], true);
            }
        }
        if (render) {
            for (int32_t p = 0; p < render->pinCount; ++p) {
                PinSlot& slot = render->pins[p];
                if (slot.opened) QueuePacket(slot, slot.packets[k], false);
            }
        }
    }
    Sleep(10);
    static const KSSTATE kRun[1] = {KSSTATE_RUN};
    StepPins(kRun, 1);
    SetEvent(m_ackEvent);
    engineState = 1;
}

void CAsioSample::StreamLoop() {
    HANDLE handles[kWaitHandles];
    for (int i = 0; i < kControlEvents; ++i) handles[i] = m_controlEvents[i];
    // Packet events of pin slot p, packet k: render at 4 + 8p + k, capture at 28 + 8p + k.
    for (int direction : {kRenderDirection, kCaptureDirection}) {
        int base = direction == kRenderDirection ? kRenderBase : kCaptureBase;
        RateRecord* record = m_active[direction];
        for (int p = 0; p < kMaxPinSlots; ++p) {
            for (int k = 0; k < kPacketsPerPin; ++k) {
                // Without a record the direction's first record lends its (idle) events.
                RateRecord* owner = record ? record : &m_records[direction][0];
                HANDLE event = owner->pins[p].packets[k].overlapped.hEvent;
                handles[base + kPacketsPerPin * p + k] = event;
                ResetEvent(event);
            }
        }
    }
    uint32_t opened[2] = {0, 0};
    uint32_t active = 0;
    for (int direction : {kRenderDirection, kCaptureDirection}) {
        if (m_active[direction] && m_active[direction]->openedMask) {
            opened[direction] = static_cast<uint32_t>(m_active[direction]->openedMask);
            active |= 1u << direction;
        }
    }

    int32_t running = 0;
    uint32_t completion[2][2] = {};  // [parity][direction], bit per pin slot
    uint32_t directions[2] = {};     // [parity], bit per direction
    const int64_t B = m_bufferSize;
    bool quit = false;
    while (!quit) {
        DWORD wait = WaitForMultipleObjects(kWaitHandles, handles, FALSE, INFINITE);
        if (wait >= WAIT_OBJECT_0 + kWaitHandles) break;
        int index = static_cast<int>(wait - WAIT_OBJECT_0);
        if (index == kQuit) {
            CancelWaitableTimer(m_watchdogTimer);
            quit = true;
        } else if (index == kStart) {
            if (!running) EngineStart(running, completion, directions);
            ArmWatchdog();
        } else if (index == kStop) {
            if (running) {
                static const KSSTATE kDown[3] = {KSSTATE_PAUSE, KSSTATE_ACQUIRE, KSSTATE_STOP};
                StepPins(kDown, 3);
            }
            CancelWaitableTimer(m_watchdogTimer);
            SetEvent(m_ackEvent);
            running = 0;
        } else if (index == kResetRequest) {
            ArmWatchdog();
            if (InterlockedExchange(&m_rateChanged, 0) && m_callbacks.sampleRateDidChange) {
                m_callbacks.sampleRateDidChange(static_cast<ASIOSampleRate>(m_streamRate));
            }
            if (m_callbacks.asioMessage) m_callbacks.asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
        } else {
            if (running) ArmWatchdog();
            int direction = index < kCaptureBase ? kRenderDirection : kCaptureDirection;
            int offset = index - (direction == kRenderDirection ? kRenderBase : kCaptureBase);
            int parity = offset % 2;
            int pinSlot = offset / kPacketsPerPin;
            uint32_t& mask = completion[parity][direction];
            mask |= 1u << pinSlot;
            if (opened[direction] && (mask & opened[direction]) == opened[direction]) {
                if (!running) {
                    mask = 0;
                } else {
                    if (direction == kCaptureDirection && m_switchCount >= static_cast<uint64_t>(m_packetsAhead)) {
                        CaptureCopy(static_cast<int>((m_sampleCounter / B + 1) % kPacketsPerPin));
                    }
                    directions[parity] |= 1u << direction;
                    if ((directions[parity] & active) == active) {
                        PeriodStep(parity);
                        completion[parity][0] = completion[parity][1] = 0;
                        directions[parity] = 0;
                    } else {
                        mask = 0;
                    }
                }
            }
        }
        // A reset the panel asked for reaches the host from here.
        uint32_t reset = 0;
        if (OwnsBlock() && m_block.Read(&StatusBlockLayout::resetRequest, &reset) && reset != 0) {
            m_block.Write(&StatusBlockLayout::resetRequest, 0);
            if (m_callbacks.asioMessage) m_callbacks.asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
        }
    }
    if (running) {
        static const KSSTATE kDown[3] = {KSSTATE_PAUSE, KSSTATE_ACQUIRE, KSSTATE_STOP};
        StepPins(kDown, 3);
    }
}

void CAsioSample::PeriodStep(int parity) {
    const uint64_t B = static_cast<uint64_t>(m_bufferSize);
    if (m_switchCount != 0) m_sampleCounter += B;
    CheckDropout();
    m_periodTime = static_cast<uint64_t>(timeGetTime()) * 1000000;
    const int ring = static_cast<int>((m_sampleCounter / B + m_packetsAhead) % kPacketsPerPin);
    if (RateRecord* capture = m_active[kCaptureDirection]) {
        for (int32_t p = 0; p < capture->pinCount; ++p) {
            PinSlot& slot = capture->pins[p];
            if (slot.opened) QueuePacket(slot, slot.packets[ring], true);
        }
    }
    BufferSwitch(parity);
    if (RateRecord* render = m_active[kRenderDirection]) {
        for (int32_t p = 0; p < render->pinCount; ++p) {
            PinSlot& slot = render->pins[p];
            if (slot.opened) QueuePacket(slot, slot.packets[ring], false);
        }
    }
}

void CAsioSample::CheckDropout() {
    const int64_t now = PerformanceTicks();
    // Later than the packets queued ahead could cover: the device ran dry.
    // An overload report only counts; a resync request would restart the host's engine.
    if (m_lastPeriodTicks && m_periodTicks > 0 && now - m_lastPeriodTicks > m_periodTicks * m_packetsAhead &&
        m_hostOverload && m_callbacks.asioMessage) {
        m_callbacks.asioMessage(kAsioOverload, 0, nullptr, nullptr);
    }
    m_lastPeriodTicks = now;
}

void CAsioSample::QueuePacket(PinSlot& slot, StreamPacket& packet, bool capture) {
    HRESULT hr;
    if (capture) {
        packet.header.DataUsed = 0;
        hr = slot.pin->ReadData(&packet.header, &packet.overlapped);
    } else {
        hr = slot.pin->WriteData(&packet.header, &packet.overlapped);
    }
    packet.queued = SUCCEEDED(hr) ? 1 : 0;
}

void CAsioSample::BufferSwitch(int parity) {
    m_samplePosition = m_sampleCounter;
    m_systemTime = m_periodTime;
    ++m_switchCount;
    if (m_capabilities[kCanTimeInfo] && m_hostCapabilities[kHostTimeInfo] && m_callbacks.bufferSwitchTimeInfo) {
        std::memset(&m_time, 0, sizeof(m_time));
        AsioTimeInfo& info = m_time.timeInfo;
        info.speed = 1.0;
        info.systemTime.hi = static_cast<uint32_t>(m_systemTime >> 32);
        info.systemTime.lo = static_cast<uint32_t>(m_systemTime);
        info.samplePosition.hi = static_cast<uint32_t>(m_samplePosition >> 32);
        info.samplePosition.lo = static_cast<uint32_t>(m_samplePosition);
        info.sampleRate = m_streamRate;
        info.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid;
        if (InterlockedExchange(&m_rateChanged, 0)) info.flags |= kSampleRateChanged;
        m_callbacks.bufferSwitchTimeInfo(&m_time, parity, ASIOTrue);
    } else if (m_callbacks.bufferSwitch) {
        m_callbacks.bufferSwitch(parity, ASIOTrue);
    }
}

void CAsioSample::CaptureCopy(int ring) {
    RateRecord* record = m_active[kCaptureDirection];
    if (!record || m_preparedBytes <= 0) return;
    // The buffers' own sample size, whatever rate the host set since.
    CopyPacketsToHalf(*record, ring, m_preparedBytes);
}

void CAsioSample::RenderCopy() {
    RateRecord* record = m_active[kRenderDirection];
    if (!record || m_bufferSize <= 0) return;
    const uint64_t n = m_samplePosition / static_cast<uint64_t>(m_bufferSize);
    const int ring = static_cast<int>((n + m_packetsAhead) % kPacketsPerPin);
    const int half = static_cast<int>(n % 2);
    const bool dsd = m_preparedDsd;
    const int32_t bytes = m_preparedBytes;
    if (bytes <= 0) return;
    const bool highRate = m_streamRate == 176400 || m_streamRate == 352800;
    const bool markerTest = highRate && !dsd &&
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
    if (ok && InterlockedCompareExchange(&m_markerReportSent, 1, 0) == 0) SendReport(0xF8, 0x21, 0x35, 0x01);
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
