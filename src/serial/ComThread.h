#pragma once
#include "serial/ComPlatform.h"
#include "serial/ComTypes.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

class TCustomComPort;
class QSocketNotifier;

// The event thread of an open port: waits for driver events and hands each report to the port's
// handlers as the port's SyncMethod says.
//
// A hand-over to the thread that opened the port (the main thread) goes through one slot: the event
// thread fills it, marks it posted in a state word, wakes the main thread through an eventfd that a
// socket notifier watches, and sleeps until the main thread has finished the call (thread hand-over) or
// started it (window hand-over). The state word also orders the slot's contents between the threads.
// Nothing is allocated per hand-over.
//
// In thread hand-over the event thread, while it waits for the end of the call, already sleeps in the
// device's wait: the device passes the gate (pass) before it takes anything from the tty, and the gate
// holds the thread until the call has finished. So the thread neither reads nor reports while the
// handlers run, yet it is not woken just to learn that they are done: each side wakes once per report.
class TComThread final : private ComWaitGate {
public:
    TComThread(TCustomComPort* port, ComDevice* device);
    ~TComThread(); // signals stop and waits (running a pending hand-over meanwhile)
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    // Main thread. Throws std::system_error when the thread or its wake-up cannot be made.
    void start();
    void SignalStop();
    // Main thread: wait for the end of the run loop while running handed-over calls. From inside a
    // handed-over call (a handler that closes the port) it lets the event thread go on first.
    void WaitEnded();

private:
    enum class Call : uint8_t { Events, Event, Error, Lost };
    enum class Await : uint8_t { Done, Start, None };

    void run();
    void HandOverEvents();
    void SendEventMessages();
    // Event thread: pass one call to the main thread; `fill` writes the slot once it is free.
    template <typename Fill> void deliver(Await await, Fill fill);
    // Either thread: sleep on the state word while busy(phase) holds.
    template <typename Busy> void sleepWhile(Busy busy);
    // Event thread: wait for the end of the call handed over last, if it was handed over to be waited for.
    void pass() override;
    // Main thread: run the posted call, if there is one.
    void runPosted();
    void perform();
    void finish();

    TCustomComPort* FComPort;
    ComDevice* FDevice;
    TComEvents FEvents;     // the events of the most recent driver report
    bool FAwaiting = false; // event thread: the call handed over last is to be waited for

    // The slot: written by the event thread before it posts, read by the main thread after.
    Call FCall = Call::Events;
    Await FAwait = Await::Done;
    TComEvents FCallEvents;
    TComEvent FCallEvent = evRxChar;
    std::string FCallError;
    std::atomic<uint32_t> FState{0};
    bool* FReleased = nullptr; // main thread: set while a call runs, so WaitEnded can release it

    int FWakeFd = -1;
    std::unique_ptr<QSocketNotifier> FNotifier;
    std::thread FThread;
};
