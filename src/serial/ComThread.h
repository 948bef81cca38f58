#pragma once
#include "ComTypes.h"

#include <atomic>
#include <thread>

class TCustomComPort;
class ComDevice;

// The event thread of an open port: waits for driver events and hands each report to the port's
// handlers as the port's SyncMethod says.
class TComThread {
public:
    TComThread(TCustomComPort* port, ComDevice* device);
    ~TComThread(); // signals stop and waits (running pending hand-overs meanwhile)
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    void start();
    void SignalStop();
    // Main thread: wait for the end of the run loop while running handed-over calls.
    void WaitEnded();
    bool Ended() const { return FEnded; }

private:
    void run();
    void HandOverEvents();
    void SendEventMessages();

    TCustomComPort* FComPort;
    ComDevice* FDevice;
    TComEvents FEvents; // the events of the most recent driver report
    std::atomic<bool> FEnded{false};
    std::thread FThread;
};
