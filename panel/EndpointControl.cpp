#include "panel/EndpointControl.h"

#include "device/EndpointKeys.h"
#include "device/KsConstants.h"

#include <propidl.h>

#include <cmath>
#include <cwchar>
#include <cwctype>
#include <new>

namespace {

constexpr WCHAR kMatchFormat[] = L"VID_%04X&PID_%04X&MI_%02X";

template <typename T>
void ReleaseAndClear(T*& p) {
    if (p) {
        p->Release();
        p = nullptr;
    }
}

// Copies at most the field's size, always terminated.
void CopyBounded(WCHAR* field, size_t size, const WCHAR* text) {
    if (!text) return;
    size_t i = 0;
    for (; i + 1 < size && text[i]; ++i) field[i] = text[i];
    field[i] = L'\0';
}

void UpperCase(WCHAR* text) {
    for (; *text; ++text) *text = static_cast<WCHAR>(std::towupper(*text));
}

// A string property into a bounded field; unchanged when it cannot be read.
void ReadString(IPropertyStore* store, const PROPERTYKEY& key, WCHAR* field, size_t size) {
    PROPVARIANT value;
    PropVariantInit(&value);
    if (SUCCEEDED(store->GetValue(key, &value)) && value.vt == VT_LPWSTR && value.pwszVal) {
        CopyBounded(field, size, value.pwszVal);
    }
    PropVariantClear(&value);
}

void ReadDword(IPropertyStore* store, const PROPERTYKEY& key, DWORD& field) {
    PROPVARIANT value;
    PropVariantInit(&value);
    if (SUCCEEDED(store->GetValue(key, &value)) && (value.vt == VT_UI4 || value.vt == VT_I4)) field = value.ulVal;
    PropVariantClear(&value);
}

// The device format blob; a plain WAVEFORMATEX leaves the extensible part zero.
HRESULT ReadFormat(IPropertyStore* store, WAVEFORMATEXTENSIBLE& field) {
    PROPVARIANT value;
    PropVariantInit(&value);
    HRESULT hr = store->GetValue(kKeyDeviceFormat, &value);
    if (SUCCEEDED(hr)) {
        if (value.vt == VT_BLOB && value.blob.pBlobData && value.blob.cbSize >= sizeof(WAVEFORMATEX)) {
            ULONG size = value.blob.cbSize < sizeof(field) ? value.blob.cbSize : sizeof(field);
            ZeroMemory(&field, sizeof(field));
            CopyMemory(&field, value.blob.pBlobData, size);
        } else {
            hr = E_FAIL;
        }
    }
    PropVariantClear(&value);
    return hr;
}

HRESULT WriteFormat(IPropertyStore* store, const PROPERTYKEY& key, const WAVEFORMATEXTENSIBLE& format) {
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_BLOB;
    value.blob.cbSize = sizeof(format);
    value.blob.pBlobData = reinterpret_cast<BYTE*>(const_cast<WAVEFORMATEXTENSIBLE*>(&format));
    return store->SetValue(key, value);  // the blob stays ours: no PropVariantClear
}

// Whether the device plays the format: asked as for an exclusive stream,
// since a shared-mode answer compares with the format the endpoint has now.
HRESULT CheckDeviceFormat(IMMDevice* device, const WAVEFORMATEXTENSIBLE& format) {
    IAudioClient* client = nullptr;
    HRESULT hr = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, reinterpret_cast<void**>(&client));
    if (FAILED(hr) || !client) return FAILED(hr) ? hr : E_FAIL;
    hr = client->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &format.Format, nullptr);
    client->Release();
    return hr == S_OK ? S_OK : FAILED(hr) ? hr : AUDCLNT_E_UNSUPPORTED_FORMAT;
}

// The next part of the walk: upstream for render, downstream for capture.
HRESULT NextPart(IPart* part, bool capture, IPart** next) {
    *next = nullptr;
    IPartsList* list = nullptr;
    HRESULT hr = capture ? part->EnumPartsOutgoing(&list) : part->EnumPartsIncoming(&list);
    if (FAILED(hr)) return hr;
    if (!list) return E_FAIL;
    hr = list->GetPart(0, next);
    list->Release();
    if (SUCCEEDED(hr) && !*next) hr = E_FAIL;
    return hr;
}

bool IsConnector(IPart* part) {
    PartType type = Subunit;
    return SUCCEEDED(part->GetPartType(&type)) && type == Connector;
}

// Holds the parts of a walk and releases them at its end.
class PartChain {
public:
    PartChain() = default;
    PartChain(const PartChain&) = delete;
    PartChain& operator=(const PartChain&) = delete;
    ~PartChain() {
        for (UINT i = 0; i < count_; ++i) parts_[i]->Release();
    }
    // A null part (an interface query that succeeded without one) is not kept.
    IPart* Add(IPart* part) {
        if (!part) return nullptr;
        if (count_ < kMaxParts) {
            parts_[count_++] = part;
        } else {
            part->Release();
            part = nullptr;
        }
        return part;
    }

private:
    static constexpr UINT kMaxParts = 8;
    IPart* parts_[kMaxParts] = {};
    UINT count_ = 0;
};

}  // namespace

EndpointControl::EndpointControl(HWND dialog) : dialog_(dialog) {
    ZeroMemory(render_, sizeof(render_));
    ZeroMemory(capture_, sizeof(capture_));
    int code = kWinCodeFallback;
    int is32 = kIs32BitFallback;
    if (FAILED(ClassifyWindowsVersion(&code, &is32))) {
        code = kWinCodeFallback;
        is32 = kIs32BitFallback;
    }
    computedVersionCode_ = versionCode_ = code;
    computedIs32Bit_ = is32Bit_ = is32;
    player_ = new (std::nothrow) Player(dialog);
}

EndpointControl::~EndpointControl() {
    ReleaseEndpoints();
    ReleaseAndClear(player_);
}

void EndpointControl::UseVersion(int versionCode, int is32Bit) {
    versionCode_ = versionCode;
    is32Bit_ = is32Bit;
}

bool EndpointControl::Available() const { return EndpointControlAvailable(versionCode_); }

const EndpointRecord* EndpointControl::RenderEndpoint(UINT index) const {
    return index < renderCount_ ? &render_[index] : nullptr;
}

const EndpointRecord* EndpointControl::CaptureEndpoint(UINT index) const {
    return index < captureCount_ ? &capture_[index] : nullptr;
}

EndpointRecord* EndpointControl::Render() { return renderCount_ ? &render_[0] : nullptr; }

EndpointRecord* EndpointControl::Capture(UINT index) { return index < captureCount_ ? &capture_[index] : nullptr; }

HRESULT EndpointControl::FindEndpoints(WORD vendorId, WORD productId, BYTE interfaceNumber, int* captureFound,
                                       int* renderFound, int* usable) {
    if (!captureFound || !renderFound || !usable) return E_FAIL;
    if (found_) return S_OK;
    *captureFound = *renderFound = *usable = 0;
    if (!Available()) {
        *usable = 1;
        found_ = TRUE;
        return S_OK;
    }
    ReleaseEndpoints();
    vendorId_ = vendorId;
    productId_ = productId;
    WCHAR pattern[kEndpointTextChars];
    swprintf(pattern, kEndpointTextChars, kMatchFormat, vendorId, productId, interfaceNumber);
    UpperCase(pattern);
    if (SUCCEEDED(SearchDirection(eRender, pattern))) *renderFound = 1;
    if (SUCCEEDED(SearchDirection(eCapture, pattern))) *captureFound = 1;
    if (*renderFound) *usable = 1;
    if (!*renderFound && !*captureFound) return E_FAIL;
    found_ = TRUE;
    return S_OK;
}

HRESULT EndpointControl::SearchDirection(EDataFlow flow, const wchar_t* pattern) {
    const bool capture = flow == eCapture;
    EndpointRecord* records = capture ? capture_ : render_;
    UINT& count = capture ? captureCount_ : renderCount_;
    count = 0;
    if (!player_) return E_FAIL;
    HRESULT hr = player_->TakeCollection(flow);
    IMMDeviceCollection* collection = player_->Collection(flow);
    if (FAILED(hr) || !collection) return FAILED(hr) ? hr : E_FAIL;
    UINT total = 0;
    if (FAILED(collection->GetCount(&total))) return E_FAIL;
    for (UINT i = 0; i < total; ++i) {
        IMMDevice* device = nullptr;
        if (FAILED(collection->Item(i, &device)) || !device) continue;
        WCHAR instance[kEndpointTextChars] = L"";
        IPropertyStore* store = nullptr;
        if (SUCCEEDED(device->OpenPropertyStore(STGM_READ, &store)) && store) {
            ReadString(store, kKeyEndpointInstance, instance, kEndpointTextChars);
            store->Release();
        }
        UpperCase(instance);
        // Room for eight per direction; further matches are left out.
        if (!std::wcsstr(instance, pattern) || count >= kMaxEndpointsPerDirection) {
            device->Release();
            continue;
        }
        EndpointRecord& record = records[count];
        ZeroMemory(&record, sizeof(record));
        FillRecord(device, record);
        if (FAILED(WalkTopology(device, capture, record))) {
            ReleaseControls(record);
            ZeroMemory(&record, sizeof(record));
            device->Release();
            continue;
        }
        ReadLevels(record);
        if (capture ? IsEqualGUID(record.connectorSubtype, kKsNodeTypeLineConnector) : count == 0) {
            WatchVolume(device, flow);
        }
        record.index = i;
        ++count;
        device->Release();
    }
    return count ? S_OK : E_FAIL;
}

HRESULT EndpointControl::FillRecord(IMMDevice* device, EndpointRecord& record) {
    LPWSTR id = nullptr;
    if (SUCCEEDED(device->GetId(&id)) && id) CopyBounded(record.id, kEndpointTextChars, id);
    CoTaskMemFree(id);
    IPropertyStore* store = nullptr;
    HRESULT hr = device->OpenPropertyStore(STGM_READ, &store);
    if (FAILED(hr) || !store) {
        CopyBounded(record.friendlyName, kEndpointTextChars, kDeviceNotAvailable);
        CopyBounded(record.description, kEndpointTextChars, kDeviceNotAvailable);
        return FAILED(hr) ? hr : E_FAIL;
    }
    ReadString(store, kKeyDeviceFriendlyName, record.friendlyName, kEndpointTextChars);
    ReadString(store, kKeyDeviceDescription, record.description, kEndpointTextChars);
    ReadDword(store, kKeyPhysicalSpeakers, record.physicalSpeakers);
    ReadDword(store, kKeyFullRangeSpeakers, record.fullRangeSpeakers);
    ReadFormat(store, record.deviceFormat);
    store->Release();
    return S_OK;
}

HRESULT EndpointControl::WalkTopology(IMMDevice* device, bool capture, EndpointRecord& record) {
    IDeviceTopology* topology = nullptr;
    HRESULT hr = device->Activate(__uuidof(IDeviceTopology), CLSCTX_ALL, nullptr,
                                  reinterpret_cast<void**>(&topology));
    if (FAILED(hr) || !topology) return FAILED(hr) ? hr : E_FAIL;
    IConnector* endpointConnector = nullptr;
    hr = topology->GetConnector(0, &endpointConnector);
    topology->Release();
    if (FAILED(hr) || !endpointConnector) return FAILED(hr) ? hr : E_FAIL;
    DataFlow flow = In;
    hr = endpointConnector->GetDataFlow(&flow);
    if (SUCCEEDED(hr) && flow != (capture ? Out : In)) hr = AUDCLNT_E_WRONG_ENDPOINT_TYPE;
    IConnector* adapterConnector = nullptr;
    if (SUCCEEDED(hr)) hr = endpointConnector->GetConnectedTo(&adapterConnector);
    endpointConnector->Release();
    if (FAILED(hr) || !adapterConnector) return FAILED(hr) ? hr : E_FAIL;

    PartChain chain;
    IPart* adapter = nullptr;
    hr = adapterConnector->QueryInterface(__uuidof(IPart), reinterpret_cast<void**>(&adapter));
    adapterConnector->Release();
    if (FAILED(hr) || !chain.Add(adapter)) return FAILED(hr) ? hr : E_FAIL;
    if (capture) adapter->GetSubType(&record.connectorSubtype);

    // parts[1..4]: the subunits behind the adapter's connector, in the walk's order.
    IPart* parts[5] = {adapter, nullptr, nullptr, nullptr, nullptr};
    const bool line = capture && IsEqualGUID(record.connectorSubtype, kKsNodeTypeLineConnector);
    const UINT needed = capture ? (line ? 4 : 3) : 3;
    for (UINT n = 1; n <= needed; ++n) {
        IPart* next = nullptr;
        hr = NextPart(parts[n - 1], capture, &next);
        if (FAILED(hr)) return hr;
        if (!chain.Add(next)) return E_FAIL;
        if (IsConnector(next)) break;  // the stream's pin: the walk is over
        parts[n] = next;
        if (!capture) {
            if (n == 2) next->Activate(CLSCTX_ALL, __uuidof(IAudioVolumeLevel), reinterpret_cast<void**>(&record.level[0]));
            if (n == 3) next->Activate(CLSCTX_ALL, __uuidof(IAudioMute), reinterpret_cast<void**>(&record.mute[0]));
            continue;
        }
        if (n == 2) {
            next->Activate(CLSCTX_ALL, __uuidof(IAudioMute), reinterpret_cast<void**>(&record.mute[0]));
            if (!line) next->GetLocalId(&record.localId);
        } else if (n == 3 && line) {
            next->Activate(CLSCTX_ALL, __uuidof(IAudioVolumeLevel), reinterpret_cast<void**>(&record.level[0]));
            next->GetLocalId(&record.localId);
        } else if (n == needed) {
            GUID subtype = GUID_NULL;
            if (SUCCEEDED(next->GetSubType(&subtype)) && IsEqualGUID(subtype, kKsNodeTypeMux)) {
                next->Activate(CLSCTX_ALL, __uuidof(IAudioInputSelector),
                               reinterpret_cast<void**>(&record.inputSelector));
            }
        }
    }
    return S_OK;
}

void EndpointControl::ReadLevels(EndpointRecord& record) {
    for (UINT slot = 0; slot < kEndpointControlSlots; ++slot) {
        if (IAudioVolumeLevel* level = record.level[slot]) {
            UINT channels = 0;
            for (UINT ch = 0; ch < kMaxLevelChannels; ++ch) {
                LevelChannel& c = record.channel[slot][ch];
                if (FAILED(level->GetLevelRange(ch, &c.minimum, &c.maximum, &c.step))) break;
                if (FAILED(level->GetLevel(ch, &c.level))) break;
                record.levelCopy[slot][ch] = c.level;
                ++channels;
            }
            record.levelChannels[slot] = channels;
        }
        if (IAudioMute* mute = record.mute[slot]) mute->GetMute(&record.muteAtSetup[slot]);
    }
}

void EndpointControl::WatchVolume(IMMDevice* device, EDataFlow flow) {
    IAudioEndpointVolume* volume = nullptr;
    if (SUCCEEDED(device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_ALL, nullptr,
                                   reinterpret_cast<void**>(&volume))) &&
        volume) {
        player_->Watch(flow, volume);
        volume->Release();
    }
}

void EndpointControl::ReleaseControls(EndpointRecord& record) {
    for (UINT slot = 0; slot < kEndpointControlSlots; ++slot) {
        ReleaseAndClear(record.level[slot]);
        ReleaseAndClear(record.mute[slot]);
    }
    ReleaseAndClear(record.inputSelector);
}

HRESULT EndpointControl::ReleaseEndpoints() {
    found_ = FALSE;
    for (UINT i = 0; i < kMaxEndpointsPerDirection; ++i) {
        ReleaseControls(render_[i]);
        ReleaseControls(capture_[i]);
    }
    if (player_) {
        player_->Unwatch(eRender);
        player_->Unwatch(eCapture);
    }
    ZeroMemory(render_, sizeof(render_));
    ZeroMemory(capture_, sizeof(capture_));
    renderCount_ = captureCount_ = 0;
    return S_OK;
}

IMMDevice* EndpointControl::OpenDevice(const EndpointRecord& record) const {
    IMMDeviceEnumerator* enumerator = player_ ? player_->Enumerator() : nullptr;
    IMMDevice* device = nullptr;
    if (!enumerator || FAILED(enumerator->GetDevice(record.id, &device))) return nullptr;
    return device;
}

HRESULT EndpointControl::GetFormat(EndpointRecord* record, WORD* channels, DWORD* sampleRate, WORD* bits,
                                   DWORD* channelMask) {
    if (!record || !channels || !sampleRate || !bits || !channelMask) return E_FAIL;
    IMMDevice* device = OpenDevice(*record);
    if (!device) return E_FAIL;
    IPropertyStore* store = nullptr;
    HRESULT hr = device->OpenPropertyStore(STGM_READ, &store);
    device->Release();
    if (FAILED(hr) || !store) return FAILED(hr) ? hr : E_FAIL;
    hr = ReadFormat(store, record->deviceFormat);
    store->Release();
    if (FAILED(hr)) return hr;
    *channels = record->deviceFormat.Format.nChannels;
    *sampleRate = record->deviceFormat.Format.nSamplesPerSec;
    *bits = record->deviceFormat.Format.wBitsPerSample;
    *channelMask = record->deviceFormat.dwChannelMask;
    return S_OK;
}

HRESULT EndpointControl::GetRenderFormat(WORD* channels, DWORD* sampleRate, WORD* bits, DWORD* channelMask) {
    return GetFormat(Render(), channels, sampleRate, bits, channelMask);
}

HRESULT EndpointControl::GetCaptureFormat(UINT index, WORD* channels, DWORD* sampleRate, WORD* bits,
                                          DWORD* channelMask) {
    return GetFormat(Capture(index), channels, sampleRate, bits, channelMask);
}

HRESULT EndpointControl::SetFormat(EndpointRecord* record, WORD bits, DWORD sampleRate) {
    if (!record) return E_FAIL;
    // A width the block alignment cannot carry, or no rate, would make a broken format.
    if ((bits != 8 && bits != 16 && bits != 24 && bits != 32) || sampleRate == 0) return E_INVALIDARG;
    WAVEFORMATEXTENSIBLE format = record->deviceFormat;
    format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    format.Format.nChannels = 2;
    format.Format.nSamplesPerSec = sampleRate;
    format.Format.wBitsPerSample = bits;
    format.Samples.wValidBitsPerSample = bits;
    format.Format.nBlockAlign = static_cast<WORD>(2 * (bits / 8));
    format.Format.nAvgBytesPerSec = format.Format.nBlockAlign * sampleRate;
    format.dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    format.SubFormat = kKsDataFormatSubtypePcm;

    IMMDevice* device = OpenDevice(*record);
    if (!device) return E_FAIL;
    // The store takes any blob: whether the device plays it is the audio client's answer.
    HRESULT hr = CheckDeviceFormat(device, format);
    IPropertyStore* store = nullptr;
    if (SUCCEEDED(hr)) hr = device->OpenPropertyStore(STGM_READWRITE, &store);
    device->Release();
    if (FAILED(hr) || !store) return FAILED(hr) ? hr : E_FAIL;
    const PROPERTYKEY* keys[] = {&kKeyDeviceFormat, &kKeyEngineFloatFormat, &kKeyEngineFloatFormat8a,
                                 &kKeyEngineFloatFormat8b};
    const UINT keyCount = versionCode_ == kWinCode8 ? 4 : 2;
    // What the keys held, so that a write failing half way leaves the endpoint as it was.
    PROPVARIANT before[4];
    for (UINT k = 0; k < keyCount; ++k) {
        PropVariantInit(&before[k]);
        store->GetValue(*keys[k], &before[k]);
    }
    UINT written = 0;
    hr = WriteFormat(store, kKeyDeviceFormat, format);
    if (SUCCEEDED(hr)) {
        ++written;
        format.Format.wBitsPerSample = 32;
        format.Samples.wValidBitsPerSample = 32;
        format.Format.nBlockAlign = static_cast<WORD>(format.Format.nChannels * 4);
        format.Format.nAvgBytesPerSec = format.Format.nBlockAlign * sampleRate;
        format.SubFormat = kKsDataFormatSubtypeIeeeFloat;
    }
    for (UINT k = 1; k < keyCount && SUCCEEDED(hr); ++k) {
        hr = WriteFormat(store, *keys[k], format);
        if (SUCCEEDED(hr)) ++written;
    }
    // An endpoint's store may keep the values until they are committed.
    if (SUCCEEDED(hr)) hr = store->Commit();
    for (UINT k = 0; k < keyCount; ++k) {
        if (FAILED(hr) && k < written && before[k].vt == VT_BLOB) store->SetValue(*keys[k], before[k]);
        PropVariantClear(&before[k]);
    }
    store->Release();
    if (FAILED(hr)) return hr;
    record->deviceFormat = format;
    return S_OK;
}

HRESULT EndpointControl::SetRenderFormat(WORD bits, DWORD sampleRate) { return SetFormat(Render(), bits, sampleRate); }

HRESULT EndpointControl::SetCaptureFormat(UINT index, WORD bits, DWORD sampleRate) {
    return SetFormat(Capture(index), bits, sampleRate);
}

HRESULT EndpointControl::GetVolume(EndpointRecord* record, float* left, float* right, float* minimum,
                                   float* maximum, float* step) {
    if (!record || !left || !right || !minimum || !maximum || !step) return E_FAIL;
    IAudioVolumeLevel* level = record->level[0];
    if (!level) return S_OK;
    // Read whole first: a failure leaves every output as it was.
    float levels[2] = {}, low = 0, high = 0, stepSize = 0;
    for (UINT ch = 0; ch < 2; ++ch) {
        HRESULT hr = level->GetLevelRange(ch, &low, &high, &stepSize);
        if (SUCCEEDED(hr)) hr = level->GetLevel(ch, &levels[ch]);
        if (FAILED(hr)) return hr;
    }
    for (UINT ch = 0; ch < 2; ++ch) record->channel[0][ch].level = levels[ch];
    *left = levels[0];
    *right = levels[1];
    *minimum = low;
    *maximum = high;
    *step = stepSize;
    return S_OK;
}

HRESULT EndpointControl::GetRenderVolume(float* left, float* right, float* minimum, float* maximum, float* step) {
    return GetVolume(Render(), left, right, minimum, maximum, step);
}

HRESULT EndpointControl::GetCaptureVolume(UINT index, float* left, float* right, float* minimum, float* maximum,
                                          float* step) {
    return GetVolume(Capture(index), left, right, minimum, maximum, step);
}

HRESULT EndpointControl::SetVolume(EndpointRecord* record, float left, float right) {
    if (!record) return E_FAIL;
    if (std::isnan(left) || std::isnan(right)) return E_INVALIDARG;  // no range check would stop it
    const float values[2] = {left, right};
    for (UINT ch = 0; ch < 2; ++ch) {
        LevelChannel& stored = record->channel[0][ch];
        float value = values[ch];
        if (ch < record->levelChannels[0]) {
            if (value < stored.minimum) value = stored.minimum;
            if (value > stored.maximum) value = stored.maximum;
        }
        IAudioVolumeLevel* level = record->level[0];
        if (!level) continue;
        float minimum = 0, maximum = 0, step = 0;
        if (FAILED(level->GetLevelRange(ch, &minimum, &maximum, &step))) continue;
        if (value < minimum || value > maximum) continue;  // this channel refused
        if (SUCCEEDED(level->SetLevel(ch, value, nullptr))) stored.level = value;
    }
    return S_OK;
}

HRESULT EndpointControl::SetRenderVolume(float left, float right) { return SetVolume(Render(), left, right); }

HRESULT EndpointControl::SetCaptureVolume(UINT index, float left, float right) {
    return SetVolume(Capture(index), left, right);
}

HRESULT EndpointControl::GetCaptureMute(UINT index, BOOL* mute) {
    EndpointRecord* record = Capture(index);
    if (!record || !mute || !record->mute[0]) return E_FAIL;
    BOOL state = FALSE;
    HRESULT hr = record->mute[0]->GetMute(&state);
    if (SUCCEEDED(hr)) {
        record->muteState[0] = state;
        *mute = state;
    }
    return hr;
}

HRESULT EndpointControl::GetSelectedInput(UINT* captureIndex) {
    if (!captureIndex || captureCount_ == 0 || !capture_[0].inputSelector) return E_FAIL;
    UINT selection = 0;
    HRESULT hr = capture_[0].inputSelector->GetSelection(&selection);
    if (FAILED(hr)) return hr;
    *captureIndex = 0;
    for (UINT i = 0; i < captureCount_; ++i) {
        if (capture_[i].localId == selection) {
            *captureIndex = i;
            break;
        }
    }
    return hr;
}

namespace {

HRESULT ReadLevelRange(const EndpointRecord* record, UINT channel, float* minimum, float* maximum) {
    if (!record || !record->level[0] || !minimum || !maximum) return E_FAIL;
    float low = 0, high = 0, step = 0;
    HRESULT hr = record->level[0]->GetLevelRange(channel, &low, &high, &step);
    if (FAILED(hr)) return hr;
    *minimum = low;
    *maximum = high;
    return S_OK;
}

}  // namespace

HRESULT EndpointControl::GetRenderLevelRange(UINT channel, float* minimum, float* maximum) {
    return ReadLevelRange(Render(), channel, minimum, maximum);
}

HRESULT EndpointControl::GetCaptureLevelRange(UINT index, UINT channel, float* minimum, float* maximum) {
    return ReadLevelRange(Capture(index), channel, minimum, maximum);
}
