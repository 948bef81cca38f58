#include "record/ReconnectController.h"

#include "base/ErrorReport.h"

#include <utility>

TReconnectController::TReconnectController(std::function<bool()> attempt, std::function<void()> resume, QObject* parent)
    : QObject(parent), FAttempt(std::move(attempt)), FResume(std::move(resume)), FTimer(this)
{
    FTimer.setObjectName(QStringLiteral("ReconnectTimer"));
    FTimer.setSingleShot(true);
    FTimer.setInterval(RetryIntervalMs);
    connect(&FTimer, &QTimer::timeout, this, &TReconnectController::tryAgain);
}

void TReconnectController::setEnabled(bool on)
{
    FEnabled = on;
    if (on)
        schedule();
    else
        FTimer.stop();
}

bool TReconnectController::lost()
{
    if (FOutage)
        return false;
    FOutage = true;
    ++FOutageNumber;
    schedule();
    return true;
}

void TReconnectController::clear()
{
    if (FOutage)
        ++FOutageNumber;
    FOutage = false;
    FTimer.stop();
}

void TReconnectController::schedule()
{
    if (FEnabled && FOutage && !FTrying && !FTimer.isActive())
        FTimer.start();
}

void TReconnectController::tryAgain()
{
    if (!FEnabled || !FOutage || FTrying)
        return;
    const uint64_t outage = FOutageNumber;
    bool answered = false;
    FTrying = true;
    try {
        answered = FAttempt(); // runs the event loop while it waits for the sensor
    } catch (...) {
        FTrying = false; // an unexpected failure ends the tries; the error report shows it
        ReportCurrentException();
        return;
    }
    FTrying = false;
    if (!FOutage || FOutageNumber != outage)
        return; // a fresh run was started meanwhile
    if (answered && FEnabled) {
        clear();
        try {
            FResume();
        } catch (...) {
            ReportCurrentException();
        }
        return;
    }
    schedule();
}
