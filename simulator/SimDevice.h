// The virtual R5/R6 behind the device seam, and its controls.
//
// Tests install it directly:   sim::Attach("my-test"); InstallDeviceApi(&sim::DeviceTable());
// Shipped binaries load it from VelmorR5R6Sim.dll when VELMOR_DEVICE=simulated.
#pragma once

#include "SimState.h"
#include "device/DeviceApi.h"

namespace sim {

const DeviceApiTable& DeviceTable();

// Plugging and unplugging send WM_DEVICECHANGE to the windows registered for
// the device's interface classes. Unplugging ends every open handle.
void Plug();
void Unplug();
// Back to the factory setup: R6, plugged in, no faults, empty report log and counters.
void ResetDevice();
// Clears the report log and the stream counters only.
void ClearLog();
// The mode reports (DSD mode, DSD markers) whose time has come take effect;
// all of them when all is set. Readers of the device's mode call it first.
void ActOnDueReports(SharedState& state, bool all = false);

}  // namespace sim
