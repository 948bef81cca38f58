#pragma once
#include <chrono>
#include <string>

// Tells the service manager how the service is doing (sd_notify): nothing happens when the program was
// not started by it (no NOTIFY_SOCKET), and watchdog pings only when the unit asks for them.
class TSystemdNotifier {
public:
    TSystemdNotifier();

    // READY=1 with a status, once.
    void ready(const std::string& status);
    // STATUS=..., when it changed.
    void status(const std::string& status);
    // The watchdog period the unit asks for; zero when it asks for none.
    std::chrono::microseconds watchdogPeriod() const { return FWatchdogPeriod; }
    // WATCHDOG=1.
    void watchdog();
    void stopping();

private:
    void send(const std::string& state);

    bool FReady = false;
    std::string FStatus;
    std::chrono::microseconds FWatchdogPeriod{0};
};
