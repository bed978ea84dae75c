// Endpoint notifications as Windows delivers them: device-state and
// property-value changes to the registered notification clients and each
// volume or mute change to the callbacks of an endpoint's volume, from a
// thread of the virtual device, for changes made by any process. Nothing is
// delivered once a client has unregistered.
#pragma once

#include <windows.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>

#include "simulator/endpoints/EndpointState.h"

#include <cstdint>

namespace sim {

HRESULT RegisterEndpointClient(IMMNotificationClient* client);
HRESULT UnregisterEndpointClient(IMMNotificationClient* client);
// A registration made through an endpoint volume of that device generation;
// it hears nothing once its endpoint went away, even when the device is back.
HRESULT RegisterVolumeCallback(uint32_t endpoint, uint32_t generation, IAudioEndpointVolumeCallback* callback);
HRESULT UnregisterVolumeCallback(uint32_t endpoint, IAudioEndpointVolumeCallback* callback);

// A level in dB as the endpoint volume's 0..1 scalar on that range.
float LevelScalar(const LevelRange& range, float db);

}  // namespace sim
