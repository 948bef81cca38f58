#pragma once
#include "sensor/SensorClock.h"

// Moves only when the test sets t; starts at the steady clock's time, so earlier records keep their age.
struct FakeClock : SensorClock {
    std::chrono::nanoseconds t = std::chrono::steady_clock::now().time_since_epoch();
    std::chrono::nanoseconds now() const override { return t; }
};
