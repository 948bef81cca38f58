#include "record/EventsLog.h"

#include "record/EventsFile.h"

#include <QDate>
#include <QFile>
#include <QTime>
#include <algorithm>
#include <map>

namespace {

constexpr qint64 MaxEventsFileBytes = 64 << 20; // far beyond any run's events

void addProblem(std::vector<TLogProblem>& problems, TLogProblem::EKind kind, int64_t line, const std::string& detail)
{
    for (TLogProblem& p : problems)
        if (p.kind == kind) {
            ++p.count;
            return;
        }
    problems.push_back({kind, line, 1, detail});
}

} // namespace

QString TLoggedEvent::text() const
{
    QString t = event;
    if (!quantity.isEmpty())
        t += QStringLiteral(": ") + quantity;
    if (!value.isEmpty())
        t += QStringLiteral(" ") + value;
    if (!level.isEmpty())
        t += QStringLiteral(" (level %1)").arg(level);
    return t;
}

std::vector<TAlarmPeriod> TEventsLog::alarmPeriods() const
{
    std::vector<TAlarmPeriod> periods;
    std::map<QString, int64_t> on; // quantity -> since
    for (const TLoggedEvent& e : events) {
        if (e.event == QLatin1String("Alarm on")) {
            on.emplace(e.quantity, e.time.utc);
        } else if (e.event == QLatin1String("Alarm off") || e.event == QLatin1String("Acknowledged")) {
            if (const auto it = on.find(e.quantity); it != on.end()) {
                periods.push_back({it->second, std::max(it->second, e.time.utc), e.quantity});
                on.erase(it);
            }
        }
    }
    const int64_t last = events.empty() ? 0 : events.back().time.utc;
    for (const auto& [quantity, since] : on)
        periods.push_back({since, std::max(since, last), quantity});
    std::sort(periods.begin(), periods.end(),
              [](const TAlarmPeriod& a, const TAlarmPeriod& b) { return a.from < b.from; });
    return periods;
}

TEventsLog ReadEventsFile(const QString& fileName, const QTimeZone& zone)
{
    TEventsLog log;
    QFile file(fileName);
    if (!file.exists())
        return log;
    log.found = true;
    if (!file.open(QIODevice::ReadOnly)) {
        log.problems.push_back({TLogProblem::CannotOpen, 0, 1, file.errorString().toStdString()});
        return log;
    }
    const QByteArray text = file.read(MaxEventsFileBytes);
    if (text.isEmpty()) {
        log.problems.push_back({TLogProblem::EmptyFile, 0, 1, "the events file is empty"});
        return log;
    }
    TLogZonePlacer placer(zone);
    const TPlacedTime* previous = nullptr;
    TPlacedTime last;
    const QList<QByteArray> lines = text.split('\n');
    const int64_t count = lines.size() - (text.endsWith('\n') ? 1 : 0);
    for (int64_t n = 0; n < count; ++n) {
        QByteArray line = lines[static_cast<qsizetype>(n)];
        if (line.endsWith('\r'))
            line.chop(1);
        const int64_t number = n + 1;
        if (n == 0 && line != TEventsFile::Header) {
            addProblem(log.problems, TLogProblem::UnknownHeader, number,
                       "the header is not that of an events file (Date, Time, Event, Quantity, Value, Level)");
            if (line.count('\t') != 5)
                continue; // an event without the header is read as one
        } else if (n == 0) {
            continue;
        }
        if (line.isEmpty()) {
            addProblem(log.problems, TLogProblem::EmptyLine, number, "an empty line");
            continue;
        }
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != 6) {
            addProblem(log.problems, TLogProblem::FieldCount, number,
                       std::to_string(fields.size()) + (fields.size() == 1 ? " field" : " fields") + ", 6 expected");
            continue;
        }
        const QDate date = QDate::fromString(QString::fromLatin1(fields[0]), QStringLiteral("dd/MM/yyyy"));
        const QTime time = QTime::fromString(QString::fromLatin1(fields[1]), QStringLiteral("hh:mm:ss.zzz"));
        if (!date.isValid() || !time.isValid()) {
            addProblem(log.problems, date.isValid() ? TLogProblem::BadTime : TLogProblem::BadDate, number,
                       "\"" + (date.isValid() ? fields[1] : fields[0]).left(40).toStdString() + "\" is not a "
                           + (date.isValid() ? "time (hh:mm:ss.mmm)" : "date (dd/mm/yyyy)"));
            continue;
        }
        const int64_t written = QDateTime(date, time, QTimeZone::utc()).toMSecsSinceEpoch();
        last = placer.place(written, previous);
        previous = &last;
        log.events.push_back({last, QString::fromUtf8(fields[2]), QString::fromUtf8(fields[3]),
                              QString::fromUtf8(fields[4]), QString::fromUtf8(fields[5])});
    }
    return log;
}

QString EventsFileOf(const QString& logFileName)
{
    return QFile::decodeName(QByteArray::fromStdString(EventsFileName(QFile::encodeName(logFileName).toStdString())));
}
