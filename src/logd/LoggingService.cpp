#include "logd/LoggingService.h"

#include "base/ErrorReport.h"
#include "record/RegionalSettings.h"
#include "record/RunClock.h"
#include "record/RunTexts.h"
#include "run/AlarmMonitor.h"
#include "run/Run.h"
#include "run/RunLog.h"
#include "run/RunPublishing.h"
#include "serial/ComPlatform.h"

#include <QTimer>
#include <algorithm>

TLoggingService::TLoggingService(const TLogdOptions& options, const RunClock& clock, TSay say, QObject* parent)
    : QObject(parent), FOptions(options), FClock(clock), FSay(std::move(say)), FRun(std::make_unique<TRun>(clock)),
      FWatchdogTimer(new QTimer(this))
{
    ApplyRegionalSettings(); // the log's dates and numbers whatever the environment says
    FRun->timer(TRun::Log)->setInterval(options.intervalMs);
    FRun->setConcentrationMode(options.concentration);
    FRun->reconnect().setEnabled(true);
    FRun->setAlarmRules(options.alarms);
    FRun->setNoReadingAlarm(options.noReadingAlarm);
    connectRun();
    if (const auto period = FNotifier.watchdogPeriod(); period.count() > 0) {
        FWatchdogTimer->setInterval(static_cast<int>(std::max<long long>(1, period.count() / 2000)));
        ConnectHandler(FWatchdogTimer, &QTimer::timeout, this, &TLoggingService::watchdogTick);
        FWatchdogTimer->start();
    }
}

TLoggingService::~TLoggingService()
{
    finish();
}

void TLoggingService::connectRun()
{
    const auto sayText = [this](const QString& text) { FSay(text.toStdString()); };
    TRunLog& log = FRun->log();
    connect(&log, &TRunLog::fileOpened, this,
            [this](const QString& name) { FSay("Logging to \"" + name.toStdString() + "\""); });
    connect(&log, &TRunLog::failed, this, sayText);
    connect(&log, &TRunLog::replaced, this, sayText);
    connect(&log, &TRunLog::recovered, this, sayText);
    connect(&FRun->publishing(), &TRunPublishing::said, this, sayText);
    connect(&FRun->publishing(), &TRunPublishing::statusChanged, this, [this] {
        if (FLastReading.isValid())
            tellStatus();
    });
    connect(FRun.get(), &TRun::alarmEvent, this, [this](const TAlarmEvent& event) {
        FSay(AlarmEventText(event));
        if (!FWaitingFor.empty())
            FNotifier.status(FWaitingFor + alarmStatus());
        else if (FLastReading.isValid())
            tellStatus();
    });
    connect(FRun.get(), &TRun::timedOut, this, &TLoggingService::timedOut);
    connect(FRun.get(), &TRun::reconnected, this, &TLoggingService::reconnected);
    connect(FRun.get(), &TRun::reading, this, [this](TRun::Purpose purpose, const TReading&, double) {
        if (purpose == TRun::Log)
            tellStatus();
    });
}

QTimer* TLoggingService::logTimer() const
{
    return FRun->timer(TRun::Log);
}

const std::string& TLoggingService::fileName() const
{
    return FRun->log().fileName();
}

// The port in use: a returning adapter may have been followed to a new name.
std::string TLoggingService::device() const
{
    const std::string& port = FRun->port();
    return PortDevicePath(port.empty() ? FOptions.port : port);
}

bool TLoggingService::start()
{
    FRun->configurePort(FOptions.port);
    if (!FOptions.settingsFile.empty())
        FSay("Settings from \"" + FOptions.settingsFile + "\"");
    if (!FOptions.settingsWarning.empty())
        FSay("<4>" + FOptions.settingsWarning); // a warning in the journal
    FSay("Logging " + std::string(FOptions.concentration ? "concentration" : "channels") + " readings from " + device()
         + " every " + std::to_string(FOptions.intervalMs / 1000) + " s into \"" + FOptions.outputDir + "\"");
    if (FOptions.publishing.Enabled) {
        // Publishing follows the service's own interval unless it has one of its own.
        const int32_t intervalMs = FOptions.publishIntervalMs > 0 ? FOptions.publishIntervalMs : FOptions.intervalMs;
        TPublishSettings publishing = FOptions.publishing;
        FRun->publishing().setSpoolFile(FOptions.spoolFile);
        // What the queue of unsent readings is sized for; a test's interval under a second counts as one.
        publishing.IntervalSeconds = std::max<int32_t>(1, intervalMs / 1000);
        if (!FRun->startPublishing(publishing, FOptions.port, intervalMs)) {
            FSay("Publishing: " + FRun->publishing().error());
            return false;
        }
    }
    FRun->startLogInFolder(FOptions.outputDir);
    // Ready from here on: the options hold and the folder takes files; the sensor is waited for, never the
    // boot.
    if (FRun->openPort()) {
        FWaitingFor = "waiting for the first reading from " + device();
        FNotifier.ready(FWaitingFor);
        FRun->startAcquisition();
        FRun->timer(TRun::Log)->start();
        // The first line, and the first reading published, at once.
        QTimer::singleShot(0, this, [this] { FRun->tickNow({TRun::Log, TRun::Publish}); });
        return true;
    }
    FSay(std::string(PortUnavailableText) + " (" + device() + "): waiting for it");
    FWaitingFor = "waiting for " + device() + ": the port is missing or in use";
    FNotifier.ready(FWaitingFor);
    return true;
}

void TLoggingService::finish()
{
    if (FFinished)
        return;
    FFinished = true;
    FNotifier.stopping();
    FWatchdogTimer->stop();
    FRun->stopAcquisition();
    FRun->reconnect().clear();
    const uint64_t unsent = FRun->publishing().active() ? FRun->publishing().waiting() : 0;
    FRun->stopPublishing();
    if (unsent > 0 && !FOptions.spoolFile.empty())
        FSay(std::to_string(unsent)
             + " readings and events were waiting for the broker; those it did not take are kept"
               " in \""
             + FOptions.spoolFile + "\" for the next start");
    else if (unsent > 0)
        FSay(std::to_string(unsent) + " readings still waiting for the broker were not published");
    try {
        FRun->stopLog();
    } catch (const std::exception& error) {
        FSay(error.what());
    }
}

void TLoggingService::startNewFile()
{
    FRun->startNewLogFile();
}

void TLoggingService::whenIdle(std::function<void()> command)
{
    FRun->whenIdle(std::move(command));
}

void TLoggingService::tellStatus()
{
    FWaitingFor.clear();
    FLastReading = FClock.wallNow().time();
    std::string status = "logging to " + FRun->log().fileName() + "; last reading "
                         + FLastReading.toString(QStringLiteral("hh:mm:ss")).toStdString();
    if (const size_t waiting = FRun->log().waiting(); waiting > 0)
        status += "; " + std::to_string(waiting) + " lines waiting for the disk";
    if (const std::string publishing = FRun->publishing().shortStatus(); !publishing.empty())
        status += "; " + publishing;
    status += alarmStatus();
    FNotifier.status(status);
}

// Pings while readings arrive (the sensor's lines, whatever the log interval), and while an outage is being
// tried: a program that hangs, stops hearing the sensor without noticing, or whose tries were ended by an
// unexpected failure, is restarted.
void TLoggingService::watchdogTick()
{
    const auto last = FRun->lastReadingTime(); // min() before the first: no difference taken
    const bool hearing = last != std::chrono::nanoseconds::min() && FClock.now() - last < FNotifier.watchdogPeriod();
    if (hearing || FRun->reconnect().retrying())
        FNotifier.watchdog();
}

void TLoggingService::timedOut(bool beginsOutage)
{
    if (!beginsOutage)
        return;
    FSay(std::string(TimeoutText) + " (" + device() + "): trying again every "
         + std::to_string(TReconnectController::RetryIntervalMs / 1000) + " s");
    FWaitingFor = "waiting for " + device() + ": the sensor does not answer";
    FNotifier.status(FWaitingFor + alarmStatus());
}

// The same file goes on; the outage shows as a gap in its timestamps.
void TLoggingService::reconnected(bool firstStart)
{
    const QTime now = FClock.wallNow().time();
    FSay((firstStart ? ConnectedText(now) : ReconnectedText(now)).toStdString());
    if (device() != PortDevicePath(FOptions.port))
        FSay("The adapter is now " + device());
    FWaitingFor.clear();
    FRun->startAcquisition();
    if (firstStart)
        QTimer::singleShot(0, this, [this] { FRun->tickNow({TRun::Log, TRun::Publish}); });
}

std::string TLoggingService::alarmStatus() const
{
    std::string text;
    for (const std::string& alarm : FRun->alarmsOn())
        text += (text.empty() ? "; alarm: " : ", ") + alarm;
    return text;
}

std::string AlarmEventText(const TAlarmEvent& event)
{
    // The journal's priorities: warning for an alarm that comes on, notice for the rest.
    std::string text = event.kind == TAlarmEvent::AlarmOn ? "<4>" : "<5>";
    text += AlarmEventName(event.kind);
    if (event.quantity.empty())
        return text;
    const char* op = event.direction == TAlarmRule::High ? " > " : " < ";
    text += ": " + event.quantity + " " + FormatAlarmNumber(event.value);
    text += event.kind == TAlarmEvent::AlarmOn ? op : std::string(", level ");
    text += FormatAlarmNumber(event.level);
    return text;
}
