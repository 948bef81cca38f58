#pragma once
#include "publish/PublishSettings.h"
#include "record/AlarmRule.h"

#include <QStringList>
#include <cstdint>
#include <string>
#include <vector>

// What velmora-logd is told on its command line.
struct TLogdOptions {
    std::string port;               // as given; empty: the port of the settings file
    bool concentration = false;     // --mode concentration
    int32_t intervalMs = 1000;      // --interval SECONDS
    std::string outputDir = ".";    // --output DIR
    TPublishSettings publishing;    // --publish ADDRESS, --publish-password-file FILE, --publish-ca FILE
    std::vector<TAlarmRule> alarms; // --alarm RULE, repeatable
};

// The outcome of reading the command line: go on, or end at once with `exitCode` after printing `text`
// (to stdout for --help and --version, exit code 0; to stderr otherwise). Going on, `text` is a warning
// for stderr, or empty. Exit codes follow sysexits.h:
// EX_USAGE for an unknown option or a bad mode, EX_DATAERR for an interval the window would not accept,
// EX_CANTCREAT for an output folder that does not exist or cannot be written, EX_NOINPUT for a port that
// exists but is not a terminal, EX_USAGE for publishing options that cannot be used, EX_CONFIG for a password file
// or credential that cannot be used (not a regular file, too large, empty or unreadable), EX_USAGE for an alarm rule
// that cannot be read, names a quantity the mode does not measure, or latches. A port that does not
// exist yet is accepted: it is waited for.
struct TLogdStart {
    bool run = false;
    int exitCode = 0;
    std::string text;
};

TLogdStart ParseLogdOptions(const QStringList& arguments, TLogdOptions& options);

// A port given as a path without its leading slash, as systemd gives a path instance ("dev/serial/by-id/x"),
// is the path from the root; other names are as the window takes them ("ttyUSB0" is /dev/ttyUSB0).
std::string NormalisePortName(const std::string& port);
