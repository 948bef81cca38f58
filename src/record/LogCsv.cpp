#include "record/LogCsv.h"

#include <QDate>
#include <QSaveFile>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

constexpr int64_t UnixEpochJulianDay = 2440588;

// "2025-10-26T01:15:00.000" of ms since 1970-01-01 00:00 of some clock.
void appendStamp(std::string& out, int64_t ms)
{
    const int64_t day = (ms >= 0 ? ms : ms - MsPerDay + 1) / MsPerDay;
    const int64_t inDay = ms - day * MsPerDay;
    int y = 0, m = 0, d = 0;
    QDate::fromJulianDay(day + UnixEpochJulianDay).getDate(&y, &m, &d);
    char text[40];
    const int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", y, m, d,
                                static_cast<int>(inDay / 3600000), static_cast<int>(inDay / 60000 % 60),
                                static_cast<int>(inDay / 1000 % 60), static_cast<int>(inDay % 1000));
    out.append(text, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof text) - 1)));
}

void appendOffset(std::string& out, int32_t seconds)
{
    const int32_t a = seconds < 0 ? -seconds : seconds;
    char text[16];
    const int n = std::snprintf(text, sizeof text, "%c%02d:%02d", seconds < 0 ? '-' : '+', a / 3600, a / 60 % 60);
    out.append(text, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof text) - 1)));
}

} // namespace

std::string LogCsvHeader(const TLogData& data)
{
    std::string header = "Local time,UTC";
    for (const QString& title : data.titles)
        header += ',' + title.toStdString();
    return header + '\n';
}

void AppendLogCsvRows(std::string& out, const TLogData& data, size_t from, size_t to, bool gapFirst)
{
    to = std::min(to, data.count());
    auto gap = std::lower_bound(data.gaps.begin(), data.gaps.end(), from);
    if (!gapFirst && gap != data.gaps.end() && *gap == from)
        ++gap;
    for (size_t i = from; i < to; ++i) {
        if (gap != data.gaps.end() && *gap == i) {
            out.append(data.values.size() + 1, ',');
            out += '\n';
            ++gap;
        }
        const int32_t offset = data.offsetAt(i);
        appendStamp(out, data.times[i] + offset * 1000LL);
        appendOffset(out, offset);
        out += ',';
        appendStamp(out, data.times[i]);
        out += 'Z';
        for (const TLogColumn& column : data.values) {
            out += ',';
            const double v = column[i];
            if (std::isnan(v))
                continue;
            char text[32];
            const auto [end, error] = std::to_chars(text, text + sizeof text, v);
            if (error == std::errc())
                out.append(text, end);
        }
        out += '\n';
    }
}

bool WriteLogCsv(const QString& fileName, const TLogData& data, size_t from, size_t to, QString* error)
{
    QSaveFile file(fileName);
    const auto fail = [&] {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return fail();
    std::string out = LogCsvHeader(data);
    constexpr size_t Piece = 4096;
    to = std::min(to, data.count());
    for (size_t i = from; i < to; i += Piece) {
        AppendLogCsvRows(out, data, i, std::min(to, i + Piece), i != from);
        if (file.write(out.data(), static_cast<qint64>(out.size())) != static_cast<qint64>(out.size()))
            return fail();
        out.clear();
    }
    if (!out.empty() && file.write(out.data(), static_cast<qint64>(out.size())) != static_cast<qint64>(out.size()))
        return fail();
    return file.commit() || fail();
}
