#include "logd/SystemdNotifier.h"

#include "sensor/SensorClock.h"

#include <systemd/sd-daemon.h>

TSystemdNotifier::TSystemdNotifier(const SensorClock& clock) : FClock(clock)
{
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0)
        FWatchdogPeriod = std::chrono::microseconds(usec);
}

void TSystemdNotifier::send(const std::string& state)
{
    sd_notify(0, state.c_str());
}

void TSystemdNotifier::ready(const std::string& status)
{
    if (FReady)
        return;
    FReady = true;
    FStatus = status;
    send("READY=1\nSTATUS=" + status);
}

void TSystemdNotifier::status(const std::string& status)
{
    if (status == FStatus)
        return;
    FStatus = status;
    send("STATUS=" + status);
}

void TSystemdNotifier::watchdog()
{
    if (FWatchdogPeriod.count() == 0)
        return;
    const std::chrono::nanoseconds now = FClock.now();
    if (FPinged && now - FLastPing < FWatchdogPeriod / 2)
        return;
    FPinged = true;
    FLastPing = now;
    send("WATCHDOG=1");
}

void TSystemdNotifier::stopping()
{
    send("STOPPING=1");
}
