// The driver object: one per host that opens the driver. It finds the
// device, answers the host's IASIO questions, allocates the host's buffers
// and the stream packets, hands the running stream to its streaming engine
// and publishes its state in the shared status block. Its members are
// defined in AsioSample.cpp and the AsioSample*.cpp named for what they do.
#pragma once

#include "AsioInterface.h"
#include "RateRecord.h"
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
    void StopEngine();
    void AskHostCapabilities();
    static DWORD WINAPI StreamThreadEntry(void* self);
    static DWORD WINAPI WatchdogThreadEntry(void* self);
    static DWORD WINAPI NotifyThreadEntry(void* self);
    void StreamLoop();
    void WatchdogLoop();
    void NotifyLoop();
    void EngineStart(int32_t& engineState, uint32_t (&completion)[2][2], uint32_t (&directions)[2]);
    void StepPins(const KSSTATE* steps, int count);
    void PeriodStep(int parity);
    void BufferSwitch(int parity);
    void CaptureCopy(int ring);
    void RenderCopy();
    // What the render copy's DSD-over-PCM marker scan found in one channel.
    void MarkerTest(bool ok);
    void ArmWatchdog();
    // A period that came later than the packets queued ahead could cover:
    // reported to a host that takes overload reports.
    void CheckDropout();
    // Queues one packet with the device and remembers whether the device took it.
    static void QueuePacket(PinSlot& slot, StreamPacket& packet, bool capture);
    // The buffers made hold samples of another width or format than the rate now asks for.
    bool PreparedFormatStale() const;

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
    HANDLE m_watchdogTimer = nullptr;
    HANDLE m_streamThread = nullptr;
    HANDLE m_watchdogThread = nullptr;
    HANDLE m_notifyEvents[4] = {};
    HANDLE m_notifyThread = nullptr;
    HANDLE m_ackEvent = nullptr;
    uint64_t m_samplePosition = 0;
    uint64_t m_systemTime = 0;
    uint64_t m_sampleCounter = 0;
    uint64_t m_periodTime = 0;
    uint64_t m_switchCount = 0;
    int32_t m_capabilities[kCapabilityCount] = {};
    int32_t m_hostCapabilities[kHostCapabilityCount] = {};
    int32_t m_hostOverload = 0;    // the host takes kAsioOverload
    int32_t m_preparedBytes = 0;   // bytes per host sample of the buffers made (DSD: 4)
    bool m_preparedDsd = false;    // the buffers made carry DSD
    int64_t m_periodTicks = 0;     // one period in performance-counter ticks
    int64_t m_lastPeriodTicks = 0; // counter at the previous period step; 0 before the first
    int32_t m_timeCodeRead = 0;
    int32_t m_resyncAllowed = 0;
    int32_t m_ioFormat = 0;
    CStatusBlock m_block;
    uint16_t m_vendorId = 0;
    uint16_t m_productId = 0;
    volatile LONG m_markerReportSent = 0;
    bool m_timerRaised = false;
    ASIOTime m_time = {};
};
