#pragma once
#include "record/RunClock.h"

#include <chrono>

// A run clock whose wall time starts at a chosen moment and then runs with the steady clock, so that a
// test can be at midnight in a second.
struct ShiftedClock : RunClock {
    explicit ShiftedClock(const QDateTime& wallStart) : start(wallStart) {}
    std::chrono::nanoseconds now() const override { return std::chrono::steady_clock::now().time_since_epoch(); }
    QDateTime wallNow() const override
    {
        return start.addMSecs(std::chrono::duration_cast<std::chrono::milliseconds>(now() - origin).count());
    }
    QDateTime start;
    std::chrono::nanoseconds origin = now();
};
