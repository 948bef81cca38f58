#pragma once
#include "record/AlarmRule.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// Judges readings against alarm rules: pure logic, no timers. It is told each fresh reading with its
// monotonic time and local wall time, and when an outage begins; every change goes to the sink as an event.
//
// Per rule: Off; Pending (the condition holds, its delay has not passed); On; OnAcknowledged;
// ClearedUnacknowledged (a latching alarm whose value came back, on until acknowledged); NotMeasured
// (the mode of the readings has no such quantity: the rule neither raises nor clears, and starts again
// from Off when its quantity is measured again). A delay is judged at the readings: the alarm comes on
// with the first reading at least delaySeconds after the condition began.
// "No reading" (on unless turned off, when rules are set) comes on when an outage begins and goes off
// with the next reading.
//
//   TAlarmMonitor alarms([](const TAlarmEvent& e) { ... });
//   alarms.setRules({rule}, concentrationMode);
//   alarms.judge(reading, clock.now(), clock.wallNow());
//   alarms.outageBegan(clock.wallNow());
class TAlarmMonitor {
public:
    enum State { Off, Pending, On, OnAcknowledged, ClearedUnacknowledged, NotMeasured };
    using TSink = std::function<void(const TAlarmEvent&)>;

    explicit TAlarmMonitor(TSink sink) : FSink(std::move(sink)) {}

    // New rules, all Off (NotMeasured where the mode has no such quantity); "No reading" off. No events.
    void setRules(std::vector<TAlarmRule> rules, bool concentrationMode);
    const std::vector<TAlarmRule>& rules() const { return FRules; }
    bool active() const { return !FRules.empty(); }
    void setNoReadingAlarm(bool on);
    bool noReadingAlarm() const { return FNoReadingWanted; }

    // The readings' mode changed: the rules of quantities it does not measure become NotMeasured
    // (silently), the others that were NotMeasured start from Off. judge() notices a change by itself.
    void setMode(bool concentrationMode);
    void judge(const TReading& reading, std::chrono::nanoseconds now, const QDateTime& wallTime);
    void outageBegan(const QDateTime& wallTime);
    // Every alarm that is on and not acknowledged is acknowledged; a latching one whose value came back
    // goes off.
    void acknowledge(const QDateTime& wallTime);

    State state(size_t rule) const { return FStates[rule].state; }
    bool noReading() const { return FNoReading != Off; }
    // What is on: "concentration > 0.01", ..., "no reading"; empty when nothing is.
    std::vector<std::string> alarmsOn() const;

private:
    struct TRuleState {
        State state = Off;
        std::chrono::nanoseconds since{};
        double value = 0;
    };
    void emitEvent(TAlarmEvent::Kind kind, const TAlarmRule* rule, double value, const QDateTime& time);
    void judgeRule(size_t index, double value, std::chrono::nanoseconds now, const QDateTime& wallTime);

    TSink FSink;
    std::vector<TAlarmRule> FRules;
    std::vector<TRuleState> FStates;
    bool FConcentrationMode = false;
    bool FNoReadingWanted = true;
    State FNoReading = Off;
    TAlarmEvent FEvent; // reused
};
