// The driver object itself: creation and lifetime, its COM identity, the
// device's discovery, init and the helpers they share. The host's other
// requests are in the AsioSample*.cpp beside it, the engine in AsioStreaming.cpp.
#include "AsioSample.h"
#include "DriverLog.h"

#include "BlockOwnership.h"
#include "ClassFactory.h"
#include "DevicePath.h"
#include "DriverSettings.h"
#include "FixedText.h"
#include "ModuleState.h"

#include "device/HidChannel.h"
#include "device/KsConstants.h"
#include "device/KsEnumFilters.h"

#include <mmsystem.h>

#include <initializer_list>
#include <memory>
#include <new>

namespace {

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
    driverlog::Begin();
    LogHost();
    if (SUCCEEDED(m_block.Open()) && m_block.Created()) ReadDriverSettings(m_block, nullptr);
}

CAsioSample::~CAsioSample() {
    driverlog::Line("released, state %s", DriverStateWord(m_state));
    if (m_timerRaised) timeEndPeriod(1);
    AwaitDeferredDispose();
    // On the streaming thread (released inside a callback) nothing waits for
    // it: the dispose below stops the pins there and then.
    if (m_state == kDriverRunning && !OnStreamThread()) {
        stopImpl();
        LogTakeSummary();
    }
    if (m_state == kDriverRunning) SetState(kDriverPrepared);
    if (m_state == kDriverPrepared) DisposeSteps();
    // Whatever an earlier failure left behind, no thread of this object and
    // no buffer or pin outlives it.
    if (m_streamThread || m_watchdogThread || m_active[kRenderDirection] || m_active[kCaptureDirection]) {
        DisposeSteps();
    }
    if (m_streamThread) {
        // This very thread: it ends as soon as the call out returns.
        CloseHandle(m_streamThread);
        m_streamThread = nullptr;
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
    driverlog::End();
}

void CAsioSample::EndNotifyThread() {
    if (!m_notifyThread) return;
    if (OnNotifyThread()) {
        // Released inside its own call out: it ends when that returns.
        SendMarkerReports();
    } else {
        SetEvent(m_notifyEvents[0]);
        WaitForSingleObject(m_notifyThread, INFINITE);
    }
    CloseHandle(m_notifyThread);
    m_notifyThread = nullptr;
}

void CAsioSample::ClearMarkerReport() {
    if (InterlockedExchange(&m_markerReportSent, 0)) QueueMarkerReport(0);
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
    if (state != m_state) driverlog::Line("state %s -> %s", DriverStateWord(m_state), DriverStateWord(state));
    m_state = state;
    Publish(&StatusBlockLayout::driverState, static_cast<uint32_t>(state));
}

void CAsioSample::SendReport(BYTE command, BYTE commandClass, BYTE value1, BYTE value2) {
    SendHidReport(m_vendorId, m_productId, command, commandClass, value1, value2);
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
    for (HANDLE& event : m_notifyEvents) {
        if (!event) event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (!event) return false;
    }
    return m_watchdogQuit && CreatePacketEvents(m_records[0]) && CreatePacketEvents(m_records[1]);
}

void CAsioSample::CloseEvents() {
    auto close = [](HANDLE& handle) {
        if (handle) CloseHandle(handle);
        handle = nullptr;
    };
    for (HANDLE& event : m_controlEvents) close(event);
    for (HANDLE& event : m_notifyEvents) close(event);
    close(m_watchdogQuit);
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
    if (!found) {
        driverlog::Line("no supported device found");
        return E_FAIL;
    }
    LogDevice();

    timeBeginPeriod(1);
    m_timerRaised = true;
    if (m_block.SetDeviceName(m_identity, m_deviceName)) m_block.MarkChanged();
    return S_OK;
}

// ---------------------------------------------------------------- init

ASIOBool CAsioSample::initImpl(void*) {
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
    if (!StartNotifyThread()) return ASIOFalse;
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

void CAsioSample::getDriverNameImpl(char* name) {
    if (name) CopyText(name, 32, m_deviceName);
}

int32_t CAsioSample::getDriverVersionImpl() { return kDriverVersion; }

void CAsioSample::getErrorMessageImpl(char* string) {
    if (string) string[0] = '\0';
}
