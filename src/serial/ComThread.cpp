#include "ComThread.h"

#include "ComPort.h"
#include "ErrorReport.h"
#include "HandOver.h"

TComThread::TComThread(TCustomComPort* port, ComDevice* device) : FComPort(port), FDevice(device) {}

TComThread::~TComThread()
{
    SignalStop();
    WaitEnded();
    if (FThread.joinable())
        FThread.join();
}

void TComThread::start()
{
    MainThreadHandOver::instance(); // made here, on the main thread, before the event thread can need it
    FThread = std::thread([this] { run(); });
}

void TComThread::SignalStop()
{
    FDevice->stop();
}

void TComThread::WaitEnded()
{
    if (FThread.joinable() && std::this_thread::get_id() != FThread.get_id())
        MainThreadHandOver::instance().waitFor(FEnded);
}

void TComThread::run()
{
    bool failed = false;
    for (;;) {
        uint32_t mask = 0;
        int error = 0;
        const ComWaitResult result = FDevice->waitCommEvent(mask, error);
        if (result == ComWaitResult::Stopped)
            break;
        if (result == ComWaitResult::Failed) {
            failed = true;
            break;
        }
        FEvents = MaskToEvents(mask);
        HandOverEvents();
    }
    FDevice->setCommMask(0);
    FDevice->purge(false, false, true, true);
    if (failed) {
        TCustomComPort* port = FComPort;
        MainThreadHandOver::instance().invoke([port] { port->deviceLost(); });
    }
    FEnded = true;
    MainThreadHandOver::instance().notifyFinished();
}

void TComThread::HandOverEvents()
{
    TCustomComPort* port = FComPort;
    const TComEvents events = FEvents;
    switch (port->SyncMethod()) {
    case smThreadSync:
        // Exceptions are reported on the main thread by the hand-over and delivery goes on.
        MainThreadHandOver::instance().invoke([port, events] { port->RaiseEvents(events); });
        break;
    case smWindowSync:
        SendEventMessages();
        break;
    case smNone:
        try {
            port->RaiseEvents(events);
        } catch (const std::exception& e) {
            // Report on the main thread; this thread goes on delivering.
            MainThreadHandOver::instance().post(
                [message = std::string(e.what())] { ReportApplicationError(std::runtime_error(message)); });
        }
        break;
    }
}

void TComThread::SendEventMessages()
{
    // One message per event, in processing order; the thread goes on once the main thread has started it.
    TCustomComPort* port = FComPort;
    for (TComEvent event : ComEventRaiseOrder) {
        if (!FEvents.contains(event))
            continue;
        MainThreadHandOver::instance().invoke(
            [port, event] {
                if (port->Connected())
                    port->processEvent(event);
            },
            true);
    }
}
