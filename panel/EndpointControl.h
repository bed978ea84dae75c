// The device's Windows audio endpoints, driven by the panel on Windows 6.0 to
// 6.2: finds the render and capture endpoints of the device by its USB
// hardware id, reads their names and shared-mode formats, reads and sets
// their volumes, reads the capture mute and the selected record input, and
// writes a new shared-mode format. Runs on the panel's user-interface
// thread; the notifications reach the main dialog as posted messages
// (PanelMessages.h).
#pragma once

#include "panel/Player.h"
#include "panel/WindowsVersion.h"

#include <windows.h>
#include <audioclient.h>
#include <devicetopology.h>
#include <mmreg.h>

constexpr UINT kMaxEndpointsPerDirection = 8;
constexpr UINT kEndpointTextChars = 260;
constexpr UINT kEndpointControlSlots = 12;
constexpr UINT kMaxLevelChannels = 8;

// The text of an endpoint that cannot be opened.
constexpr wchar_t kDeviceNotAvailable[] = L"<Device not available>";

struct LevelChannel {
    float minimum;   // dB
    float maximum;   // dB
    float step;      // dB
    float level;     // dB
};

struct EndpointRecord {
    UINT index;                                   // in its direction's collection
    WCHAR id[kEndpointTextChars];                 // IMMDevice::GetId
    WCHAR friendlyName[kEndpointTextChars];
    WCHAR description[kEndpointTextChars];
    DWORD physicalSpeakers;
    DWORD fullRangeSpeakers;
    WAVEFORMATEXTENSIBLE deviceFormat;            // shared-mode format, 40 bytes
    GUID connectorSubtype;                        // capture: the adapter connector's subtype
    IAudioVolumeLevel* level[kEndpointControlSlots];
    IAudioMute* mute[kEndpointControlSlots];
    UINT levelChannels[kEndpointControlSlots];
    LevelChannel channel[kEndpointControlSlots][kMaxLevelChannels];
    float levelCopy[kEndpointControlSlots][kMaxLevelChannels];
    BOOL muteState[kEndpointControlSlots];        // as last read by GetCaptureMute
    BOOL muteAtSetup[kEndpointControlSlots];      // as read by FindEndpoints
    IAudioInputSelector* inputSelector;           // capture: the multiplexer
    UINT localId;                                 // capture: the part that feeds the multiplexer
};

class EndpointControl {
public:
    // Classifies the Windows version (code 4, 32-bit when that fails) and
    // creates the Player; all records empty.
    explicit EndpointControl(HWND dialog);
    ~EndpointControl();

    EndpointControl(const EndpointControl&) = delete;
    EndpointControl& operator=(const EndpointControl&) = delete;

    // Finds the device's endpoints. S_OK at once (outputs untouched) while
    // found; S_OK with usable 1 where endpoint control is not used; E_FAIL
    // when neither direction matched (the next call searches again).
    HRESULT FindEndpoints(WORD vendorId, WORD productId, BYTE interfaceNumber, int* captureFound,
                          int* renderFound, int* usable);
    HRESULT ReleaseEndpoints();

    // Shared-mode format, read afresh from the endpoint.
    HRESULT GetRenderFormat(WORD* channels, DWORD* sampleRate, WORD* bits, DWORD* channelMask);
    HRESULT GetCaptureFormat(UINT index, WORD* channels, DWORD* sampleRate, WORD* bits, DWORD* channelMask);

    // Writes a stereo PCM shared-mode format and its float form.
    HRESULT SetRenderFormat(WORD bits, DWORD sampleRate);
    HRESULT SetCaptureFormat(UINT index, WORD bits, DWORD sampleRate);

    // Left and right levels in dB with channel 1's range.
    HRESULT GetRenderVolume(float* left, float* right, float* minimum, float* maximum, float* step);
    HRESULT GetCaptureVolume(UINT index, float* left, float* right, float* minimum, float* maximum, float* step);
    HRESULT SetRenderVolume(float left, float right);
    HRESULT SetCaptureVolume(UINT index, float left, float right);
    // One channel's level range, read afresh (the channels may differ); nothing written on failure.
    HRESULT GetRenderLevelRange(UINT channel, float* minimum, float* maximum);
    HRESULT GetCaptureLevelRange(UINT index, UINT channel, float* minimum, float* maximum);

    HRESULT GetCaptureMute(UINT index, BOOL* mute);

    // The capture index of the record input the multiplexer selects.
    HRESULT GetSelectedInput(UINT* captureIndex);

    // Version code and 32-bit flag: as computed, and as used (tests and the
    // dialog may use another).
    int ComputedVersionCode() const { return computedVersionCode_; }
    int ComputedIs32Bit() const { return computedIs32Bit_; }
    int VersionCode() const { return versionCode_; }
    int Is32Bit() const { return is32Bit_; }
    void UseVersion(int versionCode, int is32Bit);
    bool Available() const;

    bool Found() const { return found_ != FALSE; }
    UINT RenderCount() const { return renderCount_; }
    UINT CaptureCount() const { return captureCount_; }
    // Null past the count.
    const EndpointRecord* RenderEndpoint(UINT index) const;
    const EndpointRecord* CaptureEndpoint(UINT index) const;
    // The same for the pages, which store the mute state they set.
    EndpointRecord* RenderEndpoint(UINT index) { return index < renderCount_ ? &render_[index] : nullptr; }
    EndpointRecord* CaptureEndpoint(UINT index) { return index < captureCount_ ? &capture_[index] : nullptr; }
    WORD VendorId() const { return vendorId_; }
    WORD ProductId() const { return productId_; }

    Player* GetPlayer() const { return player_; }

private:
    HRESULT SearchDirection(EDataFlow flow, const wchar_t* pattern);
    HRESULT FillRecord(IMMDevice* device, EndpointRecord& record);
    HRESULT WalkTopology(IMMDevice* device, bool capture, EndpointRecord& record);
    void ReadLevels(EndpointRecord& record);
    void WatchVolume(IMMDevice* device, EDataFlow flow);
    HRESULT GetFormat(EndpointRecord* record, WORD* channels, DWORD* sampleRate, WORD* bits, DWORD* channelMask);
    HRESULT SetFormat(EndpointRecord* record, WORD bits, DWORD sampleRate);
    HRESULT GetVolume(EndpointRecord* record, float* left, float* right, float* minimum, float* maximum,
                      float* step);
    HRESULT SetVolume(EndpointRecord* record, float left, float right);
    IMMDevice* OpenDevice(const EndpointRecord& record) const;
    EndpointRecord* Render();
    EndpointRecord* Capture(UINT index);
    static void ReleaseControls(EndpointRecord& record);

    HWND dialog_;
    WORD vendorId_ = 0;
    WORD productId_ = 0;
    int computedVersionCode_ = kWinCodeFallback;
    int computedIs32Bit_ = kIs32BitFallback;
    int versionCode_ = kWinCodeFallback;
    int is32Bit_ = kIs32BitFallback;
    Player* player_ = nullptr;
    BOOL found_ = FALSE;
    EndpointRecord render_[kMaxEndpointsPerDirection];
    EndpointRecord capture_[kMaxEndpointsPerDirection];
    UINT renderCount_ = 0;
    UINT captureCount_ = 0;
};
