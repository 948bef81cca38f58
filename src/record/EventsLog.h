#pragma once
#include "record/LogReader.h"

#include <QString>
#include <QStringList>
#include <QTimeZone>
#include <cstdint>
#include <vector>

// One line of an events file (EventsFile.h) as read back: its time placed on the UTC time line as the log's
// times are, and its fields as written.
struct TLoggedEvent {
    TPlacedTime time;
    QString event;    // "Alarm on", "Log started", ...
    QString quantity; // empty for the events of no quantity
    QString value;
    QString level;

    // "Alarm on: concentration 0.0125 (level 0.01)", "Log started".
    QString text() const;
};

// A span of time during which an alarm was on: from "Alarm on" to the next "Alarm off" or "Acknowledged" of
// the same quantity (or the last event of the file, when it is still on).
struct TAlarmPeriod {
    int64_t from = 0; // UTC ms
    int64_t to = 0;
    QString quantity;
};

// An events file as read. A missing file is no problem (found is false); a damaged one keeps its sound
// lines and lists the others by kind, with their line numbers, as a log's problems are listed.
struct TEventsLog {
    bool found = false;
    std::vector<TLoggedEvent> events; // in file order
    std::vector<TLogProblem> problems;

    std::vector<TAlarmPeriod> alarmPeriods() const;
};

TEventsLog ReadEventsFile(const QString& fileName, const QTimeZone& zone = QTimeZone::systemTimeZone());
// The events file beside a log file (EventsFileName).
QString EventsFileOf(const QString& logFileName);
