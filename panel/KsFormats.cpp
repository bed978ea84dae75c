#include "KsFormats.h"

#include "DeviceMatch.h"

#include "device/KsAudFilter.h"
#include "device/KsConstants.h"
#include "device/KsEnumFilters.h"
#include "device/SupportedDevices.h"

#include <memory>

namespace {

WAVEFORMATEX ProbeFormat(uint32_t rate, uint16_t bits) {
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = bits;
    format.nBlockAlign = static_cast<WORD>(format.nChannels * bits / 8);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    return format;
}

template <class Filter>
void FillMasks(Filter& filter, uint32_t* rates, uint32_t* depths) {
    for (int i = 0; i < kPanelDepthCount; ++i) {
        WAVEFORMATEX format = ProbeFormat(48000, kPanelDepths[i]);
        if (filter.FindViablePin(&format, kKsFormatCheckBits)) *depths |= 1u << i;
    }
    for (int i = 0; i < kPanelRateCount; ++i) {
        WAVEFORMATEX format = ProbeFormat(kPanelRates[i], 16);
        if (filter.FindViablePin(&format, kKsFormatCheckRate)) *rates |= 1u << i;
    }
}

template <class Filter>
std::unique_ptr<Filter> OpenFilter(const char* link, const char* name) {
    HRESULT hr = S_OK;
    std::unique_ptr<Filter> filter(new (std::nothrow) Filter(link, name, &hr));
    if (!filter || FAILED(hr) || FAILED(filter->Instantiate()) || FAILED(filter->EnumeratePins())) return nullptr;
    return filter;
}

}  // namespace

HRESULT QueryKsFormats(USHORT vendorId, USHORT productId, KsFormatMasks* masks) {
    *masks = KsFormatMasks();
    HRESULT hr = S_OK;
    CKsEnumFilters enumerator(&hr);
    const GUID classes[2] = {kKsCategoryAudio, kKsCategoryRender};
    if (FAILED(enumerator.EnumFilters(classes, 2))) return S_FALSE;
    for (auto* entry = enumerator.Filters().Head(); entry; entry = entry->next) {
        CKsFilter* listed = entry->item;
        if (MatchVidPid(listed->SymbolicLink(), vendorId, productId) != S_OK) continue;
        if (auto render = OpenFilter<CKsAudRenFilter>(listed->SymbolicLink(), listed->FriendlyName())) {
            FillMasks(*render, &masks->playRates, &masks->playDepths);
        }
        auto capture = OpenFilter<CKsAudCapFilter>(listed->SymbolicLink(), listed->FriendlyName());
        if (capture && capture->CaptureSinkPins().Count() > 0) {
            FillMasks(*capture, &masks->recRates, &masks->recDepths);
        }
        return S_OK;
    }
    return S_FALSE;
}

HRESULT FindPresentDeviceIds(USHORT* vendorId, USHORT* productId) {
    HRESULT hr = S_OK;
    CKsEnumFilters enumerator(&hr);
    const GUID classes[2] = {kKsCategoryAudio, kKsCategoryRender};
    if (FAILED(enumerator.EnumFilters(classes, 2))) return S_FALSE;
    for (auto* entry = enumerator.Filters().Head(); entry; entry = entry->next) {
        for (const SupportedDevice& device : kSupportedDevices) {
            if (device.vendorId == 0) break;
            if (MatchVidPid(entry->item->SymbolicLink(), device.vendorId, device.productId) == S_OK) {
                *vendorId = device.vendorId;
                *productId = device.productId;
                return S_OK;
            }
        }
    }
    return S_FALSE;
}
