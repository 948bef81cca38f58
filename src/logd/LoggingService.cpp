#include "logd/LoggingService.h"

#include "record/RegionalSettings.h"
#include "record/RunClock.h"
#include "record/RunTexts.h"
#include "sensor/SensorObjects.h"
#include "serial/ComPlatform.h"

#include <QDir>
#include <QTimer>
#include <cerrno>

TLoggingService::TLoggingService(const TLogdOptions& options, const RunClock& clock, TSay say, QObject* parent)
    : QObject(parent), FOptions(options), FClock(clock), FSay(std::move(say)), FAcquisition(clock, this), FLog(clock),
      FLogTimer(new QTimer(this)), FWatchdogTimer(new QTimer(this))
{
    ApplyRegionalSettings(); // the log's dates and numbers whatever the environment says
    FLogTimer->setObjectName(QStringLiteral("LogTimer"));
    FLogTimer->setTimerType(Qt::PreciseTimer);
    FLogTimer->setInterval(options.intervalMs);
    ConnectHandler(FLogTimer, &QTimer::timeout, this, &TLoggingService::logTick);
    connect(&FAcquisition, &TAcquisition::timedOut, this, &TLoggingService::timedOut);
    connect(&FAcquisition, &TAcquisition::reconnected, this, &TLoggingService::reconnected);
    if (const auto period = FNotifier.watchdogPeriod(); period.count() > 0) {
        FWatchdogTimer->setInterval(static_cast<int>(std::max<long long>(1, period.count() / 2000)));
        ConnectHandler(FWatchdogTimer, &QTimer::timeout, this, &TLoggingService::watchdogTick);
        FWatchdogTimer->start();
    }
    FAcquisition.setConcentrationMode(options.concentration);
    FAcquisition.reconnect().setEnabled(true);
}

TLoggingService::~TLoggingService()
{
    finish();
}

// The port in use: a returning adapter may have been followed to a new name.
std::string TLoggingService::device() const
{
    const std::string& port = FAcquisition.sensor().Port();
    return PortDevicePath(port.empty() ? FOptions.port : port);
}

void TLoggingService::start()
{
    FAcquisition.sensor().ConfigurePort(FOptions.port);
    FSay("Logging " + std::string(FOptions.concentration ? "concentration" : "channels") + " readings from " + device()
         + " every " + std::to_string(FOptions.intervalMs / 1000) + " s into \"" + FOptions.outputDir + "\"");
    if (FAcquisition.openPort()) {
        FLogTimer->start();
        QTimer::singleShot(0, this, [this] { logTick(); }); // the first line at once
        return;
    }
    FSay(std::string(PortUnavailableText) + " (" + device() + "): waiting for it");
    FNotifier.status("waiting for " + device());
}

void TLoggingService::finish()
{
    FLogTimer->stop();
    FWatchdogTimer->stop();
    FAcquisition.reconnect().clear();
    closeFile();
}

void TLoggingService::closeFile()
{
    if (!FLog.isOpen())
        return;
    try {
        FLog.close();
    } catch (const EInOutError& error) {
        FSay(error.what());
    }
}

void TLoggingService::startNewFile()
{
    if (!FLog.isOpen())
        return; // the first reading starts one
    try {
        openNewFile(FClock.wallNow());
    } catch (const EInOutError& error) {
        FSay(error.what());
    }
}

void TLoggingService::logTick()
{
    FAcquisition.runTick(FLogTimer, [this](const TReading& reading) {
        writeReading(reading);
        return true;
    });
}

// A file that cannot be written is said once; the lines after it are tried all the same, so logging goes
// on when the disk has room again.
void TLoggingService::writeReading(const TReading& reading)
{
    const QDateTime now = FClock.wallNow();
    try {
        if (!FLog.isOpen() || now.date() != FFileDate)
            openNewFile(now);
        FLog.writeLine(reading);
        if (FWriteFailing)
            FSay("Writing to \"" + FLog.fileName() + "\" again");
        FWriteFailing = false;
    } catch (const EInOutError& error) {
        if (!FWriteFailing)
            FSay(error.what());
        FWriteFailing = true;
    }
    FLastReading = now.time();
    tellStatus();
}

// velmora-<start time>.txt; a name taken already gets a number, so no file is ever replaced.
void TLoggingService::openNewFile(const QDateTime& now)
{
    closeFile();
    FFileDate = now.date();
    const QString base = QStringLiteral("velmora-") + now.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    const QDir folder(QString::fromLocal8Bit(FOptions.outputDir));
    for (int n = 1;; ++n) {
        const QString name = n == 1 ? base + QStringLiteral(".txt") : base + QStringLiteral("-%1.txt").arg(n);
        try {
            FLog.openNew(folder.filePath(name).toLocal8Bit().toStdString(), FOptions.concentration);
            break;
        } catch (const EInOutError& error) {
            if (error.ErrorCode != EEXIST || n >= 100)
                throw;
        }
    }
    FSay("Logging to \"" + FLog.fileName() + "\"");
}

void TLoggingService::tellStatus()
{
    const std::string status = "logging to " + FLog.fileName() + "; last reading "
                               + FLastReading.toString(QStringLiteral("hh:mm:ss")).toStdString();
    FNotifier.ready(status); // once: the port is open and the first reading arrived
    FNotifier.status(status);
}

// Pings while readings arrive (the sensor's lines, whatever the log interval), and while an outage is being
// tried: a program that hangs, stops hearing the sensor without noticing, or whose tries were ended by an
// unexpected failure, is restarted.
void TLoggingService::watchdogTick()
{
    const auto last = FAcquisition.sensor().lastReadingTime(); // min() before the first: no difference taken
    const bool hearing = last != std::chrono::nanoseconds::min() && FClock.now() - last < FNotifier.watchdogPeriod();
    if (hearing || FAcquisition.reconnect().retrying())
        FNotifier.watchdog();
}

void TLoggingService::timedOut(bool beginsOutage)
{
    if (!beginsOutage)
        return;
    FSay(std::string(TimeoutText) + " (" + device() + "): trying again every "
         + std::to_string(TReconnectController::RetryIntervalMs / 1000) + " s");
    FNotifier.status("waiting for " + device());
}

// The same file goes on; the outage shows as a gap in its timestamps.
void TLoggingService::reconnected(bool firstStart)
{
    const QTime now = FClock.wallNow().time();
    FSay((firstStart ? ConnectedText(now) : ReconnectedText(now)).toStdString());
    if (device() != PortDevicePath(FOptions.port))
        FSay("The adapter is now " + device());
    FLogTimer->start();
    if (firstStart)
        QTimer::singleShot(0, this, [this] { logTick(); });
}
