#pragma once
#include "sensor/Reading.h"

#include <QDateTime>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// An alarm on one quantity of a reading, named as the published topics name it ("concentration",
// "sample_conc_1", "temperature"). Levels are in the log's units: a concentration is a fraction.
//
// High: on while value > level, cleared when the value is back at or below level - hysteresis.
// Low:  on while value < level, cleared when the value is back at or above level + hysteresis.
// The condition must hold for delaySeconds before the alarm comes on. A latching alarm stays on after
// its value came back, until it is acknowledged.
struct TAlarmRule {
    enum Direction { High, Low };
    std::string quantity;
    Direction direction = High;
    double level = 0;
    double hysteresis = 0;
    double delaySeconds = 0;
    bool latching = false;
    bool operator==(const TAlarmRule&) const = default;
};

// Reads the text form QUANTITY>LEVEL or QUANTITY<LEVEL, optionally followed by ",hysteresis=X",
// ",delay=SECONDS" and ",latch"; a level or hysteresis written with "%" is divided by 100:
//   concentration>1%,hysteresis=0.05%,delay=10
// Empty on success, else why the text cannot be read (the rule is then left unspecified).
std::string ParseAlarmRule(std::string_view text, TAlarmRule& rule);

// The quantities a mode measures, in the order of the log's columns.
std::span<const char* const> AlarmQuantities(bool concentrationMode);
bool MeasuresQuantity(bool concentrationMode, std::string_view quantity);
// The value of a quantity in a reading; empty when the reading's mode does not measure it.
std::optional<double> QuantityValue(const TReading& reading, std::string_view quantity);

// The shortest text that reads back as the same value, "." as decimal point: "0.0125", "-3", "nan".
std::string FormatAlarmNumber(double value);
// "concentration > 0.01"
std::string AlarmRuleText(const TAlarmRule& rule);

// A change of the alarms, or of the log they are written beside.
struct TAlarmEvent {
    enum Kind { AlarmOn, AlarmOff, Acknowledged, NoReading, ReadingsAgain, LogStarted, LogStopped };
    Kind kind = AlarmOn;
    std::string quantity; // empty for the events of no quantity
    double value = std::numeric_limits<double>::quiet_NaN();
    double level = std::numeric_limits<double>::quiet_NaN();
    TAlarmRule::Direction direction = TAlarmRule::High;
    QDateTime time; // local wall time
};
// "Alarm on", "Alarm off", "Acknowledged", "No reading", "Readings again", "Log started", "Log stopped"
const char* AlarmEventName(TAlarmEvent::Kind kind);
