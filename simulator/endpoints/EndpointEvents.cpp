#include "simulator/endpoints/EndpointEvents.h"

#include "simulator/endpoints/Endpoints.h"

#include <vector>

namespace sim {

namespace {

// How often the device's thread looks at the shared state while someone listens.
constexpr DWORD kWatchPeriodMs = 10;

struct ClientEntry {
    IMMNotificationClient* client;
    bool active[kEndpointCount];
    uint32_t generation;  // the device's removals this client has heard of
};

struct VolumeEntry {
    IAudioEndpointVolumeCallback* callback;
    uint32_t endpoint;
    uint32_t changes;
};

struct Registry {
    CRITICAL_SECTION lock;
    HANDLE wake = nullptr;
    HANDLE thread = nullptr;
    std::vector<ClientEntry> clients;
    std::vector<VolumeEntry> volumes;
};

Registry* g_registry = nullptr;
INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;

struct Snapshot {
    bool active[kEndpointCount];
    EndpointValues values[kEndpointCount];
    uint32_t generation;
};

bool TakeSnapshot(Snapshot& s) {
    SharedState* state = State();
    if (!state) return false;
    StateLock shared;
    for (uint32_t i = 0; i < kEndpointCount; ++i) {
        s.active[i] = EndpointActive(*state, i);
        s.values[i] = Endpoints(*state).endpoint[i];
    }
    s.generation = state->generation;
    return true;
}

void Notify(IAudioEndpointVolumeCallback* callback, const EndpointValues& v) {
    // The structure ends in a one-element array: room for the second channel.
    struct {
        AUDIO_VOLUME_NOTIFICATION_DATA data;
        float more[kEndpointChannels - 1];
    } notice = {};
    notice.data.guidEventContext = v.context;
    notice.data.bMuted = v.mute ? TRUE : FALSE;
    notice.data.nChannels = kEndpointChannels;
    float* channels = notice.data.afChannelVolumes;
    for (uint32_t ch = 0; ch < kEndpointChannels; ++ch) channels[ch] = LevelScalar(v.range[ch], v.level[ch]);
    notice.data.fMasterVolume = channels[0] > channels[1] ? channels[0] : channels[1];
    callback->OnNotify(&notice.data);
}

// Delivers what changed since each registration last heard; callbacks run
// under the registry's lock, so an unregistration waits for a delivery in
// progress and nothing follows it. (A callback may unregister itself: the
// lock is re-entrant and the loops re-check their bounds.)
// A device unplugged and plugged again between two looks still reads as a
// removal and an arrival: its endpoints went away and came back.
void Deliver(Registry& r, const Snapshot& s) {
    EnterCriticalSection(&r.lock);
    for (size_t c = 0; c < r.clients.size(); ++c) {
        const bool removed = r.clients[c].generation != s.generation;
        r.clients[c].generation = s.generation;
        for (uint32_t i = 0; i < kEndpointCount && c < r.clients.size(); ++i) {
            ClientEntry& entry = r.clients[c];
            IMMNotificationClient* client = entry.client;
            if (removed && Endpoint(i).ours && entry.active[i] && s.active[i]) {
                client->OnDeviceStateChanged(Endpoint(i).id, DEVICE_STATE_NOTPRESENT);
                if (c < r.clients.size() && r.clients[c].client == client) {
                    client->OnDeviceStateChanged(Endpoint(i).id, DEVICE_STATE_ACTIVE);
                }
                continue;
            }
            if (entry.active[i] == s.active[i]) continue;
            entry.active[i] = s.active[i];
            client->OnDeviceStateChanged(Endpoint(i).id, s.active[i] ? DEVICE_STATE_ACTIVE : DEVICE_STATE_NOTPRESENT);
        }
    }
    for (size_t n = 0; n < r.volumes.size(); ++n) {
        VolumeEntry& entry = r.volumes[n];
        const EndpointValues& v = s.values[entry.endpoint];
        if (entry.changes == v.changes) continue;
        entry.changes = v.changes;
        Notify(entry.callback, v);
    }
    LeaveCriticalSection(&r.lock);
}

DWORD WINAPI Watch(void* param) {
    Registry& r = *static_cast<Registry*>(param);
    for (;;) {
        EnterCriticalSection(&r.lock);
        bool listening = !r.clients.empty() || !r.volumes.empty();
        LeaveCriticalSection(&r.lock);
        WaitForSingleObject(r.wake, listening ? kWatchPeriodMs : INFINITE);
        Snapshot s;
        if (TakeSnapshot(s)) Deliver(r, s);
    }
}

BOOL CALLBACK Create(PINIT_ONCE, PVOID, PVOID*) {
    auto* r = new Registry;
    InitializeCriticalSection(&r->lock);
    r->wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    g_registry = r;
    return TRUE;
}

// The registry, with the device's thread started at the first registration.
Registry* Get() {
    InitOnceExecuteOnce(&g_once, Create, nullptr, nullptr);
    Registry* r = g_registry;
    if (!r->thread && r->wake) r->thread = CreateThread(nullptr, 0, Watch, r, 0, nullptr);
    return r->thread ? r : nullptr;
}

}  // namespace

HRESULT RegisterEndpointClient(IMMNotificationClient* client) {
    if (!client) return E_POINTER;
    Snapshot s;
    if (!TakeSnapshot(s)) return E_FAIL;
    InitOnceExecuteOnce(&g_once, Create, nullptr, nullptr);
    EnterCriticalSection(&g_registry->lock);
    Registry* r = Get();
    HRESULT hr = E_OUTOFMEMORY;
    if (r) {
        ClientEntry entry = {client, {}, s.generation};
        for (uint32_t i = 0; i < kEndpointCount; ++i) entry.active[i] = s.active[i];
        r->clients.push_back(entry);
        SetEvent(r->wake);
        hr = S_OK;
    }
    LeaveCriticalSection(&g_registry->lock);
    return hr;
}

HRESULT UnregisterEndpointClient(IMMNotificationClient* client) {
    if (!client) return E_POINTER;
    InitOnceExecuteOnce(&g_once, Create, nullptr, nullptr);
    Registry& r = *g_registry;
    EnterCriticalSection(&r.lock);
    HRESULT hr = E_NOTFOUND;
    for (size_t c = 0; c < r.clients.size(); ++c) {
        if (r.clients[c].client == client) {
            r.clients.erase(r.clients.begin() + static_cast<ptrdiff_t>(c));
            hr = S_OK;
            break;
        }
    }
    LeaveCriticalSection(&r.lock);
    return hr;
}

HRESULT RegisterVolumeCallback(uint32_t endpoint, IAudioEndpointVolumeCallback* callback) {
    if (!callback) return E_POINTER;
    if (endpoint >= kEndpointCount) return E_INVALIDARG;
    Snapshot s;
    if (!TakeSnapshot(s)) return E_FAIL;
    InitOnceExecuteOnce(&g_once, Create, nullptr, nullptr);
    EnterCriticalSection(&g_registry->lock);
    Registry* r = Get();
    HRESULT hr = E_OUTOFMEMORY;
    if (r) {
        r->volumes.push_back({callback, endpoint, s.values[endpoint].changes});
        SetEvent(r->wake);
        hr = S_OK;
    }
    LeaveCriticalSection(&g_registry->lock);
    return hr;
}

HRESULT UnregisterVolumeCallback(uint32_t endpoint, IAudioEndpointVolumeCallback* callback) {
    if (!callback) return E_POINTER;
    InitOnceExecuteOnce(&g_once, Create, nullptr, nullptr);
    Registry& r = *g_registry;
    EnterCriticalSection(&r.lock);
    HRESULT hr = E_NOTFOUND;
    for (size_t n = 0; n < r.volumes.size(); ++n) {
        if (r.volumes[n].callback == callback && r.volumes[n].endpoint == endpoint) {
            r.volumes.erase(r.volumes.begin() + static_cast<ptrdiff_t>(n));
            hr = S_OK;
            break;
        }
    }
    LeaveCriticalSection(&r.lock);
    return hr;
}

float LevelScalar(const LevelRange& range, float db) {
    float span = range.maximum - range.minimum;
    return span > 0 ? (db - range.minimum) / span : 1.0f;
}

}  // namespace sim
