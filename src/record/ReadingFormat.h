#pragma once
#include "sensor/Reading.h"
#include "sensor/SensorTypes.h"

#include <QDate>
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <variant>

// How a reading is put out: panel texts, chart values and log lines. Numbers are formatted with the
// C library's conventions (the decimal point is "." once ApplyRegionalSettings has run); dates with the
// default locale's short date format.

std::string FormatFixed(double value, int decimals); // "%.Nf"
std::string FormatInt(int32_t value);                // "%d"

// The value panels of the main window, in the order a display tick writes them.
enum class TPanel { Concentration, Channel, Pressure, Humidity, Sample, Reference, Temperature };
inline constexpr int PanelCount = 7;
using TPanelTexts = std::array<std::pair<TPanel, std::string>, 6>;
TPanelTexts ConcentrationPanelTexts(const TConcentrationModeStructure& reading);
TPanelTexts ChannelsPanelTexts(const TChannelsModeStructure& reading);

// One graphics tick's y values for Series1..Series6; count is 6 in Concentration mode, 5 in Channels mode
// (Series6 gets no point).
struct TChartValues {
    std::array<double, 6> y{};
    int count = 0;

    std::span<const double> values() const { return std::span<const double>(y.data(), static_cast<size_t>(count)); }
};
TChartValues ConcentrationChartValues(const TConcentrationModeStructure& reading);
TChartValues ChannelsChartValues(const TChannelsModeStructure& reading);

// The log file: header line (without its line end), and the value columns after date and time.
const char* LogHeader(bool concentrationMode);
inline constexpr int ConcentrationLogValueCount = 8;
inline constexpr int ChannelsLogValueCount = 7;
std::array<std::string, ConcentrationLogValueCount> ConcentrationLogValues(const TConcentrationModeStructure& r);
std::array<std::string, ChannelsLogValueCount> ChannelsLogValues(const TChannelsModeStructure& r);
// Date column: the short date format of the default locale (day/month/year for the UK).
std::string FormatLogDate(const QDate& date);
// Time column: "%.2u:%.2u:%.2u.%.3u".
std::string FormatLogTime(unsigned hours, unsigned minutes, unsigned seconds, unsigned milliseconds);

// The same routines chosen by the reading's type, for code that handles either mode's reading.
inline TPanelTexts PanelTexts(const TConcentrationModeStructure& r)
{
    return ConcentrationPanelTexts(r);
}
inline TPanelTexts PanelTexts(const TChannelsModeStructure& r)
{
    return ChannelsPanelTexts(r);
}
inline TChartValues ChartValues(const TConcentrationModeStructure& r)
{
    return ConcentrationChartValues(r);
}
inline TChartValues ChartValues(const TChannelsModeStructure& r)
{
    return ChannelsChartValues(r);
}
inline auto LogValues(const TConcentrationModeStructure& r)
{
    return ConcentrationLogValues(r);
}
inline auto LogValues(const TChannelsModeStructure& r)
{
    return ChannelsLogValues(r);
}
inline TPanelTexts PanelTexts(const TReading& r)
{
    return std::visit([](const auto& mode) { return PanelTexts(mode); }, r);
}
inline TChartValues ChartValues(const TReading& r)
{
    return std::visit([](const auto& mode) { return ChartValues(mode); }, r);
}
