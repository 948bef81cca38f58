#pragma once
#include "sensor/SensorClock.h"

#include <QDateTime>

// The clock of a run: monotonic time for waits and ages (what the sensor's waits measure), and the local
// wall-clock time for what is shown and logged. Tests install their own to drive both.
class RunClock : public SensorClock {
public:
    // The local date and time.
    virtual QDateTime wallNow() const = 0;
};

// The steady clock and the system's local time.
const RunClock& systemRunClock();
