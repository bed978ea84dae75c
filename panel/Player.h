// The endpoint control's COM side: the device enumerator, the endpoint
// collections and the watched endpoint volumes, with the notification sinks
// that turn Core Audio callbacks into messages posted to the main dialog.
#pragma once

#include <windows.h>
#include <audiopolicy.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>

class Player;

// Told about the audio session the session sinks watch (none is attached by
// default: the panel opens no session of its own).
class SessionListener {
public:
    virtual void OnSessionVolumeChanged(float volume, BOOL mute) = 0;
    virtual void OnSessionDisconnected(bool capture, AudioSessionDisconnectReason reason) = 0;

protected:
    ~SessionListener() = default;
};

// The event context the panel passes with its own changes; events carrying it are not echoed.
extern const GUID kPanelEventContext;

class CAudioSessionEvents final : public IAudioSessionEvents {
public:
    CAudioSessionEvents(Player* owner, HWND dialog, int capture);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IAudioSessionEvents
    HRESULT STDMETHODCALLTYPE OnDisplayNameChanged(LPCWSTR name, LPCGUID context) override;
    HRESULT STDMETHODCALLTYPE OnIconPathChanged(LPCWSTR path, LPCGUID context) override;
    HRESULT STDMETHODCALLTYPE OnSimpleVolumeChanged(float volume, BOOL mute, LPCGUID context) override;
    HRESULT STDMETHODCALLTYPE OnChannelVolumeChanged(DWORD count, float volumes[], DWORD channel,
                                                     LPCGUID context) override;
    HRESULT STDMETHODCALLTYPE OnGroupingParamChanged(LPCGUID grouping, LPCGUID context) override;
    HRESULT STDMETHODCALLTYPE OnStateChanged(AudioSessionState state) override;
    HRESULT STDMETHODCALLTYPE OnSessionDisconnected(AudioSessionDisconnectReason reason) override;

private:
    virtual ~CAudioSessionEvents() = default;

    Player* owner_;   // not counted: the owner holds the sink
    HWND dialog_;
    int capture_;     // 0 render, 1 capture
    LONG refs_;
};

class Player final : public IMMNotificationClient, public IAudioEndpointVolumeCallback {
public:
    // Initialises COM for the thread (multithreaded), creates the device
    // enumerator through the device seam and registers for endpoint
    // notifications. The reference count starts at 1.
    explicit Player(HWND dialog);

    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IMMNotificationClient
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR id, DWORD state) override;
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR id) override;
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR id) override;
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR id) override;
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR id, const PROPERTYKEY key) override;

    // IAudioEndpointVolumeCallback
    HRESULT STDMETHODCALLTYPE OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA data) override;

    // The enumerator (null when it could not be created) and whether the
    // endpoint notifications are registered.
    IMMDeviceEnumerator* Enumerator() const { return enumerator_; }
    bool NotificationRegistered() const { return notificationRegistered_ != FALSE; }

    // Takes the active endpoints of one direction, replacing the previous collection.
    HRESULT TakeCollection(EDataFlow flow);
    IMMDeviceCollection* Collection(EDataFlow flow) const;

    // Watches one endpoint's volume (replacing the one watched before in that
    // direction) and stops watching; both under the critical section.
    HRESULT Watch(EDataFlow flow, IAudioEndpointVolume* volume);
    void Unwatch(EDataFlow flow);
    bool Watching(EDataFlow flow) const;

    // Who hears of session changes (may be null).
    void SetSessionListener(SessionListener* listener);
    SessionListener* Listener() const { return listener_; }

private:
    virtual ~Player();

    CRITICAL_SECTION lock_;
    HWND dialog_;
    IMMDeviceEnumerator* enumerator_ = nullptr;
    IMMDeviceCollection* renderCollection_ = nullptr;
    IMMDeviceCollection* captureCollection_ = nullptr;
    IAudioEndpointVolume* renderVolume_ = nullptr;
    BOOL renderVolumeRegistered_ = FALSE;
    IAudioEndpointVolume* captureVolume_ = nullptr;
    BOOL captureVolumeRegistered_ = FALSE;
    CAudioSessionEvents* renderEvents_ = nullptr;
    CAudioSessionEvents* captureEvents_ = nullptr;
    IAudioSessionControl* renderSession_ = nullptr;
    IAudioSessionControl* captureSession_ = nullptr;
    BOOL notificationRegistered_ = FALSE;
    LONG refs_ = 1;

    bool comInitialized_ = false;
    SessionListener* listener_ = nullptr;
};
