#pragma once
#include "record/LogReader.h"

#include <QString>
#include <string>

// Readings as comma-separated values. A header ("Local time,UTC," and the value columns' titles), then a
// row per reading: the written time in ISO 8601 with its offset ("2025-10-26T01:15:00.000+00:00"), the
// instant in UTC ("2025-10-26T01:15:00.000Z"), and the values in the C locale, each in the shortest form
// that reads back the same ("nan" and a column the reading's file lacks: an empty field). A gap is a row of
// empty fields. Lines end in LF.
std::string LogCsvHeader(const TLogData& data);
// Appends the rows of readings [from, to), with a gap row before each reading that begins a stretch (before
// the first only with `gapFirst`).
void AppendLogCsvRows(std::string& out, const TLogData& data, size_t from, size_t to, bool gapFirst = false);

// Writes readings [from, to) to a file, replacing it whole once everything is written. False with the
// reason in `error` when the file cannot be written.
bool WriteLogCsv(const QString& fileName, const TLogData& data, size_t from, size_t to, QString* error = nullptr);
