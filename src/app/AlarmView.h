#pragma once
#include "record/AlarmRule.h"
#include "record/ReadingFormat.h"

#include <QDateTime>
#include <QString>
#include <optional>
#include <string_view>

// How the window shows alarms: concentrations in percent as their panels show them, the panel and the
// chart series of a quantity, and the texts of the status bar.

// Concentrations (fractions in the log) are shown and entered in percent.
bool ShownInPercent(std::string_view quantity);
// A value or level as the window shows it: "1.25 %", "101.3", "-5".
QString AlarmValueText(std::string_view quantity, double value);
// "concentration > 1.00 %"
QString AlarmRuleCaption(const TAlarmRule& rule);
// The rule with its details, as the alarms dialog lists it:
// "concentration > 1.00 %, hysteresis 0.05 %, delay 10 s, latching"
QString AlarmRuleDetails(const TAlarmRule& rule);

// The panel showing a quantity in a mode; none for a quantity the window has no panel for.
std::optional<TPanel> AlarmPanel(std::string_view quantity, bool concentrationMode);
// The chart series drawing a quantity in a mode, and the factor it applies to the values.
struct TAlarmSeries {
    int series = 0;
    double factor = 1;
};
std::optional<TAlarmSeries> AlarmSeries(std::string_view quantity, bool concentrationMode);

// One alarm that is on, as the status bar and a panel's tooltip say it:
// "ALARM concentration 1.25 % > 1.00 % since 14:07:09", with ", acknowledged" or ", cleared, not
// acknowledged" after it when so.
struct TAlarmShown {
    const TAlarmRule* rule = nullptr; // none: "no reading"
    double value = 0;
    QDateTime since;
    bool acknowledged = false;
    bool cleared = false;
};
QString AlarmStatusText(const TAlarmShown& alarm);
