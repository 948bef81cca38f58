#include "record/ReadingFormat.h"

#include <QLocale>
#include <cstdio>

std::string FormatFixed(double value, int decimals)
{
    char text[64];
    const int n = std::snprintf(text, sizeof text, "%.*f", decimals, value);
    if (n < 0)
        return {};
    if (static_cast<size_t>(n) < sizeof text)
        return std::string(text, static_cast<size_t>(n));
    std::string big(static_cast<size_t>(n) + 1, '\0'); // huge magnitudes
    std::snprintf(big.data(), big.size(), "%.*f", decimals, value);
    big.resize(static_cast<size_t>(n));
    return big;
}

std::string FormatInt(int32_t value)
{
    char text[16];
    const int n = std::snprintf(text, sizeof text, "%d", value);
    return std::string(text, static_cast<size_t>(n));
}

TPanelTexts ConcentrationPanelTexts(const TConcentrationModeStructure& r)
{
    return {{{TPanel::Sample, FormatFixed(r.SampleConc1, 4)},
             {TPanel::Reference, FormatFixed(r.SampleConc2, 4)},
             {TPanel::Channel, FormatFixed(r.SampleConc3, 4)},
             {TPanel::Pressure, FormatFixed(r.Pressure, 1)},
             {TPanel::Temperature, FormatInt(r.Temperature)},
             {TPanel::Humidity, FormatInt(r.Humidity)}}};
}

TPanelTexts ChannelsPanelTexts(const TChannelsModeStructure& r)
{
    return {{{TPanel::Concentration, FormatFixed(r.Concentration * 100, 2)},
             {TPanel::Channel, FormatInt(r.Channel)},
             {TPanel::Sample, FormatInt(r.Sample)},
             {TPanel::Reference, FormatInt(r.Reference)},
             {TPanel::Pressure, FormatFixed(r.Pressure, 1)},
             {TPanel::Temperature, FormatInt(r.Temperature)}}};
}

TChartValues ConcentrationChartValues(const TConcentrationModeStructure& r)
{
    return {{r.SampleConc1 * 10000, r.SampleConc2 * 10000, r.SampleConc3 * 10000, static_cast<double>(r.Temperature),
             r.Pressure * 10, static_cast<double>(r.Humidity)},
            6};
}

TChartValues ChannelsChartValues(const TChannelsModeStructure& r)
{
    return {{static_cast<double>(r.Sample), static_cast<double>(r.Reference), r.Concentration * 10000,
             static_cast<double>(r.Temperature), r.Pressure * 10, 0.0},
            5};
}

const char* LogHeader(bool concentrationMode)
{
    return concentrationMode
               ? "Date\tTime\tSample Conc 1\tSample Conc 2\tSample Conc 3\tOstrel Conc 1\tOstrel Conc 2"
                 "\tTemperature\tPressure\tHumidity"
               : "Date\tTime\tChannel\tSample\tReference\tVoltage PWM\tConcentration\tTemperature\tPressure";
}

std::array<std::string, ConcentrationLogValueCount> ConcentrationLogValues(const TConcentrationModeStructure& r)
{
    return {FormatFixed(r.SampleConc1, 4), FormatFixed(r.SampleConc2, 4), FormatFixed(r.SampleConc3, 4),
            FormatFixed(r.OstrelConc1, 2), FormatFixed(r.OstrelConc2, 4), FormatInt(r.Temperature),
            FormatFixed(r.Pressure, 1),    FormatInt(r.Humidity)};
}

std::array<std::string, ChannelsLogValueCount> ChannelsLogValues(const TChannelsModeStructure& r)
{
    return {FormatInt(r.Channel),
            FormatInt(r.Sample),
            FormatInt(r.Reference),
            FormatInt(r.VoltagePWM),
            FormatFixed(r.Concentration, 4),
            FormatInt(r.Temperature),
            FormatFixed(r.Pressure, 1)};
}

std::string FormatLogDate(const QDate& date)
{
    return QLocale().toString(date, QLocale::ShortFormat).toStdString();
}

std::string FormatLogTime(unsigned hours, unsigned minutes, unsigned seconds, unsigned milliseconds)
{
    char text[48];
    const int n = std::snprintf(text, sizeof text, "%.2u:%.2u:%.2u.%.3u", hours, minutes, seconds, milliseconds);
    return std::string(text, static_cast<size_t>(n));
}
