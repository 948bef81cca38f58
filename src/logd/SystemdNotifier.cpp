#include "logd/SystemdNotifier.h"

#include <systemd/sd-daemon.h>

TSystemdNotifier::TSystemdNotifier()
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
    send("WATCHDOG=1");
}

void TSystemdNotifier::stopping()
{
    send("STOPPING=1");
}
