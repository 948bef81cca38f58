#pragma once
#include "record/LogReader.h"

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

// One file of a run: its layout, how many of the run's readings came from it and what was wrong with it.
struct TLogSource {
    QString fileName;
    TLogData::ELayout layout = TLogData::Unknown;
    size_t readings = 0;
    int64_t lineCount = 0;
    std::vector<TLogProblem> problems; // line numbers are the file's own
    bool cancelled = false;
};

// Several log files as one run on one time axis. `data` holds every reading: its columns are those of the
// files' layouts (a column a file lacks holds NaN for that file's readings; a run of one layout has that
// layout's columns only), the time between two files is a gap, and its problems are empty: they stay
// with their files. `files` are in the order of their first reading, files without readings last.
struct TLogRun {
    TLogData data;
    std::vector<TLogSource> files;

    // The files' problems; with several files each line is prefixed with its file's name
    // ("run-0412.txt: line 5: an empty line; skipped").
    QStringList report() const;
};

// The log files named: a file as given, a folder as its log files (*.txt but not *.events.txt, by name,
// not its subfolders).
QStringList LogFilesIn(const QStringList& paths);

// Puts the files read into one run: ordered by their first reading, read one after the other, sorted by
// time where they overlap. Each file's storage is let go as it is taken in.
TLogRun MergeLogFiles(std::vector<std::pair<QString, TLogData>> files);

// Reads the files and folders named (LogFilesIn) and merges them. `progress` counts the bytes of all the
// files; when it returns false the reading stops and the run holds what was read, marked cancelled.
TLogRun ReadLogRun(const QStringList& paths, const TLogProgress& progress = {},
                   const QTimeZone& zone = QTimeZone::systemTimeZone());
