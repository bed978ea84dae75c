#include "RemoteCommands.h"

#include "AsioBlockAccess.h"
#include "RemoteIds.h"
#include "RemoteProtocol.h"
#include "RemoteRequest.h"

#include <cstring>

namespace {

void CopyName(char (&target)[kRemoteNameChars], const char* name) {
    std::memset(target, 0, sizeof(target));
    std::memcpy(target, name, strnlen(name, sizeof(target) - 1));
}

bool NameEquals(const char (&name)[kRemoteNameChars], const char* word) {
    return strncmp(name, word, kRemoteNameChars) == 0;
}

// The highest input index whose line-ness is as asked; -1 without one.
int HighestInput(IRemotePanel& panel, bool line) {
    int found = -1;
    int count = panel.RecordInputCount();
    for (int i = 0; i < count; ++i) {
        if (panel.IsLineInput(i) == line) found = i;
    }
    return found;
}

}  // namespace

int32_t VolumePercent(const VolumeRange& range) {
    if (!(range.maximum > range.minimum)) return 100;
    double percent = (static_cast<double>(range.left) - range.minimum) / (static_cast<double>(range.maximum) - range.minimum) * 100.0;
    if (!(percent > 0.0)) return 0;
    if (percent >= 100.0) return 100;
    return static_cast<int32_t>(percent);
}

float LevelForPercent(const VolumeRange& range, int32_t percent) {
    if (percent <= 0) return range.minimum;
    if (percent >= 100) return range.maximum;
    return range.minimum + (range.maximum - range.minimum) * static_cast<float>(percent) / 100.0f;
}

HRESULT FindLineInput(IRemotePanel& panel, int* line) {
    *line = HighestInput(panel, true);
    return *line >= 0 ? S_OK : E_FAIL;
}

bool GatherRemoteStatus(IRemotePanel& panel, const RemoteVolumeMemory& volumes, const char* blockName,
                        RemoteStatus* s) {
    std::memset(s, 0, sizeof(*s));
    HRESULT outcome = S_OK;
    if (panel.PlaybackAvailable()) {
        s->playback.valid = 1;
        uint32_t rate = 0, bits = 0;
        VolumeRange range = {};
        HRESULT hr = panel.ShowPlaybackFormat(&rate, &bits);
        if (SUCCEEDED(hr)) hr = panel.GetRenderVolume(&range);
        if (SUCCEEDED(hr)) {
            s->playback.rate = static_cast<int32_t>(rate);
            s->playback.bits = static_cast<int32_t>(bits);
            s->playback.volume = volumes.Percent(RemoteVolumeMemory::kRender, range);
        } else {
            s->playback.valid = 0;
        }
        outcome = hr;
    }
    if (panel.RecordAvailable()) {
        s->record.valid = 1;
        int selected = 0, line = -1;
        uint32_t rate = 0, bits = 0;
        VolumeRange range = {};
        HRESULT hr = panel.GetSelectedInput(&selected);
        if (SUCCEEDED(hr)) hr = FindLineInput(panel, &line);
        if (SUCCEEDED(hr)) hr = panel.GetRecordFormat(selected, &rate, &bits);
        if (SUCCEEDED(hr)) hr = panel.GetCaptureVolume(selected, &range);
        if (SUCCEEDED(hr)) {
            s->record.rate = static_cast<int32_t>(rate);
            s->record.bits = static_cast<int32_t>(bits);
            s->record.volume = volumes.Percent(RemoteVolumeMemory::RecordInput(selected), range);
            CopyName(s->record.resource, selected == line ? kLineInName : kSpdifInName);
        } else {
            s->record.valid = 0;
        }
        outcome = hr;
    }
    if (panel.AsioAvailable()) {
        AsioSetting asio = {};
        if (ReadAsioSetting(blockName, &asio)) {
            s->asio.valid = 1;
            s->asio.bufferMs = asio.bufferMs;
            s->asio.bits = asio.bits;
        }
    }
    // Fixed levels: the pins are not read from the device.
    static const int32_t kGpioLevels[][2] = {{0, 0}, {2, 1}, {4, 0}, {5, 1}};
    for (const auto& pair : kGpioLevels) {
        s->gpio.pins[s->gpio.count][0] = pair[0];
        s->gpio.pins[s->gpio.count][1] = pair[1];
        ++s->gpio.count;
    }
    s->gpio.valid = 1;
    return SUCCEEDED(outcome);
}

void GatherPlayingStatus(IRemotePanel& panel, PlayingStatus* p, bool* withPlayback, bool* withAsio) {
    StreamCopies copies = {};
    panel.GetStreamCopies(&copies);
    std::memset(p, 0, sizeof(*p));
    if (copies.playbackRate && copies.playbackBits) {
        p->playbackRate = static_cast<int32_t>(copies.playbackRate);
        p->playbackBits = static_cast<int32_t>(copies.playbackBits);
    }
    if (copies.asioRate && copies.asioBits) {
        p->asioRate = static_cast<int32_t>(copies.asioRate);
        p->asioBits = static_cast<int32_t>(copies.asioBits);
        p->asioBufferMs = copies.asioBufferMs;
        copies.asioFormat[kRemoteNameChars - 1] = '\0';
        CopyName(p->asioFormat, copies.asioFormat);
    }
    *withPlayback = copies.playbackShown;
    *withAsio = copies.asioRunning;
}

bool RunSetPlayback(IRemotePanel& panel, RemoteVolumeMemory& volumes, const rapidjson::Value& request) {
    PlaybackSetting setting = {};
    uint32_t rate = 0, bits = 0;
    if (FAILED(panel.ShowPlaybackFormat(&rate, &bits))) return false;
    setting.rate = static_cast<int32_t>(rate);
    setting.bits = static_cast<uint16_t>(bits);
    bool muted = false;
    if (FAILED(panel.GetPlaybackMute(&muted))) muted = false;  // an unreadable mute counts as not muted
    if (!muted) {
        VolumeRange range = {};
        if (FAILED(panel.GetRenderVolume(&range))) return false;
        setting.volume = volumes.Percent(RemoteVolumeMemory::kRender, range);
    }
    if (!TakePlaybackRequest(request, &setting)) return false;
    bool formatChanged = static_cast<uint32_t>(setting.rate) != rate || setting.bits != bits;
    if (formatChanged && !panel.OffersPlaybackFormat(static_cast<uint32_t>(setting.rate), setting.bits)) return false;

    // Each step on its own: a refused format still sets volume and mute.
    panel.SetPlaybackFormat(static_cast<uint32_t>(setting.rate), setting.bits);
    panel.ReselectPlaybackFormat();
    // What the request does not name stays as it is: re-applying a level
    // read back would move it by whatever the percentage lost.
    if (!setting.volumeNamed) return true;
    VolumeRange range = {};
    if (SUCCEEDED(panel.GetRenderVolume(&range))) {
        float level = LevelForPercent(range, setting.volume);
        if (SUCCEEDED(panel.SetRenderVolume(level, level)) && SUCCEEDED(panel.GetRenderVolume(&range))) {
            volumes.Remember(RemoteVolumeMemory::kRender, range, setting.volume);
        }
    }
    panel.SetPlaybackMute(setting.volume < 1);
    return true;
}

bool RunSetRecord(IRemotePanel& panel, RemoteVolumeMemory& volumes, const rapidjson::Value& request) {
    RecordSetting setting = {};
    int selected = 0, line = -1;
    if (FAILED(panel.GetSelectedInput(&selected))) return false;
    if (FAILED(FindLineInput(panel, &line))) return false;
    CopyName(setting.resource, selected == line ? kLineInName : kSpdifInName);
    uint32_t rate = 0, bits = 0;
    if (FAILED(panel.GetRecordFormat(selected, &rate, &bits))) return false;
    setting.rate = static_cast<int32_t>(rate);
    setting.bits = static_cast<uint16_t>(bits);
    bool muted = false;
    if (FAILED(panel.GetRecordMute(selected, &muted))) return false;
    if (!muted) {
        VolumeRange range = {};
        if (FAILED(panel.GetCaptureVolume(selected, &range))) return false;
        setting.volume = volumes.Percent(RemoteVolumeMemory::RecordInput(selected), range);
    }
    if (!TakeRecordRequest(request, &setting)) return false;
    bool formatChanged = static_cast<uint32_t>(setting.rate) != rate || setting.bits != bits;
    if (formatChanged && !panel.OffersRecordFormat(static_cast<uint32_t>(setting.rate), setting.bits)) return false;

    int input = -1;
    if (NameEquals(setting.resource, kLineInName)) {
        input = HighestInput(panel, true);
    } else if (NameEquals(setting.resource, kSpdifInName)) {
        input = HighestInput(panel, false);
    }
    if (input < 0) return true;
    if (FAILED(panel.SelectRecordInput(input))) return true;
    if (FAILED(panel.SetRecordFormat(input, static_cast<uint32_t>(setting.rate), setting.bits))) return true;
    // The volume gathered from the input selected before belongs to that
    // input: the one chosen now keeps its own unless the request names one.
    if (!setting.volumeNamed) return true;
    VolumeRange range = {};
    if (FAILED(panel.GetCaptureVolume(input, &range))) return true;
    float level = LevelForPercent(range, setting.volume);
    if (SUCCEEDED(panel.SetCaptureVolume(input, level, level)) && SUCCEEDED(panel.GetCaptureVolume(input, &range))) {
        volumes.Remember(RemoteVolumeMemory::RecordInput(input), range, setting.volume);
    }
    panel.SetRecordMute(input, setting.volume < 1);
    return true;
}
