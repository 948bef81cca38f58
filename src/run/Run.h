#pragma once
#include "record/AlarmRule.h"
#include "record/ReconnectController.h"
#include "sensor/Reading.h"

#include <QDateTime>
#include <QObject>
#include <array>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QTimer;
class RunClock;
class TAlarmMonitor;
class TRunLog;
class TRunPublishing;
class TSensor;
struct TPublishSettings;

// One run, whichever program runs it: the sensor and its port, the measurement mode, the timers of the
// four purposes a reading serves (panels, chart, log, publishing), reconnection after an outage, the log
// file and the publisher. The window shows what it emits; the service says it.
//
// One request at a time: a tick takes the stored reading when it is fresh, else asks the sensor and waits.
// A tick that comes due during that wait sends nothing and nests no wait: it is served by the reading the
// pending request brings, and its timer starts again after that, as after any tick. An operator's command
// given during a wait (whenIdle) runs when the wait returns, in the order given.
//
//   TRun run(systemRunClock());
//   run.configurePort(port);
//   connect(&run, &TRun::reading, ...);     // each purpose's reading
//   connect(&run, &TRun::timedOut, ...);    // stop, say so; reconnection follows when enabled
//   if (run.openPort()) run.startAcquisition();
class TRun : public QObject {
    Q_OBJECT
public:
    enum Purpose { Display, Chart, Log, Publish };
    static constexpr int PurposeCount = 4;

    explicit TRun(const RunClock& clock, QObject* parent = nullptr);
    // Closes the log (its last line end, synced) and the port; the publisher finishes in the background.
    ~TRun() override;

    TSensor& sensor() const { return *FSensor; }
    const RunClock& clock() const { return FClock; }
    TReconnectController& reconnect() { return FReconnect; }
    TRunLog& log() const { return *FLog; }
    TRunPublishing& publishing() const { return *FPublishing; }
    // The timer of a purpose (its interval is the purpose's interval).
    QTimer* timer(Purpose purpose) const { return FTimers[static_cast<size_t>(purpose)]; }

    bool concentrationMode() const { return FConcentrationMode; }
    // The lines of the chart break where the kind of values changes (modeChanged).
    void setConcentrationMode(bool on);

    // The port name, with the sensor's line settings; the protocol state starts afresh.
    void configurePort(const std::string& port);
    // The port in use (a returning adapter may have been followed to a new name).
    const std::string& port() const;
    // Clock time at which the sensor's last reading completed; nanoseconds::min() while there is none.
    std::chrono::nanoseconds lastReadingTime() const;
    void closePort();
    // Opens the configured port; a new start clears an outage. When the port cannot be opened the outage
    // begins: with reconnection enabled, tries follow and reconnected(true) says the run can start.
    bool openPort();
    // The purposes that follow acquisition (Display and Chart in the window; none in the service). Their
    // timers, and publishing's, run from startAcquisition to stopAcquisition.
    void setAcquisitionPurposes(std::initializer_list<Purpose> purposes);
    void startAcquisition();
    void stopAcquisition();
    bool acquiring() const { return FAcquiring; }

    // The ticks: the timer off, the reading of the current mode handed out, the timer on again. A sensor
    // time-out or a lost device ends the tick as an outage. Nothing leaves a tick.
    void tick(Purpose purpose);
    // Several purposes served by one reading at once (the service's first line).
    void tickNow(std::initializer_list<Purpose> purposes);

    // Runs `command` now, or, while a request waits for the sensor, when the wait returns.
    void whenIdle(std::function<void()> command);
    bool requestPending() const { return FRequestPending; }

    // Logging: the log timer runs while a log is open and the run goes on.
    // START in the window: the chosen file, created or truncated; file errors raise, nothing is open then.
    void startLog(const std::string& fileName);
    // The service: files named by their start time in `folder`, a new one each local day and on
    // startNewLogFile(). The first opens with the first reading.
    void startLogInFolder(const std::string& folder);
    // STOP: the last line end written and synced; raises when the file could not be closed cleanly.
    void stopLog();
    bool logging() const;
    void startNewLogFile();

    // Publishing: readings every intervalMs while the run takes readings, "timeout" during an outage.
    // False, with publishing().error(), when the settings cannot be used.
    bool startPublishing(const TPublishSettings& settings, const std::string& portName, int intervalMs);
    // The publisher finishes in the background.
    void stopPublishing();

    // Alarms: every reading the run takes is judged against the rules, and outages say "No reading"
    // (unless turned off). With rules set, each log file gets an events file beside it. No rules: none of
    // this happens.
    void setAlarmRules(std::vector<TAlarmRule> rules);
    void setNoReadingAlarm(bool on);
    void acknowledgeAlarms();
    // What is on: "concentration > 0.01", ..., "no reading".
    std::vector<std::string> alarmsOn() const;
    const TAlarmMonitor& alarms() const { return *FAlarms; }

signals:
    // A reading for a purpose, after the run put it out (logged, published) where it does so itself. For
    // the chart, `x` is the seconds since the run's start at which its tick began.
    void reading(TRun::Purpose purpose, const TReading& reading, double x);
    // A tick of the window's purposes begins (status messages that are not notes go).
    void tickStarted();
    // The reading last handed to the panels is older than the staleness limit: it is no longer current.
    void readingsAged();
    // An outage ended a tick; beginsOutage is false while the same outage goes on. Reconnection, when
    // enabled, tries from now on.
    void timedOut(bool beginsOutage);
    // A try answered: the same run goes on (its timers on again), or (firstStart) the run can start on a
    // port that could not be opened at first.
    void reconnected(bool firstStart);
    void modeChanged(bool concentration);
    // An alarm came on, went off, was acknowledged; readings stopped or came again (also written to the
    // events file when one is open).
    void alarmEvent(const TAlarmEvent& event);

public:
    // Seconds since the run's start (the chart's x).
    double elapsedSeconds() const;
    const QDateTime& startTime() const { return FStartTime; }
    // A fresh run: the elapsed time starts now.
    void restartTime();

private:
    using PurposeMask = unsigned;
    static constexpr PurposeMask bit(Purpose p) { return 1u << static_cast<unsigned>(p); }
    void serve(PurposeMask purposes);
    void hand(Purpose purpose, const TReading& reading);
    TReading takeReading();
    void outage();
    bool reconnectAttempt();
    void resumed(bool firstStart);
    void runCommands();
    void watchAge();
    void alarmChanged(const TAlarmEvent& event);

    const RunClock& FClock;
    std::unique_ptr<TSensor> FSensor;
    TReconnectController FReconnect;
    std::array<QTimer*, PurposeCount> FTimers{};
    QTimer* FAgeTimer = nullptr;
    std::unique_ptr<TRunLog> FLog;
    std::unique_ptr<TRunPublishing> FPublishing;
    std::unique_ptr<TAlarmMonitor> FAlarms;
    PurposeMask FAcquisitionPurposes = 0;
    bool FConcentrationMode = false;
    bool FStartPending = false;
    bool FAcquiring = false;
    bool FRequestPending = false;
    PurposeMask FWaiting = 0; // ticks that came due during the pending request
    double FChartX = 0;       // when the waiting chart tick began
    std::deque<std::function<void()>> FCommands;
    QDateTime FStartTime;
};
