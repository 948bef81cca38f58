#pragma once
#include "ComTypes.h"

#include <QThread>
#include <atomic>

class TCustomComPort;
class ComDevice;

// The event thread of an open port: waits for driver events and hands each report to the port's
// handlers as the port's SyncMethod says.
class TComThread : public QThread {
    Q_OBJECT
public:
    TComThread(TCustomComPort* port, ComDevice* device);
    ~TComThread() override; // signals stop and waits (running pending hand-overs meanwhile)

    void SignalStop();
    // Main thread: wait for the end of the run loop while running handed-over calls.
    void WaitEnded();
    bool Ended() const { return FEnded; }

protected:
    void run() override;

private:
    void HandOverEvents();
    void SendEventMessages();

    TCustomComPort* FComPort;
    ComDevice* FDevice;
    TComEvents FEvents; // the events of the most recent driver report
    std::atomic<bool> FEnded{false};
};
