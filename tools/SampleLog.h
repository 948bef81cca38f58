#pragma once
#include "sensor/SensorTypes.h"

#include <QDateTime>
#include <cstdint>
#include <string>

// A made-up run for trying and measuring the log reader: smooth wanders around typical readings, written by
// the program's log writer.
struct TSampleLog {
    bool concentration = false;
    int64_t lines = 100; // readings, after the header
    QDateTime start;     // clock time of the first reading
    int intervalMs = 1000;
    int64_t outageAt = -1; // the reading before which the sensor was away (none when negative)
    int64_t outageMs = 0;

    // Reading i of the run (the same for the same i).
    TChannelsModeStructure channelsReading(int64_t i) const;
    TConcentrationModeStructure concentrationReading(int64_t i) const;
    // The clock time reading i is written with: the start's clock moved on by offsetMs(i).
    QDateTime clockTime(int64_t i) const;
    int64_t offsetMs(int64_t i) const;
};

// Writes the log with TLogWriter; raises EInOutError when the file cannot be written. Needs the UK
// conventions in force (ApplyRegionalSettings) for the date column.
void WriteSampleLog(const std::string& fileName, const TSampleLog& log);
