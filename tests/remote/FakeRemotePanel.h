// A scripted panel for the remote protocol: device values, failures to
// inject and a log of every change the protocol asked for.
#pragma once

#include "remote/RemotePanel.h"

#include <string>
#include <vector>

struct FakeRemotePanel : IRemotePanel, IRemoteDisplay {
    bool playback = true, record = true, asio = false;
    uint32_t playRate = 44100, playBits = 24;
    VolumeRange renderRange = {-25.0f, -25.0f, -100.0f, 0.0f, 0.5f};  // 75 %
    bool playMuted = false;
    HRESULT showFormatResult = S_OK, renderVolumeResult = S_OK, playMuteResult = S_OK;
    HRESULT setPlaybackFormatResult = S_OK;
    bool hasRenderMute = true;

    std::vector<bool> lineInputs = {false, true};  // input 0 S/PDIF, input 1 line
    int selectedInput = 1;
    uint32_t recRate = 48000, recBits = 24;
    VolumeRange captureRange = {-20.0f, -20.0f, -40.0f, 0.0f, 0.5f};  // 50 %
    bool recMuted = false;
    HRESULT selectedInputResult = S_OK, recordFormatResult = S_OK, captureVolumeResult = S_OK;
    HRESULT recordMuteResult = S_OK;

    RemoteCapabilities caps = {};
    StreamCopies copies = {};
    bool serviceActive = true;

    std::vector<std::string> log;
    std::vector<uint32_t> shownAddresses;
    int mainDisplayClears = 0;
    uint32_t probeAddress = 0;

    bool PlaybackAvailable() override { return playback; }
    bool RecordAvailable() override { return record; }
    bool AsioAvailable() override { return asio; }

    HRESULT ShowPlaybackFormat(uint32_t* rate, uint32_t* bits) override {
        *rate = playRate;
        *bits = playBits;
        return showFormatResult;
    }
    HRESULT GetPlaybackMute(bool* muted) override {
        *muted = playMuted;
        return playMuteResult;
    }
    HRESULT GetRenderVolume(VolumeRange* range) override {
        *range = renderRange;
        return renderVolumeResult;
    }
    HRESULT SetPlaybackFormat(uint32_t rate, uint32_t bits) override {
        log.push_back("play format " + std::to_string(rate) + "/" + std::to_string(bits));
        if (SUCCEEDED(setPlaybackFormatResult)) {
            playRate = rate;
            playBits = bits;
        }
        return setPlaybackFormatResult;
    }
    bool offersFormats = true;
    bool OffersPlaybackFormat(uint32_t, uint32_t) override { return offersFormats; }
    bool OffersRecordFormat(uint32_t, uint32_t) override { return offersFormats; }
    void ReselectPlaybackFormat() override { log.push_back("play reselect"); }
    HRESULT SetRenderVolume(float left, float right) override {
        log.push_back("play level " + std::to_string(left) + "/" + std::to_string(right));
        renderRange.left = left;
        renderRange.right = right;
        return S_OK;
    }
    HRESULT SetPlaybackMute(bool mute) override {
        if (!hasRenderMute) return E_FAIL;
        log.push_back(mute ? "play mute" : "play unmute");
        playMuted = mute;
        return S_OK;
    }

    int RecordInputCount() override { return static_cast<int>(lineInputs.size()); }
    bool IsLineInput(int input) override { return lineInputs.at(static_cast<size_t>(input)); }
    HRESULT GetSelectedInput(int* input) override {
        *input = selectedInput;
        return selectedInputResult;
    }
    HRESULT GetRecordFormat(int, uint32_t* rate, uint32_t* bits) override {
        *rate = recRate;
        *bits = recBits;
        return recordFormatResult;
    }
    HRESULT GetCaptureVolume(int, VolumeRange* range) override {
        *range = captureRange;
        return captureVolumeResult;
    }
    HRESULT GetRecordMute(int, bool* muted) override {
        *muted = recMuted;
        return recordMuteResult;
    }
    HRESULT SelectRecordInput(int input) override {
        log.push_back("rec select " + std::to_string(input));
        selectedInput = input;
        return S_OK;
    }
    HRESULT SetRecordFormat(int input, uint32_t rate, uint32_t bits) override {
        log.push_back("rec format " + std::to_string(input) + " " + std::to_string(rate) + "/" + std::to_string(bits));
        return S_OK;
    }
    HRESULT SetCaptureVolume(int input, float left, float) override {
        log.push_back("rec level " + std::to_string(input) + " " + std::to_string(left));
        return S_OK;
    }
    HRESULT SetRecordMute(int input, bool mute) override {
        log.push_back("rec " + std::string(mute ? "mute " : "unmute ") + std::to_string(input));
        return S_OK;
    }

    void CollectRemoteCapabilities(RemoteCapabilities* out) override { *out = caps; }
    void GetStreamCopies(StreamCopies* out) override { *out = copies; }
    DWORD keyHoldMs = 0;  // the main dialog holds a volume key 800 ms
    void PressVolumeKey(bool up) override {
        log.push_back(up ? "key up" : "key down");
        if (keyHoldMs) Sleep(keyHoldMs);
    }

    void ShowControllerAddress(uint32_t address, bool keepMainDisplay) override {
        shownAddresses.push_back(address);
        if (!keepMainDisplay) ++mainDisplayClears;
    }
    void ShowProbeAddress(uint32_t address) override { probeAddress = address; }
    bool ServiceActive() override { return serviceActive; }
};
