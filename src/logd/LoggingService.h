#pragma once
#include "logd/LogdOptions.h"
#include "logd/SystemdNotifier.h"

#include <QObject>
#include <QTime>
#include <functional>
#include <memory>
#include <string>

class QTimer;
class RunClock;
class TRun;
struct TAlarmEvent;

// The headless logger: a face of the run (TRun) with its log in the output folder and reconnection always
// on. The first reading opens a new file named by its time (velmora-2026-12-09_21-40-00.txt); a reading on
// a new local day, and startNewFile(), start another. Files are never replaced or appended to. Status and
// errors go to `say`, one line each, and to the service manager.
//
//   TLoggingService service(options, systemRunClock(), [](const std::string& line) { ... });
//   if (!service.start()) return EX_CONFIG; // publishing settings that cannot be used
//   app.exec();
//   service.finish(); // the last line end written, the file synced and closed
class TLoggingService : public QObject {
    Q_OBJECT
public:
    using TSay = std::function<void(const std::string& line)>;

    TLoggingService(const TLogdOptions& options, const RunClock& clock, TSay say, QObject* parent = nullptr);
    ~TLoggingService() override;

    // Opens the port and starts logging (and publishing) at once, or says why not and waits for the port.
    // Either way the service manager hears READY at once, with a STATUS naming what is waited for; the
    // first reading never holds it up. False when publishing was asked for with settings that cannot be
    // used (said; nothing started, not ready).
    bool start();
    // Stops: the timers off, the tries stopped, the file closed with its last line end, the readings still
    // waiting for the broker counted.
    void finish();
    // The next lines go to a new file, started now (after SIGHUP, for logrotate).
    void startNewFile();
    // Runs `command` now, or when the sensor's pending request returns (signals).
    void whenIdle(std::function<void()> command);

    TRun& run() { return *FRun; }
    QTimer* logTimer() const;
    // The file being written; empty before the first reading.
    const std::string& fileName() const;

private:
    void connectRun();
    void timedOut(bool beginsOutage);
    void reconnected(bool firstStart);
    std::string device() const;
    void tellStatus();
    // "; alarm: concentration > 0.01, no reading", or nothing.
    std::string alarmStatus() const;
    void watchdogTick();

    TLogdOptions FOptions;
    const RunClock& FClock;
    TSay FSay;
    std::unique_ptr<TRun> FRun;
    QTimer* FWatchdogTimer = nullptr;
    TSystemdNotifier FNotifier;
    QTime FLastReading;
    std::string FWaitingFor; // while the port is missing or the sensor silent
    bool FFinished = false;
};

// What the service says of an alarm event, with the journal's priority prefix:
// "<4>Alarm on: concentration 0.0125 > 0.01", "<5>Alarm off: concentration 0.0095, level 0.01",
// "<5>No reading", "<5>Readings again".
std::string AlarmEventText(const TAlarmEvent& event);
