#include "simulator/endpoints/EndpointEvents.h"

#include "simulator/endpoints/Endpoints.h"

#include <cstring>
#include <vector>

namespace sim {

namespace {

// How often the device's thread looks at the shared state while someone listens.
constexpr DWORD kWatchPeriodMs = 10;

struct ClientEntry {
    IMMNotificationClient* client;
    DWORD state[kEndpointCount];
    uint32_t generation;  // the device's removals this client has heard of
    uint32_t properties;  // property changes it has heard of
};

struct VolumeEntry {
    IAudioEndpointVolumeCallback* callback;
    uint32_t endpoint;
    uint32_t generation;  // of the endpoint volume it was registered with
    uint32_t sequence;    // volume changes it has heard of
    bool dead;            // its endpoint went away: nothing more comes
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
    DWORD state[kEndpointCount];
    EndpointValues values[kEndpointCount];
    uint32_t generation;
    uint32_t volumeSequence;
    uint32_t propertySequence;
    VolumeChange volumeRing[kChangeRing];
    PropertyChange propertyRing[kChangeRing];
};

bool TakeSnapshot(Snapshot& s) {
    SharedState* state = State();
    if (!state) return false;
    StateLock shared;
    EndpointsState& e = Endpoints(*state);
    for (uint32_t i = 0; i < kEndpointCount; ++i) {
        s.state[i] = EndpointDeviceState(*state, i);
        s.values[i] = e.endpoint[i];
    }
    s.generation = state->generation;
    s.volumeSequence = e.volumeSequence;
    s.propertySequence = e.propertySequence;
    std::memcpy(s.volumeRing, e.volumeRing, sizeof(s.volumeRing));
    std::memcpy(s.propertyRing, e.propertyRing, sizeof(s.propertyRing));
    return true;
}

VolumeChange Current(uint32_t endpoint, const EndpointValues& v) {
    VolumeChange c = {endpoint, v.mute, {}, {}, v.context};
    for (uint32_t ch = 0; ch < kEndpointChannels; ++ch) {
        c.level[ch] = v.level[ch];
        c.range[ch] = v.range[ch];
    }
    return c;
}

void Notify(IAudioEndpointVolumeCallback* callback, const VolumeChange& v) {
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

// The state changes of one client since it last heard. A device unplugged
// and plugged again between two looks still reads as a removal and an
// arrival: its endpoints went away and came back.
void DeliverStates(Registry& r, size_t c, const Snapshot& s) {
    const bool removed = r.clients[c].generation != s.generation;
    r.clients[c].generation = s.generation;
    for (uint32_t i = 0; i < kEndpointCount && c < r.clients.size(); ++i) {
        ClientEntry& entry = r.clients[c];
        IMMNotificationClient* client = entry.client;
        if (removed && Endpoint(i).ours && entry.state[i] == s.state[i] && s.state[i] != DEVICE_STATE_NOTPRESENT) {
            client->OnDeviceStateChanged(Endpoint(i).id, DEVICE_STATE_NOTPRESENT);
            if (c < r.clients.size() && r.clients[c].client == client) client->OnDeviceStateChanged(Endpoint(i).id, s.state[i]);
            continue;
        }
        if (entry.state[i] == s.state[i]) continue;
        entry.state[i] = s.state[i];
        client->OnDeviceStateChanged(Endpoint(i).id, s.state[i]);
    }
}

// One OnPropertyValueChanged per value a program changed.
void DeliverProperties(Registry& r, size_t c, const Snapshot& s) {
    uint32_t from = r.clients[c].properties;
    if (s.propertySequence - from > kChangeRing) from = s.propertySequence - kChangeRing;
    r.clients[c].properties = s.propertySequence;
    IMMNotificationClient* client = r.clients[c].client;
    for (uint32_t n = from; n != s.propertySequence && c < r.clients.size() && r.clients[c].client == client; ++n) {
        const PropertyChange& change = s.propertyRing[n % kChangeRing];
        client->OnPropertyValueChanged(Endpoint(change.endpoint).id, FormatKey(change.key));
    }
}

// One OnNotify per level or mute change of the registration's endpoint,
// while the endpoint volume it was made with lives.
void DeliverVolumes(Registry& r, size_t n, const Snapshot& s) {
    VolumeEntry& entry = r.volumes[n];
    const uint32_t endpoint = entry.endpoint;
    const bool alive = s.state[endpoint] == DEVICE_STATE_ACTIVE &&
                       (!Endpoint(endpoint).ours || entry.generation == s.generation);
    if (!alive) entry.dead = true;
    uint32_t from = entry.sequence;
    entry.sequence = s.volumeSequence;
    if (entry.dead) return;
    IAudioEndpointVolumeCallback* callback = entry.callback;
    if (s.volumeSequence - from > kChangeRing) {
        // Further behind than the ring: once with the values of the moment.
        from = s.volumeSequence - kChangeRing;
        Notify(callback, Current(endpoint, s.values[endpoint]));
    }
    for (; from != s.volumeSequence && n < r.volumes.size() && r.volumes[n].callback == callback; ++from) {
        const VolumeChange& change = s.volumeRing[from % kChangeRing];
        if (change.endpoint == endpoint) Notify(callback, change);
    }
}

// Delivers what changed since each registration last heard; callbacks run
// under the registry's lock, so an unregistration waits for a delivery in
// progress and nothing follows it. (A callback may unregister itself: the
// lock is re-entrant and the loops re-check their bounds.)
void Deliver(Registry& r, const Snapshot& s) {
    EnterCriticalSection(&r.lock);
    for (size_t c = 0; c < r.clients.size(); ++c) {
        DeliverStates(r, c, s);
        if (c < r.clients.size()) DeliverProperties(r, c, s);
    }
    for (size_t n = 0; n < r.volumes.size(); ++n) DeliverVolumes(r, n, s);
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
        ClientEntry entry = {client, {}, s.generation, s.propertySequence};
        for (uint32_t i = 0; i < kEndpointCount; ++i) entry.state[i] = s.state[i];
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

HRESULT RegisterVolumeCallback(uint32_t endpoint, uint32_t generation, IAudioEndpointVolumeCallback* callback) {
    if (!callback) return E_POINTER;
    if (endpoint >= kEndpointCount) return E_INVALIDARG;
    Snapshot s;
    if (!TakeSnapshot(s)) return E_FAIL;
    InitOnceExecuteOnce(&g_once, Create, nullptr, nullptr);
    EnterCriticalSection(&g_registry->lock);
    Registry* r = Get();
    HRESULT hr = E_OUTOFMEMORY;
    if (r) {
        r->volumes.push_back({callback, endpoint, generation, s.volumeSequence, false});
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
