#pragma once
#include "record/AlarmRule.h"
#include "record/LogFile.h"

#include <string>

// The events file beside a log: run-0412.txt gets run-0412.events.txt. It follows the log's conventions
// (TAB between fields, CR LF, dd/mm/yyyy and hh:mm:ss.mmm, "." as decimal point) under the header
//   Date	Time	Event	Quantity	Value	Level
// Each event is one line written with one write and handed to the disk at once (events are rare); like
// the log, a line's end goes out with the next line or at close(). File errors raise EInOutError.
//
//   TEventsFile events;
//   events.open(EventsFileName(log.fileName()));  // created or truncated, with the header
//   events.write(event);                           // "Log started", "Alarm on", ...
//   events.close();                                // the last line end, synced
class TEventsFile {
public:
    static constexpr const char* Header = "Date\tTime\tEvent\tQuantity\tValue\tLevel";

    // Creates or truncates the file and writes the header.
    void open(const std::string& fileName);
    bool isOpen() const { return FFile.IsOpen(); }
    const std::string& fileName() const { return FFile.FileName(); }
    void write(const TAlarmEvent& event);
    // Writes the last line end, syncs and closes; raises on failure, the file closed all the same.
    void close();
    // Closes without writing and without raising.
    void abandon() { FFile.Abandon(); }

private:
    TLogFile FFile;
    std::string FLine;
};

// The events file of a log file: ".events" before the extension (or at the end when there is none).
std::string EventsFileName(const std::string& logFileName);
// One line without its line end: 10/12/2026	16:40:00.125	Alarm on	concentration	0.0125	0.01
void AppendEventLine(std::string& out, const TAlarmEvent& event);
