// Alarm rules in their text form, the quantities of a reading, and the events file beside a log.
#include "record/AlarmRule.h"
#include "record/EventsFile.h"
#include "record/RegionalSettings.h"
#include "support/TempDir.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

TEST(AlarmRule, TextsGiveRules)
{
    using R = TAlarmRule;
    const struct {
        const char* text;
        TAlarmRule rule;
    } cases[] = {
        {"temperature<5", {"temperature", R::Low, 5}},
        {"concentration>1%,hysteresis=0.05%,delay=10", {"concentration", R::High, 0.01, 0.0005, 10}},
        {" pressure > 101.5 , delay = 2.5 ", {"pressure", R::High, 101.5, 0, 2.5}},
        {"sample_conc_2>-1e-3", {"sample_conc_2", R::High, -0.001}},
        {"humidity<+40,latch,hysteresis=2", {"humidity", R::Low, 40, 2, 0, true}},
        {"voltage_pwm>0,delay=0", {"voltage_pwm", R::High, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        TAlarmRule rule;
        EXPECT_EQ(ParseAlarmRule(c.text, rule), "");
        EXPECT_EQ(rule.quantity, c.rule.quantity);
        EXPECT_EQ(rule.direction, c.rule.direction);
        EXPECT_DOUBLE_EQ(rule.level, c.rule.level);
        EXPECT_DOUBLE_EQ(rule.hysteresis, c.rule.hysteresis);
        EXPECT_DOUBLE_EQ(rule.delaySeconds, c.rule.delaySeconds);
        EXPECT_EQ(rule.latching, c.rule.latching);
    }
}

TEST(AlarmRule, TextsThatCannotBeReadSayWhy)
{
    const struct {
        const char* text;
        const char* why;
    } cases[] = {
        {"", "has no '>' or '<'"},
        {"concentration=1", "has no '>' or '<'"},
        {"oxygen>1", "names no known quantity ('oxygen')"},
        {"Concentration>1", "names no known quantity"},
        {"concentration>", "no level that is a number"},
        {"concentration>1,5", "unknown part '5'"},
        {"concentration>abc", "no level that is a number ('abc')"},
        {"concentration>1%%", "no level that is a number"},
        {"concentration>nan", "no level that is a number"},
        {"concentration>1e999", "no level that is a number"},
        {"concentration>1,hysteresis=-1", "hysteresis that is not a number of at least 0 ('-1')"},
        {"concentration>1,delay=10%", "delay that is not a number"},
        {"concentration>1,delay=", "delay that is not a number"},
        {"concentration>1,latched", "unknown part 'latched'"},
        {"concentration>1,", "unknown part ''"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        TAlarmRule rule;
        const std::string why = ParseAlarmRule(c.text, rule);
        EXPECT_NE(why.find(c.why), std::string::npos) << why;
        EXPECT_NE(why.find(std::string("'") + c.text + "'"), std::string::npos) << why; // names the rule
    }
}

TEST(AlarmRule, EachModeMeasuresItsOwnQuantities)
{
    const TReading channels = TChannelsModeStructure{3, 51234, 49000, 120, true, 0.0125, 21, 101.3};
    const TReading concentration = TConcentrationModeStructure{0.1, 0.2, 0.3, 0.4, 0.5, 22, 99.5, 45};
    for (const char* q : AlarmQuantities(false)) {
        EXPECT_TRUE(QuantityValue(channels, q).has_value()) << q;
        EXPECT_EQ(QuantityValue(concentration, q).has_value(), MeasuresQuantity(true, q)) << q;
    }
    for (const char* q : AlarmQuantities(true)) {
        EXPECT_TRUE(QuantityValue(concentration, q).has_value()) << q;
        EXPECT_EQ(QuantityValue(channels, q).has_value(), MeasuresQuantity(false, q)) << q;
    }
    EXPECT_EQ(QuantityValue(channels, "concentration"), 0.0125);
    EXPECT_EQ(QuantityValue(channels, "channel"), 3);
    EXPECT_EQ(QuantityValue(channels, "voltage_pwm"), 120);
    EXPECT_EQ(QuantityValue(concentration, "ostrel_conc_2"), 0.5);
    EXPECT_EQ(QuantityValue(concentration, "temperature"), 22);
    EXPECT_EQ(QuantityValue(concentration, "humidity"), 45);
    EXPECT_FALSE(QuantityValue(concentration, "concentration"));
    EXPECT_FALSE(MeasuresQuantity(false, "humidity"));
    EXPECT_EQ(AlarmRuleText({"concentration", TAlarmRule::High, 0.01}), "concentration > 0.01");
    EXPECT_EQ(AlarmRuleText({"temperature", TAlarmRule::Low, -5}), "temperature < -5");
}

TEST(EventsFile, NamedAfterItsLogWithTheLogsLineConventions)
{
    EXPECT_EQ(EventsFileName("run-0412.txt"), "run-0412.events.txt");
    EXPECT_EQ(EventsFileName("/data/velmora-2026-12-10_16-40-00-2.txt"),
              "/data/velmora-2026-12-10_16-40-00-2.events.txt");
    EXPECT_EQ(EventsFileName("/data.d/run"), "/data.d/run.events");
    EXPECT_EQ(EventsFileName("/data/.run"), "/data/.run.events");

    ApplyRegionalSettings();
    const TempDir dir;
    const QDateTime at(QDate(2026, 12, 10), QTime(16, 40, 0, 125));
    const double none = std::nan("");
    TEventsFile events;
    events.open(dir.file("run.events.txt"));
    events.write({TAlarmEvent::LogStarted, "", none, none, TAlarmRule::High, at});
    events.write({TAlarmEvent::AlarmOn, "concentration", 0.0125, 0.01, TAlarmRule::High, at.addMSecs(1000)});
    events.write({TAlarmEvent::NoReading, "", none, none, TAlarmRule::High, at.addDays(1)});
    const std::string open = dir.read("run.events.txt");
    events.close();
    const std::string expected = "Date\tTime\tEvent\tQuantity\tValue\tLevel\r\n"
                                 "10/12/2026\t16:40:00.125\tLog started\t\t\t\r\n"
                                 "10/12/2026\t16:40:01.125\tAlarm on\tconcentration\t0.0125\t0.01\r\n"
                                 "11/12/2026\t16:40:00.125\tNo reading\t\t\t\r\n";
    EXPECT_EQ(open, expected.substr(0, expected.size() - 2)); // the last line end waits, as the log's does
    EXPECT_EQ(dir.read("run.events.txt"), expected);
}

} // namespace
