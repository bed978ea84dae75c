#include "KsAudPin.h"

#include "KsConstants.h"
#include "KsTrace.h"

#include <cstring>
#include <new>

#ifdef _WIN64
static_assert(kKsPinCreateSize == 154, "the driver's connection request is 154 bytes");
#else
static_assert(kKsPinCreateSize == 146, "the panel's connection request is 146 bytes");
#endif
static_assert(sizeof(KSDATAFORMAT) == 64 && sizeof(WAVEFORMATEX) == 18, "published data format sizes");
static_assert(sizeof(KSDATARANGE_AUDIO) == 88, "published audio data range size");

namespace {

constexpr GUID kNullGuid = {};

bool IsNull(const GUID& guid) { return guid == kNullGuid; }

// A sub-format a wave format can be described by: a wave tag's GUID (PCM
// among them) or the wildcard.
bool IsWaveSubFormat(const GUID& guid) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&guid);
    const BYTE* base = reinterpret_cast<const BYTE*>(&kKsDataFormatSubtypeWaveBase);
    return std::memcmp(bytes + 2, base + 2, sizeof(GUID) - 2) == 0 || guid == kKsDataFormatSubtypePcm ||
           IsNull(guid);
}

}  // namespace

CKsAudPin::CKsAudPin(CKsFilter* pFilter, ULONG pinId, HRESULT* hr) : CKsPin(pFilter, pinId, hr), m_pAudFilter(pFilter) {
    TraceEnter("CKsAudPin::CKsAudPin()");
    if (hr && FAILED(*hr)) {
        TraceLeave("CKsAudPin::CKsAudPin()");
        return;
    }
    HRESULT result = S_OK;
    BYTE* buffer = new (std::nothrow) BYTE[kKsPinCreateSize]();
    if (!buffer) {
        TraceMessage(1, "Failed to allocate m_pksPinCreate");
        result = E_OUTOFMEMORY;
    } else {
        m_pksPinCreate = reinterpret_cast<KSPIN_CONNECT*>(buffer);
        m_cbPinCreateSize = kKsPinCreateSize;
        m_pksPinCreate->Interface.Set = kKsInterfaceSetIdStandard;
        m_pksPinCreate->Interface.Id = kKsInterfaceStandardStreaming;
        m_pksPinCreate->Interface.Flags = 0;
        m_pksPinCreate->Medium.Set = kKsMediumSetIdStandard;
        m_pksPinCreate->Medium.Id = kKsMediumTypeAnyInstance;
        m_pksPinCreate->Medium.Flags = 0;
        m_pksPinCreate->PinId = m_nId;
        m_pksPinCreate->PinToHandle = nullptr;
        m_pksPinCreate->Priority.PriorityClass = kKsPriorityNormal;
        m_pksPinCreate->Priority.PrioritySubClass = 1;

        m_pksDataFormatWfx = reinterpret_cast<KSDATAFORMAT*>(m_pksPinCreate + 1);
        m_pksDataFormatWfx->FormatSize = kKsWaveDataFormatSize;
        m_pksDataFormatWfx->Flags = 0;
        m_pksDataFormatWfx->SampleSize = 0;
        m_pksDataFormatWfx->Reserved = 0;
        m_pksDataFormatWfx->MajorFormat = kKsDataFormatTypeAudio;
        m_pksDataFormatWfx->SubFormat = kKsDataFormatSubtypePcm;
        m_pksDataFormatWfx->Specifier = kKsDataFormatSpecifierWaveFormatEx;
        // The wave format itself stays zero until SetFormat.
        result = Init();
    }
    if (hr) *hr = result;
    TraceLeave("CKsAudPin::CKsAudPin()");
}

CKsAudPin::~CKsAudPin() {
    TraceEnter("CKsAudPin::~CKsAudPin()");
    m_listDataRange.DeleteAll();
    delete[] reinterpret_cast<BYTE*>(m_pwfx);
    m_pwfx = nullptr;
    TraceLeave("CKsAudPin::~CKsAudPin()");
}

HRESULT CKsAudPin::Init() {
    TraceEnter("CKsAudPin::Init()");
    m_listDataRange.DeleteAll();

    bool standardInterface = false;
    for (ULONG i = 0; i < m_cInterfaces && !standardInterface; ++i) {
        standardInterface = m_pInterfaces[i].Set == kKsInterfaceSetIdStandard &&
                            m_pInterfaces[i].Id == kKsInterfaceStandardStreaming;
    }
    if (!standardInterface) {
        TraceMessage(1, "No standard streaming interfaces on the pin");
        return TraceLeave("CKsAudPin::Init", E_FAIL);
    }

    bool standardMedium = false;
    for (ULONG i = 0; i < m_cMediums && !standardMedium; ++i) {
        standardMedium =
            m_pMediums[i].Set == kKsMediumSetIdStandard && m_pMediums[i].Id == kKsMediumTypeAnyInstance;
    }
    if (!standardMedium) {
        TraceMessage(1, "No standard streaming mediums on the pin");
        return TraceLeave("CKsAudPin::Init", E_FAIL);
    }

    // Once one range describes wave data, the ranges after it are taken as
    // they come.
    HRESULT hr = S_OK;
    bool wavePassed = false;
    const BYTE* next = reinterpret_cast<const BYTE*>(m_pDataRanges);
    for (ULONG i = 0; i < m_cDataRanges; ++i) {
        const KSDATARANGE* range = reinterpret_cast<const KSDATARANGE*>(next);
        next += range->FormatSize;  // CKsPin::Init kept only ranges that lie whole in the reply
        if (!wavePassed) {
            if (!IsWaveSubFormat(range->SubFormat)) continue;
            wavePassed = true;
        }
        // A range too short to carry the audio limits has none to save.
        if (range->MajorFormat != kKsDataFormatTypeAudio || range->FormatSize < sizeof(KSDATARANGE_AUDIO)) continue;

        KSDATARANGE_AUDIO* copy = new (std::nothrow) KSDATARANGE_AUDIO;
        if (!copy) {
            TraceMessage(1, "Unable to allocate memory to save datarange in");
            hr = E_OUTOFMEMORY;
            continue;
        }
        std::memcpy(copy, range, sizeof(KSDATARANGE_AUDIO));
        if (FAILED(m_listDataRange.AddTail(copy))) {
            delete copy;
            TraceMessage(1, "Unable to allocate list entry to save datarange in");
            hr = E_OUTOFMEMORY;
        }
    }
    if (!wavePassed) {
        TraceMessage(1, "No audio dataranges on the pin");
        hr = E_FAIL;
    }
    return TraceLeave("CKsAudPin::Init", hr);
}

bool CKsAudPin::IsFormatSupported(const WAVEFORMATEX* pwfx, ULONG flags) const {
    TraceEnter("CKsAudPin::IsFormatSupported()");
    bool supported = false;
    GUID subFormat = kKsDataFormatSubtypeWaveBase;
    if (!pwfx) {
        TraceLeave("CKsAudPin::IsFormatSupported()");
        return false;
    }
    if (pwfx->wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        // Without the extensible part there is no sub-format to match.
        if (pwfx->cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX)) {
            TraceLeave("CKsAudPin::IsFormatSupported()");
            return false;
        }
        subFormat = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(pwfx)->SubFormat;
    } else {
        subFormat.Data1 = pwfx->wFormatTag;
    }

    for (auto* entry = m_listDataRange.Head(); entry && !supported; entry = entry->next) {
        const KSDATARANGE_AUDIO& range = *entry->item;
        const KSDATARANGE& format = range.DataRange;
        if (!IsNull(format.MajorFormat) && format.MajorFormat != kKsDataFormatTypeAudio) continue;
        if (!IsNull(format.SubFormat) && format.SubFormat != subFormat) continue;
        if (!IsNull(format.Specifier) && format.Specifier != kKsDataFormatSpecifierWaveFormatEx) continue;
        if ((flags & kKsFormatCheckChannels) && range.MaximumChannels < pwfx->nChannels) continue;
        if ((flags & kKsFormatCheckBits) &&
            (pwfx->wBitsPerSample < range.MinimumBitsPerSample || pwfx->wBitsPerSample > range.MaximumBitsPerSample)) {
            continue;
        }
        if ((flags & kKsFormatCheckRate) && (pwfx->nSamplesPerSec < range.MinimumSampleFrequency ||
                                             pwfx->nSamplesPerSec > range.MaximumSampleFrequency)) {
            continue;
        }
        supported = true;
    }
    TraceLeave("CKsAudPin::IsFormatSupported()");
    return supported;
}

#ifndef VELMOR_PANEL_BUILD
HRESULT CKsAudPin::SetFormat(const WAVEFORMATEX* pwfx) {
    TraceEnter("CKsAudPin::SetFormat()");
    if (!pwfx || !m_pksDataFormatWfx) {
        TraceMessage(1, "pwfx or m_pksDataFormatWfx are NULL");
        return TraceLeave("CKsAudPin::SetFormat", E_FAIL);
    }
    DWORD formatSize = sizeof(WAVEFORMATEX);
    if (pwfx->wFormatTag != WAVE_FORMAT_PCM) formatSize += pwfx->cbSize;
    DWORD needed = sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT) + formatSize;

    if (needed != m_cbPinCreateSize) {
        BYTE* buffer = new (std::nothrow) BYTE[needed]();
        if (!buffer) {
            TraceMessage(1, "Unable to allocate KSPIN_CONNECT structure");
            return TraceLeave("CKsAudPin::SetFormat", E_OUTOFMEMORY);
        }
        std::memcpy(buffer, m_pksPinCreate, needed < m_cbPinCreateSize ? needed : m_cbPinCreateSize);
        delete[] reinterpret_cast<BYTE*>(m_pksPinCreate);
        m_pksPinCreate = reinterpret_cast<KSPIN_CONNECT*>(buffer);
        m_cbPinCreateSize = needed;
        m_pksDataFormatWfx = reinterpret_cast<KSDATAFORMAT*>(m_pksPinCreate + 1);
    }
    m_pksDataFormatWfx->FormatSize = sizeof(KSDATAFORMAT) + formatSize;
    std::memcpy(m_pksDataFormatWfx + 1, pwfx, formatSize);
    m_pksDataFormatWfx->SampleSize = (static_cast<ULONG>(pwfx->nChannels) * pwfx->wBitsPerSample / 8) & 0xFFFF;

    delete[] reinterpret_cast<BYTE*>(m_pwfx);
    m_pwfx = nullptr;
    BYTE* copy = new (std::nothrow) BYTE[formatSize];
    if (copy) {
        std::memcpy(copy, pwfx, formatSize);
        m_pwfx = reinterpret_cast<WAVEFORMATEX*>(copy);
    }
    return TraceLeave("CKsAudPin::SetFormat", S_OK);
}
#endif

CKsAudRenPin::CKsAudRenPin(CKsFilter* pFilter, ULONG pinId, HRESULT* hr) : CKsAudPin(pFilter, pinId, hr) {
    TraceEnter("CKsAudRenPin::CKsAudRenPin()");
    m_type = kKsPinRender;
    TraceLeave("CKsAudRenPin::CKsAudRenPin()");
}

CKsAudRenPin::~CKsAudRenPin() {
    TraceEnter("CKsAudRenPin::~CKsAudRenPin()");
    TraceLeave("CKsAudRenPin::~CKsAudRenPin()");
}

CKsAudCapPin::CKsAudCapPin(CKsFilter* pFilter, ULONG pinId, HRESULT* hr) : CKsAudPin(pFilter, pinId, hr) {
    TraceEnter("CKsAudCapPin::CKsAudCapPin()");
    m_type = kKsPinCapture;
    TraceLeave("CKsAudCapPin::CKsAudCapPin()");
}

CKsAudCapPin::~CKsAudCapPin() {
    TraceEnter("CKsAudCapPin::~CKsAudCapPin()");
    TraceLeave("CKsAudCapPin::~CKsAudCapPin()");
}
