#include "publish/PublishPayloads.h"

#include <clocale>
#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace {

using namespace std::chrono;

// 2026-12-09 21:40:00.042 UTC
const system_clock::time_point Taken = system_clock::time_point(seconds(1796852400)) + milliseconds(42);

// Switches the C locale to one with a decimal comma for the life of the object.
class DecimalCommaLocale {
public:
    DecimalCommaLocale() : FOld(std::setlocale(LC_ALL, nullptr)) { FActive = std::setlocale(LC_ALL, "de_DE.UTF-8"); }
    ~DecimalCommaLocale() { std::setlocale(LC_ALL, FOld.c_str()); }
    bool active() const { return FActive != nullptr; }

private:
    std::string FOld;
    const char* FActive;
};

std::string number(double v)
{
    std::string s;
    AppendNumber(s, v);
    return s;
}

} // namespace

TEST(PublishPayloads, NumbersAndTimesIgnoreTheLocale)
{
    DecimalCommaLocale locale;
    ASSERT_TRUE(locale.active()) << "the de_DE.UTF-8 locale is missing (scripts/bootstrap makes it)";
    EXPECT_EQ(number(0.0123), "0.0123");
    EXPECT_EQ(number(101.3), "101.3");
    EXPECT_EQ(number(51234), "51234");
    EXPECT_EQ(number(-3.5), "-3.5");
    EXPECT_EQ(number(0.00001), "0.00001");
    EXPECT_EQ(number(1e20), "100000000000000000000");
    EXPECT_EQ(number(std::numeric_limits<double>::quiet_NaN()), "null");
    EXPECT_EQ(number(-std::numeric_limits<double>::infinity()), "null");
    EXPECT_EQ(number(-std::numeric_limits<double>::max()).size(), 310u);

    std::string t;
    AppendIsoTime(t, Taken);
    EXPECT_EQ(t, "2026-12-09T21:40:00.042Z");
    t.clear();
    AppendIsoTime(t, system_clock::time_point(seconds(951782400)) + microseconds(999999)); // 29 Feb 2000
    EXPECT_EQ(t, "2000-02-29T00:00:00.999Z");
}

TEST(PublishPayloads, ReadingJsonCarriesTimeModeAndEveryLogValue)
{
    std::string json;
    AppendReadingJson(json, TChannelsModeStructure{3, 51234, 49876, 120, true, 0.0123, 24, 101.3}, Taken);
    EXPECT_EQ(json, R"({"time":"2026-12-09T21:40:00.042Z","mode":"channels","channel":3,"sample":51234,)"
                    R"("reference":49876,"voltage_pwm":120,"concentration":0.0123,"temperature":24,"pressure":101.3})");
    json.clear();
    AppendReadingJson(json, TConcentrationModeStructure{0.0101, 0.0102, 0.0099, 0.01, 0.0098, 21, 101.3, 45}, Taken);
    EXPECT_EQ(json, R"({"time":"2026-12-09T21:40:00.042Z","mode":"concentration","sample_conc_1":0.0101,)"
                    R"("sample_conc_2":0.0102,"sample_conc_3":0.0099,"ostrel_conc_1":0.01,"ostrel_conc_2":0.0098,)"
                    R"("temperature":21,"pressure":101.3,"humidity":45})");
}

TEST(PublishPayloads, DiscoveryConfigNamesTheStateAndAvailabilityTopics)
{
    EXPECT_EQ(DiscoveryTopic("lab pc/1-ttyUSB0", "sample_conc_1"),
              "homeassistant/sensor/lab_pc_1-ttyUSB0/sample_conc_1/config");
    EXPECT_EQ(
        DiscoveryConfig("lab-ttyUSB0", "site/\"a\"", "pressure"),
        R"({"name":"pressure","object_id":"lab-ttyUSB0_pressure","unique_id":"lab-ttyUSB0_pressure",)"
        R"("state_topic":"site/\"a\"/pressure","state_class":"measurement","availability_topic":"site/\"a\"/status",)"
        R"("payload_available":"online","payload_not_available":"offline","device":{"identifiers":["lab-ttyUSB0"],)"
        R"("name":"Velmora lab-ttyUSB0","model":"Velmora Data Logger"}})");
}

TEST(PublishPayloads, EventJsonLeavesOutWhatAnEventHasNot)
{
    DecimalCommaLocale locale;
    TPublishEvent on;
    on.time = Taken;
    TPublishEvent::copyName(on.event, "alarm on");
    TPublishEvent::copyName(on.quantity, "concentration");
    on.value = 0.0125;
    on.level = 0.01;
    std::string json;
    AppendEventJson(json, on);
    EXPECT_EQ(json, R"({"time":"2026-12-09T21:40:00.042Z","event":"alarm on","quantity":"concentration",)"
                    R"("value":0.0125,"level":0.01})");

    TPublishEvent none;
    none.time = Taken;
    TPublishEvent::copyName(none.event, "no reading");
    json.clear();
    AppendEventJson(json, none);
    EXPECT_EQ(json, R"({"time":"2026-12-09T21:40:00.042Z","event":"no reading"})");
    EXPECT_STREQ(none.stateName(), "no_reading");
    EXPECT_EQ(AlarmTopic("site/lab", none.stateName()), "site/lab/alarm/no_reading");

    // A name longer than its field is cut, never written past it.
    TPublishEvent::copyName(none.quantity, std::string(40, 'q'));
    EXPECT_EQ(std::string(none.quantity), std::string(TPublishEvent::NameSize - 1, 'q'));
}

TEST(PublishPayloads, AnAlarmIsABinarySensorOfGasForConcentrationsAndOfProblemElse)
{
    EXPECT_EQ(AlarmDiscoveryTopic("lab pc", "sample_conc_2"),
              "homeassistant/binary_sensor/lab_pc/alarm_sample_conc_2/config");
    EXPECT_EQ(
        AlarmDiscoveryConfig("lab-ttyUSB0", "lab", "concentration"),
        R"({"name":"alarm concentration","object_id":"lab-ttyUSB0_alarm_concentration",)"
        R"("unique_id":"lab-ttyUSB0_alarm_concentration","state_topic":"lab/alarm/concentration",)"
        R"("payload_on":"on","payload_off":"off","device_class":"gas","availability_topic":"lab/status",)"
        R"("payload_available":"online","payload_not_available":"offline","device":{"identifiers":["lab-ttyUSB0"],)"
        R"("name":"Velmora lab-ttyUSB0","model":"Velmora Data Logger"}})");
    for (const char* name : {"ostrel_conc_1", "sample_conc_3"})
        EXPECT_NE(AlarmDiscoveryConfig("n", "p", name).find(R"("device_class":"gas")"), std::string::npos) << name;
    for (const char* name : {"temperature", "no_reading", "pressure"})
        EXPECT_NE(AlarmDiscoveryConfig("n", "p", name).find(R"("device_class":"problem")"), std::string::npos) << name;
}
