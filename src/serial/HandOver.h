#pragma once
#include <QObject>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

// Calls handed from worker threads to the main thread. The main thread runs them whenever it processes
// events (a posted event wakes it, nested event loops included) and while it waits for a worker to end.
class MainThreadHandOver : public QObject {
    Q_OBJECT
public:
    static MainThreadHandOver& instance();

    // From a worker thread: queue fn for the main thread and block until it has run (or, with
    // untilStarted, only until it has started). On the main thread itself fn runs at once.
    void invoke(std::function<void()> fn, bool untilStarted = false);
    // From a worker thread: queue fn for the main thread without waiting for it.
    void post(std::function<void()> fn);
    // Main thread: run every pending call.
    void drain();
    // Main thread: run pending calls until `finished` is set (the worker calls notifyFinished after setting it).
    void waitFor(const std::atomic<bool>& finished);
    // Worker thread: wake a main thread waiting in waitFor.
    void notifyFinished();

protected:
    bool event(QEvent* e) override;

private:
    MainThreadHandOver();
    struct Call {
        std::function<void()> fn;
        bool started = false;
        bool done = false;
    };
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::shared_ptr<Call>> pending_;
};
