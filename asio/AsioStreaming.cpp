// The streaming engine of the driver object: a time-critical thread driven
// by the completion events of the stream packets, and a watchdog. Between
// createBuffers and disposeBuffers; start and stop hand over through events.
// Nothing is allocated here: packets, buffers and events exist beforehand.
// The period step and the copies are in AsioPeriod.cpp.
#include "AsioSample.h"
#include "DriverLog.h"
#include "ModuleState.h"

#include <mmsystem.h>

#include <cinttypes>
#include <cstring>
#include <initializer_list>

namespace {

constexpr int kControlEvents = 4;
constexpr int kRenderBase = 4;
constexpr int kCaptureBase = 4 + kMaxPinSlots * kPacketsPerPin;  // 28
constexpr int kWaitHandles = kCaptureBase + kMaxPinSlots * kPacketsPerPin;  // 52

enum ControlEvent { kQuit = 0, kStart = 1, kStop = 2, kResetRequest = 3 };
// Notification events: [0] quit; [1] marker reports queued; [3] device notifications.
enum NotifyEvent { kNotifyQuit = 0, kNotifyMarker = 1, kNotifyDevice = 3 };

const KSSTATE kPinsDown[3] = {KSSTATE_PAUSE, KSSTATE_ACQUIRE, KSSTATE_STOP};

[[noreturn]] void EndThread(HMODULE module) {
    if (module) FreeLibraryAndExitThread(module, 0);
    ExitThread(0);
}

}  // namespace

bool CAsioSample::StartEngine() {
    for (HANDLE event : m_controlEvents) ResetEvent(event);
    ResetEvent(m_watchdogQuit);
    ResetEvent(m_ackEvent);
    InterlockedExchange(&m_stopRequested, 0);
    InterlockedExchange(&m_disposeRequested, 0);
    m_dropouts = {};
    // The streaming thread may be the one that destroys the object (a host
    // releasing it inside a callback): it keeps the module mapped itself.
    HMODULE module = PinModule();
    m_streamModule = module;
    m_streamThread = CreateThread(nullptr, 0, StreamThreadEntry, this, CREATE_SUSPENDED, &m_streamThreadId);
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
        m_streamThreadId = 0;
        if (module) FreeLibrary(module);
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

bool CAsioSample::StartNotifyThread() {
    // Like the streaming thread, it may be the one that destroys the object.
    HMODULE module = PinModule();
    m_notifyModule = module;
    m_notifyThread = CreateThread(nullptr, 0, NotifyThreadEntry, this, 0, &m_notifyThreadId);
    if (!m_notifyThread && module) FreeLibrary(module);
    return m_notifyThread != nullptr;
}

void CAsioSample::StopEngine() {
    if (m_watchdogThread) {
        SetEvent(m_watchdogQuit);
        WaitForSingleObject(m_watchdogThread, INFINITE);
        CloseHandle(m_watchdogThread);
        m_watchdogThread = nullptr;
    }
    if (!m_streamThread) return;
    if (OnStreamThread()) {
        // Inside a callback: the pins stop now, the thread ends once back in
        // its loop; its handle is closed by whoever waits for it.
        EngineStop();
        m_leaveLoop = true;
        return;
    }
    SetEvent(m_controlEvents[kQuit]);
    WaitForSingleObject(m_streamThread, INFINITE);
    CloseHandle(m_streamThread);
    m_streamThread = nullptr;
    m_streamThreadId = 0;
}

void CAsioSample::AwaitDeferredDispose() {
    // On the streaming thread itself there is nothing to wait for.
    if (!m_disposeRequested || !m_streamThread || OnStreamThread()) return;
    WaitForSingleObject(m_streamThread, INFINITE);
    CloseHandle(m_streamThread);
    m_streamThread = nullptr;
    m_streamThreadId = 0;
    InterlockedExchange(&m_disposeRequested, 0);
}

void CAsioSample::ServeRequestsFromCallback() {
    if (InterlockedExchange(&m_stopRequested, 0)) EngineStop();  // nobody waits: no acknowledgement
    if (m_disposeRequested) DisposeSteps();
}

void CAsioSample::AskHostCapabilities() {
    for (int32_t& flag : m_hostCapabilities) flag = 0;
    m_hostOverload = 0;
    auto message = m_callbacks.asioMessage;
    if (!message) return;
    // Asked on the host's own thread inside createBuffers: it holds the object.
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
    HMODULE module = static_cast<CAsioSample*>(self)->m_streamModule;
    static_cast<CAsioSample*>(self)->StreamLoop();
    EndThread(module);  // the object may be gone: nothing of it is touched
}

DWORD WINAPI CAsioSample::WatchdogThreadEntry(void* self) {
    static_cast<CAsioSample*>(self)->WatchdogLoop();
    return 0;
}

DWORD WINAPI CAsioSample::NotifyThreadEntry(void* self) {
    HMODULE module = static_cast<CAsioSample*>(self)->m_notifyModule;
    static_cast<CAsioSample*>(self)->NotifyLoop();
    EndThread(module);
}

void CAsioSample::QueueMarkerReport(BYTE value) {
    const LONG n = InterlockedIncrement(&m_markerQueued) - 1;
    InterlockedExchange(&m_markerSlots[n % kMarkerSlots], static_cast<LONG>(value) + 1);
    if (m_notifyThread && !OnNotifyThread()) {
        SetEvent(m_notifyEvents[kNotifyMarker]);
    } else {
        SendMarkerReports();  // no notification thread to hand it to
    }
}

void CAsioSample::SendMarkerReports() {
    while (m_markerSent != m_markerQueued) {
        const LONG slot = InterlockedExchange(&m_markerSlots[m_markerSent % kMarkerSlots], 0);
        if (!slot) {
            Sleep(0);  // claimed but not yet written
            continue;
        }
        SendReport(0xF8, 0x21, 0x35, static_cast<BYTE>(slot - 1));
        ++m_markerSent;
    }
}

void CAsioSample::ArmWatchdog() { m_watchdog.Arm(GetTickCount()); }

void CAsioSample::WatchdogLoop() {
    if (m_watchdog.Wait(m_watchdogQuit, &GetTickCount)) SetEvent(m_controlEvents[kResetRequest]);
    m_watchdog.Disarm();
}

void CAsioSample::NotifyLoop() {
    for (;;) {
        DWORD wait = WaitForMultipleObjects(4, m_notifyEvents, FALSE, INFINITE);
        if (wait == WAIT_OBJECT_0 + kNotifyQuit || wait >= WAIT_OBJECT_0 + 4) {
            SendMarkerReports();  // what was asked before the end still reaches the device
            return;
        }
        if (wait == WAIT_OBJECT_0 + kNotifyMarker) {
            SendMarkerReports();
            continue;
        }
        // Read once: disposeBuffers takes the host's callbacks away.
        auto message = m_callbacks.asioMessage;
        if (wait == WAIT_OBJECT_0 + kNotifyDevice) driverlog::Line("device change notice, state %s", DriverStateWord(m_state));
        if (wait == WAIT_OBJECT_0 + kNotifyDevice && m_state == kDriverRunning && m_resyncAllowed && message) {
            driverlog::Line("to the host: resync request");
            int32_t answer = 1;
            if (!CallOut([&] { answer = message(kAsioResyncRequest, 0, nullptr, nullptr); })) return;
            if (answer == 0) SetEvent(m_controlEvents[kResetRequest]);
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

void CAsioSample::EngineStop() {
    if (m_engineRunning) StepPins(kPinsDown, 3);
    m_watchdog.Disarm();
    m_priority.Leave();
    m_engineRunning = 0;
}

void CAsioSample::EngineStart() {
    std::memset(m_completedRings, 0, sizeof(m_completedRings));
    m_priority.Join();
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
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    // The period of the pins as opened.
    const int64_t frames = m_preparedDsd ? m_bufferSize / 32 : m_bufferSize;
    m_periodTicks = m_preparedRate > 0 ? frequency.QuadPart * frames / m_preparedRate : 0;
    m_switchCount = 0;
    m_sampleCounter = 0;
    WritePosition(0, 0);
    m_periodTime = static_cast<uint64_t>(timeGetTime()) * 1000000;
    InterlockedExchange(&m_hostCallsOutputReady, 0);
    InterlockedExchange(&m_renderWindow, 0);
    m_completionEstimate = 0;
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
    // The lead-in packets play from here.
    for (int64_t& at : m_queuedAt) at = PerformanceTicks();
    m_lastStepEnd = 0;
    m_engineRunning = 1;
    SetEvent(m_ackEvent);
}

bool CAsioSample::PacketCompleted(int direction, int pinSlot, int ring) {
    m_completedRings[direction][pinSlot] |= static_cast<uint8_t>(1u << ring);
    if (!m_engineRunning) {
        m_completedRings[direction][pinSlot] = 0;  // a request the last stop cancelled
        return true;
    }
    // Wait-any reports the lowest index first: ring position 0 may be seen
    // before 7. Periods are served in ring order, each once.
    for (;;) {
        const int next = static_cast<int>(m_switchCount % kPacketsPerPin);
        const uint8_t bit = static_cast<uint8_t>(1u << next);
        bool any = false;
        for (int d : {kRenderDirection, kCaptureDirection}) {
            const RateRecord* record = m_active[d];
            if (!record || !record->openedMask) continue;
            any = true;
            for (int p = 0; p < kMaxPinSlots; ++p) {
                if ((record->openedMask & (1 << p)) && !(m_completedRings[d][p] & bit)) return true;
            }
        }
        if (!any) return true;
        for (auto& pins : m_completedRings) {
            for (uint8_t& rings : pins) rings = static_cast<uint8_t>(rings & ~bit);
        }
        if (m_active[kCaptureDirection] && m_switchCount >= static_cast<uint64_t>(m_packetsAhead)) CaptureCopy(next);
        if (!PeriodStep(next)) return false;
        if (!m_engineRunning || m_leaveLoop) return true;
    }
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
    m_engineRunning = 0;
    m_leaveLoop = false;
    while (!m_leaveLoop) {
        DWORD wait = WaitForMultipleObjects(kWaitHandles, handles, FALSE, INFINITE);
        if (wait >= WAIT_OBJECT_0 + kWaitHandles) break;
        int index = static_cast<int>(wait - WAIT_OBJECT_0);
        if (index == kQuit) {
            m_watchdog.Disarm();
            m_leaveLoop = true;
        } else if (index == kStart) {
            if (!m_engineRunning) EngineStart();
            ArmWatchdog();
        } else if (index == kStop) {
            EngineStop();
            SetEvent(m_ackEvent);
        } else if (index == kResetRequest) {
            ArmWatchdog();
            auto rateChanged = m_callbacks.sampleRateDidChange;
            const auto rate = static_cast<ASIOSampleRate>(m_streamRate);
            const bool changed = InterlockedExchange(&m_rateChanged, 0) != 0;
            if (changed && rateChanged) driverlog::Event("to the host: sampleRateDidChange(%" PRId64 ")", m_streamRate);
            if (changed && rateChanged && !CallOut([&] { rateChanged(rate); })) return;
            auto message = m_callbacks.asioMessage;
            if (message) {
                driverlog::Event(m_engineRunning ? "to the host: reset request (no packet completed for 2 s)"
                                                 : "to the host: reset request");
            }
            if (message && !CallOut([&] { message(kAsioResetRequest, 0, nullptr, nullptr); })) return;
            ServeRequestsFromCallback();
        } else {
            if (m_engineRunning) m_watchdog.Mark(GetTickCount());
            int direction = index < kCaptureBase ? kRenderDirection : kCaptureDirection;
            int offset = index - (direction == kRenderDirection ? kRenderBase : kCaptureBase);
            if (!PacketCompleted(direction, offset / kPacketsPerPin, offset % kPacketsPerPin)) return;
        }
        if (m_leaveLoop) break;
        // A reset the panel asked for reaches the host from here.
        uint32_t reset = 0;
        if (OwnsBlock() && m_block.Read(&StatusBlockLayout::resetRequest, &reset) && reset != 0) {
            m_block.Write(&StatusBlockLayout::resetRequest, 0);
            auto message = m_callbacks.asioMessage;
            if (message) driverlog::Event("to the host: reset request (asked by the control panel)");
            if (message && !CallOut([&] { message(kAsioResetRequest, 0, nullptr, nullptr); })) return;
            ServeRequestsFromCallback();
        }
    }
    if (m_engineRunning) EngineStop();
}
