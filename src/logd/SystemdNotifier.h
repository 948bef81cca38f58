#pragma once
#include <chrono>
#include <string>

class SensorClock;

// Tells the service manager how the service is doing (sd_notify): nothing happens when the program was
// not started by it (no NOTIFY_SOCKET), and watchdog pings only when the unit asks for them.
class TSystemdNotifier {
public:
    explicit TSystemdNotifier(const SensorClock& clock);

    // READY=1 with a status, once.
    void ready(const std::string& status);
    // STATUS=..., when it changed.
    void status(const std::string& status);
    // WATCHDOG=1, at most twice per watchdog period.
    void watchdog();
    void stopping();

private:
    void send(const std::string& state);

    const SensorClock& FClock;
    bool FReady = false;
    std::string FStatus;
    std::chrono::microseconds FWatchdogPeriod{0};
    std::chrono::nanoseconds FLastPing{0};
    bool FPinged = false;
};
