// velmor-sim's commands for the device's Windows audio endpoints: list them,
// and change volume, mute, record input and format as a user in the Windows
// mixer would, plus the endpoint faults.
#pragma once

#include "simulator/SimState.h"

#include <string>
#include <vector>

// Runs an endpoint command; -1 when args is not one, else the exit status.
int EndpointCommand(const std::vector<std::string>& args, bool json, sim::SharedState& state);

extern const char kEndpointUsage[];
