#pragma once
#include "publish/PublishSettings.h"
#include "record/AlarmRule.h"

#include <string>
#include <vector>

// The settings file the service reads when it is given none: the one a package installation keeps for all
// instances. It is used only when it exists.
inline constexpr const char* SystemSettingsFile = "/etc/velmora-logger/SensorSettings.xml";

// What the service takes from a SensorSettings.xml as the window writes it.
struct TLogdFileSettings {
    std::string port;               // empty when the file names none (no port is guessed)
    bool reconnect = false;         // read for completeness: the service always reconnects
    bool hasPublishing = false;     // the file holds a Publishing element
    TPublishSettings publishing;    // the whole element, as the window's dialog left it
    std::vector<TAlarmRule> alarms; // the file's alarm rules
    bool noReadingAlarm = true;     // whether an outage raises "No reading" with them
    std::string warning;            // a stored password others can read, else empty
};

// Reads `fileName` (any name; the window's is SensorSettings.xml). 0 when read, else an exit code of
// sysexits.h with `why` naming the file: EX_NOINPUT when it is missing, not a regular file or cannot be
// opened, EX_DATAERR when it is not XML, not a settings file, or a value does not read.
int ReadLogdSettingsFile(const std::string& fileName, TLogdFileSettings& settings, std::string& why);
