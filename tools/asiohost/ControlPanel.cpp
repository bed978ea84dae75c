#include "ControlPanel.h"

#include <cstdio>

int ShowControlPanel(IASIO* driver) {
    ASIOError result = driver->controlPanel();
    std::printf("controlPanel: %ld\n", static_cast<long>(result));
    return result == ASE_OK ? 0 : 1;
}
