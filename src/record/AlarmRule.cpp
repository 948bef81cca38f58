#include "record/AlarmRule.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <variant>

namespace {

constexpr const char* ChannelsQuantities[] = {"channel",       "sample",      "reference", "voltage_pwm",
                                              "concentration", "temperature", "pressure"};
constexpr const char* ConcentrationQuantities[] = {"sample_conc_1", "sample_conc_2", "sample_conc_3", "ostrel_conc_1",
                                                   "ostrel_conc_2", "temperature",   "pressure",      "humidity"};

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// A finite number in C notation, "%" dividing it by 100.
std::optional<double> number(std::string_view text)
{
    text = trimmed(text);
    bool percent = false;
    if (!text.empty() && text.back() == '%') {
        percent = true;
        text = trimmed(text.substr(0, text.size() - 1));
    }
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return percent ? value / 100 : value;
}

bool known(std::string_view quantity)
{
    return MeasuresQuantity(false, quantity) || MeasuresQuantity(true, quantity);
}

} // namespace

std::span<const char* const> AlarmQuantities(bool concentrationMode)
{
    if (concentrationMode)
        return ConcentrationQuantities;
    return ChannelsQuantities;
}

bool MeasuresQuantity(bool concentrationMode, std::string_view quantity)
{
    const auto names = AlarmQuantities(concentrationMode);
    return std::any_of(names.begin(), names.end(), [&](const char* name) { return quantity == name; });
}

std::optional<double> QuantityValue(const TReading& reading, std::string_view q)
{
    if (const auto* c = std::get_if<TChannelsModeStructure>(&reading)) {
        if (q == "channel")
            return c->Channel;
        if (q == "sample")
            return c->Sample;
        if (q == "reference")
            return c->Reference;
        if (q == "voltage_pwm")
            return c->VoltagePWM;
        if (q == "concentration")
            return c->Concentration;
        if (q == "temperature")
            return c->Temperature;
        if (q == "pressure")
            return c->Pressure;
        return std::nullopt;
    }
    const auto& r = std::get<TConcentrationModeStructure>(reading);
    if (q == "sample_conc_1")
        return r.SampleConc1;
    if (q == "sample_conc_2")
        return r.SampleConc2;
    if (q == "sample_conc_3")
        return r.SampleConc3;
    if (q == "ostrel_conc_1")
        return r.OstrelConc1;
    if (q == "ostrel_conc_2")
        return r.OstrelConc2;
    if (q == "temperature")
        return r.Temperature;
    if (q == "pressure")
        return r.Pressure;
    if (q == "humidity")
        return r.Humidity;
    return std::nullopt;
}

std::string ParseAlarmRule(std::string_view text, TAlarmRule& rule)
{
    rule = TAlarmRule{};
    const std::string whole(text);
    const size_t comma = text.find(',');
    const std::string_view condition = text.substr(0, comma);
    const size_t op = condition.find_first_of("<>");
    if (op == std::string_view::npos)
        return "The alarm '" + whole + "' has no '>' or '<': QUANTITY>LEVEL or QUANTITY<LEVEL";
    const std::string quantity(trimmed(condition.substr(0, op)));
    if (!known(quantity))
        return "The alarm '" + whole + "' names no known quantity ('" + quantity + "')";
    rule.quantity = quantity;
    rule.direction = condition[op] == '>' ? TAlarmRule::High : TAlarmRule::Low;
    const auto level = number(condition.substr(op + 1));
    if (!level)
        return "The alarm '" + whole + "' has no level that is a number ('" + std::string(condition.substr(op + 1))
               + "')";
    rule.level = *level;
    for (size_t at = comma; at != std::string_view::npos;) {
        const size_t next = text.find(',', at + 1);
        const std::string_view item =
            trimmed(text.substr(at + 1, next == std::string_view::npos ? std::string_view::npos : next - at - 1));
        at = next;
        if (item == "latch") {
            rule.latching = true;
            continue;
        }
        const size_t equals = item.find('=');
        const std::string_view key = trimmed(item.substr(0, equals));
        if (equals == std::string_view::npos || (key != "hysteresis" && key != "delay"))
            return "The alarm '" + whole + "' has an unknown part '" + std::string(item)
                   + "': hysteresis=X, delay=SECONDS or latch";
        const std::string_view valueText = item.substr(equals + 1);
        const auto value = key == "delay" && trimmed(valueText).ends_with('%') ? std::nullopt : number(valueText);
        if (!value || *value < 0)
            return "The alarm '" + whole + "' has a " + std::string(key) + " that is not a number of at least 0 ('"
                   + std::string(trimmed(valueText)) + "')";
        (key == "delay" ? rule.delaySeconds : rule.hysteresis) = *value;
    }
    return {};
}

std::string FormatAlarmNumber(double value)
{
    if (!std::isfinite(value))
        return std::isnan(value) ? "nan" : value > 0 ? "inf" : "-inf";
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string AlarmRuleText(const TAlarmRule& rule)
{
    return rule.quantity + (rule.direction == TAlarmRule::High ? " > " : " < ") + FormatAlarmNumber(rule.level);
}

const char* AlarmEventName(TAlarmEvent::Kind kind)
{
    switch (kind) {
    case TAlarmEvent::AlarmOn: return "Alarm on";
    case TAlarmEvent::AlarmOff: return "Alarm off";
    case TAlarmEvent::Acknowledged: return "Acknowledged";
    case TAlarmEvent::NoReading: return "No reading";
    case TAlarmEvent::ReadingsAgain: return "Readings again";
    case TAlarmEvent::LogStarted: return "Log started";
    case TAlarmEvent::LogStopped: return "Log stopped";
    }
    return "";
}
