#include "record/EventsFile.h"

#include "record/ReadingFormat.h"

#include <cmath>

std::string EventsFileName(const std::string& logFileName)
{
    const size_t slash = logFileName.rfind('/');
    size_t dot = logFileName.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1
        || (slash == std::string::npos && dot == 0))
        dot = logFileName.size(); // no extension (a leading dot names a hidden file)
    return logFileName.substr(0, dot) + ".events" + logFileName.substr(dot);
}

void AppendEventLine(std::string& out, const TAlarmEvent& event)
{
    out += FormatLogDate(event.time.date());
    out += '\t';
    const QTime time = event.time.time();
    out += FormatLogTime(static_cast<unsigned>(time.hour()), static_cast<unsigned>(time.minute()),
                         static_cast<unsigned>(time.second()), static_cast<unsigned>(time.msec()));
    out += '\t';
    out += AlarmEventName(event.kind);
    out += '\t';
    out += event.quantity;
    out += '\t';
    if (!std::isnan(event.value))
        out += FormatAlarmNumber(event.value);
    out += '\t';
    if (!std::isnan(event.level))
        out += FormatAlarmNumber(event.level);
}

void TEventsFile::open(const std::string& fileName)
{
    FFile.Rewrite(fileName);
    try {
        FFile.Append(Header);
    } catch (const EInOutError&) {
        FFile.Remove();
        throw;
    }
}

void TEventsFile::write(const TAlarmEvent& event)
{
    if (!FFile.IsOpen())
        return;
    FLine.assign("\r\n");
    AppendEventLine(FLine, event);
    FFile.Append(FLine);
    FFile.Sync();
}

void TEventsFile::close()
{
    if (!FFile.IsOpen())
        return;
    try {
        FFile.Append("\r\n");
        FFile.Sync();
    } catch (const EInOutError&) {
        FFile.Abandon();
        throw;
    }
    FFile.Close();
}
