// The panel's start-up switch for scripted set-ups: "/remote" starts the
// remote control on port 5566 as if "Network Server" had been pressed,
// "/remote:PORT" on another port.
#pragma once

#include <cstdint>

enum class RemoteSwitch { Absent, Start, Invalid };

// Looks through a command line (program name included or not) for the
// switch, case-insensitive; *port gets 5566 or the given port (1..65535).
RemoteSwitch ParseRemoteSwitch(const char* commandLine, uint16_t* port);
