#pragma once
#include "logd/LogdOptions.h"
#include "logd/SystemdNotifier.h"
#include "record/Acquisition.h"
#include "record/LogWriter.h"

#include <QDate>
#include <QObject>
#include <functional>
#include <string>

class QTimer;
class RunClock;

// The headless logger: the window's acquisition and log writer on one log timer, with reconnection always
// on. The first reading opens a new file in the output folder named by its time
// (velmora-2026-12-09_21-40-00.txt); a reading on a new local day, and startNewFile(), start another.
// Files are never replaced or appended to. Status and errors go to `say`, one line each.
//
//   TLoggingService service(options, systemRunClock(), [](const std::string& line) { ... });
//   service.start();  // opens the port, or waits for it
//   app.exec();
//   service.finish(); // the last line end written, the file closed
class TLoggingService : public QObject {
    Q_OBJECT
public:
    using TSay = std::function<void(const std::string& line)>;

    TLoggingService(const TLogdOptions& options, const RunClock& clock, TSay say, QObject* parent = nullptr);
    ~TLoggingService() override;

    // Opens the port and starts logging at once, or says why not and waits for the port.
    void start();
    // The log timer off, the tries stopped, the file closed with its last line end.
    void finish();
    // The next lines go to a new file, started now (after SIGHUP, for logrotate).
    void startNewFile();

    TAcquisition& acquisition() { return FAcquisition; }
    QTimer* logTimer() const { return FLogTimer; }
    // The file being written; empty before the first reading.
    const std::string& fileName() const { return FLog.fileName(); }

private:
    void logTick();
    void writeReading(const TReading& reading);
    void openNewFile(const QDateTime& now);
    void closeFile();
    void timedOut(bool beginsOutage);
    void reconnected(bool firstStart);
    std::string device() const;
    void tellStatus();
    void watchdogTick();

    TLogdOptions FOptions;
    const RunClock& FClock;
    TSay FSay;
    TAcquisition FAcquisition;
    TLogWriter FLog;
    QTimer* FLogTimer = nullptr;
    QTimer* FWatchdogTimer = nullptr;
    TSystemdNotifier FNotifier;
    QDate FFileDate;
    QTime FLastReading;
    bool FWriteFailing = false;
};
