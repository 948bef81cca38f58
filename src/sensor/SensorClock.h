#pragma once
#include <chrono>

// The monotonic clock that the sensor's waits measure their deadlines with. Tests install their own
// to drive time; the product uses the steady clock, so changes of the wall clock never affect a wait.
class SensorClock {
public:
    virtual ~SensorClock() = default;
    virtual std::chrono::nanoseconds now() const = 0;
};

// The steady (monotonic) system clock.
const SensorClock& steadySensorClock();
