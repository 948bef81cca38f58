// The alarm monitor as tables: a rule, a series of readings (value, seconds) and outages, and the events
// and states that follow.
#include "run/AlarmMonitor.h"

#include <gtest/gtest.h>
#include <sstream>

namespace {

using R = TAlarmRule;
using S = TAlarmMonitor;

// One step: a reading of `value` at `t` seconds, an outage ('o'), an acknowledgement ('a') or a mode
// switch to concentration readings ('m'), then the events it gave ("on 12", "off 9", "ack", "none",
// "again") and the rule's state after it.
struct Step {
    char what; // 'r', 'o', 'a', 'm'
    double value;
    double t;
    const char* events;
    S::State state;
};

struct Case {
    const char* name;
    TAlarmRule rule;
    std::vector<Step> steps;
};

std::string said(const TAlarmEvent& e)
{
    std::ostringstream out;
    switch (e.kind) {
    case TAlarmEvent::AlarmOn: out << "on " << e.value; break;
    case TAlarmEvent::AlarmOff: out << "off " << e.value; break;
    case TAlarmEvent::Acknowledged: out << "ack"; break;
    case TAlarmEvent::NoReading: out << "none"; break;
    case TAlarmEvent::ReadingsAgain: out << "again"; break;
    default: out << "?"; break;
    }
    return out.str();
}

// Channels readings carry the value as their temperature (a quantity both modes measure) and as their
// concentration; concentration readings carry it as their temperature only.
TReading channels(double v)
{
    return TChannelsModeStructure{1, 0, 0, 0, false, v, static_cast<int32_t>(v), 0};
}

TEST(AlarmMonitor, RulesGoOnAndOffAsTheirTablesSay)
{
    const QDateTime wall(QDate(2026, 12, 10), QTime(12, 0));
    const Case cases[] = {
        {"high",
         {"concentration", R::High, 10},
         {{'r', 9, 0, "", S::Off},
          {'r', 12, 1, "on 12", S::On},
          {'r', 11, 2, "", S::On},
          {'r', 10, 3, "off 10", S::Off}}},
        {"low",
         {"concentration", R::Low, 5},
         {{'r', 6, 0, "", S::Off}, {'r', 5, 1, "", S::Off}, {'r', 4, 2, "on 4", S::On}, {'r', 6, 3, "off 6", S::Off}}},
        {"high with hysteresis",
         {"concentration", R::High, 10, 2},
         {{'r', 11, 0, "on 11", S::On},
          {'r', 9, 1, "", S::On},
          {'r', 8.5, 2, "", S::On},
          {'r', 8, 3, "off 8", S::Off},
          {'r', 9, 4, "", S::Off}}},
        {"low with hysteresis",
         {"concentration", R::Low, 5, 1},
         {{'r', 4, 0, "on 4", S::On}, {'r', 5.5, 1, "", S::On}, {'r', 6, 2, "off 6", S::Off}}},
        {"delay",
         {"concentration", R::High, 10, 0, 5},
         {{'r', 11, 0, "", S::Pending},
          {'r', 12, 4.9, "", S::Pending},
          {'r', 9, 5, "", S::Off},
          {'r', 11, 6, "", S::Pending},
          {'r', 11, 11, "on 11", S::On},
          {'r', 9, 12, "off 9", S::Off}}},
        {"acknowledged, then back",
         {"concentration", R::High, 10},
         {{'r', 11, 0, "on 11", S::On},
          {'a', 0, 0, "ack", S::OnAcknowledged},
          {'a', 0, 0, "", S::OnAcknowledged},
          {'r', 12, 1, "", S::OnAcknowledged},
          {'r', 9, 2, "off 9", S::Off},
          {'r', 11, 3, "on 11", S::On}}},
        {"latching: back, then acknowledged",
         {"concentration", R::High, 10, 0, 0, true},
         {{'r', 11, 0, "on 11", S::On},
          {'r', 9, 1, "", S::ClearedUnacknowledged},
          {'r', 11, 2, "", S::On},
          {'r', 9, 3, "", S::ClearedUnacknowledged},
          {'a', 0, 0, "ack,off 9", S::Off},
          {'r', 9, 4, "", S::Off}}},
        {"latching: acknowledged, then back",
         {"concentration", R::High, 10, 0, 0, true},
         {{'r', 11, 0, "on 11", S::On}, {'a', 0, 0, "ack", S::OnAcknowledged}, {'r', 9, 1, "off 9", S::Off}}},
        {"acknowledging nothing",
         {"concentration", R::High, 10},
         {{'a', 0, 0, "", S::Off}, {'r', 11, 0, "on 11", S::On}}},
        {"not measured after a mode switch",
         {"concentration", R::High, 10},
         {{'r', 11, 0, "on 11", S::On},
          {'m', 20, 1, "", S::NotMeasured},
          {'m', 0, 2, "", S::NotMeasured},
          {'a', 0, 0, "", S::NotMeasured},
          {'r', 9, 3, "", S::Off},
          {'r', 11, 4, "on 11", S::On}}},
        {"measured in both modes",
         {"temperature", R::High, 10},
         {{'r', 11, 0, "on 11", S::On}, {'m', 12, 1, "", S::On}, {'m', 9, 2, "off 9", S::Off}}},
        {"no reading",
         {"concentration", R::High, 10},
         {{'r', 11, 0, "on 11", S::On},
          {'o', 0, 1, "none", S::On},
          {'o', 0, 2, "", S::On},
          {'a', 0, 0, "ack,ack", S::OnAcknowledged},
          {'r', 9, 3, "again,off 9", S::Off},
          {'o', 0, 4, "none", S::Off}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> events;
        TAlarmMonitor monitor([&](const TAlarmEvent& e) {
            events.push_back(said(e));
            EXPECT_EQ(e.time, wall);
            if (e.kind == TAlarmEvent::AlarmOn || e.kind == TAlarmEvent::AlarmOff) {
                EXPECT_EQ(e.quantity, c.rule.quantity);
                EXPECT_EQ(e.level, c.rule.level);
            }
        });
        monitor.setRules({c.rule}, false);
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step& s = c.steps[i];
            SCOPED_TRACE(i);
            events.clear();
            const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(s.t));
            switch (s.what) {
            case 'r': monitor.judge(channels(s.value), now, wall); break;
            case 'm':
                monitor.judge(TConcentrationModeStructure{0, 0, 0, 0, 0, static_cast<int32_t>(s.value), 0, 0}, now,
                              wall);
                break;
            case 'o': monitor.outageBegan(wall); break;
            case 'a': monitor.acknowledge(wall); break;
            }
            std::string joined;
            for (const std::string& e : events)
                joined += (joined.empty() ? "" : ",") + e;
            EXPECT_EQ(joined, s.events);
            EXPECT_EQ(monitor.state(0), s.state);
        }
    }
}

TEST(AlarmMonitor, SaysWhatIsOnAndStaysQuietWithoutRules)
{
    std::vector<TAlarmEvent::Kind> kinds;
    TAlarmMonitor monitor([&](const TAlarmEvent& e) { kinds.push_back(e.kind); });
    monitor.judge(channels(100), {}, {});
    monitor.outageBegan({});
    EXPECT_TRUE(kinds.empty()); // no rules: no "No reading" either
    EXPECT_TRUE(monitor.alarmsOn().empty());

    monitor.setRules({{"concentration", R::High, 10}, {"humidity", R::Low, 40}, {"pressure", R::Low, -1}}, false);
    EXPECT_EQ(monitor.state(1), S::NotMeasured);
    monitor.judge(channels(20), {}, {});
    monitor.outageBegan({});
    EXPECT_EQ(monitor.alarmsOn(), (std::vector<std::string>{"concentration > 10", "no reading"}));

    monitor.setNoReadingAlarm(false); // turned off: gone, and outages say nothing
    EXPECT_EQ(monitor.alarmsOn(), std::vector<std::string>{"concentration > 10"});
    kinds.clear();
    monitor.judge(channels(20), {}, {});
    monitor.outageBegan({});
    EXPECT_TRUE(kinds.empty());
}

} // namespace
