// What Windows would show of a plugged R5/R6: a render endpoint and, on the
// R6, a line and an S/PDIF capture endpoint, after two endpoints of another
// vendor's device that are always there (the chosen topology may take some
// away or add more). Their descriptions, and the state operations every
// process makes through the shared state.
#pragma once

#include "simulator/SimState.h"

#include <windows.h>
#include <mmdeviceapi.h>
#include <mmreg.h>

#include <string>

namespace sim {

enum EndpointIndex : uint32_t {
    kForeignRender = 0,
    kForeignCapture = 1,
    kDeviceRender = 2,
    kDeviceLineIn = 3,
    kDeviceSpdifIn = 4,
    kFirstExtraRender = kBaseEndpointCount,
    kFirstExtraCapture = kBaseEndpointCount + kExtraEndpointsPerFlow,
};

struct EndpointDesc {
    EDataFlow flow;
    bool ours;                     // the device's own (present only while plugged)
    const wchar_t* id;             // IMMDevice::GetId
    const wchar_t* description;    // "Speakers", "Line In", ...
    DWORD physicalSpeakers;
    DWORD fullRangeSpeakers;
    LevelRange range;              // of both channels until velmor-sim sets others
    float initialLevel;
    uint32_t adapter;              // adapter topology (0 the device's, 1 the foreign one)
    uint32_t connectorPart;        // the adapter part its connector is connected to
    uint32_t twin;                 // whose controls its path passes (itself but for the extra ones)
    uint32_t number;               // extra endpoints: 2, 3, ... in their names; else 0
};

const EndpointDesc& Endpoint(uint32_t index);
// The endpoint with that id, or -1.
int FindEndpoint(LPCWSTR id);

// Texts that depend on the model (caller holds the state lock or accepts a torn read).
std::wstring EndpointFriendlyName(const SharedState& state, uint32_t index);
// "{1}.USB\Vid_3a45&Pid_0452&Mi_01\..." for the device's endpoints.
std::wstring EndpointInstance(const SharedState& state, uint32_t index);

// The endpoint state, with its defaults set at first use (caller holds the state lock).
EndpointsState& Endpoints(SharedState& state);
// Listed at all (in any state): the extra endpoints exist only in the "many" topology.
bool EndpointListed(const SharedState& state, uint32_t index);
// DEVICE_STATE_*: the device's endpoints are NOTPRESENT while it is away
// and for a while after it appeared (each its own moment, in index order);
// then ACTIVE, or DISABLED or UNPLUGGED as the user left them (caller holds
// the state lock).
bool EndpointActive(const SharedState& state, uint32_t index);
DWORD EndpointDeviceState(const SharedState& state, uint32_t index);
HRESULT SetEndpointUserState(uint32_t index, EndpointUserState userState);
// A property value changed, for OnPropertyValueChanged (caller holds the lock).
void NotePropertyChange(EndpointsState& endpoints, uint32_t index, uint32_t key);

// Changes as any program makes them: each level or mute change is counted
// for the notifications. A level is snapped to a step of its channel's
// range; outside the range it gives E_INVALIDARG (as the endpoint volume
// does) or is held at the range's end (as a topology level control does);
// channel ~0u sets every channel.
enum class OutOfRange { Refuse, Clamp };
HRESULT SetEndpointLevel(uint32_t index, UINT channel, float db, LPCGUID context,
                         OutOfRange outside = OutOfRange::Refuse);
// A channel's range (channel ~0u: both); the levels move onto it. A range
// that is not a whole number of steps gives E_INVALIDARG.
HRESULT SetEndpointRange(uint32_t index, UINT channel, const LevelRange& range);
// The level a control would hold for db: on the range, at a step.
float SnapLevel(float db, const LevelRange& range);
// Both channels' ranges in one: what the endpoint volume reports.
LevelRange CombinedRange(const EndpointValues& values);
HRESULT SetEndpointMute(uint32_t index, BOOL mute, LPCGUID context);
HRESULT SetRecordSelection(UINT localId);
// Reads under the lock.
bool ReadEndpoint(uint32_t index, EndpointValues& values, bool* active = nullptr);

// The device's volume keys: one step of the render level up (+1) or down (-1)
// (caller holds the state lock).
void StepRenderLevel(SharedState& state, int direction);

// Back to the defaults (caller holds the state lock).
void ResetEndpoints(SharedState& state);

// Whether the device can take this blob as the value of format key `key`
// (FormatKeyIndex): S_OK, E_INVALIDARG for a broken blob,
// AUDCLNT_E_UNSUPPORTED_FORMAT for one it cannot play (caller holds the lock).
HRESULT CheckFormatBlob(const SharedState& state, uint32_t index, uint32_t key, const BYTE* blob, ULONG bytes);
// The audio engine's shared-mode format: the float form of the device format
// at its rate and channels (caller holds the lock).
WAVEFORMATEXTENSIBLE MixFormat(const SharedState& state, uint32_t index);

// Format keys: the device format, the engine's float form and its two
// Windows 8 copies; -1 for other keys.
int FormatKeyIndex(const PROPERTYKEY& key);
const PROPERTYKEY& FormatKey(uint32_t index);

// Local ids of the device's record inputs as the multiplexer sees them.
constexpr UINT kLineInFeedId = 0x00020005;
constexpr UINT kSpdifInFeedId = 0x00020007;

// The virtual device's COM objects alive in this process.
LONG LiveEndpointObjects();

}  // namespace sim
