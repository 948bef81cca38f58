#include "serial/ComThread.h"

#include "base/ErrorReport.h"
#include "serial/ComPort.h"

#include <QSocketNotifier>
#include <cerrno>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace {

// The state word: a phase, and a bit set by a thread that sleeps on the word until the phase changes.
// The thread that changes the phase clears the bit and wakes the sleeper only when it was set.
constexpr uint32_t PhaseIdle = 0;    // the slot is free
constexpr uint32_t PhasePosted = 1;  // filled by the event thread, not yet taken by the main thread
constexpr uint32_t PhaseRunning = 2; // the main thread runs the call
constexpr uint32_t PhaseEnded = 3;   // the run loop has ended
constexpr uint32_t PhaseBits = 3;
constexpr uint32_t Sleeper = 4;

// Sets a new phase; wakes the other thread if it sleeps on the word.
void changePhase(std::atomic<uint32_t>& state, uint32_t phase)
{
    if (state.exchange(phase, std::memory_order_acq_rel) & Sleeper)
        state.notify_one();
}

} // namespace

TComThread::TComThread(TCustomComPort* port, ComDevice* device) : FComPort(port), FDevice(device) {}

TComThread::~TComThread()
{
    SignalStop();
    WaitEnded();
    if (FThread.joinable())
        FThread.join();
    FNotifier.reset();
    if (FWakeFd >= 0)
        ::close(FWakeFd);
}

void TComThread::start()
{
    FWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FWakeFd < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    FNotifier = std::make_unique<QSocketNotifier>(FWakeFd, QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, FNotifier.get(), [this] {
        uint64_t count;
        [[maybe_unused]] ssize_t n = ::read(FWakeFd, &count, sizeof count);
        runPosted(); // last: a handler that closes the port frees this object
    });
    FThread = std::thread([this] { run(); });
}

void TComThread::SignalStop()
{
    FDevice->stop();
}

void TComThread::WaitEnded()
{
    if (!FThread.joinable() || std::this_thread::get_id() == FThread.get_id())
        return;
    for (;;) {
        switch (FState.load(std::memory_order_acquire) & PhaseBits) {
        case PhaseEnded: return;
        case PhasePosted: runPosted(); break;
        case PhaseRunning: // called by a handler of the running call: let the event thread go on now
            *FReleased = true;
            FReleased = nullptr;
            finish();
            break;
        default: sleepWhile([](uint32_t phase) { return phase == PhaseIdle; }); break;
        }
    }
}

// ---- event thread ---------------------------------------------------------------------------------

void TComThread::run()
{
    bool failed = false;
    for (;;) {
        uint32_t mask = 0;
        int error = 0;
        const ComWaitResult result = FDevice->waitCommEvent(mask, error, *this);
        if (result == ComWaitResult::Stopped)
            break;
        if (result == ComWaitResult::Failed) {
            failed = true;
            break;
        }
        FEvents = MaskToEvents(mask);
        HandOverEvents();
    }
    sleepWhile([](uint32_t phase) { return phase != PhaseIdle; }); // the last call, before the queue goes
    FDevice->setCommMask(0);
    FDevice->purge(false, false, true, true);
    if (failed) {
        deliver(Await::Done, [this] { FCall = Call::Lost; });
        sleepWhile([](uint32_t phase) { return phase != PhaseIdle; });
    }
    changePhase(FState, PhaseEnded);
}

void TComThread::HandOverEvents()
{
    switch (FComPort->SyncMethod()) {
    case smThreadSync:
        // Exceptions are reported on the main thread and delivery goes on.
        deliver(Await::Done, [this] {
            FCall = Call::Events;
            FCallEvents = FEvents;
        });
        break;
    case smWindowSync: SendEventMessages(); break;
    case smNone: try { FComPort->RaiseEvents(FEvents);
        } catch (const std::exception& e) {
            // Reported on the main thread; this thread goes on delivering.
            deliver(Await::None, [this, &e] {
                FCall = Call::Error;
                FCallError = e.what();
            });
        }
        break;
    }
}

void TComThread::SendEventMessages()
{
    // One call per event, in processing order; the thread goes on once the main thread has started it.
    for (TComEvent event : ComEventRaiseOrder) {
        if (!FEvents.contains(event))
            continue;
        deliver(Await::Start, [this, event] {
            FCall = Call::Event;
            FCallEvent = event;
        });
    }
}

template <typename Fill> void TComThread::deliver(Await await, Fill fill)
{
    sleepWhile([](uint32_t phase) { return phase != PhaseIdle; }); // the previous call has finished
    fill();
    FAwait = await;
    changePhase(FState, PhasePosted); // wakes a main thread sleeping in WaitEnded
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(FWakeFd, &one, sizeof one);
    FAwaiting = await == Await::Done; // the gate or the next call waits for its end
    if (await == Await::Start)
        sleepWhile([](uint32_t phase) { return phase == PhasePosted; });
}

void TComThread::pass()
{
    if (!FAwaiting)
        return;
    sleepWhile([](uint32_t phase) { return phase != PhaseIdle; });
    FAwaiting = false;
}

template <typename Busy> void TComThread::sleepWhile(Busy busy)
{
    for (;;) {
        uint32_t state = FState.load(std::memory_order_acquire);
        if (!busy(state & PhaseBits))
            return;
        if (!(state & Sleeper) && !FState.compare_exchange_weak(state, state | Sleeper, std::memory_order_acq_rel))
            continue;
        FState.wait(state | Sleeper, std::memory_order_acquire);
    }
}

// ---- main thread ----------------------------------------------------------------------------------

void TComThread::runPosted()
{
    uint32_t state = FState.load(std::memory_order_acquire);
    uint32_t running;
    do {
        if ((state & PhaseBits) != PhasePosted)
            return; // nothing posted, or the call runs already (a nested event loop)
        // A sleeper waiting for the end of the call stays asleep; one waiting for its start is woken.
        running = PhaseRunning | (FAwait == Await::Done ? state & Sleeper : 0);
    } while (!FState.compare_exchange_weak(state, running, std::memory_order_acq_rel));
    if ((state & Sleeper) && !(running & Sleeper))
        FState.notify_one();
    bool released = false;
    FReleased = &released;
    perform();
    if (released)
        return; // WaitEnded let the event thread go: the port is closed and this object may be gone
    FReleased = nullptr;
    finish();
}

void TComThread::perform()
{
    TCustomComPort* port = FComPort;
    try {
        switch (FCall) {
        case Call::Events: port->RaiseEvents(FCallEvents); break;
        case Call::Event:
            if (port->Connected())
                port->processEvent(FCallEvent);
            break;
        case Call::Error: ReportApplicationError(std::runtime_error(FCallError)); break;
        case Call::Lost: port->noteDeviceLost(); break;
        }
    } catch (...) {
        ReportCurrentException(); // uses nothing of this object: it may be gone
    }
}

void TComThread::finish()
{
    changePhase(FState, PhaseIdle);
}
