// asiohost controlpanel NAME: asks the driver to show its control panel.
#pragma once

#include "asio/AsioInterface.h"

// Calls the driver's controlPanel and prints its answer; 0 on ASE_OK.
int ShowControlPanel(IASIO* driver);
