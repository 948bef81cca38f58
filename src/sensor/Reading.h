#pragma once
#include "sensor/SensorTypes.h"

#include <variant>

// A reading of either mode, as a run hands it to what shows, logs or publishes it.
using TReading = std::variant<TChannelsModeStructure, TConcentrationModeStructure>;
