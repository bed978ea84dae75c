// asiohost log on|off|show: the driver's support log in the user folder.
#pragma once

#include <string>

// Returns the exit status: 0 done, 1 a failure, 2 an unknown action.
int LogCommand(const std::string& action);
