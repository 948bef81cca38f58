// The simulator's lines are what the sensor object expects of a sensor.
#include "sensor/SensorObjects.h"
#include "tools/SensorLineFormatter.h"

#include <gtest/gtest.h>

namespace {

void feed(TSensor& sensor, const std::string& line)
{
    sensor.receiveBytes("\n" + line + "\r");
}

// The last field of the record of a kind: non-zero once a parse of a simulator line got to its end
// (a fresh sensor holds zeros there).
double lastField(const TSensor& s, int32_t kind)
{
    switch (kind) {
    case ReplyKind::C13: return s.ReplyC13().Field11;
    case ReplyKind::C45: return s.ReplyC45().Field6;
    case ReplyKind::E: return s.ReplyE().Field11;
    case ReplyKind::O: return s.ReplyO().Field7;
    case ReplyKind::D: return s.ReplyD().Field8;
    case ReplyKind::SettingsMode: return s.SettingsMode().Field6;
    case ReplyKind::UserInterfaceMode: return s.UserInterfaceMode().Field5;
    case ReplyKind::A: return s.ReplyA().Field5;
    case ReplyKind::Concentration: return s.Concentration().Humidity;
    case ReplyKind::Channels: return s.Channels().Pressure;
    default: return 0;
    }
}

TEST(SensorSimulatorLinesTest, EveryKindParsesToItsEndInBothFirmwareModes)
{
    for (const char* firmware : {"1.6", "1.7"}) {
        SensorLineFormatter formatter(7, firmware);
        const auto freshSensor = [&](TSensor& sensor) {
            if (formatter.newFirmware())
                feed(sensor, formatter.otherLine('X'));
            ASSERT_EQ(sensor.NewFirmware(), formatter.newFirmware() ? 1 : 0);
        };
        const struct {
            char kind;
            int32_t code;
        } kinds[] = {
            {'C', ReplyKind::C13},
            {'C', ReplyKind::C13},
            {'C', ReplyKind::C13},
            {'C', ReplyKind::C45},
            {'C', ReplyKind::C45},
            {'E', ReplyKind::E},
            {'O', ReplyKind::O},
            {'D', ReplyKind::D},
            {'U', ReplyKind::UserInterfaceMode},
            {'A', ReplyKind::A},
            {'X', ReplyKind::SettingsMode},
        };
        for (const auto& k : kinds) {
            TSensor sensor;
            freshSensor(sensor);
            const std::string line = formatter.otherLine(k.kind);
            feed(sensor, line);
            EXPECT_EQ(sensor.ReplyKind(), k.code) << line;
            EXPECT_TRUE(sensor.ReplyComplete()) << line;
            EXPECT_NE(lastField(sensor, k.code), 0) << line;
            if (k.code == ReplyKind::UserInterfaceMode) {
                EXPECT_EQ(sensor.UserInterfaceMode().Letter, formatter.newFirmware() ? "q" : "a");
            }
        }

        TSensor sensor;
        freshSensor(sensor);
        for (int i = 0; i < 200; ++i) {
            formatter.step();
            feed(sensor, formatter.concentrationLine());
            ASSERT_EQ(sensor.ReplyKind(), ReplyKind::Concentration);
            const auto& c = sensor.Concentration();
            EXPECT_NEAR(c.SampleConc1, 0.01, 0.005);
            EXPECT_NEAR(c.Temperature, 21, 3);
            EXPECT_NEAR(c.Pressure, 101.3, 1.5);
            EXPECT_NEAR(c.Humidity, 45, 10);

            const int channel = i % 5 + 1;
            feed(sensor, formatter.channelLine(channel));
            ASSERT_EQ(sensor.ReplyKind(), ReplyKind::Channels);
            const auto& ch = sensor.Channels();
            EXPECT_EQ(ch.Channel, channel);
            EXPECT_NEAR(ch.Sample, 50000, 3000);
            EXPECT_NEAR(ch.Concentration, 0.01, 0.005);
            EXPECT_EQ(ch.ConcentrationFlag, formatter.newFirmware()); // new firmware signs the value
            EXPECT_NEAR(ch.Pressure, 101.3, 1.5);
        }
    }
}

TEST(SensorSimulatorLinesTest, MalformedLinesAndGarbageLeaveReceptionWorking)
{
    SensorLineFormatter formatter(3);
    TSensor sensor;
    for (int i = 0; i < 50; ++i) {
        feed(sensor, formatter.malformedLine());
        sensor.receiveBytes(formatter.garbage(300));
        feed(sensor, formatter.channelLine(2));
        ASSERT_EQ(sensor.ReplyKind(), ReplyKind::Channels);
        ASSERT_EQ(sensor.Channels().Channel, 2);
    }
}

} // namespace

// --ramp moves a quantity from LOW up to HIGH and back down within each period; what the sensor reads
// follows it, through the line's own rounding.
TEST(SensorSimulatorLinesTest, RampMovesAQuantityUpAndDownThroughItsRange)
{
    SensorRamp ramp;
    ASSERT_EQ(ParseSensorRamp("sample_conc_2:0.005:0.015:60", ramp), "");
    EXPECT_EQ(ramp.quantity, "sample_conc_2");
    SensorLineFormatter formatter(5);
    formatter.setRamp(ramp);
    TSensor sensor;
    const std::pair<double, double> expected[] = {{0, 0.005},  {15, 0.010}, {30, 0.015},
                                                  {45, 0.010}, {60, 0.005}, {75, 0.010}};
    for (const auto& [seconds, value] : expected) {
        formatter.step();
        formatter.applyRamp(seconds);
        feed(sensor, formatter.concentrationLine());
        EXPECT_NEAR(sensor.Concentration().SampleConc2, value, 1e-5) << seconds;
    }
    for (const char* bad :
         {"colour:1:2:3", "temperature:1:2", "temperature:1:2:0", "temperature:a:2:3", "pressure:1:2:3:4"})
        EXPECT_NE(ParseSensorRamp(bad, ramp), "") << bad;
}
