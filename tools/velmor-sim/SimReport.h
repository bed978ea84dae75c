// velmor-sim's views of the device: stable "key value" lines or one JSON object.
#pragma once

#include "simulator/SimState.h"

#include <string>

std::string StatusText(const sim::SharedState& state);
std::string StatusJson(const sim::SharedState& state);
std::string ReportsText(const sim::SharedState& state);
std::string ReportsJson(const sim::SharedState& state);
