#pragma once
#include "record/LogFile.h"
#include "sensor/Reading.h"

#include <QDate>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

class RunClock;

// Writes a log file: the header of a mode, then one line per reading with the local date and time read
// from the clock (the date first, then the time, when the line is made). A line goes to the system in one
// write together with the line end of the line before it, so between writes the last line stands without
// its line end, which the next line or close() writes. What a failed write left of a line is cut off again:
// the file holds whole lines only. A line that cannot be written waits, with its own time, and goes first
// into the next write, also into the next file opened; at most waitingBound() lines wait, the oldest going
// first. What was written is handed to the disk every 5 s (by the clock's now()) while lines come, and at
// sync() and close(); a sync that fails raises as a write does (the lines stay written). File errors raise
// EInOutError with the file's name and the system's reason.
//
//   TLogWriter log(systemRunClock());
//   log.setWaitingBound(86400);              // a day at 1 s
//   log.open("run.txt", concentrationMode);  // or openNew(), which never replaces a file
//   log.writeLine(reading);                  // once per log tick; raises while the disk is full
//   log.close();                             // raises when lines could not be written
class TLogWriter {
public:
    static constexpr std::chrono::seconds SyncInterval{5};
    static constexpr size_t DefaultWaitingBound = 86400;

    explicit TLogWriter(const RunClock& clock) : FClock(clock) {}
    ~TLogWriter(); // closes as close() does, without raising
    TLogWriter(const TLogWriter&) = delete;
    TLogWriter& operator=(const TLogWriter&) = delete;

    // Creates the file, or truncates an existing one, and writes the header. A file still open is
    // abandoned first. When the header cannot be written the file is closed and, if this open created it,
    // removed (a file that was truncated stays, empty); then it raises. Waiting lines stay waiting; those
    // of the other mode are dropped (counted by dropped()), since their columns do not fit the header.
    void open(const std::string& fileName, bool concentrationMode);
    // The same for a file that must not exist yet (EEXIST raises and leaves it alone).
    void openNew(const std::string& fileName, bool concentrationMode);
    // Makes the line of the reading now and writes the waiting lines and then it. On failure the line
    // waits and it raises; so does it, after queueing the line, when no file is open.
    void writeLine(const TReading& reading);
    // Makes the line of the reading now and queues it without writing (when no file could be opened).
    void queueLine(const TReading& reading);
    // Writes the waiting lines; raises when they cannot be written (they go on waiting), or when lines wait
    // and no file is open.
    void writeWaiting();
    // Hands what was written to the disk.
    void sync();
    // Writes the waiting lines and the last line end, hands the file to the disk and closes it. Raises on
    // failure, the file closed all the same; the message then ends with the lines still waiting
    // ("...; 12 lines could not be written"), which stay waiting for the next file.
    void close();
    // Closes without writing anything more and without raising; waiting lines stay waiting.
    void abandon() { FFile.Abandon(); }

    // True when fileName() no longer leads to the open file (removed, renamed or replaced).
    bool fileReplaced() const { return FFile.Replaced(); }
    // At most this many lines wait; past it the oldest are dropped. 0 keeps none.
    void setWaitingBound(size_t lines);
    size_t waitingBound() const { return FWaitingBound; }
    size_t waiting() const { return FWaiting.size(); }
    // Lines dropped since the writer was made: past the bound, or of the other mode at an open.
    uint64_t dropped() const { return FDropped; }

    bool isOpen() const { return FFile.IsOpen(); }
    const std::string& fileName() const { return FFile.FileName(); }
    bool concentrationMode() const { return FConcentrationMode; }

private:
    struct TWaitingLine {
        std::string text;
        bool concentration;
    };

    void writeHeader(bool concentrationMode);
    void formatLine(const TReading& reading);
    void enqueue(const std::string& text, bool concentration);
    void writeOut(bool withLine, bool lastLineEnd);
    void syncIfDue();

    const RunClock& FClock;
    TLogFile FFile;
    bool FConcentrationMode = false;
    std::deque<TWaitingLine> FWaiting;
    size_t FWaitingBound = DefaultWaitingBound;
    uint64_t FDropped = 0;
    std::chrono::nanoseconds FLastSync{};
    // Reused from line to line.
    QDate FDate;
    std::string FDateText;
    std::string FLine;
    bool FLineConcentration = false;
    std::string FBatch;
    std::vector<size_t> FEnds;
};
