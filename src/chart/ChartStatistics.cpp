#include "chart/ChartStatistics.h"

#include <algorithm>
#include <cmath>

TSeriesStatistics SeriesStatistics(std::span<const QCPGraphData> points, double from, double to)
{
    TSeriesStatistics stats;
    const auto begin = std::lower_bound(points.begin(), points.end(), from,
                                        [](const QCPGraphData& p, double key) { return p.key < key; });
    double mean = 0, squares = 0; // Welford: the mean so far and the sum of squared deviations from it
    for (auto p = begin; p != points.end() && p->key <= to; ++p) {
        const double value = p->value;
        if (!std::isfinite(value))
            continue;
        if (stats.readings == 0) {
            stats.first = stats.minimum = stats.maximum = value;
        } else {
            stats.minimum = std::min(stats.minimum, value);
            stats.maximum = std::max(stats.maximum, value);
        }
        stats.last = value;
        ++stats.readings;
        const double delta = value - mean;
        mean += delta / static_cast<double>(stats.readings);
        squares += delta * (value - mean);
    }
    if (stats.readings > 0)
        stats.mean = mean;
    if (stats.readings > 1)
        stats.deviation = std::sqrt(std::max(squares, 0.0) / static_cast<double>(stats.readings - 1));
    return stats;
}

namespace {
QString number(double value)
{
    return std::isnan(value) ? QString() : QString::number(value, 'g', QLocale::FloatingPointShortest);
}
} // namespace

QStringList StatisticsColumns()
{
    return {QStringLiteral("Quantity"),
            QStringLiteral("Shown"),
            QStringLiteral("Readings"),
            QStringLiteral("Minimum"),
            QStringLiteral("Maximum"),
            QStringLiteral("Mean"),
            QStringLiteral("Standard deviation"),
            QStringLiteral("First"),
            QStringLiteral("Last")};
}

QStringList StatisticsRow(const TSeriesStatistics& series)
{
    return {series.title,
            series.shown ? QStringLiteral("yes") : QStringLiteral("no"),
            QString::number(series.readings),
            number(series.minimum),
            number(series.maximum),
            number(series.mean),
            number(series.deviation),
            number(series.first),
            number(series.last)};
}

QString DurationText(double seconds)
{
    if (!std::isfinite(seconds))
        return QString();
    const double whole = std::floor(std::abs(seconds));
    const auto total = static_cast<long long>(whole);
    QString clock = QStringLiteral("%1:%2:%3")
                        .arg(total / 3600)
                        .arg(total / 60 % 60, 2, 10, QLatin1Char('0'))
                        .arg(total % 60, 2, 10, QLatin1Char('0'));
    const double fraction = std::abs(seconds) - whole;
    if (fraction >= 0.0005)
        clock += QString::number(fraction, 'f', 3).mid(1);
    return QStringLiteral("%1 s (%2%3)").arg(number(seconds), seconds < 0 ? QStringLiteral("-") : QString(), clock);
}

QString StatisticsText(const TRangeStatistics& stats, const std::function<QString(double)>& keyText)
{
    const QChar tab = QLatin1Char('\t');
    QString text = QStringLiteral("Start") + tab + keyText(stats.from) + QLatin1Char('\n');
    text += QStringLiteral("End") + tab + keyText(stats.to) + QLatin1Char('\n');
    text += QStringLiteral("Duration") + tab + DurationText(stats.to - stats.from) + QLatin1Char('\n');
    text += StatisticsColumns().join(tab) + QLatin1Char('\n');
    for (const TSeriesStatistics& series : stats.series) {
        QStringList cells = StatisticsRow(series);
        cells[0].replace(tab, QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
        text += cells.join(tab) + QLatin1Char('\n');
    }
    return text;
}
