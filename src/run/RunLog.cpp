#include "run/RunLog.h"

#include "record/LogFile.h"
#include "record/RunClock.h"

#include <QDir>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace {
constexpr qint64 DayMs = 24LL * 3600 * 1000;
}

TRunLog::TRunLog(const RunClock& clock, QObject* parent) : QObject(parent), FClock(clock), FWriter(clock)
{
    setInterval(1000);
}

TRunLog::~TRunLog()
{
    closeQuietly();
}

void TRunLog::setInterval(int milliseconds)
{
    FWriter.setWaitingBound(static_cast<size_t>(DayMs / std::max(1, milliseconds)));
}

void TRunLog::begin(const std::string& target, bool inFolder, bool concentrationMode)
{
    closeQuietly();
    FInFolder = inFolder;
    FTarget = target;
    FConcentrationMode = concentrationMode;
    FFailing = false;
    FNewFileWanted = false;
}

void TRunLog::open(const std::string& fileName, bool concentrationMode)
{
    begin(fileName, false, concentrationMode);
    FWriter.open(fileName, concentrationMode);
    FActive = true;
    openEvents();
    emit fileOpened(QString::fromLocal8Bit(fileName));
}

void TRunLog::openInFolder(const std::string& folder, bool concentrationMode)
{
    begin(folder, true, concentrationMode);
    FActive = true;
}

// At once, so that the old file can be moved away; when the new one cannot be had now, the next line tries.
void TRunLog::startNewFile()
{
    if (!FInFolder || !FWriter.isOpen())
        return;
    FNewFileWanted = true;
    ensureFile(FClock.wallNow());
}

// A file that does not exist yet: the name, or the name with a number before its extension (run-2.txt),
// so that no file is ever replaced.
void TRunLog::openUnused(const std::string& fileName)
{
    const size_t slash = fileName.rfind('/');
    size_t dot = fileName.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        dot = fileName.size();
    for (int n = 1;; ++n) {
        const std::string name =
            n == 1 ? fileName : fileName.substr(0, dot) + "-" + std::to_string(n) + fileName.substr(dot);
        try {
            FWriter.openNew(name, FConcentrationMode);
            return;
        } catch (const EInOutError& error) {
            if (error.ErrorCode != EEXIST || n >= 100)
                throw;
        }
    }
}

// velmora-<start time>.txt in the folder.
void TRunLog::openNamed(const QDateTime& now)
{
    const QString name = QStringLiteral("velmora-") + now.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"))
                         + QStringLiteral(".txt");
    openUnused(QDir(QString::fromLocal8Bit(FTarget)).filePath(name).toLocal8Bit().toStdString());
    FFileDate = now.date();
}

// The file the next line goes into: the service's of the day, or a new one after the last was deleted or
// replaced. False when it cannot be had now (said once; the line waits).
bool TRunLog::ensureFile(const QDateTime& now)
{
    const bool replacedUnder = FWriter.isOpen() && FWriter.fileReplaced();
    const bool newDay = FInFolder && FWriter.isOpen() && now.date() != FFileDate;
    if (FWriter.isOpen() && !replacedUnder && !newDay && !FNewFileWanted)
        return true;
    if (replacedUnder) {
        const std::string old = FWriter.fileName();
        FWriter.abandon();
        closeEvents(true);
        emit replaced(QStringLiteral("Log: \"%1\" was deleted or replaced; the log goes on in a new file")
                          .arg(QString::fromLocal8Bit(old)));
    } else if (FWriter.isOpen()) {
        closeQuietly();
    }
    FNewFileWanted = false;
    try {
        if (FInFolder)
            openNamed(now);
        else
            openUnused(FTarget);
    } catch (const EInOutError& error) {
        writeFailed(FTarget, error.ErrorCode);
        return false;
    }
    openEvents();
    emit fileOpened(QString::fromLocal8Bit(FWriter.fileName()));
    return true;
}

void TRunLog::write(const TReading& reading)
{
    if (!FActive)
        return;
    const QDateTime now = FClock.wallNow();
    if (!ensureFile(now)) {
        FWriter.queueLine(reading);
        emit waitingChanged(failureText(FTarget, FErrorCode));
        return;
    }
    const size_t waited = FWriter.waiting();
    try {
        FWriter.writeLine(reading);
    } catch (const EInOutError& error) {
        writeFailed(FWriter.fileName(), error.ErrorCode);
        return;
    }
    if (FFailing) {
        FFailing = false;
        emit recovered(QStringLiteral("Writing to \"%1\" again; %2 %3 caught up")
                           .arg(QString::fromLocal8Bit(FWriter.fileName()))
                           .arg(waited + 1)
                           .arg(waited == 0 ? QStringLiteral("line") : QStringLiteral("lines")));
    }
}

QString TRunLog::failureText(const std::string& target, int errorCode) const
{
    const size_t waiting = FWriter.waiting();
    return QStringLiteral("Log: cannot write \"%1\": %2; %3 %4 waiting")
        .arg(QString::fromLocal8Bit(target), QString::fromLocal8Bit(std::strerror(errorCode)))
        .arg(waiting)
        .arg(waiting == 1 ? QStringLiteral("line") : QStringLiteral("lines"));
}

void TRunLog::writeFailed(const std::string& target, int errorCode)
{
    FErrorCode = errorCode;
    const QString text = failureText(target, errorCode);
    if (FFailing) {
        emit waitingChanged(text);
        return;
    }
    FFailing = true;
    emit failed(text);
}

void TRunLog::close()
{
    if (!FActive)
        return;
    FActive = false;
    FFailing = false;
    if (!FWriter.isOpen()) {
        if (FWriter.waiting() == 0)
            return;
        // The file never opened again: try once more, so that what waited is not lost.
        try {
            if (FInFolder)
                openNamed(FClock.wallNow());
            else
                openUnused(FTarget);
        } catch (const EInOutError& error) {
            throw EInOutError(failureText(FTarget, error.ErrorCode).toStdString() + "; they are lost",
                              error.ErrorCode);
        }
    }
    closeEvents(false);
    FWriter.close();
}

void TRunLog::closeQuietly()
{
    closeEvents(true);
    if (!FWriter.isOpen())
        return;
    try {
        FWriter.close();
    } catch (const EInOutError&) {
    }
}

void TRunLog::setEventsWanted(bool wanted)
{
    FEventsWanted = wanted;
    if (!wanted)
        closeEvents(true);
    else if (FWriter.isOpen() && !FEvents.isOpen())
        openEvents();
}

const std::string& TRunLog::eventsFileName() const
{
    static const std::string none;
    return FEvents.isOpen() ? FEvents.fileName() : none;
}

// Beside the log file just opened. An events file that cannot be had is said; the log goes on without it.
void TRunLog::openEvents()
{
    if (!FEventsWanted)
        return;
    try {
        FEvents.open(EventsFileName(FWriter.fileName()));
    } catch (const EInOutError& error) {
        emit failed(QStringLiteral("Events: %1").arg(QString::fromLocal8Bit(error.what())));
        return;
    }
    writeEvent({TAlarmEvent::LogStarted, {}, NAN, NAN, TAlarmRule::High, FClock.wallNow()});
}

void TRunLog::writeEvent(const TAlarmEvent& event)
{
    if (!FEvents.isOpen())
        return;
    try {
        FEvents.write(event);
    } catch (const EInOutError& error) {
        FEvents.abandon(); // said once; the next log file tries again
        emit failed(QStringLiteral("Events: %1").arg(QString::fromLocal8Bit(error.what())));
    }
}

void TRunLog::closeEvents(bool quietly)
{
    if (!FEvents.isOpen())
        return;
    writeEvent({TAlarmEvent::LogStopped, {}, NAN, NAN, TAlarmRule::High, FClock.wallNow()});
    try {
        FEvents.close();
    } catch (const EInOutError& error) {
        if (!quietly)
            emit failed(QStringLiteral("Events: %1").arg(QString::fromLocal8Bit(error.what())));
    }
}
