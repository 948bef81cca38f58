#pragma once
#include "logd/LogdSettingsFile.h"
#include "publish/PublishSettings.h"
#include "record/AlarmRule.h"

#include <QStringList>
#include <cstdint>
#include <string>
#include <vector>

// What velmora-logd is told on its command line.
struct TLogdOptions {
    std::string port;               // --port, else the settings file's
    bool concentration = false;     // --mode concentration
    int32_t intervalMs = 1000;      // --interval SECONDS
    std::string outputDir = ".";    // --output DIR
    TPublishSettings publishing;    // the settings file's, overridden by --publish and --publish-...
    int32_t publishIntervalMs = 0;  // the publish interval; 0: the log interval
    std::vector<TAlarmRule> alarms; // --alarm RULE, repeatable; else the settings file's
    bool noReadingAlarm = true;     // the settings file's "No reading" switch, with its rules
    std::string settingsFile;       // the settings file read, or empty
    std::string settingsWarning;    // what the service says of the settings file at its start, or empty
    std::string spoolFile;          // --spool FILE; by default publish.spool in systemd's state folder
};

// The outcome of reading the command line and the settings file: go on, or end at once with `exitCode`
// after printing `text` (to stdout for --help and --version, exit code 0; to stderr otherwise); going on,
// `text` is a warning for stderr, or empty. Exit codes follow sysexits.h:
//   EX_USAGE      an unknown option or a bad mode; no port given and none in the settings file; publishing
//                 options that cannot be used; an alarm rule that cannot be read, names a quantity the mode
//                 does not measure, or latches
//   EX_DATAERR    an interval the window would not accept; a settings file that is not one or does not read
//   EX_NOINPUT    a port that exists but is not a terminal; a settings file missing or unreadable
//   EX_CANTCREAT  an output folder that does not exist or cannot be written
//   EX_CONFIG     a settings file whose publishing or alarm rules cannot be used; a password file or
//                 credential that cannot be used (not a regular file, empty, too large, unreadable)
// A port that does not exist yet is accepted: it is waited for.
struct TLogdStart {
    bool run = false;
    int exitCode = 0;
    std::string text;
};

// `defaultSettingsFile` is read when --settings is not given, if it exists.
TLogdStart ParseLogdOptions(const QStringList& arguments, TLogdOptions& options,
                            const std::string& defaultSettingsFile = SystemSettingsFile);

// "publish.spool" in the first folder of $STATE_DIRECTORY (a colon-separated list); empty without one.
std::string DefaultSpoolFile(const std::string& stateDirectories);

// A port given as a path without its leading slash, as systemd gives a path instance ("dev/serial/by-id/x"),
// is the path from the root; other names are as the window takes them ("ttyUSB0" is /dev/ttyUSB0).
std::string NormalisePortName(const std::string& port);
