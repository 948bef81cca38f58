#include "run/AlarmMonitor.h"

#include <variant>

void TAlarmMonitor::setRules(std::vector<TAlarmRule> rules, bool concentrationMode)
{
    FRules = std::move(rules);
    FStates.assign(FRules.size(), TRuleState{});
    FNoReading = Off;
    FConcentrationMode = !concentrationMode;
    setMode(concentrationMode);
}

void TAlarmMonitor::setNoReadingAlarm(bool on)
{
    FNoReadingWanted = on;
    if (!on)
        FNoReading = Off;
}

void TAlarmMonitor::setMode(bool concentrationMode)
{
    if (concentrationMode == FConcentrationMode)
        return;
    FConcentrationMode = concentrationMode;
    for (size_t i = 0; i < FRules.size(); ++i) {
        TRuleState& s = FStates[i];
        if (!MeasuresQuantity(concentrationMode, FRules[i].quantity))
            s.state = NotMeasured;
        else if (s.state == NotMeasured)
            s.state = Off;
    }
}

void TAlarmMonitor::emitEvent(TAlarmEvent::Kind kind, const TAlarmRule* rule, double value, const QDateTime& time)
{
    FEvent.kind = kind;
    FEvent.quantity = rule ? rule->quantity : std::string();
    FEvent.value = value;
    FEvent.level = rule ? rule->level : std::numeric_limits<double>::quiet_NaN();
    FEvent.direction = rule ? rule->direction : TAlarmRule::High;
    FEvent.time = time;
    if (FSink)
        FSink(FEvent);
}

void TAlarmMonitor::judge(const TReading& reading, std::chrono::nanoseconds now, const QDateTime& wallTime)
{
    if (FRules.empty())
        return;
    setMode(std::holds_alternative<TConcentrationModeStructure>(reading));
    if (FNoReading != Off) {
        FNoReading = Off;
        emitEvent(TAlarmEvent::ReadingsAgain, nullptr, std::numeric_limits<double>::quiet_NaN(), wallTime);
    }
    for (size_t i = 0; i < FRules.size(); ++i)
        if (const std::optional<double> value = QuantityValue(reading, FRules[i].quantity))
            judgeRule(i, *value, now, wallTime);
}

void TAlarmMonitor::judgeRule(size_t index, double value, std::chrono::nanoseconds now, const QDateTime& wallTime)
{
    const TAlarmRule& rule = FRules[index];
    TRuleState& s = FStates[index];
    s.value = value;
    const bool high = rule.direction == TAlarmRule::High;
    const bool beyond = high ? value > rule.level : value < rule.level;
    const bool cleared = high ? value <= rule.level - rule.hysteresis : value >= rule.level + rule.hysteresis;
    switch (s.state) {
    case NotMeasured: return;
    case Off:
        if (!beyond)
            return;
        s.state = Pending;
        s.since = now;
        [[fallthrough]];
    case Pending:
        if (!beyond) {
            s.state = Off;
        } else if (now - s.since >= std::chrono::duration<double>(rule.delaySeconds)) {
            s.state = On;
            emitEvent(TAlarmEvent::AlarmOn, &rule, value, wallTime);
        }
        return;
    case On:
        if (!cleared)
            return;
        if (rule.latching) {
            s.state = ClearedUnacknowledged;
            return;
        }
        s.state = Off;
        emitEvent(TAlarmEvent::AlarmOff, &rule, value, wallTime);
        return;
    case OnAcknowledged:
        if (!cleared)
            return;
        s.state = Off;
        emitEvent(TAlarmEvent::AlarmOff, &rule, value, wallTime);
        return;
    case ClearedUnacknowledged:
        if (beyond)
            s.state = On; // on again before anyone saw it had come back
        return;
    }
}

void TAlarmMonitor::outageBegan(const QDateTime& wallTime)
{
    if (FRules.empty() || !FNoReadingWanted || FNoReading != Off)
        return;
    FNoReading = On;
    emitEvent(TAlarmEvent::NoReading, nullptr, std::numeric_limits<double>::quiet_NaN(), wallTime);
}

void TAlarmMonitor::acknowledge(const QDateTime& wallTime)
{
    if (FNoReading == On) {
        FNoReading = OnAcknowledged;
        emitEvent(TAlarmEvent::Acknowledged, nullptr, std::numeric_limits<double>::quiet_NaN(), wallTime);
    }
    for (size_t i = 0; i < FRules.size(); ++i) {
        TRuleState& s = FStates[i];
        if (s.state == On) {
            s.state = OnAcknowledged;
            emitEvent(TAlarmEvent::Acknowledged, &FRules[i], s.value, wallTime);
        } else if (s.state == ClearedUnacknowledged) {
            s.state = Off;
            emitEvent(TAlarmEvent::Acknowledged, &FRules[i], s.value, wallTime);
            emitEvent(TAlarmEvent::AlarmOff, &FRules[i], s.value, wallTime);
        }
    }
}

std::vector<std::string> TAlarmMonitor::alarmsOn() const
{
    std::vector<std::string> on;
    for (size_t i = 0; i < FRules.size(); ++i) {
        const State s = FStates[i].state;
        if (s == On || s == OnAcknowledged || s == ClearedUnacknowledged)
            on.push_back(AlarmRuleText(FRules[i]));
    }
    if (FNoReading != Off)
        on.push_back("no reading");
    return on;
}
