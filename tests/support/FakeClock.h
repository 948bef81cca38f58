#pragma once
#include "SensorClock.h"

#include <chrono>

// A clock that moves only when the test sets t. It starts at the steady clock's time, so that records
// stamped before it was installed keep their age.
struct FakeClock : SensorClock {
    std::chrono::nanoseconds t = std::chrono::steady_clock::now().time_since_epoch();
    std::chrono::nanoseconds now() const override { return t; }
};
