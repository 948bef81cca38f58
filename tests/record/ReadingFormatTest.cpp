#include "record/ReadingFormat.h"
#include "record/RegionalSettings.h"

#include <gtest/gtest.h>

namespace {
std::string text(const TPanelTexts& texts, TPanel panel)
{
    for (const auto& [p, t] : texts)
        if (p == panel)
            return t;
    return "<none>";
}
} // namespace

class ReadingFormat : public ::testing::Test {
protected:
    void SetUp() override { ApplyRegionalSettings(); }
};

TEST_F(ReadingFormat, ChannelsPanelsInTickOrder)
{
    TChannelsModeStructure r;
    r.Channel = 3;
    r.Sample = 51234;
    r.Reference = 49876;
    r.Concentration = 0.01234;
    r.Temperature = -5;
    r.Pressure = 101.26;
    const TPanelTexts texts = ChannelsPanelTexts(r);
    const TPanel order[] = {TPanel::Concentration, TPanel::Channel,  TPanel::Sample,
                            TPanel::Reference,     TPanel::Pressure, TPanel::Temperature};
    for (size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(texts[i].first, order[i]);
    EXPECT_EQ(text(texts, TPanel::Concentration), "1.23");
    EXPECT_EQ(text(texts, TPanel::Channel), "3");
    EXPECT_EQ(text(texts, TPanel::Sample), "51234");
    EXPECT_EQ(text(texts, TPanel::Reference), "49876");
    EXPECT_EQ(text(texts, TPanel::Pressure), "101.3");
    EXPECT_EQ(text(texts, TPanel::Temperature), "-5");
}

TEST_F(ReadingFormat, ConcentrationPanelsInTickOrder)
{
    TConcentrationModeStructure r{2, 0.12345, -1.5, 9, 9, -5, 998.5, 45};
    const TPanelTexts texts = ConcentrationPanelTexts(r);
    const TPanel order[] = {TPanel::Sample,   TPanel::Reference,   TPanel::Channel,
                            TPanel::Pressure, TPanel::Temperature, TPanel::Humidity};
    for (size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(texts[i].first, order[i]);
    EXPECT_EQ(text(texts, TPanel::Sample), "2.0000");
    EXPECT_EQ(text(texts, TPanel::Reference), "0.1235");
    EXPECT_EQ(text(texts, TPanel::Channel), "-1.5000");
    EXPECT_EQ(text(texts, TPanel::Pressure), "998.5");
    EXPECT_EQ(text(texts, TPanel::Temperature), "-5");
    EXPECT_EQ(text(texts, TPanel::Humidity), "45");
}

TEST_F(ReadingFormat, ChartValuesApplyTheFactors)
{
    const TChartValues conc = ConcentrationChartValues({0.0021, 0.5, 1, 0, 0, 21, 101.3, 45});
    EXPECT_EQ(conc.count, 6);
    EXPECT_DOUBLE_EQ(conc.y[0], 21);
    EXPECT_DOUBLE_EQ(conc.y[1], 5000);
    EXPECT_DOUBLE_EQ(conc.y[2], 10000);
    EXPECT_DOUBLE_EQ(conc.y[3], 21);
    EXPECT_DOUBLE_EQ(conc.y[4], 1013);
    EXPECT_DOUBLE_EQ(conc.y[5], 45);

    TChannelsModeStructure ch;
    ch.Sample = 51234;
    ch.Reference = 49876;
    ch.Concentration = 0.0123;
    ch.Temperature = -5;
    ch.Pressure = 101.3;
    const TChartValues values = ChannelsChartValues(ch);
    EXPECT_EQ(values.count, 5);
    EXPECT_DOUBLE_EQ(values.y[0], 51234);
    EXPECT_DOUBLE_EQ(values.y[1], 49876);
    EXPECT_DOUBLE_EQ(values.y[2], 123);
    EXPECT_DOUBLE_EQ(values.y[3], -5);
    EXPECT_DOUBLE_EQ(values.y[4], 1013);
}

TEST_F(ReadingFormat, LogHeadersAndColumns)
{
    EXPECT_STREQ(LogHeader(false),
                 "Date\tTime\tChannel\tSample\tReference\tVoltage PWM\tConcentration\tTemperature\tPressure");
    EXPECT_STREQ(LogHeader(true), "Date\tTime\tSample Conc 1\tSample Conc 2\tSample Conc 3\tOstrel Conc 1"
                                  "\tOstrel Conc 2\tTemperature\tPressure\tHumidity");

    TChannelsModeStructure ch;
    ch.Channel = 3;
    ch.Sample = 51234;
    ch.Reference = 49876;
    ch.VoltagePWM = 120;
    ch.Concentration = 0.0123;
    ch.Temperature = 24;
    ch.Pressure = 101.3;
    const auto channels = ChannelsLogValues(ch);
    EXPECT_EQ((std::vector<std::string>(channels.begin(), channels.end())),
              (std::vector<std::string>{"3", "51234", "49876", "120", "0.0123", "24", "101.3"}));

    const auto conc = ConcentrationLogValues({0.00004, 1.5, -2.25, 3.14159, 3.14159, -5, 101.3, 45});
    EXPECT_EQ((std::vector<std::string>(conc.begin(), conc.end())),
              (std::vector<std::string>{"0.0000", "1.5000", "-2.2500", "3.14", "3.1416", "-5", "101.3", "45"}));
}

TEST_F(ReadingFormat, DateAndTimeColumns)
{
    EXPECT_EQ(FormatLogDate(QDate(2012, 3, 5)), "05/03/2012");
    EXPECT_EQ(FormatLogTime(14, 7, 9, 42), "14:07:09.042");
    EXPECT_EQ(FormatLogTime(9, 5, 3, 7), "09:05:03.007");
    EXPECT_EQ(FormatLogTime(0, 0, 0, 0), "00:00:00.000");
}

TEST_F(ReadingFormat, FixedPointHasNoGroupingAndRounds)
{
    EXPECT_EQ(FormatFixed(1234567.891, 2), "1234567.89");
    EXPECT_EQ(FormatFixed(-0.5, 1), "-0.5");
    EXPECT_EQ(FormatFixed(2.0, 4), "2.0000");
    EXPECT_EQ(FormatFixed(1e300, 1).size(), 303u);
    EXPECT_EQ(FormatInt(-2147483647 - 1), "-2147483648");
}
