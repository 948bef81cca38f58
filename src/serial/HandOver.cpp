#include "HandOver.h"

#include "ErrorReport.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

namespace {
const QEvent::Type HandOverEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
}

MainThreadHandOver::MainThreadHandOver()
{
    if (auto* app = QCoreApplication::instance())
        moveToThread(app->thread());
}

MainThreadHandOver& MainThreadHandOver::instance()
{
    static MainThreadHandOver* handOver = new MainThreadHandOver; // lives as long as the process
    return *handOver;
}

void MainThreadHandOver::invoke(std::function<void()> fn, bool untilStarted)
{
    if (QThread::currentThread() == thread()) {
        fn();
        return;
    }
    auto call = std::make_shared<Call>();
    call->fn = std::move(fn);
    std::unique_lock lock(lock_);
    pending_.push_back(call);
    QCoreApplication::postEvent(this, new QEvent(HandOverEvent));
    changed_.wait(lock, [&] { return untilStarted ? call->started : call->done; });
}

void MainThreadHandOver::post(std::function<void()> fn)
{
    if (QThread::currentThread() == thread()) {
        fn();
        return;
    }
    auto call = std::make_shared<Call>();
    call->fn = std::move(fn);
    std::lock_guard lock(lock_);
    pending_.push_back(std::move(call));
    QCoreApplication::postEvent(this, new QEvent(HandOverEvent));
}

void MainThreadHandOver::drain()
{
    for (;;) {
        std::shared_ptr<Call> call;
        std::function<void()> fn;
        {
            std::lock_guard lock(lock_);
            if (pending_.empty())
                return;
            call = pending_.front();
            pending_.pop_front();
            fn = std::move(call->fn);
            call->started = true;
            changed_.notify_all();
        }
        try {
            fn();
        } catch (...) {
            ReportCurrentException();
        }
        std::lock_guard lock(lock_);
        call->done = true;
        changed_.notify_all();
    }
}

void MainThreadHandOver::waitFor(const std::atomic<bool>& finished)
{
    for (;;) {
        drain();
        std::unique_lock lock(lock_);
        if (finished)
            return;
        changed_.wait(lock, [&] { return finished || !pending_.empty(); });
        if (finished && pending_.empty())
            return;
    }
}

void MainThreadHandOver::notifyFinished()
{
    std::lock_guard lock(lock_);
    changed_.notify_all();
}

bool MainThreadHandOver::event(QEvent* e)
{
    {
        // Our events are built by worker threads under lock_; Qt's queue hands them over with
        // its own locking, which thread checkers cannot see. Taking lock_ orders the read below.
        std::lock_guard lock(lock_);
    }
    if (e->type() == HandOverEvent) {
        drain();
        return true;
    }
    return QObject::event(e);
}
