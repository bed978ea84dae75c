#include "FakeKsDevice.h"

#include "device/KsAudFilter.h"
#include "device/KsAudPin.h"

#include <cstring>
#include <memory>
#include <vector>

namespace {

const char kLink[] = "\\\\?\\usb#vid_3a45&pid_0452&mi_01#7&1&0#{65e8773e-8f56-11d0-a3b9-00a0c9223196}\\global";
const GUID kNotWave = {0x4995DAEE, 0x9EE6, 0x11D0, {0xA4, 0x0E, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

FakeKsPin AudioPin(ULONG communication, ULONG dataFlow) {
    FakeKsPin pin;
    pin.communication = communication;
    pin.dataFlow = dataFlow;
    pin.AddRange(AudioRange(2, 16, 32, 44100, 192000));
    return pin;
}

WAVEFORMATEX Pcm(WORD channels, WORD bits, DWORD rate) {
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.wBitsPerSample = bits;
    format.nSamplesPerSec = rate;
    format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    return format;
}

WAVEFORMATEXTENSIBLE Extensible(WORD channels, WORD bits, DWORD rate, const GUID& subFormat) {
    WAVEFORMATEXTENSIBLE format = {};
    format.Format = Pcm(channels, bits, rate);
    format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    format.Format.cbSize = 22;
    format.Samples.wValidBitsPerSample = bits;
    format.dwChannelMask = 3;
    format.SubFormat = subFormat;
    return format;
}

class KsAudio : public KsFakeTest {
protected:
    void SetUp() override {
        KsFakeTest::SetUp();
        device.openable.insert(kLink);
    }

    // A render filter, open and with its pins.
    std::unique_ptr<CKsAudRenFilter> RenderFilter(HRESULT expected = S_OK) {
        HRESULT hr = E_FAIL;
        std::unique_ptr<CKsAudRenFilter> filter(new CKsAudRenFilter(kLink, "R6", &hr));
        EXPECT_EQ(S_OK, filter->Instantiate());
        EXPECT_EQ(expected, filter->EnumeratePins());
        return filter;
    }
};

TEST_F(KsAudio, PinsAreMadeByRoleAndNonAudioPinsLeftOut) {
    device.pins = {AudioPin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN),
                   AudioPin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_OUT),
                   AudioPin(KSPIN_COMMUNICATION_BOTH, KSPIN_DATAFLOW_IN),
                   AudioPin(KSPIN_COMMUNICATION_NONE, KSPIN_DATAFLOW_IN),
                   AudioPin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN),
                   AudioPin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN),
                   AudioPin(KSPIN_COMMUNICATION_SOURCE, KSPIN_DATAFLOW_OUT)};
    device.pins[4].interfaces = {{{kKsInterfaceSetIdStandard, kKsInterfaceStandardLoopedStreaming, 0}}};
    device.pins[5].mediums.clear();
    device.failing.insert({6, kKsPropertyPinDataFlow});

    auto filter = RenderFilter();
    EXPECT_EQ(kKsFilterRender, filter->Type());
    ASSERT_EQ(3u, filter->Pins().Count());
    auto* entry = filter->Pins().Head();
    EXPECT_EQ(kKsPinRender, entry->item->Type());
    EXPECT_EQ(kKsPinCapture, entry->next->item->Type());
    EXPECT_EQ(kKsPinPlain, entry->next->next->item->Type());
    EXPECT_EQ(2u, filter->RenderSinkPins().Count());
    EXPECT_EQ(1u, filter->RenderSourcePins().Count());
    EXPECT_EQ(1u, filter->CaptureSinkPins().Count());
    EXPECT_TRUE(filter->NoCommPins().IsEmpty());

    HRESULT hr = E_FAIL;
    CKsAudCapFilter capture(kLink, "R6", &hr);
    EXPECT_EQ(kKsFilterCapture, capture.Type());
}

TEST_F(KsAudio, FilterWithoutStreamingPinsFails) {
    device.pins = {AudioPin(KSPIN_COMMUNICATION_NONE, KSPIN_DATAFLOW_IN)};
    auto filter = RenderFilter(E_FAIL);
    EXPECT_TRUE(filter->Pins().IsEmpty());

    device.pins = {AudioPin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN)};
    device.pinCountFails = true;
    RenderFilter(E_FAIL);
    device.pinCountFails = false;
    device.claimedPinCount = 0xFFFFFFFFu;  // refused at once, not walked
    RenderFilter(E_FAIL);
}

TEST_F(KsAudio, RunningOutOfMemoryDropsEveryPin) {
    device.pins = {AudioPin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN),
                   AudioPin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN)};
    FailAllocation(sizeof(CKsAudRenPin), 1);
    auto filter = RenderFilter(E_OUTOFMEMORY);
    EXPECT_TRUE(filter->Pins().IsEmpty());
    EXPECT_TRUE(filter->RenderSinkPins().IsEmpty());
}

TEST_F(KsAudio, DataRangesPassTheSubFormatTestOnceThenAllAudioRangesCount) {
    FakeKsPin pin = AudioPin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN);
    pin.ranges.clear();
    pin.rangeCount = 0;
    pin.AddRange(AudioRange(8, 8, 8, 8000, 8000, kNotWave));          // skipped: not wave, nothing passed yet
    KSDATARANGE_AUDIO notAudio = AudioRange(8, 8, 8, 8000, 8000, kKsDataFormatSubtypePcm);
    notAudio.DataRange.MajorFormat = kNotWave;
    pin.AddRange(notAudio);                                           // passes, but not audio: not saved
    KSDATARANGE shortRange = AudioRange(2, 16, 16, 44100, 44100).DataRange;
    shortRange.FormatSize = sizeof(shortRange);
    pin.AddRange(&shortRange, sizeof(shortRange));                    // too short to hold limits: not saved
    KSDATARANGE_AUDIO wildcard = AudioRange(2, 24, 24, 96000, 96000, GUID{});
    wildcard.DataRange.Specifier = GUID{};
    pin.AddRange(wildcard);                                           // wildcard sub-format and specifier
    pin.AddRange(AudioRange(2, 32, 32, 352800, 352800, kNotWave));    // saved: the test is over
    device.pins = {pin};

    auto filter = RenderFilter();
    ASSERT_EQ(1u, filter->Pins().Count());
    CKsAudPin* audio = static_cast<CKsAudPin*>(filter->Pins().Head()->item);
    ASSERT_EQ(2u, audio->AudioDataRanges().Count());
    EXPECT_EQ(24u, audio->AudioDataRanges().Head()->item->MaximumBitsPerSample);
    EXPECT_EQ(kNotWave, audio->AudioDataRanges().Tail()->item->DataRange.SubFormat);

    // The wildcard range decides on its limits alone (its specifier too); the non-wave one never
    // matches a PCM query.
    WAVEFORMATEX format = Pcm(2, 24, 96000);
    EXPECT_TRUE(audio->IsFormatSupported(&format, 15));
    format = Pcm(2, 32, 352800);
    EXPECT_FALSE(audio->IsFormatSupported(&format, kKsFormatCheckBits));
    WAVEFORMATEXTENSIBLE extensible = Extensible(2, 32, 352800, kNotWave);
    EXPECT_TRUE(audio->IsFormatSupported(&extensible.Format, kKsFormatCheckBits));

    // No wave range at all: the pin is not kept.
    device.pins[0].ranges.clear();
    device.pins[0].rangeCount = 0;
    device.pins[0].AddRange(AudioRange(2, 16, 16, 44100, 44100, kNotWave));
    auto none = RenderFilter(E_FAIL);
    EXPECT_TRUE(none->Pins().IsEmpty());
}

TEST_F(KsAudio, FormatQueryChecksOnlyTheFlaggedLimits) {
    device.pins = {AudioPin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN),
                   AudioPin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_OUT)};
    device.pins[1].ranges.clear();
    device.pins[1].rangeCount = 0;
    device.pins[1].AddRange(AudioRange(2, 24, 24, 48000, 48000));
    auto filter = RenderFilter();
    CKsAudPin* pin = filter->FindViablePin(nullptr, kKsFormatCheckBits);
    EXPECT_EQ(nullptr, pin);

    WAVEFORMATEX format = Pcm(6, 8, 8000);  // every limit broken
    EXPECT_EQ(nullptr, filter->FindViablePin(&format, 15));
    format.wBitsPerSample = 24;
    pin = filter->FindViablePin(&format, kKsFormatCheckBits);
    ASSERT_NE(nullptr, pin);
    EXPECT_EQ(0u, pin->PinId());
    EXPECT_FALSE(pin->IsFormatSupported(&format, kKsFormatCheckRate));
    EXPECT_FALSE(pin->IsFormatSupported(&format, kKsFormatCheckChannels));
    format = Pcm(6, 8, 192000);
    EXPECT_TRUE(pin->IsFormatSupported(&format, kKsFormatCheckRate));
    EXPECT_TRUE(pin->IsFormatSupported(&format, 1)) << "flag 1 has no check of its own";
    format = Pcm(2, 32, 384000);
    EXPECT_FALSE(pin->IsFormatSupported(&format, kKsFormatCheckRate));

    // Extensible formats match on their SubFormat; one too short to carry it matches nothing.
    WAVEFORMATEXTENSIBLE extensible = Extensible(2, 24, 48000, kKsDataFormatSubtypePcm);
    EXPECT_TRUE(pin->IsFormatSupported(&extensible.Format, 15));
    extensible.SubFormat = kNotWave;
    EXPECT_FALSE(pin->IsFormatSupported(&extensible.Format, 15));
    extensible.SubFormat = kKsDataFormatSubtypePcm;
    extensible.Format.cbSize = 0;
    EXPECT_FALSE(pin->IsFormatSupported(&extensible.Format, kKsFormatCheckRate));
    format = Pcm(2, 24, 48000);
    format.wFormatTag = 3;  // IEEE float: another wave sub-format
    EXPECT_FALSE(pin->IsFormatSupported(&format, kKsFormatCheckBits));

    HRESULT hr = E_FAIL;
    CKsAudCapFilter capture(kLink, "R6", &hr);
    ASSERT_EQ(S_OK, capture.Instantiate());
    ASSERT_EQ(S_OK, capture.EnumeratePins());
    format = Pcm(2, 16, 48000);
    EXPECT_EQ(nullptr, capture.FindViablePin(&format, kKsFormatCheckBits));
    format.wBitsPerSample = 24;
    pin = capture.FindViablePin(&format, kKsFormatCheckBits | kKsFormatCheckRate);
    ASSERT_NE(nullptr, pin);
    EXPECT_EQ(1u, pin->PinId());
}

TEST_F(KsAudio, ConnectionRequestIsSentAsBuilt) {
    device.pins = {AudioPin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN),
                   AudioPin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN)};
    auto filter = RenderFilter();
    CKsAudPin* pin = static_cast<CKsAudPin*>(filter->Pins().Tail()->item);
    EXPECT_EQ(DWORD(sizeof(void*) == 8 ? 154 : 146), pin->ConnectRequestSize());

    std::vector<BYTE> expected(sizeof(KSPIN_CONNECT) + 82, 0);
    KSPIN_CONNECT* connect = reinterpret_cast<KSPIN_CONNECT*>(expected.data());
    connect->Interface.Set = kKsInterfaceSetIdStandard;
    connect->Medium.Set = kKsMediumSetIdStandard;
    connect->PinId = 1;
    connect->Priority.PriorityClass = KSPRIORITY_NORMAL;
    connect->Priority.PrioritySubClass = 1;
    KSDATAFORMAT* format = reinterpret_cast<KSDATAFORMAT*>(connect + 1);
    format->FormatSize = 82;
    format->MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
    format->SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    format->Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;

    ASSERT_EQ(S_OK, pin->Instantiate(FALSE));
    EXPECT_EQ(FakeKsDevice::PinHandle(0), pin->Handle());
    EXPECT_EQ(kFakeFilterHandle, device.createdFrom[0]);
    ASSERT_EQ(1u, device.connects.size());
    EXPECT_EQ(expected, device.connects[0]);

    // Looped streaming and a link pin change only their own fields.
    CKsAudPin* first = static_cast<CKsAudPin*>(filter->Pins().Head()->item);
    ASSERT_EQ(S_OK, first->Instantiate(FALSE));
    pin->SetLinkPin(first);
    ASSERT_EQ(S_OK, pin->Instantiate(TRUE));
    EXPECT_TRUE(pin->Looped());
    connect->Interface.Id = kKsInterfaceStandardLoopedStreaming;
    connect->PinToHandle = FakeKsDevice::PinHandle(1);
    EXPECT_EQ(expected, device.connects[2]);
    // The second instance replaced the first, which was stopped and closed.
    EXPECT_EQ(FakeKsDevice::PinHandle(2), pin->Handle());
    EXPECT_EQ(std::vector<HANDLE>{FakeKsDevice::PinHandle(0)}, device.closed);
    ASSERT_EQ(1u, device.states.size());
    EXPECT_EQ(KSSTATE_STOP, device.states[0].second);
}

TEST_F(KsAudio, PinCreationResultsBecomeHresults) {
    device.pins = {AudioPin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN)};
    auto filter = RenderFilter();
    CKsPin* pin = filter->Pins().Head()->item;
    const struct {
        DWORD result;
        HRESULT hr;
    } cases[] = {
        {ERROR_FILE_NOT_FOUND, HRESULT(0x80070002)},  // ksuser.dll missing
        {ERROR_ACCESS_DENIED, E_ACCESSDENIED},
        {0x12345, HRESULT(0x80072345)},
        {0x8007001F, HRESULT(0x8007001F)},  // already an HRESULT
        {0xC0000001, HRESULT(0xC0000001)},
    };
    for (const auto& c : cases) {
        device.createPinResult = c.result;
        EXPECT_EQ(c.hr, pin->Instantiate(FALSE)) << c.result;
        EXPECT_FALSE(CKsIrpTarget::IsValidHandle(pin->Handle()));
    }
}

#ifndef VELMOR_PANEL_BUILD
TEST_F(KsAudio, SetFormatResizesTheConnectionRequest) {
    device.pins = {AudioPin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN)};
    auto filter = RenderFilter();
    CKsAudPin* pin = static_cast<CKsAudPin*>(filter->Pins().Head()->item);
    const DWORD base = sizeof(KSPIN_CONNECT) + 82;
    EXPECT_EQ(E_FAIL, pin->SetFormat(nullptr));

    WAVEFORMATEXTENSIBLE extensible = Extensible(2, 24, 192000, kKsDataFormatSubtypePcm);
    ASSERT_EQ(S_OK, pin->SetFormat(&extensible.Format));
    EXPECT_EQ(base + 22, pin->ConnectRequestSize());
    ASSERT_EQ(S_OK, pin->Instantiate(FALSE));
    const std::vector<BYTE>& sent = device.connects.back();
    ASSERT_EQ(size_t(base + 22), sent.size());
    const KSDATAFORMAT* format = reinterpret_cast<const KSDATAFORMAT*>(sent.data() + sizeof(KSPIN_CONNECT));
    EXPECT_EQ(104u, format->FormatSize);
    EXPECT_EQ(6u, format->SampleSize);
    EXPECT_EQ(kKsDataFormatSubtypePcm, format->SubFormat);
    EXPECT_EQ(0, std::memcmp(format + 1, &extensible, sizeof(extensible)));
    EXPECT_EQ(0, std::memcmp(pin->Format(), &extensible, sizeof(extensible)));
    EXPECT_EQ(0u, reinterpret_cast<const KSPIN_CONNECT*>(sent.data())->PinId);
    pin->ClosePin();

    // A plain PCM format shrinks it back; cbSize does not count for PCM.
    WAVEFORMATEX pcm = Pcm(2, 16, 44100);
    pcm.cbSize = 100;
    ASSERT_EQ(S_OK, pin->SetFormat(&pcm));
    EXPECT_EQ(base, pin->ConnectRequestSize());
    EXPECT_EQ(82u, pin->DataFormat()->FormatSize);
    EXPECT_EQ(4u, pin->DataFormat()->SampleSize);
    EXPECT_EQ(0, std::memcmp(pin->DataFormat() + 1, &pcm, sizeof(pcm)));

    // Without memory for the larger request nothing changes.
    FailAllocation(base + 22);
    EXPECT_EQ(E_OUTOFMEMORY, pin->SetFormat(&extensible.Format));
    EXPECT_EQ(base, pin->ConnectRequestSize());
    EXPECT_EQ(82u, pin->DataFormat()->FormatSize);
}
#endif

}  // namespace
