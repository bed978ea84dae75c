// The device's setup (plugged in or not, model, faults) kept in the registry,
// so that what the control tool sets holds for programs started later.
#pragma once

#include "SimState.h"

namespace sim {

// Reads HKCU "Software\Velmor\R5R6Sim\<instance>" into a fresh state, if there.
void LoadPersisted(const char* instance, SharedState& state);
// Writes the state's setup there; Forget removes it.
void SavePersisted(const char* instance, const SharedState& state);
void ForgetPersisted(const char* instance);

}  // namespace sim
