#pragma once
#include "record/ReconnectController.h"
#include "sensor/ExceptionLib.h"
#include "sensor/Reading.h"
#include "base/ErrorReport.h"

#include <QObject>
#include <QTimer>
#include <memory>

class RunClock;
class TSensor;

// A run's readings in one place: the sensor, the measurement mode, the tick pattern the timers share and
// reconnection after an outage. The window's panels, chart and log and the service's log take their
// readings through it; none of them asks the sensor on its own.
//
//   TAcquisition run(systemRunClock(), this);
//   run.sensor().ConfigurePort(port);
//   connect(&run, &TAcquisition::timedOut, ...);      // stop, say so; reconnection follows when enabled
//   if (run.openPort()) timer->start();
//   void tick() { run.runTick(timer, [&](const TReading& r) { show(r); return true; }); }
class TAcquisition : public QObject {
    Q_OBJECT
public:
    explicit TAcquisition(const RunClock& clock, QObject* parent = nullptr);
    // Closes the port and ends its event thread.
    ~TAcquisition() override;

    TSensor& sensor() const { return *FSensor; }
    const RunClock& clock() const { return FClock; }
    TReconnectController& reconnect() { return FReconnect; }
    bool concentrationMode() const { return FConcentrationMode; }
    void setConcentrationMode(bool on) { FConcentrationMode = on; }

    // Opens the configured port; a new start clears an outage. When the port cannot be opened (EComPort)
    // the outage begins: with reconnection enabled, tries follow and reconnected(true) starts the run.
    bool openPort();
    // The reading of the current mode; the sensor's errors pass through.
    TReading takeReading();

    // The tick pattern: `timer` off, the reading of the current mode handed to `put` (a callable taking a
    // TReading and returning whether the timer goes on), the timer on again. A sensor time-out or a lost
    // device ends the tick as an outage (timedOut). Any other failure is reported through the error
    // report and leaves the timer off. Nothing leaves the tick.
    template <typename Put> void runTick(QTimer* timer, Put&& put)
    {
        timer->stop();
        try {
            if (put(takeReading()))
                timer->start();
        } catch (const ESensorError&) {
            outage();
        } catch (...) {
            ReportCurrentException();
        }
    }
    // A sensor time-out or a lost device outside a tick: the same as in one.
    void outage();

signals:
    // An outage ended a tick; beginsOutage is false while the same outage goes on. Reconnection, when
    // enabled, tries from now on.
    void timedOut(bool beginsOutage);
    // A try answered: the same run goes on, or (firstStart) the run can start on a port that could not be
    // opened at first.
    void reconnected(bool firstStart);

private:
    bool reconnectAttempt();

    const RunClock& FClock;
    std::unique_ptr<TSensor> FSensor;
    TReconnectController FReconnect;
    bool FConcentrationMode = false;
    bool FStartPending = false;
};
