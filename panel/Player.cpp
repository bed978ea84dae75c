#include "panel/Player.h"

#include "device/DeviceApi.h"
#include "panel/PanelMessages.h"

#include <new>

// {5C0E8A31-7B2D-4E61-9F3A-1D4B6C8E2A57}
const GUID kPanelEventContext = {0x5c0e8a31, 0x7b2d, 0x4e61, {0x9f, 0x3a, 0x1d, 0x4b, 0x6c, 0x8e, 0x2a, 0x57}};

namespace {

template <typename T>
void ReleaseAndClear(T*& p) {
    if (p) {
        p->Release();
        p = nullptr;
    }
}

}  // namespace

// ---- CAudioSessionEvents

CAudioSessionEvents::CAudioSessionEvents(Player* owner, HWND dialog, int capture)
    : owner_(owner), dialog_(dialog), capture_(capture), refs_(1) {}

HRESULT STDMETHODCALLTYPE CAudioSessionEvents::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(IAudioSessionEvents))) {
        *object = static_cast<IAudioSessionEvents*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CAudioSessionEvents::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG STDMETHODCALLTYPE CAudioSessionEvents::Release() {
    LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
}

HRESULT STDMETHODCALLTYPE CAudioSessionEvents::OnDisplayNameChanged(LPCWSTR, LPCGUID) { return S_OK; }
HRESULT STDMETHODCALLTYPE CAudioSessionEvents::OnIconPathChanged(LPCWSTR, LPCGUID) { return S_OK; }

HRESULT STDMETHODCALLTYPE CAudioSessionEvents::OnSimpleVolumeChanged(float volume, BOOL mute, LPCGUID context) {
    if (capture_ || !owner_) return S_OK;
    // Our own changes come back with our context: nothing to tell.
    if (context && IsEqualGUID(*context, kPanelEventContext)) return S_OK;
    if (SessionListener* listener = owner_->Listener()) listener->OnSessionVolumeChanged(volume, mute);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CAudioSessionEvents::OnChannelVolumeChanged(DWORD, float[], DWORD, LPCGUID) { return S_OK; }
HRESULT STDMETHODCALLTYPE CAudioSessionEvents::OnGroupingParamChanged(LPCGUID, LPCGUID) { return S_OK; }
HRESULT STDMETHODCALLTYPE CAudioSessionEvents::OnStateChanged(AudioSessionState) { return S_OK; }

HRESULT STDMETHODCALLTYPE CAudioSessionEvents::OnSessionDisconnected(AudioSessionDisconnectReason reason) {
    if (!owner_) return S_OK;
    if (SessionListener* listener = owner_->Listener()) listener->OnSessionDisconnected(capture_ != 0, reason);
    return S_OK;
}

// ---- Player

Player::Player(HWND dialog) : dialog_(dialog) {
    InitializeCriticalSection(&lock_);
    HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    comInitialized_ = SUCCEEDED(init);  // a thread already in another apartment keeps it
    void* enumerator = nullptr;
    if (SUCCEEDED(DeviceApi().CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                               __uuidof(IMMDeviceEnumerator), &enumerator)) &&
        enumerator) {
        enumerator_ = static_cast<IMMDeviceEnumerator*>(enumerator);
        notificationRegistered_ = SUCCEEDED(enumerator_->RegisterEndpointNotificationCallback(this));
    }
    renderEvents_ = new (std::nothrow) CAudioSessionEvents(this, dialog, 0);
    captureEvents_ = new (std::nothrow) CAudioSessionEvents(this, dialog, 1);
}

Player::~Player() {
    Unwatch(eRender);
    Unwatch(eCapture);
    if (enumerator_ && notificationRegistered_) enumerator_->UnregisterEndpointNotificationCallback(this);
    notificationRegistered_ = FALSE;
    ReleaseAndClear(renderSession_);
    ReleaseAndClear(captureSession_);
    ReleaseAndClear(renderEvents_);
    ReleaseAndClear(captureEvents_);
    ReleaseAndClear(renderCollection_);
    ReleaseAndClear(captureCollection_);
    ReleaseAndClear(enumerator_);
    DeleteCriticalSection(&lock_);
    if (comInitialized_) CoUninitialize();
}

HRESULT STDMETHODCALLTYPE Player::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(IMMNotificationClient))) {
        *object = static_cast<IMMNotificationClient*>(this);
    } else if (IsEqualIID(iid, __uuidof(IAudioEndpointVolumeCallback))) {
        *object = static_cast<IAudioEndpointVolumeCallback*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE Player::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG STDMETHODCALLTYPE Player::Release() {
    LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
}

HRESULT STDMETHODCALLTYPE Player::OnDeviceStateChanged(LPCWSTR, DWORD state) {
    if (state == DEVICE_STATE_ACTIVE) PostMessageA(dialog_, WM_PANEL_ENDPOINT_ACTIVE, 0, 0);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Player::OnDeviceAdded(LPCWSTR) { return S_OK; }
HRESULT STDMETHODCALLTYPE Player::OnDeviceRemoved(LPCWSTR) { return S_OK; }
HRESULT STDMETHODCALLTYPE Player::OnDefaultDeviceChanged(EDataFlow, ERole, LPCWSTR) { return S_OK; }
HRESULT STDMETHODCALLTYPE Player::OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) { return S_OK; }

HRESULT STDMETHODCALLTYPE Player::OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA) {
    PostMessageA(dialog_, WM_PANEL_VOLUME_CHANGED, 0, 0);
    return S_OK;
}

HRESULT Player::TakeCollection(EDataFlow flow) {
    IMMDeviceCollection*& slot = flow == eRender ? renderCollection_ : captureCollection_;
    ReleaseAndClear(slot);
    if (!enumerator_) return E_FAIL;
    return enumerator_->EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE, &slot);
}

IMMDeviceCollection* Player::Collection(EDataFlow flow) const {
    return flow == eRender ? renderCollection_ : captureCollection_;
}

HRESULT Player::Watch(EDataFlow flow, IAudioEndpointVolume* volume) {
    if (!volume) return E_FAIL;
    Unwatch(flow);
    EnterCriticalSection(&lock_);
    IAudioEndpointVolume*& slot = flow == eRender ? renderVolume_ : captureVolume_;
    BOOL& registered = flow == eRender ? renderVolumeRegistered_ : captureVolumeRegistered_;
    volume->AddRef();
    slot = volume;
    HRESULT hr = volume->RegisterControlChangeNotify(this);
    registered = SUCCEEDED(hr);
    LeaveCriticalSection(&lock_);
    return hr;
}

void Player::Unwatch(EDataFlow flow) {
    EnterCriticalSection(&lock_);
    IAudioEndpointVolume*& slot = flow == eRender ? renderVolume_ : captureVolume_;
    BOOL& registered = flow == eRender ? renderVolumeRegistered_ : captureVolumeRegistered_;
    if (slot) {
        if (registered) slot->UnregisterControlChangeNotify(this);
        ReleaseAndClear(slot);
    }
    registered = FALSE;
    LeaveCriticalSection(&lock_);
}

bool Player::Watching(EDataFlow flow) const {
    return (flow == eRender ? renderVolumeRegistered_ : captureVolumeRegistered_) != FALSE;
}

void Player::SetSessionListener(SessionListener* listener) { listener_ = listener; }
