#include "app/AlarmView.h"

#include <cmath>

namespace {
QString number(double value)
{
    return QString::number(value, 'g', 8);
}
} // namespace

bool ShownInPercent(std::string_view quantity)
{
    return quantity == "concentration" || quantity.starts_with("sample_conc_") || quantity.starts_with("ostrel_conc_");
}

QString AlarmValueText(std::string_view quantity, double value)
{
    if (!std::isfinite(value))
        return QStringLiteral("-");
    if (ShownInPercent(quantity))
        return QString::number(value * 100, 'f', 2) + QStringLiteral(" %");
    return number(value);
}

QString AlarmRuleCaption(const TAlarmRule& rule)
{
    return QString::fromStdString(rule.quantity)
           + (rule.direction == TAlarmRule::High ? QStringLiteral(" > ") : QStringLiteral(" < "))
           + AlarmValueText(rule.quantity, rule.level);
}

QString AlarmRuleDetails(const TAlarmRule& rule)
{
    QString text = AlarmRuleCaption(rule);
    if (rule.hysteresis != 0)
        text += QStringLiteral(", hysteresis ") + AlarmValueText(rule.quantity, rule.hysteresis);
    if (rule.delaySeconds != 0)
        text += QStringLiteral(", delay %1 s").arg(number(rule.delaySeconds));
    if (rule.latching)
        text += QStringLiteral(", latching");
    return text;
}

std::optional<TPanel> AlarmPanel(std::string_view q, bool concentrationMode)
{
    if (q == "pressure")
        return TPanel::Pressure;
    if (q == "temperature")
        return TPanel::Temperature;
    if (concentrationMode) {
        if (q == "sample_conc_1")
            return TPanel::Sample;
        if (q == "sample_conc_2")
            return TPanel::Reference;
        if (q == "sample_conc_3")
            return TPanel::Channel;
        if (q == "humidity")
            return TPanel::Humidity;
        return std::nullopt;
    }
    if (q == "concentration")
        return TPanel::Concentration;
    if (q == "channel")
        return TPanel::Channel;
    if (q == "sample")
        return TPanel::Sample;
    if (q == "reference")
        return TPanel::Reference;
    return std::nullopt;
}

// As ChartValues puts readings on the series.
std::optional<TAlarmSeries> AlarmSeries(std::string_view q, bool concentrationMode)
{
    if (q == "temperature")
        return TAlarmSeries{3, 1};
    if (q == "pressure")
        return TAlarmSeries{4, 10};
    if (concentrationMode) {
        if (q == "sample_conc_1")
            return TAlarmSeries{0, 10000};
        if (q == "sample_conc_2")
            return TAlarmSeries{1, 10000};
        if (q == "sample_conc_3")
            return TAlarmSeries{2, 10000};
        if (q == "humidity")
            return TAlarmSeries{5, 1};
        return std::nullopt;
    }
    if (q == "sample")
        return TAlarmSeries{0, 1};
    if (q == "reference")
        return TAlarmSeries{1, 1};
    if (q == "concentration")
        return TAlarmSeries{2, 10000};
    return std::nullopt;
}

QString AlarmStatusText(const TAlarmShown& alarm)
{
    QString text = QStringLiteral("ALARM ");
    if (alarm.rule) {
        const TAlarmRule& r = *alarm.rule;
        text += QString::fromStdString(r.quantity) + QLatin1Char(' ') + AlarmValueText(r.quantity, alarm.value)
                + (r.direction == TAlarmRule::High ? QStringLiteral(" > ") : QStringLiteral(" < "))
                + AlarmValueText(r.quantity, r.level);
    } else {
        text += QStringLiteral("no reading");
    }
    if (alarm.since.isValid())
        text += QStringLiteral(" since ") + alarm.since.toString(QStringLiteral("hh:mm:ss"));
    if (alarm.cleared)
        text += QStringLiteral(", cleared, not acknowledged");
    else if (alarm.acknowledged)
        text += QStringLiteral(", acknowledged");
    return text;
}
