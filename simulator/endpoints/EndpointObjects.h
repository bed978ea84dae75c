// The virtual device's Core Audio objects: the device enumerator that the
// seam's CoCreateInstance hands out, and what an endpoint activates.
#pragma once

#include <windows.h>
#include <devicetopology.h>
#include <endpointvolume.h>
#include <audioclient.h>
#include <mmdeviceapi.h>
#include <mmreg.h>

#include <cstdint>

namespace sim {

HRESULT CreateDeviceEnumerator(REFIID iid, void** object);
HRESULT CreateDeviceTopology(uint32_t endpoint, IDeviceTopology** topology);
HRESULT CreateEndpointVolume(uint32_t endpoint, IAudioEndpointVolume** volume);
HRESULT CreateAudioClient(uint32_t endpoint, IAudioClient** client);

// An endpoint's object stays usable while its device is the one it was made
// for: the device's own endpoints die with an unplug.
uint32_t EndpointGeneration();
bool EndpointAlive(uint32_t endpoint, uint32_t generation);

}  // namespace sim
