#pragma once
#include "record/EventsFile.h"
#include "record/LogWriter.h"
#include "sensor/Reading.h"

#include <QDate>
#include <QObject>
#include <QString>
#include <string>

class RunClock;

// A run's log file and what happens when it cannot be written. A line that cannot be written (a full
// disk, an I/O error, a read-only file system, a quota) waits in memory, in order, with its own time, up
// to a day of lines at the log interval, and goes out as soon as a write succeeds; the failure is said
// once, and so is the recovery. A file that cannot be opened is tried again with the next line. A file
// deleted or replaced under the log is said, and the lines go on into a new one with its header.
//
// Two ways of naming files: the window's, one chosen file; the service's, files named by their start
// time in a folder, a new one on each local day and on request.
class TRunLog : public QObject {
    Q_OBJECT
public:
    explicit TRunLog(const RunClock& clock, QObject* parent = nullptr);
    ~TRunLog() override;

    // The log interval: lines wait for at most a day of it.
    void setInterval(int milliseconds);
    // The chosen file, created or truncated, with the header of the mode. File errors raise (EInOutError)
    // and leave the log closed.
    void open(const std::string& fileName, bool concentrationMode);
    // Files in `folder`; the first is created with the first line.
    void openInFolder(const std::string& folder, bool concentrationMode);
    // A line for the reading, with the local date and time now.
    void write(const TReading& reading);
    // The next line goes into a new file (the service's naming only; the window's file stays).
    void startNewFile();
    // Writes what waits, the last line end, syncs and closes. Raises when that fails; the log is closed
    // all the same (lines that could not be written are counted in the message).
    void close();

    bool isOpen() const { return FActive; }
    // The file written now (empty before the service's first line).
    const std::string& fileName() const { return FWriter.fileName(); }
    size_t waiting() const { return FWriter.waiting(); }
    uint64_t dropped() const { return FWriter.dropped(); }
    bool failing() const { return FFailing; }
    TLogWriter& writer() { return FWriter; }

    // Alarms: with events wanted, each log file gets its events file beside it (EventsFileName), opened
    // and closed with it, starting with "Log started" and ending with "Log stopped".
    void setEventsWanted(bool wanted);
    // An event for the events file open now (none: not logging, or no rules).
    void writeEvent(const TAlarmEvent& event);
    // The events file written now; empty when there is none.
    const std::string& eventsFileName() const;

signals:
    // A file was opened for the log (the service says its name).
    void fileOpened(const QString& fileName);
    // The first failure of a stretch: Log: cannot write "run.txt": No space left on device; 12 lines waiting
    void failed(const QString& text);
    // The same text with the count, as lines go on waiting.
    void waitingChanged(const QString& text);
    // Writing to "run.txt" again; 12 lines caught up
    void recovered(const QString& text);
    // The file was deleted or replaced under the log; a new one is started.
    void replaced(const QString& text);

private:
    void begin(const std::string& target, bool inFolder, bool concentrationMode);
    bool ensureFile(const QDateTime& now);
    void openUnused(const std::string& fileName);
    void openNamed(const QDateTime& now);
    void closeQuietly();
    void openEvents();
    void closeEvents(bool quietly);
    void writeFailed(const std::string& target, int errorCode);
    QString failureText(const std::string& target, int errorCode) const;

    const RunClock& FClock;
    TLogWriter FWriter;
    bool FActive = false;
    bool FConcentrationMode = false;
    bool FInFolder = false;
    std::string FTarget; // the window's chosen file, or the service's folder
    QDate FFileDate;
    bool FNewFileWanted = false;
    bool FFailing = false;
    int FErrorCode = 0;
    bool FEventsWanted = false;
    TEventsFile FEvents;
};
