#pragma once
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>

// Reconnection after an outage: acquisition stopped on a sensor time-out or a lost device. While the
// controller is enabled and an outage lasts, a single-shot timer runs one try every RetryIntervalMs; a
// failed try starts it again, so tries never overlap and nothing runs between them.
//
//   TReconnectController reconnect([&] { return reopenAndRead(); }, [&] { resumeRun(); }, window);
//   reconnect.setEnabled(true);
//   reconnect.lost();  // on a time-out: the first try comes RetryIntervalMs later
class TReconnectController : public QObject {
    Q_OBJECT
public:
    static constexpr int RetryIntervalMs = 5000;

    // attempt: one try (reopen the port if needed, take a reading); true when the sensor answered. Its
    // expected failures are its own to catch; an unexpected one goes to the error report and ends the
    // tries. resume: runs after a successful try (its failures go to the error report).
    TReconnectController(std::function<bool()> attempt, std::function<void()> resume, QObject* parent);

    // Off stops the tries; on during an outage starts them.
    void setEnabled(bool on);
    bool isEnabled() const { return FEnabled; }
    // Acquisition stopped on a time-out or a lost device; true when this begins an outage.
    bool lost();
    // The run went on or was started afresh: the outage is over and the tries stop.
    void clear();
    bool outage() const { return FOutage; }
    bool trying() const { return FTrying; }
    // An outage whose tries go on: one is running or scheduled (false once an unexpected failure ended them).
    bool retrying() const { return FOutage && FEnabled && (FTrying || FTimer.isActive()); }

    // The timer of the tries, for inspection and for tests (its interval is the retry interval).
    QTimer& timer() { return FTimer; }

private:
    void tryAgain();
    void schedule();

    std::function<bool()> FAttempt;
    std::function<void()> FResume;
    QTimer FTimer;
    bool FEnabled = false;
    bool FOutage = false;
    bool FTrying = false;
    uint64_t FOutageNumber = 0; // changes when an outage begins or ends, so a try can tell whether its own still lasts
};
