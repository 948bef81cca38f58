#include "tools/SampleLog.h"

#include "record/LogWriter.h"
#include "record/RunClock.h"

#include <cmath>

namespace {

constexpr int64_t MsPerDay = 86400000;

// A smooth wander in [-1, 1] with a daily swing, that repeats for the same (i, column) at 1 s per reading.
double wander(int64_t i, int column)
{
    constexpr double pi = 3.14159265358979;
    const double t = static_cast<double>(i);
    return 0.6 * std::sin(2 * pi * t / 86400 + column) + 0.3 * std::sin(t / (1900.0 + 170 * column))
           + 0.1 * std::sin(t * (1.3 + 0.1 * column));
}

int32_t round32(double v)
{
    return static_cast<int32_t>(std::lround(v));
}

// Tells the log writer the clock time of the reading it writes.
class TSampleClock final : public RunClock {
public:
    QDateTime at;
    std::chrono::nanoseconds now() const override { return std::chrono::steady_clock::now().time_since_epoch(); }
    QDateTime wallNow() const override { return at; }
};

} // namespace

TChannelsModeStructure TSampleLog::channelsReading(int64_t i) const
{
    TChannelsModeStructure r;
    r.Channel = static_cast<int32_t>(1 + i / 3600 % 5);
    r.Sample = round32(50000 + 1500 * wander(i, 0));
    r.Reference = round32(49000 + 900 * wander(i, 1));
    r.VoltagePWM = round32(512 + 40 * wander(i, 2));
    r.Concentration = 0.0120 + 0.0040 * wander(i, 3);
    r.ConcentrationFlag = true;
    r.Temperature = round32(21 + 3 * wander(i, 4));
    r.Pressure = 101.3 + 0.6 * wander(i, 5);
    return r;
}

TConcentrationModeStructure TSampleLog::concentrationReading(int64_t i) const
{
    TConcentrationModeStructure r;
    r.SampleConc1 = 0.0100 + 0.0030 * wander(i, 0);
    r.SampleConc2 = 0.0110 + 0.0030 * wander(i, 1);
    r.SampleConc3 = 0.0090 + 0.0030 * wander(i, 2);
    r.OstrelConc1 = 3.14 + wander(i, 3);
    r.OstrelConc2 = 0.0098 + 0.0020 * wander(i, 4);
    r.Temperature = round32(21 + 3 * wander(i, 5));
    r.Pressure = 101.3 + 0.6 * wander(i, 6);
    r.Humidity = round32(45 + 10 * wander(i, 7));
    return r;
}

int64_t TSampleLog::offsetMs(int64_t i) const
{
    return i * intervalMs + (outageAt >= 0 && i >= outageAt ? outageMs : 0);
}

QDateTime TSampleLog::clockTime(int64_t i) const
{
    const int64_t ms = start.time().msecsSinceStartOfDay() + offsetMs(i);
    return QDateTime(start.date().addDays(ms / MsPerDay),
                     QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms % MsPerDay)));
}

void WriteSampleLog(const std::string& fileName, const TSampleLog& log)
{
    TSampleClock clock;
    TLogWriter writer(clock);
    writer.open(fileName, log.concentration);
    for (int64_t i = 0; i < log.lines; ++i) {
        clock.at = log.clockTime(i);
        if (log.concentration)
            writer.writeLine(log.concentrationReading(i));
        else
            writer.writeLine(log.channelsReading(i));
    }
    writer.close();
}
