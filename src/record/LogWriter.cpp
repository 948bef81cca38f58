#include "record/LogWriter.h"

#include "record/ReadingFormat.h"
#include "record/RunClock.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <variant>

TLogWriter::~TLogWriter()
{
    if (!FFile.IsOpen())
        return;
    try {
        close();
    } catch (const EInOutError&) {
    }
}

void TLogWriter::open(const std::string& fileName, bool concentrationMode)
{
    FFile.Rewrite(fileName);
    writeHeader(concentrationMode);
}

void TLogWriter::openNew(const std::string& fileName, bool concentrationMode)
{
    FFile.CreateNew(fileName);
    writeHeader(concentrationMode);
}

void TLogWriter::writeHeader(bool concentrationMode)
{
    try {
        FFile.Append(LogHeader(concentrationMode));
    } catch (const EInOutError&) {
        FFile.Remove();
        throw;
    }
    FConcentrationMode = concentrationMode;
    FDate = QDate(); // the date is formatted afresh for each file
    FLastSync = FClock.now();
    std::erase_if(FWaiting, [&](const TWaitingLine& line) {
        if (line.concentration == concentrationMode)
            return false;
        ++FDropped;
        return true;
    });
}

void TLogWriter::formatLine(const TReading& reading)
{
    FLine.clear();
    const QDate date = FClock.wallNow().date();
    if (date != FDate || !FDate.isValid()) {
        FDateText = FormatLogDate(date);
        FDate = date;
    }
    FLine += FDateText;
    FLine += '\t';
    const QTime time = FClock.wallNow().time();
    FLine += FormatLogTime(static_cast<unsigned>(time.hour()), static_cast<unsigned>(time.minute()),
                           static_cast<unsigned>(time.second()), static_cast<unsigned>(time.msec()));
    std::visit(
        [this](const auto& mode) {
            for (const std::string& value : LogValues(mode)) {
                FLine += '\t';
                FLine += value;
            }
        },
        reading);
    FLineConcentration = std::holds_alternative<TConcentrationModeStructure>(reading);
}

void TLogWriter::enqueue(const std::string& text, bool concentration)
{
    if (FWaitingBound == 0) {
        ++FDropped;
        return;
    }
    while (FWaiting.size() >= FWaitingBound) {
        FWaiting.pop_front();
        ++FDropped;
    }
    FWaiting.push_back({text, concentration});
}

void TLogWriter::setWaitingBound(size_t lines)
{
    FWaitingBound = lines;
    while (FWaiting.size() > lines) {
        FWaiting.pop_front();
        ++FDropped;
    }
}

// One batch: each waiting line, then the new line (FLine) if there is one, then the last line end if
// asked, each preceded by the line end of the line before. The waiting lines that went in leave the queue;
// a new line that did not go in joins it.
void TLogWriter::writeOut(bool withLine, bool lastLineEnd)
{
    FBatch.clear();
    FEnds.clear();
    for (const TWaitingLine& line : FWaiting) {
        FBatch += "\r\n";
        FBatch += line.text;
        FEnds.push_back(FBatch.size());
    }
    if (withLine) {
        FBatch += "\r\n";
        FBatch += FLine;
        FEnds.push_back(FBatch.size());
    }
    if (lastLineEnd) {
        FBatch += "\r\n";
        FEnds.push_back(FBatch.size());
    }
    if (FBatch.empty())
        return;
    const size_t waitingLines = FWaiting.size();
    size_t written = 0;
    std::optional<EInOutError> error;
    try {
        FFile.Append(FBatch, FEnds, written);
    } catch (const EInOutError& e) {
        error = e;
    }
    FWaiting.erase(FWaiting.begin(), FWaiting.begin() + static_cast<ptrdiff_t>(std::min(written, waitingLines)));
    if (withLine && written <= waitingLines)
        enqueue(FLine, FLineConcentration);
    if (error)
        throw *error;
}

void TLogWriter::syncIfDue()
{
    const std::chrono::nanoseconds now = FClock.now();
    if (now - FLastSync < SyncInterval)
        return;
    FLastSync = now;
    FFile.Sync();
}

void TLogWriter::writeLine(const TReading& reading)
{
    formatLine(reading);
    if (!FFile.IsOpen()) {
        enqueue(FLine, FLineConcentration);
        throw EInOutError(TLogFile::ErrorText(EBADF), EBADF);
    }
    writeOut(true, false);
    syncIfDue();
}

void TLogWriter::queueLine(const TReading& reading)
{
    formatLine(reading);
    enqueue(FLine, FLineConcentration);
}

void TLogWriter::writeWaiting()
{
    if (FWaiting.empty())
        return;
    if (!FFile.IsOpen())
        throw EInOutError(TLogFile::ErrorText(EBADF), EBADF);
    writeOut(false, false);
    syncIfDue();
}

void TLogWriter::sync()
{
    FFile.Sync();
    FLastSync = FClock.now();
}

void TLogWriter::close()
{
    if (!FFile.IsOpen())
        throw EInOutError(TLogFile::ErrorText(EBADF), EBADF);
    std::optional<EInOutError> error;
    try {
        writeOut(false, true);
    } catch (const EInOutError& e) {
        error = e;
    }
    try {
        FFile.Sync();
    } catch (const EInOutError& e) {
        if (!error)
            error = e;
    }
    try {
        FFile.Close();
    } catch (const EInOutError& e) {
        if (!error)
            error = e;
    }
    if (!error)
        return;
    std::string message = error->what();
    if (!FWaiting.empty())
        message += "; " + std::to_string(FWaiting.size())
                   + (FWaiting.size() == 1 ? " line could not be written" : " lines could not be written");
    throw EInOutError(message, error->ErrorCode);
}
