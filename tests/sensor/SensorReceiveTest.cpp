// The receive path through the byte seam: framing, classification and the parsers.
#include "sensor/ExceptionLib.h"
#include "sensor/SensorObjects.h"

#include <clocale>
#include <gtest/gtest.h>
#include <string>

namespace {

// A sensor inside lines (an LF has arrived), as after the first line of a stream.
struct SensorReceiveTest : ::testing::Test {
    TSensor sensor;
    void line(const std::string& text) { sensor.receiveBytes("\n" + text + "\r"); }
};

TEST_F(SensorReceiveTest, NewSensorIsSetUpForTheSensorAndHasNoKind)
{
    EXPECT_EQ(sensor.Events(), (TComEvents{evRxFlag, evRx80Full}));
    EXPECT_EQ(sensor.EventChar(), '\r');
    EXPECT_TRUE(sensor.OnRxFlag);
    EXPECT_TRUE(sensor.OnRx80Full);
    EXPECT_FALSE(sensor.Connected());
    EXPECT_EQ(sensor.ReplyKind(), ReplyKind::Unknown);
    EXPECT_EQ(sensor.Channels().Channel, 1);
    EXPECT_EQ(sensor.ReplyC13().Index, 1);
    EXPECT_EQ(sensor.ReplyC45().Index, 4);
    EXPECT_EQ(sensor.ReplyE().Index, 1);
    EXPECT_EQ(sensor.ReplyO().Index, 1);
    EXPECT_EQ(sensor.PotsIndex(), 1);
    EXPECT_EQ(sensor.NewFirmware(), 0);
}

TEST_F(SensorReceiveTest, ConfigurePortSetsTheLineAndResetsTheProtocolEveryTime)
{
    sensor.ConfigurePort("ttyS7");
    EXPECT_EQ(sensor.Port(), "ttyS7");
    EXPECT_EQ(sensor.BaudRate(), br57600);
    EXPECT_EQ(sensor.DataBits(), dbEight);
    EXPECT_EQ(sensor.Parity().Bits(), prNone);
    EXPECT_EQ(sensor.StopBits(), sbOneStopBit);
    EXPECT_EQ(sensor.FlowControl().FlowControl(), fcSoftware);

    line("N3 100 200 5 0.5 25 998.5");
    ASSERT_EQ(sensor.ReplyKind(), ReplyKind::Channels);
    sensor.ConfigurePort("ttyS7");
    EXPECT_EQ(sensor.ReplyKind(), ReplyKind::Unknown);
    EXPECT_EQ(sensor.Channels(), DefaultChannelsMode);
    EXPECT_FALSE(sensor.LineStarted());
}

TEST_F(SensorReceiveTest, ConcentrationReplyFillsAllFieldsAndLeavesTheLastValue)
{
    line("N 1.5 2.5 3.5 0.25 0.5 21 998.5 45");
    EXPECT_EQ(sensor.ReplyKind(), ReplyKind::Concentration);
    EXPECT_TRUE(sensor.ReplyComplete());
    const auto& c = sensor.Concentration();
    EXPECT_EQ(c, (TConcentrationModeStructure{1.5, 2.5, 3.5, 0.25, 0.5, 21, 998.5, 45}));
    EXPECT_EQ(sensor.ReplyText(), "45");

    // A CR with no new LF processes the leftover again: a line of no kind.
    sensor.receiveBytes("\r");
    EXPECT_EQ(sensor.ReplyKind(), ReplyKind::Unknown);
    EXPECT_EQ(sensor.Concentration().Humidity, 45);
    // It does not show that the sensor sends another kind: the record is handed out without a request
    // (one would fail on this closed port).
    TConcentrationModeStructure reading;
    sensor.GetConcentrationReading(reading);
    EXPECT_EQ(reading.Humidity, 45);
    EXPECT_EQ(sensor.knownKind(), ReplyKind::Concentration);
}

TEST_F(SensorReceiveTest, ShortLineRepeatsItsLastValueIntoTheRemainingFields)
{
    line("N 1 2 3");
    EXPECT_TRUE(sensor.ReplyComplete());
    EXPECT_EQ(sensor.Concentration(), (TConcentrationModeStructure{1, 2, 3, 3, 3, 3, 3, 3}));
}

TEST_F(SensorReceiveTest, FailedValueStopsTheParseAndStaysInTheText)
{
    // ReplyComplete is cleared only by a command (or a reset), not by a new line.
    line("N 9 9 9 9 9 9 9 9");
    EXPECT_TRUE(sensor.ReplyComplete());
    sensor.receiveBytes("\nN 1  2 3 4 5 6 7 8\r"); // two spaces: an empty field
    EXPECT_EQ(sensor.ReplyKind(), ReplyKind::Concentration);
    EXPECT_EQ(sensor.Concentration(), (TConcentrationModeStructure{1, 9, 9, 9, 9, 9, 9, 9}));
    EXPECT_EQ(sensor.ReplyText(), " 2 3 4 5 6 7 8");

    sensor.ResetState();
    sensor.receiveBytes("\nN 1  2 3 4 5 6 7 8\r");
    EXPECT_EQ(sensor.ReplyKind(), ReplyKind::Concentration);
    EXPECT_FALSE(sensor.ReplyComplete());
    EXPECT_EQ(sensor.Concentration().SampleConc1, 1);

    // A fractional temperature fails the Integer field: later fields keep their values.
    line("N 9 9 9 9 9 9 9 9");
    sensor.ResetState();
    sensor.receiveBytes("\nN 1 2 3 4 5 21.5 7 8\r");
    EXPECT_EQ(sensor.Concentration(), (TConcentrationModeStructure{1, 2, 3, 4, 5, 0, 0, 0}));
    EXPECT_FALSE(sensor.ReplyComplete());
    EXPECT_EQ(sensor.ReplyText(), "21.5 7 8");
}

TEST_F(SensorReceiveTest, ChannelReplyAndConcentrationFlagInBothFirmwareModes)
{
    line("N3 100 200 5 +0.0012 25 998.5");
    EXPECT_EQ(sensor.ReplyKind(), ReplyKind::Channels);
    EXPECT_TRUE(sensor.ReplyComplete());
    EXPECT_EQ(sensor.Channels(), (TChannelsModeStructure{3, 100, 200, 5, false, 0.0012, 25, 998.5}));

    line("N1 1 2 3 0.00001 4 5");
    EXPECT_TRUE(sensor.Channels().ConcentrationFlag); // inside the limit
    line("N1 1 2 3 -0.00005 4 5");
    EXPECT_FALSE(sensor.Channels().ConcentrationFlag); // the bounds are strict
    line("N1 1 2 3 -0.00004 4 5");
    EXPECT_TRUE(sensor.Channels().ConcentrationFlag);

    line("X 1.7 3 5 0 0 0");
    ASSERT_EQ(sensor.NewFirmware(), 1);
    line("N3 100 200 5 +0.0012 25 998.5");
    EXPECT_TRUE(sensor.Channels().ConcentrationFlag);
    line("N3 100 200 5 0.00001 25 998.5");
    EXPECT_FALSE(sensor.Channels().ConcentrationFlag); // no "+" in the text
}

TEST_F(SensorReceiveTest, ClassificationByLeadingCharacters)
{
    const struct {
        const char* text;
        int32_t kind;
    } cases[] = {
        {"N 1", ReplyKind::Concentration},
        {"N5 1", ReplyKind::Channels},
        {"N6 1", ReplyKind::Unknown},
        {"N1x1", ReplyKind::Unknown},
        {"n 1 2 3", ReplyKind::Unknown},
        {"C3 1", ReplyKind::C13},
        {"C4 1", ReplyKind::C45},
        {"C6 1", ReplyKind::Unknown},
        {"E5 1", ReplyKind::E},
        {"O1 1", ReplyKind::O},
        {"D 1", ReplyKind::D},
        {"X 1", ReplyKind::SettingsMode},
        {"U 1", ReplyKind::UserInterfaceMode},
        {"A 1", ReplyKind::A},
        {"Rxyz", ReplyKind::SettingPots},
        {"S", ReplyKind::SettingPots},
        {"Z 1", ReplyKind::Unknown},
        {"D1", ReplyKind::Unknown},
        // Too short to tell: no kind, and nothing is read past the end.
        {"", ReplyKind::Unknown},
        {"N", ReplyKind::Unknown},
        {"N1", ReplyKind::Unknown},
        {"C", ReplyKind::Unknown},
        {"C4", ReplyKind::Unknown},
        {"E5", ReplyKind::Unknown},
        {"O", ReplyKind::Unknown},
        {"D", ReplyKind::Unknown},
        {"X", ReplyKind::Unknown},
        {"U", ReplyKind::Unknown},
        {"A", ReplyKind::Unknown},
    };
    for (const auto& c : cases) {
        line(c.text);
        EXPECT_EQ(sensor.ReplyKind(), c.kind) << '"' << c.text << '"';
    }
}

TEST_F(SensorReceiveTest, LineStartsOnlyAfterLineFeed)
{
    // Right after a reset (as after a command) a reply without a leading LF is not processed...
    sensor.receiveBytes("N 1 2 3 4 5 6 7 8\r\n");
    EXPECT_EQ(sensor.ReplyKind(), ReplyKind::Unknown);
    EXPECT_TRUE(sensor.LineStarted());
    // ...its LF starts the next line, which its CR ends.
    sensor.receiveBytes("N 8 7 6 5 4 3 2 1\r");
    EXPECT_EQ(sensor.ReplyKind(), ReplyKind::Concentration);
    EXPECT_EQ(sensor.Concentration().SampleConc1, 8);
}

TEST_F(SensorReceiveTest, ChunkBoundariesDoNotMatter)
{
    const std::string stream = "\nN2 10 20 30 0.5 21 101.3\r\nN 1 2 3 4 5 6 7 8\r\nD 1 2 3 4 5 6 7 8\rtail";
    TSensor whole;
    whole.receiveBytes(stream);
    for (char c : stream)
        sensor.receiveBytes(std::string_view(&c, 1));
    EXPECT_EQ(sensor.Channels(), whole.Channels());
    EXPECT_EQ(sensor.Concentration(), whole.Concentration());
    EXPECT_EQ(sensor.ReplyD(), whole.ReplyD());
    EXPECT_EQ(sensor.ReplyKind(), ReplyKind::D);
    EXPECT_EQ(sensor.ReplyText(), whole.ReplyText());
    EXPECT_EQ(sensor.ReplyText(), "8tail"); // the text after the last CR joins the leftover
}

TEST_F(SensorReceiveTest, NumberSyntax)
{
    line("D +5 -2147483648 2147483647 0 007 1 1 1");
    EXPECT_TRUE(sensor.ReplyComplete());
    EXPECT_EQ(sensor.ReplyD(), (TReplyDStructure{5, -2147483648, 2147483647, 0, 7, 1, 1, 1}));

    for (const char* bad : {"2147483648", "1.0", "0x10", "+-1", "+", "1e3", " 1"}) {
        sensor.ResetState();
        line(std::string("D 9 ") + bad + " 9 9 9 9 9 9");
        EXPECT_FALSE(sensor.ReplyComplete()) << bad;
        EXPECT_EQ(sensor.ReplyD(), (TReplyDStructure{9, 0, 0, 0, 0, 0, 0, 0})) << bad;
    }

    sensor.ResetState();
    line("A 1 2 3 4 +1.5e-3");
    EXPECT_TRUE(sensor.ReplyComplete());
    EXPECT_DOUBLE_EQ(sensor.ReplyA().Field5, 0.0015);
    for (const char* good : {"2", "-2.", "2.5E2", "1e+2"}) {
        sensor.ResetState();
        line(std::string("A 1 2 3 4 ") + good);
        EXPECT_TRUE(sensor.ReplyComplete()) << good;
    }
    for (const char* bad : {"1,5", "inf", "nan", "1e", "--1", "1.5.", "1e999", "0x1p3", ""}) {
        line("A 1 2 3 4 7");
        sensor.ResetState(); // clears ReplyComplete, keeps the A record
        line(std::string("A 1 2 3 4 ") + bad);
        EXPECT_FALSE(sensor.ReplyComplete()) << bad;
        EXPECT_EQ(sensor.ReplyA().Field5, 7) << bad;
    }
}

TEST_F(SensorReceiveTest, ConversionIgnoresTheProcessLocale)
{
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
        GTEST_SKIP() << "no locale with a decimal comma installed";
    line("A 1 2 3 4 2.5");
    const bool complete = sensor.ReplyComplete();
    const double value = sensor.ReplyA().Field5;
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_TRUE(complete);
    EXPECT_EQ(value, 2.5);
}

TEST_F(SensorReceiveTest, OtherReplyKinds)
{
    line("C2 1.5 2.5 3.5 4.5 5.5 6.5 8 9 10 11");
    EXPECT_EQ(sensor.ReplyC13(), (TReplyC13Structure{2, 1.5, 2.5, 3.5, 4.5, 5.5, 6.5, 8, 9, 10, 11}));
    line("C5 1.5 2.5 3.5 6 7");
    EXPECT_EQ(sensor.ReplyC45(), (TReplyC45Structure{5, 1.5, 2.5, 3.5, 6, 7}));
    line("E3 2 3 4.5 5 6.5 7.5 8.5 9.5 10 11");
    EXPECT_EQ(sensor.ReplyE(), (TReplyEStructure{3, 2, 3, 4.5, 5, 6.5, 7.5, 8.5, 9.5, 10, 11}));
    line("O4 2.5 3.5 4 5.5 6.5 7");
    EXPECT_EQ(sensor.ReplyO(), (TReplyOStructure{4, 2.5, 3.5, 4, 5.5, 6.5, 7}));
    line("A 1 2 3 4 5.5");
    EXPECT_EQ(sensor.ReplyA(), (TReplyAStructure{1, 2, 3, 4, 5.5}));
    EXPECT_TRUE(sensor.ReplyComplete());
}

TEST_F(SensorReceiveTest, SettingsModeReplyBitsAndFirmwareVersions)
{
    line("X 1.7 3 5 0 0 0");
    EXPECT_EQ(sensor.ReplyKind(), ReplyKind::SettingsMode);
    EXPECT_EQ(sensor.SettingsMode().Version, "1.7");
    EXPECT_EQ(sensor.SettingsMode().Field2, 3);
    std::array<int32_t, 16> bits{};
    bits[0] = bits[2] = 1;
    EXPECT_EQ(sensor.SettingsMode().Bits, bits);
    EXPECT_EQ(sensor.NewFirmware(), 1);

    line("X 1.0 3 -1 0 0 0");
    bits.fill(1);
    EXPECT_EQ(sensor.SettingsMode().Bits, bits); // two's complement: every bit set

    // expected -1: the text does not convert and the flag stays as it was.
    const struct {
        const char* version;
        int32_t expected;
    } versions[] = {
        {"1.12", 1}, {"1.6", 0}, {"1.7", 1}, {"2.0", 0}, {"0.9", 0}, {"17", -1}, {"1.x", -1}, {".7", -1}, {"1.", -1},
    };
    for (const int32_t before : {0, 1}) {
        for (const auto& v : versions) {
            line(before ? "X 1.7 0 0 0 0 0" : "X 1.0 0 0 0 0 0");
            line(std::string("X ") + v.version + " 0 0 0 0 0");
            EXPECT_EQ(sensor.NewFirmware(), v.expected < 0 ? before : v.expected) << v.version << " after " << before;
        }
    }

    // A parse that stops early does not check the version.
    line("X 1.0 0 0 0 0 0");
    line("X 1.8 0 bad 0 0 0");
    EXPECT_EQ(sensor.NewFirmware(), 0);
}

TEST_F(SensorReceiveTest, UserInterfaceReplyLetterInBothFirmwareModes)
{
    EXPECT_EQ(sensor.UserInterfaceMode().Letter, "");
    line("U 5 abc def 7");
    EXPECT_EQ(sensor.UserInterfaceMode(), (TUserInterfaceModeStructure{5, "abc", "def", "a", 7}));
    EXPECT_TRUE(sensor.ReplyComplete());

    line("X 1.7 0 0 0 0 0");
    for (const auto& [letter, expected] : {std::pair{"B", "a"}, {"bb", "a"}, {"q", "q"}, {"", "a"}}) {
        line(std::string("U 5 abc def ") + letter + " 9");
        EXPECT_EQ(sensor.UserInterfaceMode().Letter, expected) << letter;
        EXPECT_EQ(sensor.UserInterfaceMode().Field5, 9) << letter;
    }
    line("U 6  x q 1"); // empty text field is accepted as text
    EXPECT_EQ(sensor.UserInterfaceMode(), (TUserInterfaceModeStructure{6, "", "x", "q", 1}));
}

TEST_F(SensorReceiveTest, SettingPotsFillEightSlotsAndCompleteOnTheEighth)
{
    for (int i = 1; i <= 7; ++i) {
        line((i % 2 ? "R" : "S") + std::to_string(i) + " pot");
        EXPECT_FALSE(sensor.ReplyComplete()) << i;
    }
    line("R8 last");
    EXPECT_TRUE(sensor.ReplyComplete());
    EXPECT_EQ(sensor.SettingPots()[1], "R1 pot");
    EXPECT_EQ(sensor.SettingPots()[2], "S2 pot");
    EXPECT_EQ(sensor.SettingPots()[8], "R8 last");
    line("S9 later");
    EXPECT_EQ(sensor.SettingPots()[8], "S9 later");
    EXPECT_EQ(sensor.SettingPots()[7], "R7 pot");
    EXPECT_EQ(sensor.ReplyText(), "S9 later"); // stored whole, nothing consumed

    // A reset sends the next line to slot 1 again; the texts stay until overwritten.
    sensor.ResetState();
    sensor.receiveBytes("\nRnew\r");
    EXPECT_EQ(sensor.SettingPots()[1], "Rnew");
    EXPECT_EQ(sensor.SettingPots()[2], "S2 pot");
    EXPECT_EQ(sensor.PotsIndex(), 2);
}

TEST_F(SensorReceiveTest, ResetStateKeepsTextReplyAAndPots)
{
    line("A 1 2 3 4 5.5");
    line("N 1 2 3 4 5 6 7 8 rest");
    sensor.ResetState();
    EXPECT_EQ(sensor.ReplyA(), (TReplyAStructure{1, 2, 3, 4, 5.5}));
    EXPECT_EQ(sensor.ReplyText(), "rest");
    EXPECT_EQ(sensor.Concentration(), DefaultConcentrationMode);
    EXPECT_FALSE(sensor.ReplyComplete());
}

TEST_F(SensorReceiveTest, OverlongLineIsDiscardedWithBoundedMemory)
{
    line("N1 1 2 3 0.5 4 5");
    sensor.receiveBytes("\nN 1 2 3 4 5 6 7 8 ");
    const std::string filler(100000, '7');
    for (size_t i = 0; i < filler.size(); i += 4096) {
        sensor.receiveBytes(std::string_view(filler).substr(i, 4096));
        ASSERT_LE(sensor.ReplyText().size(), TSensor::MaxLineLength);
    }
    sensor.receiveBytes("\r");
    EXPECT_EQ(sensor.ReplyKind(), ReplyKind::Unknown);
    EXPECT_EQ(sensor.Concentration(), DefaultConcentrationMode);

    // Reception goes on with the next line; a line up to the bound is kept whole.
    std::string longLine = "Rx";
    longLine.resize(TSensor::MaxLineLength, 'y');
    line(longLine);
    EXPECT_EQ(sensor.SettingPots()[1], longLine);
    sensor.ResetState();
    line("N 1 2 3 4 5 6 7 8");
    EXPECT_TRUE(sensor.ReplyComplete());
}

} // namespace
