#pragma once
#include "record/LogFile.h"
#include "sensor/Reading.h"

#include <string>

class RunClock;

// Writes a log file: the header of a mode, then one line per reading with the local date and time read
// from the clock (the date first, then the time, after the reading was in hand). Each field and each TAB
// is handed to the operating system as soon as it is written; a line end waits in the buffer until the
// next line begins or the file is closed, so a crash loses at most the last line end. File errors raise
// EInOutError with the file's name and the system's reason.
//
//   TLogWriter log(systemRunClock());
//   log.open("run.txt", concentrationMode);  // or openNew(), which never replaces a file
//   log.writeLine(reading);                  // once per log tick
//   log.close();
class TLogWriter {
public:
    explicit TLogWriter(const RunClock& clock) : FClock(clock) {}

    // Creates the file, or truncates an existing one, and writes the header.
    void open(const std::string& fileName, bool concentrationMode);
    // Creates a file that must not exist yet (EEXIST raises and leaves it alone), and writes the header.
    void openNew(const std::string& fileName, bool concentrationMode);
    // A line for the reading. When a line failed part-way (a full disk, say), the next one starts on a line
    // of its own, so the lines after it keep their columns.
    void writeLine(const TReading& reading);
    // Writes what is buffered and closes; raises when that fails (the file is closed all the same).
    void close();
    // Closes without writing what is buffered and without raising.
    void abandon() { FFile.Abandon(); }

    bool isOpen() const { return FFile.IsOpen(); }
    const std::string& fileName() const { return FFile.FileName(); }
    bool concentrationMode() const { return FConcentrationMode; }

private:
    void writeHeader(bool concentrationMode);
    void writeField(const std::string& text, bool last);

    const RunClock& FClock;
    TLogFile FFile;
    bool FConcentrationMode = false;
    bool FLineBroken = false;
};
