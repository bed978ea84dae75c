// What the remote protocol needs of the panel: the main dialog's and the
// endpoint controller's operations, seen from the remote-control page.
// The main dialog implements it; tests use a scripted one.
#pragma once

#include "RemoteRecords.h"

#include <windows.h>

#include <cstdint>

// A control's level range and current levels, in dB.
struct VolumeRange {
    float left;
    float right;
    float minimum;
    float maximum;
    float step;
};

// The main dialog's copies of the streams it last saw.
struct StreamCopies {
    uint32_t playbackRate;
    uint32_t playbackBits;
    bool playbackShown;  // the Playback page shows a current device stream
    uint32_t asioRate;
    uint32_t asioBits;
    float asioBufferMs;
    char asioFormat[kRemoteNameChars];  // "PCM", "DSD64", "DSD128", "DSD256"
    bool asioRunning;
};

class IRemotePanel {
public:
    virtual ~IRemotePanel() = default;

    virtual bool PlaybackAvailable() = 0;
    virtual bool RecordAvailable() = 0;
    virtual bool AsioAvailable() = 0;

    // Playback. ShowPlaybackFormat also refreshes the main dialog's format statics.
    virtual HRESULT ShowPlaybackFormat(uint32_t* rate, uint32_t* bits) = 0;
    virtual HRESULT GetPlaybackMute(bool* muted) = 0;
    virtual HRESULT GetRenderVolume(VolumeRange* range) = 0;
    // SetRenderFormat; on success the main dialog keeps it as the current format.
    virtual HRESULT SetPlaybackFormat(uint32_t rate, uint32_t bits) = 0;
    // Whether the device offers the format (its rate and depth masks): a
    // request for another fails its check, so that no endpoint stores it.
    virtual bool OffersPlaybackFormat(uint32_t rate, uint32_t bits) = 0;
    virtual bool OffersRecordFormat(uint32_t rate, uint32_t bits) = 0;
    // The Playback page re-selects its format display.
    virtual void ReselectPlaybackFormat() = 0;
    // Both channels; on success the Playback page redraws its volume.
    virtual HRESULT SetRenderVolume(float left, float right) = 0;
    // When a render endpoint with a mute control exists: sets it, and on
    // success the mute state is kept and the Playback page redraws its button.
    virtual HRESULT SetPlaybackMute(bool mute) = 0;

    // Record inputs: the Record page's list of input types.
    virtual int RecordInputCount() = 0;
    virtual bool IsLineInput(int input) = 0;  // type KSNODETYPE_LINE_CONNECTOR
    virtual HRESULT GetSelectedInput(int* input) = 0;
    virtual HRESULT GetRecordFormat(int input, uint32_t* rate, uint32_t* bits) = 0;
    virtual HRESULT GetCaptureVolume(int input, VolumeRange* range) = 0;
    virtual HRESULT GetRecordMute(int input, bool* muted) = 0;
    // Each of these lets the Record page redraw what it changed.
    virtual HRESULT SelectRecordInput(int input) = 0;
    virtual HRESULT SetRecordFormat(int input, uint32_t rate, uint32_t bits) = 0;
    virtual HRESULT SetCaptureVolume(int input, float left, float right) = 0;  // redraws even on failure
    virtual HRESULT SetRecordMute(int input, bool mute) = 0;

    // The main dialog's status collection for the remote control.
    virtual void CollectRemoteCapabilities(RemoteCapabilities* caps) = 0;
    virtual void GetStreamCopies(StreamCopies* copies) = 0;

    // "Volume +" / "Volume -": key press, 800 ms hold, release.
    virtual void PressVolumeKey(bool up) = 0;
};

// Where the remote-control page shows its controllers; the page implements it.
class IRemoteDisplay {
public:
    virtual ~IRemoteDisplay() = default;
    // The controller's address (host order) in the page's remote address
    // control (1021) and in the main dialog's display (1080), which is
    // cleared again when keepMainDisplay is false.
    virtual void ShowControllerAddress(uint32_t address, bool keepMainDisplay) = 0;
    // A presence probe shows the address on the page only.
    virtual void ShowProbeAddress(uint32_t address) = 0;
    virtual bool ServiceActive() = 0;
};
