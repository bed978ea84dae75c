// VelmorR5R6Sim.dll: the virtual device for shipped binaries started with
// VELMOR_DEVICE=simulated. They find the table through this one export.
#include "SimDevice.h"

extern "C" __declspec(dllexport) const DeviceApiTable* VelmorSimDeviceApi() { return &sim::DeviceTable(); }
