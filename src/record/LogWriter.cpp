#include "record/LogWriter.h"

#include "record/ReadingFormat.h"
#include "record/RunClock.h"

#include <variant>

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
    FConcentrationMode = concentrationMode;
    FLineBroken = false;
    try {
        FFile.Write(LogHeader(concentrationMode));
        FFile.Flush();
        FFile.WriteLineEnd();
    } catch (...) {
        FFile.Abandon();
        throw;
    }
}

// Each field and each TAB goes to the system at once; the line end waits in the buffer.
void TLogWriter::writeField(const std::string& text, bool last)
{
    FFile.Write(text);
    FFile.Flush();
    if (!last) {
        FFile.Write("\t");
        FFile.Flush();
    }
}

void TLogWriter::writeLine(const TReading& reading)
{
    if (FLineBroken)
        FFile.WriteLineEnd();
    FLineBroken = true;
    writeField(FormatLogDate(FClock.wallNow().date()), false);
    const QTime time = FClock.wallNow().time();
    writeField(FormatLogTime(static_cast<unsigned>(time.hour()), static_cast<unsigned>(time.minute()),
                             static_cast<unsigned>(time.second()), static_cast<unsigned>(time.msec())),
               false);
    std::visit(
        [this](const auto& mode) {
            const auto values = LogValues(mode);
            for (size_t i = 0; i < values.size(); ++i)
                writeField(values[i], i + 1 == values.size());
        },
        reading);
    FFile.WriteLineEnd();
    FLineBroken = false;
}

void TLogWriter::close()
{
    FFile.Close();
}
