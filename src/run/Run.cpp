#include "run/Run.h"

#include "base/ErrorReport.h"
#include "record/LogFile.h"
#include "record/RunClock.h"
#include "run/AlarmMonitor.h"
#include "run/RunLog.h"
#include "run/RunPublishing.h"
#include "sensor/ExceptionLib.h"
#include "sensor/SensorObjects.h"
#include "serial/EComPort.h"

#include <QTimer>
#include <algorithm>
#include <chrono>

namespace {
constexpr const char* TimerNames[] = {"DisplaysTimer", "GraphicsTimer", "LogTimer", "PublishTimer"};
constexpr int DefaultIntervalsMs[] = {125, 1000, 1000, 1000};
} // namespace

TRun::TRun(const RunClock& clock, QObject* parent)
    : QObject(parent), FClock(clock), FSensor(std::make_unique<TSensor>()),
      FReconnect([this] { return reconnectAttempt(); },
                 [this] {
                     const bool first = FStartPending;
                     FStartPending = false;
                     resumed(first);
                 },
                 this),
      FAgeTimer(new QTimer(this)), FLog(std::make_unique<TRunLog>(clock, this)),
      FPublishing(std::make_unique<TRunPublishing>(clock, this)),
      FAlarms(std::make_unique<TAlarmMonitor>([this](const TAlarmEvent& event) { alarmChanged(event); }))
{
    FSensor->setClock(&clock);
    // Precise timers: a coarse timer may fire up to 5 % early or late, which shows in the log's timestamps.
    for (int i = 0; i < PurposeCount; ++i) {
        auto* timer = new QTimer(this);
        timer->setObjectName(QString::fromLatin1(TimerNames[i]));
        timer->setTimerType(Qt::PreciseTimer);
        timer->setInterval(DefaultIntervalsMs[i]);
        const auto purpose = static_cast<Purpose>(i);
        connect(timer, &QTimer::timeout, this, [this, purpose] { tick(purpose); });
        FTimers[static_cast<size_t>(i)] = timer;
    }
    FAgeTimer->setSingleShot(true);
    FAgeTimer->setTimerType(Qt::PreciseTimer);
    connect(FAgeTimer, &QTimer::timeout, this, &TRun::readingsAged);
    FStartTime = FClock.wallNow();
}

TRun::~TRun()
{
    for (QTimer* t : FTimers)
        t->stop();
    FReconnect.clear();
    FPublishing.reset(); // finishes in the background
    try {
        FLog->close();
    } catch (const EInOutError&) {
    }
    FLog.reset();
    FSensor.reset(); // closes the port and ends its event thread
}

void TRun::setConcentrationMode(bool on)
{
    if (on == FConcentrationMode)
        return;
    FConcentrationMode = on;
    FAlarms->setMode(on);
    emit modeChanged(on);
}

void TRun::configurePort(const std::string& port)
{
    FSensor->ConfigurePort(port);
}

const std::string& TRun::port() const
{
    return FSensor->Port();
}

std::chrono::nanoseconds TRun::lastReadingTime() const
{
    return FSensor->lastReadingTime();
}

void TRun::closePort()
{
    FSensor->Close();
}

bool TRun::openPort()
{
    FReconnect.clear();
    FStartPending = false;
    try {
        FSensor->Open();
        return true;
    } catch (const EComPort&) {
        FStartPending = true;
        FReconnect.lost();
        return false;
    }
}

void TRun::setAcquisitionPurposes(std::initializer_list<Purpose> purposes)
{
    FAcquisitionPurposes = 0;
    for (Purpose p : purposes)
        FAcquisitionPurposes |= bit(p);
}

void TRun::restartTime()
{
    FStartTime = FClock.wallNow();
}

double TRun::elapsedSeconds() const
{
    return static_cast<double>(FStartTime.msecsTo(FClock.wallNow())) / 1000.0;
}

void TRun::startAcquisition()
{
    FAcquiring = true;
    for (int i = 0; i < PurposeCount; ++i)
        if (FAcquisitionPurposes & bit(static_cast<Purpose>(i)))
            FTimers[static_cast<size_t>(i)]->start();
    FPublishing->setOutage(false);
    if (FPublishing->active())
        timer(Publish)->start();
}

void TRun::stopAcquisition()
{
    FAcquiring = false;
    for (int i = 0; i < PurposeCount; ++i)
        if (FAcquisitionPurposes & bit(static_cast<Purpose>(i)))
            FTimers[static_cast<size_t>(i)]->stop();
    timer(Publish)->stop();
}

void TRun::tick(Purpose purpose)
{
    tickNow({purpose});
}

void TRun::tickNow(std::initializer_list<Purpose> purposes)
{
    PurposeMask mask = 0;
    for (Purpose p : purposes) {
        timer(p)->stop();
        mask |= bit(p);
    }
    if (mask & bit(Chart))
        FChartX = elapsedSeconds(); // the moment the tick began, not the moment the reading was in hand
    if (FRequestPending) {
        FWaiting |= mask; // served by the reading the pending request brings
        return;
    }
    serve(mask);
}

TReading TRun::takeReading()
{
    if (FConcentrationMode) {
        TConcentrationModeStructure reading;
        FSensor->GetConcentrationReading(reading);
        return reading;
    }
    TChannelsModeStructure reading;
    FSensor->GetChannelsReading(reading);
    return reading;
}

// One reading for the purposes due now and for those that come due while it is asked for.
void TRun::serve(PurposeMask purposes)
{
    if (purposes & (bit(Display) | bit(Chart) | bit(Log)))
        emit tickStarted();
    FWaiting = purposes;
    FRequestPending = true;
    TReading reading;
    bool taken = false;
    try {
        reading = takeReading();
        taken = true;
    } catch (const ESensorError&) {
    } catch (...) {
        FRequestPending = false;
        FWaiting = 0;
        ReportCurrentException();
        runCommands();
        return;
    }
    FRequestPending = false;
    const PurposeMask served = FWaiting;
    FWaiting = 0;
    if (!taken) {
        outage();
    } else {
        for (int i = 0; i < PurposeCount; ++i)
            if (served & bit(static_cast<Purpose>(i)))
                hand(static_cast<Purpose>(i), reading);
        if (FAlarms->active()) // after the log, so that the service's first file is open for the events
            FAlarms->judge(reading, FClock.now(), FClock.wallNow());
    }
    runCommands();
}

void TRun::hand(Purpose purpose, const TReading& reading)
{
    try {
        switch (purpose) {
        case Display:
            emit this->reading(purpose, reading, 0);
            watchAge();
            break;
        case Chart: emit this->reading(purpose, reading, FChartX); break;
        case Log:
            if (!FLog->isOpen())
                return; // logging was stopped while the sensor was asked
            FLog->write(reading);
            emit this->reading(purpose, reading, 0);
            break;
        case Publish:
            if (!FPublishing->active())
                return;
            FPublishing->publish(reading);
            emit this->reading(purpose, reading, 0);
            break;
        }
        timer(purpose)->start();
    } catch (...) {
        ReportCurrentException();
    }
}

// The panels' reading turns old when the sensor's record does.
void TRun::watchAge()
{
    using namespace std::chrono;
    const nanoseconds completed = FSensor->lastReadingTime();
    if (completed == nanoseconds::min())
        return;
    const nanoseconds left = completed + milliseconds(FSensor->stalenessLimit()) - FClock.now();
    FAgeTimer->start(static_cast<int>(std::clamp<long long>(ceil<milliseconds>(left).count(), 0, 24LL * 3600 * 1000)));
}

void TRun::outage()
{
    FAgeTimer->stop();
    const bool begins = !FReconnect.outage();
    FPublishing->setOutage(true);
    timer(Publish)->stop();
    if (FReconnect.isEnabled())
        timer(Log)->stop(); // no lines until the run goes on
    emit timedOut(begins);
    if (begins && FAlarms->active())
        FAlarms->outageBegan(FClock.wallNow());
    FReconnect.lost();
}

bool TRun::reconnectAttempt()
{
    struct Pending {
        bool& flag;
        ~Pending() { flag = false; }
    } pending{FRequestPending};
    FRequestPending = true;
    try {
        FSensor->reopenFollowingIdentity(); // if closed or lost; under the adapter's new name if it moved
        FSensor->markReadingsStale();       // a record from before the outage does not count as an answer
        takeReading();
        return true;
    } catch (const ESensorError&) {
    } catch (const EComPort&) {
    }
    return false;
}

void TRun::resumed(bool firstStart)
{
    FWaiting = 0;
    emit reconnected(firstStart);
    if (FLog->isOpen() && !timer(Log)->isActive())
        timer(Log)->start();
    runCommands();
}

void TRun::whenIdle(std::function<void()> command)
{
    if (!FRequestPending && FCommands.empty()) {
        command();
        return;
    }
    FCommands.push_back(std::move(command));
    if (!FRequestPending)
        runCommands();
}

void TRun::runCommands()
{
    while (!FRequestPending && !FCommands.empty()) {
        std::function<void()> command = std::move(FCommands.front());
        FCommands.pop_front();
        try {
            command();
        } catch (...) {
            ReportCurrentException();
        }
    }
}

bool TRun::startPublishing(const TPublishSettings& settings, const std::string& portName, int intervalMs)
{
    if (!FPublishing->start(settings, portName))
        return false;
    timer(Publish)->setInterval(intervalMs);
    if (FAcquiring)
        timer(Publish)->start();
    return true;
}

void TRun::stopPublishing()
{
    timer(Publish)->stop();
    FPublishing->stop();
}

void TRun::startLog(const std::string& fileName)
{
    FLog->setInterval(timer(Log)->interval());
    FLog->open(fileName, FConcentrationMode);
    timer(Log)->start();
}

void TRun::startLogInFolder(const std::string& folder)
{
    FLog->setInterval(timer(Log)->interval());
    FLog->openInFolder(folder, FConcentrationMode);
}

void TRun::stopLog()
{
    timer(Log)->stop();
    FLog->close();
}

bool TRun::logging() const
{
    return FLog->isOpen();
}

void TRun::startNewLogFile()
{
    FLog->startNewFile();
}

void TRun::setAlarmRules(std::vector<TAlarmRule> rules)
{
    FAlarms->setRules(std::move(rules), FConcentrationMode);
    FLog->setEventsWanted(FAlarms->active());
    FPublishing->setAlarms(FAlarms->rules(), FAlarms->noReadingAlarm());
}

void TRun::setNoReadingAlarm(bool on)
{
    FAlarms->setNoReadingAlarm(on);
    FPublishing->setAlarms(FAlarms->rules(), FAlarms->noReadingAlarm());
}

void TRun::acknowledgeAlarms()
{
    FAlarms->acknowledge(FClock.wallNow());
}

std::vector<std::string> TRun::alarmsOn() const
{
    return FAlarms->alarmsOn();
}

// Nothing leaves: the monitor runs inside a tick.
void TRun::alarmChanged(const TAlarmEvent& event)
{
    try {
        FLog->writeEvent(event);
        FPublishing->publishEvent(event);
        emit alarmEvent(event);
    } catch (...) {
        ReportCurrentException();
    }
}
