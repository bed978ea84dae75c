// The driver object: one per host that opens the driver. It finds the
// device, answers the host's IASIO questions, allocates the host's buffers
// and the stream packets, hands the running stream to its streaming engine
// and publishes its state in the shared status block. Its members are
// defined in AsioSample.cpp and the AsioSample*.cpp named for what they do.
//
// Calls back from the host. Every call out to the host (buffer switches,
// asioMessage, sampleRateDidChange) holds a reference to the object, so a
// host may stop, dispose and release the driver from inside any of them:
// - stop() inside a buffer switch or an asioMessage of the streaming thread
//   returns at once; the stream stops when the callback returns, with no
//   further callback.
// - disposeBuffers() on the streaming thread returns ASE_OK at once and the
//   state is INITIALIZED; the buffers are released when the callback returns,
//   and the host must not touch them after the call. A createBuffers or start
//   in that same callback is refused with ASE_InvalidMode; calls from the
//   host's own threads wait until the release is done.
// - A Release() there that drops the last reference destroys the object when
//   the callback returns, on the thread that called out.
// - setSampleRate() while buffers exist tells the host; a host that disposes
//   or releases inside those calls is safe too.
#pragma once

#include "AsioInterface.h"
#include "DropoutCounts.h"
#include "RateRecord.h"
#include "StreamPriority.h"
#include "StreamWatchdog.h"
#include "Unknown.h"

#include "device/KsAudFilter.h"
#include "device/PanelWindow.h"
#include "device/SharedTypes.h"
#include "device/StatusBlock.h"

#include <cstdint>

constexpr char kProductName[] = "VelmorR5R6";
constexpr int32_t kDriverVersion = 2;
constexpr int32_t kPacketsAhead = 2;
constexpr uint64_t kDefaultBufferTime = 100000;  // 10 ms in 100-ns units
constexpr int32_t kDsdBitsPerFrame = 32;         // one-bit samples per 32-bit slot

class CAsioSample : public IASIO, public CUnknown {
public:
    explicit CAsioSample(IUnknown* outer);
    ~CAsioSample() override;

    // Finds the device; S_OK or E_FAIL. Run once, right after construction.
    HRESULT Discover(REFCLSID clsid);

    // IUnknown: forwarded to the owner unknown.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) override;

    ASIOBool ASIOMETHODCALLTYPE init(void* sysHandle) override;
    void ASIOMETHODCALLTYPE getDriverName(char* name) override;
    int32_t ASIOMETHODCALLTYPE getDriverVersion() override;
    void ASIOMETHODCALLTYPE getErrorMessage(char* string) override;
    ASIOError ASIOMETHODCALLTYPE start() override;
    ASIOError ASIOMETHODCALLTYPE stop() override;
    ASIOError ASIOMETHODCALLTYPE getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) override;
    ASIOError ASIOMETHODCALLTYPE getLatencies(int32_t* inputLatency, int32_t* outputLatency) override;
    ASIOError ASIOMETHODCALLTYPE getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize, int32_t* granularity) override;
    ASIOError ASIOMETHODCALLTYPE canSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError ASIOMETHODCALLTYPE getSampleRate(ASIOSampleRate* sampleRate) override;
    ASIOError ASIOMETHODCALLTYPE setSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError ASIOMETHODCALLTYPE getClockSources(ASIOClockSource* clocks, int32_t* numSources) override;
    ASIOError ASIOMETHODCALLTYPE setClockSource(int32_t reference) override;
    ASIOError ASIOMETHODCALLTYPE getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) override;
    ASIOError ASIOMETHODCALLTYPE getChannelInfo(ASIOChannelInfo* info) override;
    ASIOError ASIOMETHODCALLTYPE createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                            ASIOCallbacks* callbacks) override;
    ASIOError ASIOMETHODCALLTYPE disposeBuffers() override;
    ASIOError ASIOMETHODCALLTYPE controlPanel() override;
    ASIOError ASIOMETHODCALLTYPE future(int32_t selector, void* opt) override;
    ASIOError ASIOMETHODCALLTYPE outputReady() override;

    using CUnknown::operator new;
    using CUnknown::operator delete;

    // For tests and tools in the same process.
    const CStatusBlock& Block() const { return m_block; }
    int32_t State() const { return m_state; }
    uint8_t WidthMask() const { return m_widthMask; }
    int32_t StreamRate() const { return m_streamRate; }
    int32_t SampleWidth() const { return m_sampleWidth; }
    RateRecord* CurrentRecord(int direction) const { return m_current[direction]; }
    const GUID& OwnerIdentity() const { return m_identity; }

private:
    enum Capability { kCanInputMonitor, kCanTimeInfo, kCanTimeCode, kCanTransport, kCanInputGain,
                      kCanInputMeter, kCanOutputGain, kCanOutputMeter, kCanDoIoFormat, kCapabilityCount };
    enum HostCapability { kHostTimeInfo, kHostTimeCode, kHostInputMonitor, kHostInputGain, kHostInputMeter,
                          kHostOutputGain, kHostOutputMeter, kHostCapabilityCount };

    // The IASIO calls themselves; the public ones above log them (AsioSampleLog.cpp).
    ASIOBool initImpl(void* sysHandle);
    void getDriverNameImpl(char* name);
    int32_t getDriverVersionImpl();
    void getErrorMessageImpl(char* string);
    ASIOError startImpl();
    ASIOError stopImpl();
    ASIOError getChannelsImpl(int32_t* numInputChannels, int32_t* numOutputChannels);
    ASIOError getLatenciesImpl(int32_t* inputLatency, int32_t* outputLatency);
    ASIOError getBufferSizeImpl(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize, int32_t* granularity);
    ASIOError canSampleRateImpl(ASIOSampleRate sampleRate);
    ASIOError getSampleRateImpl(ASIOSampleRate* sampleRate);
    ASIOError setSampleRateImpl(ASIOSampleRate sampleRate);
    ASIOError getClockSourcesImpl(ASIOClockSource* clocks, int32_t* numSources);
    ASIOError setClockSourceImpl(int32_t reference);
    ASIOError getChannelInfoImpl(ASIOChannelInfo* info);
    ASIOError createBuffersImpl(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                                ASIOCallbacks* callbacks);
    ASIOError disposeBuffersImpl();
    ASIOError controlPanelImpl();
    ASIOError futureImpl(int32_t selector, void* opt);
    // The support log's lines about the host, the device found and a take's end.
    void LogHost();
    void LogDevice();
    void LogTakeSummary();

    bool OwnsBlock() const;
    void Publish(CStatusBlock::Field field, uint32_t value);  // owner only, then changed
    void SetState(int32_t state);
    bool IsDsdHostRate() const;
    int32_t DsdIndex() const;  // 0, 1, 2 for DSD64/128/256 host rates; -1 for PCM
    void SendReport(BYTE command, BYTE commandClass, BYTE value1, BYTE value2);
    void SelectCurrentRecords();
    HRESULT OpenFilters();
    ASIOBool InitSteps();
    ASIOError CreateBuffersSteps(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                                 ASIOCallbacks* callbacks);
    // A request the driver can serve: state, callbacks, sizes and every channel named.
    bool BuffersRequestValid(const ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                             const ASIOCallbacks* callbacks);
    // Every host buffer made lies on an opened pin.
    bool EveryBufferServed(const ASIOBufferInfo* bufferInfos, int32_t numChannels) const;
    void EndNotifyThread();
    void ClearMarkerReport();
    void DeleteFilters();
    bool CreateEvents();
    void CloseEvents();

    // Streaming engine (AsioStreaming.cpp).
    bool StartEngine();
    bool StartNotifyThread();
    void StopEngine();
    void AskHostCapabilities();
    static DWORD WINAPI StreamThreadEntry(void* self);
    static DWORD WINAPI WatchdogThreadEntry(void* self);
    static DWORD WINAPI NotifyThreadEntry(void* self);
    void StreamLoop();
    void WatchdogLoop();
    void NotifyLoop();
    void EngineStart();
    void EngineStop();
    void StepPins(const KSSTATE* steps, int count);
    // One packet event: serves every period whose packets all completed, in
    // ring order. False when the object is gone (released inside a callback).
    bool PacketCompleted(int direction, int pinSlot, int ring);
    bool PeriodStep(int ring);
    bool BufferSwitch(int parity);
    void CaptureCopy(int ring);
    void RenderCopy(int ring, int half);
    // The packet the current switch fills: taken from the half when the host
    // does not use outputReady, silence when it missed it this period.
    void CloseRenderWindow(int ring, int half);
    // What the render copy's DSD-over-PCM marker scan found in one channel.
    void MarkerTest(bool ok);
    void ArmWatchdog();
    // After the packets of a period were queued: whether the device had run
    // dry (the packet before finished first) and why; told to a host that
    // takes overload reports. False when the object is gone.
    bool CheckDropout(int ring, bool queueFailed, int64_t woke, int64_t callbackTicks);
    // Queues one packet with the device; false when the device refused it.
    static bool QueuePacket(PinSlot& slot, StreamPacket& packet, bool capture);
    // The buffers made hold samples of another rate, width or format than the rate now asks for.
    bool PreparedFormatStale() const;
    // Calls the host with a reference held; false when the host released the
    // last one inside and the object is gone (the caller then touches nothing).
    template <typename Call>
    bool CallOut(Call call) {
        NonDelegatingAddRef();
        call();
        return NonDelegatingRelease() != 0;
    }
    bool OnStreamThread() const { return m_streamThreadId != 0 && GetCurrentThreadId() == m_streamThreadId; }
    bool OnNotifyThread() const { return m_notifyThreadId != 0 && GetCurrentThreadId() == m_notifyThreadId; }
    // A disposeBuffers made inside a callback: finished on the streaming thread;
    // the host's other threads wait for it here.
    void AwaitDeferredDispose();
    ASIOError DisposeSteps();
    // After a call out on the streaming thread: a stop or a dispose the host made inside.
    void ServeRequestsFromCallback();
    void WritePosition(uint64_t position, uint64_t time);
    static int64_t PerformanceTicks() {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return now.QuadPart;
    }
    // Marker reports go to the device from the notification thread, in the
    // order asked: a synchronous device write has no place in a period.
    void QueueMarkerReport(BYTE value);
    void SendMarkerReports();

    CLSID m_clsid = {};
    GUID m_identity = {};  // this object's own, as owner of the block
    uint8_t m_widthMask = 0;
    char m_devicePath[260] = {};
    char m_deviceName[260] = {};
    int32_t m_state = kDriverUnload;
    CKsAudRenFilter* m_renderFilter = nullptr;
    CKsAudCapFilter* m_captureFilter = nullptr;
    int32_t m_hasCapture = 0;
    int32_t m_sampleWidth = 0;
    int32_t m_streamRate = 0;
    int32_t m_hostRate = 0;
    int32_t m_configuredWidth = 0;
    uint64_t m_bufferTime = kDefaultBufferTime;
    int32_t m_bufferSize = 0;
    volatile LONG m_rateChanged = 0;
    int32_t m_minimumIndex = 0;
    int32_t m_packetsAhead = kPacketsAhead;
    RateRecord m_records[2][kRateCount] = {};
    RateRecord* m_current[2] = {};
    RateRecord* m_active[2] = {};
    ASIOCallbacks m_callbacks = {};
    HANDLE m_controlEvents[4] = {};  // quit, start, stop, reset request
    HANDLE m_watchdogQuit = nullptr;
    HANDLE m_streamThread = nullptr;
    DWORD m_streamThreadId = 0;
    HANDLE m_watchdogThread = nullptr;
    StreamWatchdog m_watchdog;
    StreamPriority m_priority;  // streaming thread only
    HANDLE m_notifyEvents[4] = {};
    HANDLE m_notifyThread = nullptr;
    DWORD m_notifyThreadId = 0;
    HMODULE m_streamModule = nullptr;      // the module references the two threads end with
    HMODULE m_notifyModule = nullptr;
    volatile LONG m_stopRequested = 0;     // stop() inside a callback of the streaming thread
    volatile LONG m_disposeRequested = 0;  // disposeBuffers() there; cleared once done
    bool m_leaveLoop = false;              // the streaming thread ends after this wake-up
    HANDLE m_ackEvent = nullptr;
    uint64_t m_samplePosition = 0;
    uint64_t m_systemTime = 0;
    volatile LONG m_positionSequence = 0;  // odd while the two above are written
    uint64_t m_sampleCounter = 0;
    uint64_t m_periodTime = 0;
    uint64_t m_switchCount = 0;
    int32_t m_capabilities[kCapabilityCount] = {};
    int32_t m_hostCapabilities[kHostCapabilityCount] = {};
    int32_t m_hostOverload = 0;    // the host takes kAsioOverload
    int32_t m_preparedBytes = 0;   // bytes per host sample of the buffers made (DSD: 4)
    bool m_preparedDsd = false;    // the buffers made carry DSD
    int32_t m_preparedRate = 0;    // the rate the pins were opened at
    int32_t m_preparedHostRate = 0;
    int64_t m_periodTicks = 0;     // one period in performance-counter ticks
    // Engine-local (streaming thread only).
    int32_t m_engineRunning = 0;
    uint8_t m_completedRings[2][kMaxPinSlots] = {};  // bit per ring position
    int64_t m_queuedAt[kPacketsPerPin] = {};         // when each ring position's packets went to the device
    int64_t m_completionEstimate = 0;                // when the period just served ended on the device
    int64_t m_lastStepEnd = 0;
    DropoutCounts m_dropouts = {};
    // For the log's summary of a take: what the take began with, and its extremes.
    DropoutCounts m_takeDropouts = {};
    int64_t m_longestCallback = 0;                   // ticks
    int64_t m_latestWake = 0;                        // ticks past when the device finished the period
    volatile LONG m_positionCalls = 0;               // per-period calls, counted rather than logged
    volatile LONG m_outputReadyCalls = 0;
    // The render packet of the switch under way: open, being copied by outputReady, done, closed.
    volatile LONG m_renderWindow = 0;
    int32_t m_windowRing = 0;
    int32_t m_windowHalf = 0;
    volatile LONG m_hostCallsOutputReady = 0;        // in this take
    int32_t m_timeCodeRead = 0;
    int32_t m_resyncAllowed = 0;
    int32_t m_ioFormat = 0;
    CStatusBlock m_block;
    uint16_t m_vendorId = 0;
    uint16_t m_productId = 0;
    volatile LONG m_markerReportSent = 0;
    static constexpr int kMarkerSlots = 16;
    volatile LONG m_markerQueued = 0;               // reports asked for
    volatile LONG m_markerSlots[kMarkerSlots] = {}; // value + 1, 0 while not yet written
    LONG m_markerSent = 0;                          // notification thread only
    bool m_timerRaised = false;
    ASIOTime m_time = {};
};
