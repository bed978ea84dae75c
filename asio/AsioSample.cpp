#include "AsioSample.h"

#include "BlockOwnership.h"
#include "ClassFactory.h"
#include "DevicePath.h"
#include "DriverSettings.h"
#include "ModuleState.h"

#include "device/AsioSettingsKey.h"
#include "device/HidChannel.h"
#include "device/KsConstants.h"
#include "device/KsEnumFilters.h"
#include "device/RegKey.h"

#include <mmsystem.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>

namespace {

constexpr int32_t kDsdHostRates[3] = {kDsd64Rate, kDsd128Rate, kDsd256Rate};
constexpr int32_t kDsdFrameRates[3] = {kDsd64FrameRate, kDsd128FrameRate, kDsd256FrameRate};

void CopyText(char* to, size_t size, const char* from) {
    if (!size) return;
    size_t n = 0;
    for (; from && from[n] && n + 1 < size; ++n) to[n] = from[n];
    to[n] = '\0';
}

bool WidthValid(int32_t width, uint8_t mask) {
    return (width == 16 || width == 24 || width == 32) && (mask & (1u << (width / 8 - 1)));
}

int32_t LargestWidth(uint8_t mask) {
    return (mask & kWidthFlag32) ? 32 : (mask & kWidthFlag24) ? 24 : (mask & kWidthFlag16) ? 16 : 0;
}

}  // namespace

HRESULT CreateDriverObject(IUnknown* outer, REFCLSID clsid, REFIID iid, void** object) {
    // An aggregated object must hand out its own unknown first: any other
    // interface would leave the outer object holding a freed one.
    if (outer && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    auto* driver = new CAsioSample(outer);
    if (!driver) return E_FAIL;
    driver->NonDelegatingAddRef();
    HRESULT hr = E_OUTOFMEMORY;
    try {
        hr = driver->Discover(clsid);
        if (SUCCEEDED(hr)) hr = driver->NonDelegatingQueryInterface(iid, object);
    } catch (...) {
        // Nothing crosses to the host: the object goes and the host gets a result.
        if (*object) static_cast<IUnknown*>(*object)->Release();
        *object = nullptr;
        hr = E_OUTOFMEMORY;
    }
    driver->NonDelegatingRelease();
    return hr;
}

CAsioSample::CAsioSample(IUnknown* outer) : CUnknown(outer) {
    if (SUCCEEDED(m_block.Open()) && m_block.Created()) ReadDriverSettings(m_block, nullptr);
}

CAsioSample::~CAsioSample() {
    if (m_timerRaised) timeEndPeriod(1);
    if (m_state == kDriverRunning) stop();
    if (m_state == kDriverPrepared) disposeBuffers();
    // Whatever an earlier failure left behind, no thread of this object and
    // no buffer or pin outlives it.
    if (m_streamThread || m_watchdogThread || m_active[kRenderDirection] || m_active[kCaptureDirection]) {
        disposeBuffers();
    }
    const bool initialized = m_state == kDriverInitialized;
    EndNotifyThread();
    if (initialized) {
        WriteDriverSettings(m_block, static_cast<uint32_t>(m_streamRate));
        SetState(kDriverLoaded);
    }
    CloseEvents();
    DeleteFilters();
    m_state = kDriverUnload;
    GiveBackBlock(m_block, m_identity);
}

void CAsioSample::EndNotifyThread() {
    if (!m_notifyThread) return;
    SetEvent(m_notifyEvents[0]);
    WaitForSingleObject(m_notifyThread, INFINITE);
    CloseHandle(m_notifyThread);
    m_notifyThread = nullptr;
}

void CAsioSample::ClearMarkerReport() {
    if (InterlockedExchange(&m_markerReportSent, 0)) SendReport(0xF8, 0x21, 0x35, 0x00);
}

// ---------------------------------------------------------------- IUnknown

HRESULT STDMETHODCALLTYPE CAsioSample::QueryInterface(REFIID iid, void** object) {
    return Owner()->QueryInterface(iid, object);
}

ULONG STDMETHODCALLTYPE CAsioSample::AddRef() { return Owner()->AddRef(); }

ULONG STDMETHODCALLTYPE CAsioSample::Release() { return Owner()->Release(); }

HRESULT STDMETHODCALLTYPE CAsioSample::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown)) return CUnknown::NonDelegatingQueryInterface(iid, object);
    if (IsEqualIID(iid, m_clsid)) return Give(static_cast<IASIO*>(this), object);
    *object = nullptr;
    return E_NOINTERFACE;
}

// ---------------------------------------------------------------- helpers

bool CAsioSample::OwnsBlock() const { return m_block.IsOwnedBy(m_identity); }

void CAsioSample::Publish(CStatusBlock::Field field, uint32_t value) {
    if (m_block.WriteOwned(m_identity, field, value)) m_block.MarkChanged();
}

void CAsioSample::SetState(int32_t state) {
    m_state = state;
    Publish(&StatusBlockLayout::driverState, static_cast<uint32_t>(state));
}

int32_t CAsioSample::DsdIndex() const {
    for (int i = 0; i < 3; ++i) {
        if (m_hostRate == kDsdHostRates[i]) return i;
    }
    return -1;
}

bool CAsioSample::IsDsdHostRate() const { return DsdIndex() >= 0; }

void CAsioSample::SendReport(BYTE command, BYTE commandClass, BYTE value1, BYTE value2) {
    SendHidReport(m_vendorId, m_productId, command, commandClass, value1, value2);
}

void CAsioSample::SelectCurrentRecords() {
    for (int d = 0; d < 2; ++d) {
        if (RateRecord* record = RecordOfRate(m_records[d], m_streamRate)) m_current[d] = record;
    }
}

void CAsioSample::DeleteFilters() {
    delete m_renderFilter;
    delete m_captureFilter;
    m_renderFilter = nullptr;
    m_captureFilter = nullptr;
}

HRESULT CAsioSample::OpenFilters() {
    DeleteFilters();
    HRESULT hr = S_OK;
    m_renderFilter = new (std::nothrow) CKsAudRenFilter(m_devicePath, m_deviceName, &hr);
    if (!m_renderFilter || FAILED(hr) || FAILED(m_renderFilter->Instantiate()) ||
        FAILED(m_renderFilter->EnumerateNodes()) || FAILED(m_renderFilter->EnumeratePins())) {
        return E_FAIL;
    }
    if (!m_hasCapture) return S_OK;
    m_captureFilter = new (std::nothrow) CKsAudCapFilter(m_devicePath, m_deviceName, &hr);
    if (!m_captureFilter || FAILED(hr) || FAILED(m_captureFilter->Instantiate()) ||
        FAILED(m_captureFilter->EnumerateNodes()) || FAILED(m_captureFilter->EnumeratePins())) {
        return E_FAIL;
    }
    return S_OK;
}

bool CAsioSample::CreateEvents() {
    for (HANDLE& event : m_controlEvents) {
        if (!event) event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (!event) return false;
    }
    if (!m_watchdogQuit) m_watchdogQuit = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!m_watchdogTimer) m_watchdogTimer = CreateWaitableTimerA(nullptr, FALSE, nullptr);
    for (HANDLE& event : m_notifyEvents) {
        if (!event) event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (!event) return false;
    }
    return m_watchdogQuit && m_watchdogTimer && CreatePacketEvents(m_records[0]) && CreatePacketEvents(m_records[1]);
}

void CAsioSample::CloseEvents() {
    auto close = [](HANDLE& handle) {
        if (handle) CloseHandle(handle);
        handle = nullptr;
    };
    for (HANDLE& event : m_controlEvents) close(event);
    for (HANDLE& event : m_notifyEvents) close(event);
    close(m_watchdogQuit);
    close(m_watchdogTimer);
    close(m_ackEvent);
    ClosePacketEvents(m_records[0]);
    ClosePacketEvents(m_records[1]);
}

// ---------------------------------------------------------------- discovery

HRESULT CAsioSample::Discover(REFCLSID clsid) {
    m_state = kDriverLoaded;
    m_identity = NewOwnerIdentity(clsid);
    if (m_block.IsValid() && ClaimBlock(m_block, m_identity)) {
        m_block.WriteOwned(m_identity, &StatusBlockLayout::driverState, kDriverLoaded);
        m_block.MarkChanged();
    }
    m_clsid = clsid;

    HRESULT hr = S_OK;
    std::unique_ptr<CKsEnumFilters> enumerator(new (std::nothrow) CKsEnumFilters(&hr));
    if (!enumerator) return E_FAIL;
    const GUID classes[2] = {kKsCategoryAudio, kKsCategoryRender};
    bool found = false;
    if (SUCCEEDED(enumerator->EnumFilters(classes, 2))) {
        for (auto* entry = enumerator->Filters().Head(); entry && !found; entry = entry->next) {
            CKsFilter* listed = entry->item;
            CopyText(m_devicePath, sizeof(m_devicePath), listed->SymbolicLink());
            if (!MatchSupportedPath(m_devicePath, &m_vendorId, &m_productId)) continue;
            const char* name = listed->FriendlyName();
            CopyText(m_deviceName, sizeof(m_deviceName), name && *name ? name : kProductName);

            HRESULT renderHr = S_OK, captureHr = S_OK;
            std::unique_ptr<CKsAudRenFilter> render(new (std::nothrow) CKsAudRenFilter(m_devicePath, m_deviceName, &renderHr));
            bool renderOk = render && SUCCEEDED(renderHr) && SUCCEEDED(render->Instantiate()) &&
                            SUCCEEDED(render->EnumeratePins());
            std::unique_ptr<CKsAudCapFilter> capture(new (std::nothrow) CKsAudCapFilter(m_devicePath, m_deviceName, &captureHr));
            bool captureOk = capture && SUCCEEDED(captureHr) && SUCCEEDED(capture->Instantiate()) &&
                             SUCCEEDED(capture->EnumeratePins());
            m_hasCapture = captureOk && capture->CaptureSinkPins().Count() > 0 ? 1 : 0;

            uint8_t mask = 0;
            for (int32_t bits : {16, 24, 32}) {
                WAVEFORMATEX probe = {};
                probe.wFormatTag = WAVE_FORMAT_PCM;
                probe.nChannels = 2;
                probe.wBitsPerSample = static_cast<WORD>(bits);
                bool accepted = renderOk && render->FindViablePin(&probe, kKsFormatCheckBits);
                if (accepted && m_hasCapture) accepted = capture->FindViablePin(&probe, kKsFormatCheckBits) != nullptr;
                if (accepted) mask |= static_cast<uint8_t>(1u << (bits / 8 - 1));
            }
            m_widthMask = mask;
            found = mask != 0;
        }
    }
    enumerator.reset();
    if (!found) return E_FAIL;

    timeBeginPeriod(1);
    m_timerRaised = true;
    if (m_block.SetDeviceName(m_identity, m_deviceName)) m_block.MarkChanged();
    return S_OK;
}

// ---------------------------------------------------------------- IASIO

ASIOBool CAsioSample::init(void*) {
    if (m_state >= static_cast<int32_t>(kDriverInitialized)) return ASIOTrue;  // a second init changes nothing
    if (m_notifyThread) return ASIOFalse;  // an earlier init failed half-way; the object is spent
    try {
        return InitSteps();
    } catch (...) {
        return ASIOFalse;  // out of memory in the device library; undone at release
    }
}

ASIOBool CAsioSample::InitSteps() {
    if (FAILED(OpenFilters())) return ASIOFalse;
    if (!CreateEvents()) return ASIOFalse;

    m_minimumIndex = 0;
    uint32_t rate = 0;
    if (ReadDriverSettings(m_block, &rate) == S_OK) m_streamRate = static_cast<int32_t>(rate);
    if (OwnsBlock()) {
        m_bufferTime = static_cast<uint64_t>(m_block.ReadOr(&StatusBlockLayout::bufferSize, 0)) * 1000;
        m_configuredWidth = m_sampleWidth = static_cast<int32_t>(m_block.ReadOr(&StatusBlockLayout::bitsPerSample, 0));
    }
    if (!WidthValid(m_configuredWidth, m_widthMask)) m_configuredWidth = 0;
    if (m_configuredWidth == 0 || m_sampleWidth == 0) m_configuredWidth = m_sampleWidth = LargestWidth(m_widthMask);

    BuildRateRecords(m_records[kRenderDirection], m_renderFilter, kRenderDirection, m_sampleWidth);
    BuildRateRecords(m_records[kCaptureDirection], m_captureFilter, kCaptureDirection, m_sampleWidth);
    if (m_bufferTime == 0) m_bufferTime = kDefaultBufferTime;
    // A stored length outside the table would announce sizes the driver refuses.
    const uint64_t shortest = static_cast<uint64_t>(kBufferLengthsMs[0]) * 10000;
    const uint64_t longest = static_cast<uint64_t>(kBufferLengthsMs[kBufferLengthCount - 1]) * 10000;
    if (m_bufferTime < shortest) m_bufferTime = shortest;
    if (m_bufferTime > longest) m_bufferTime = longest;
    m_packetsAhead = kPacketsAhead;

    // The stream rate must run in both directions; else the lowest rate that does.
    auto common = [this](int32_t r) {
        RateRecord* render = RecordOfRate(m_records[kRenderDirection], r);
        RateRecord* capture = RecordOfRate(m_records[kCaptureDirection], r);
        return render && render->valid && capture && capture->valid;
    };
    if (!common(m_streamRate)) {
        m_streamRate = 0;
        for (const RateRecord& record : m_records[kRenderDirection]) {
            if (common(record.rate)) {
                m_streamRate = record.rate;
                break;
            }
        }
    }
    if (OwnsBlock()) {
        m_block.WriteOwned(m_identity, &StatusBlockLayout::period, static_cast<uint32_t>(m_bufferTime / 1000));
        m_block.Write(&StatusBlockLayout::streamRate, static_cast<uint32_t>(m_streamRate));
        m_block.WriteOwned(m_identity, &StatusBlockLayout::streamWidth, static_cast<uint32_t>(m_sampleWidth));
        m_block.MarkChanged();
    }
    SelectCurrentRecords();

    m_capabilities[kCanTimeInfo] = 1;
    m_capabilities[kCanDoIoFormat] = 1;
    m_resyncAllowed = 1;
    m_ioFormat = kASIOPCMFormat;

    // The acknowledge event first: nothing may fail once the thread runs.
    if (!m_ackEvent) m_ackEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!m_ackEvent) return ASIOFalse;
    m_notifyThread = CreateThread(nullptr, 0, NotifyThreadEntry, this, 0, nullptr);
    if (!m_notifyThread) return ASIOFalse;
    SetState(kDriverInitialized);
    if (OwnsBlock()) {
        uint32_t rates = 0;
        for (size_t i = 0; i < kRateCount; ++i) {
            if (common(static_cast<int32_t>(kRateTable[i]))) rates |= 1u << i;
        }
        m_block.WriteOwned(m_identity, &StatusBlockLayout::supporBitsPerSample, m_widthMask & 0xFu);
        m_block.WriteOwned(m_identity, &StatusBlockLayout::supportSampleRate, rates);
        m_block.MarkChanged();
    }
    return ASIOTrue;
}

void CAsioSample::getDriverName(char* name) {
    if (name) CopyText(name, 32, m_deviceName);
}

int32_t CAsioSample::getDriverVersion() { return kDriverVersion; }

void CAsioSample::getErrorMessage(char* string) {
    if (string) string[0] = '\0';
}

ASIOError CAsioSample::start() {
    ASIOError error = getChannels(nullptr, nullptr);
    if (error != ASE_OK) return error;
    if (m_state != kDriverPrepared) return ASE_OK;
    // Buffers made for another sample width or format would stream wrong data:
    // the host disposes and creates them again first (as the reset request asked).
    if (PreparedFormatStale()) return ASE_InvalidMode;
    SetState(kDriverRunning);
    SetEvent(m_controlEvents[1]);
    // Waits for the engine; an engine thread that ended cannot answer.
    HANDLE waits[2] = {m_ackEvent, m_streamThread};
    WaitForMultipleObjects(m_streamThread ? 2 : 1, waits, FALSE, INFINITE);
    return ASE_OK;
}

bool CAsioSample::PreparedFormatStale() const {
    const bool dsd = IsDsdHostRate();
    return dsd != m_preparedDsd || (!dsd && m_sampleWidth / 8 != m_preparedBytes);
}

ASIOError CAsioSample::stop() {
    ASIOError error = getChannels(nullptr, nullptr);
    if (error == ASE_OK && m_state == kDriverRunning) {
        SetEvent(m_controlEvents[2]);
        HANDLE waits[2] = {m_ackEvent, m_streamThread};
        WaitForMultipleObjects(m_streamThread ? 2 : 1, waits, FALSE, INFINITE);
    }
    ClearMarkerReport();
    if (m_state == kDriverPrepared || m_state == kDriverRunning) SetState(kDriverPrepared);
    return error;
}

ASIOError CAsioSample::getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) {
    int32_t inputs = m_current[kCaptureDirection] ? m_current[kCaptureDirection]->channelCount : 0;
    int32_t outputs = m_current[kRenderDirection] ? m_current[kRenderDirection]->channelCount : 0;
    if (numInputChannels) *numInputChannels = inputs;
    if (numOutputChannels) *numOutputChannels = outputs;
    return inputs || outputs ? ASE_OK : ASE_NotPresent;
}

ASIOError CAsioSample::getLatencies(int32_t* inputLatency, int32_t* outputLatency) {
    ASIOError error = getChannels(nullptr, nullptr);
    if (error != ASE_OK) return error;
    int32_t input, output;
    if (m_state == kDriverPrepared) {
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

ASIOError CAsioSample::getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                     int32_t* granularity) {
    ASIOError error = getChannels(nullptr, nullptr);
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

ASIOError CAsioSample::canSampleRate(ASIOSampleRate sampleRate) {
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

ASIOError CAsioSample::getSampleRate(ASIOSampleRate* sampleRate) {
    ASIOError error = getChannels(nullptr, nullptr);
    if (!sampleRate) return error;
    if (m_streamRate == 0) {
        *sampleRate = 0.0;
        return ASE_NoClock;
    }
    *sampleRate = IsDsdHostRate() ? m_hostRate : m_streamRate;
    return ASE_OK;
}

ASIOError CAsioSample::setSampleRate(ASIOSampleRate sampleRate) {
    ASIOError error = canSampleRate(sampleRate);
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
        m_streamRate = wanted;
        Publish(&StatusBlockLayout::streamRate, static_cast<uint32_t>(wanted));
        SelectCurrentRecords();
        // Only a host with buffers has callbacks to hear it; without buffers the
        // next createBuffers opens the pins at the new rate.
        if (m_state == kDriverPrepared || m_state == kDriverRunning) {
            if (m_callbacks.sampleRateDidChange) m_callbacks.sampleRateDidChange(static_cast<ASIOSampleRate>(wanted));
            if (m_callbacks.asioMessage) m_callbacks.asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
            InterlockedExchange(&m_rateChanged, 1);
        }
    }
    return ASE_OK;
}

ASIOError CAsioSample::getClockSources(ASIOClockSource* clocks, int32_t* numSources) {
    ASIOError error = getChannels(nullptr, nullptr);
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

ASIOError CAsioSample::setClockSource(int32_t reference) {
    ASIOError error = getChannels(nullptr, nullptr);
    if (error != ASE_OK) return error;
    return reference > 1 ? ASE_NotPresent : ASE_OK;
}

ASIOError CAsioSample::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) {
    if (getChannels(nullptr, nullptr) != ASE_OK) return ASE_NotPresent;
    uint64_t position = m_samplePosition;
    uint64_t time = m_systemTime;
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

ASIOError CAsioSample::getChannelInfo(ASIOChannelInfo* info) {
    if (!info) return ASE_InvalidParameter;
    int32_t inputs = 0, outputs = 0;
    ASIOError error = getChannels(&inputs, &outputs);
    if (error != ASE_OK) return error;
    bool input = info->isInput != ASIOFalse;
    if (info->channel < 0 || info->channel >= (input ? inputs : outputs)) return ASE_InvalidParameter;
    RateRecord* record = m_current[input ? kCaptureDirection : kRenderDirection];
    ChannelSlot* slot = ChannelOf(record, info->channel);
    if (!slot) return ASE_NotPresent;
    info->isActive = slot->active && slot->pinSlot->opened ? ASIOTrue : ASIOFalse;
    info->channelGroup = static_cast<int32_t>(slot->pinSlot->pin->PinId());
    if (IsDsdHostRate()) {
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

ASIOError CAsioSample::createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                                     ASIOCallbacks* callbacks) {
    // Buffers already made stay until disposeBuffers.
    if (m_state == kDriverPrepared || m_state == kDriverRunning) return ASE_InvalidMode;
    try {
        return CreateBuffersSteps(bufferInfos, numChannels, bufferSize, callbacks);
    } catch (...) {
        disposeBuffers();
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
    if (getBufferSize(&minimum, &maximum, nullptr, nullptr) != ASE_OK ||
        bufferSize < minimum || bufferSize > maximum) {
        return false;
    }
    // Every channel named must be one the device has in that direction.
    int32_t inputs = 0, outputs = 0;
    getChannels(&inputs, &outputs);
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
    ASIOError error = getChannels(&inputs, &outputs);
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
        if (!StartEngine()) error = ASE_NoMemory;
    }
    if (error != ASE_OK) {
        disposeBuffers();
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

ASIOError CAsioSample::disposeBuffers() {
    ASIOError error = getChannels(nullptr, nullptr);
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

ASIOError CAsioSample::controlPanel() {
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

ASIOError CAsioSample::future(int32_t selector, void* opt) {
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
    default: return ASE_InvalidParameter;
    }
}

ASIOError CAsioSample::outputReady() {
    if (m_state == kDriverRunning) RenderCopy();
    return ASE_OK;
}
