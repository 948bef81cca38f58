#include "logd/LogdOptions.h"

#include "publish/PasswordFile.h"
#include "publish/ServiceOptions.h"
#include "record/Conversions.h"
#include "record/ValidateLib.h"
#include "serial/ComPlatform.h"

#include <QCommandLineParser>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sysexits.h>
#include <unistd.h>

namespace {

TLogdStart fail(int exitCode, const std::string& text)
{
    return {false, exitCode, text};
}

// Empty when the folder can take new files, else why not.
std::string unusableFolder(const std::string& folder)
{
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0)
        return std::strerror(errno);
    if (!S_ISDIR(st.st_mode))
        return "not a folder";
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return std::strerror(errno);
    return {};
}

// A device that exists and is not a terminal; a missing one is waited for.
bool existsButIsNoTerminal(const std::string& device)
{
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0)
        return false;
    if (!S_ISCHR(st.st_mode))
        return true;
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false; // busy or not permitted: the port's own open says why
    const bool terminal = ::isatty(fd) == 1;
    ::close(fd);
    return !terminal;
}

} // namespace

std::string NormalisePortName(const std::string& port)
{
    if (port.rfind("dev/", 0) == 0)
        return "/" + port;
    return port;
}

TLogdStart ParseLogdOptions(const QStringList& arguments, TLogdOptions& options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Logs the readings of a gas sensor on a serial port to tab-separated files, without a window.\n"
                       "Each start writes a new file named by its start time; a new file starts at local midnight and\n"
                       "on SIGHUP. SIGTERM and SIGINT finish the line being written, close the file and exit."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this text."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the version."));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Serial port (default: the port in the settings file)."),
                                  QStringLiteral("NAME"));
    const QCommandLineOption mode(QStringLiteral("mode"),
                                  QStringLiteral("Measurement mode: channels or concentration (default channels)."),
                                  QStringLiteral("MODE"));
    const QCommandLineOption interval(QStringLiteral("interval"),
                                      QStringLiteral("Log interval in whole seconds, at least 1 (default 1)."),
                                      QStringLiteral("SECONDS"));
    const QCommandLineOption output(QStringLiteral("output"),
                                    QStringLiteral("Folder of the log files (default: the current folder)."),
                                    QStringLiteral("DIR"));
    const QCommandLineOption publish(
        QStringLiteral("publish"),
        QStringLiteral("Publish the readings to an MQTT broker: mqtt://[user@]host[:port]/prefix, or mqtts:// for "
                       "TLS. The password comes from --publish-password-file, the systemd credential mqtt-password, "
                       "or VELMORA_MQTT_PASSWORD."),
        QStringLiteral("ADDRESS"));
    const QCommandLineOption passwordFile(
        QStringLiteral("publish-password-file"),
        QStringLiteral("File holding the broker password (one trailing newline is ignored)."), QStringLiteral("FILE"));
    const QCommandLineOption ca(QStringLiteral("publish-ca"),
                                QStringLiteral("CA certificate of the broker (mqtts://; default: the system's)."),
                                QStringLiteral("FILE"));
    const QCommandLineOption alarm(
        QStringLiteral("alarm"),
        QStringLiteral("An alarm, repeatable: QUANTITY>LEVEL or QUANTITY<LEVEL, then optionally ,hysteresis=X and "
                       ",delay=SECONDS. Quantities as published (concentration, temperature, sample_conc_1, ...), "
                       "levels in the log's units; \"%\" divides by 100: concentration>1%,hysteresis=0.05%,delay=10. "
                       "Changes go to stderr and to an events file beside each log file (run.events.txt)."),
        QStringLiteral("RULE"));
    for (const QCommandLineOption& option :
         {help, version, port, mode, interval, output, publish, passwordFile, ca, alarm})
        parser.addOption(option);

    if (!parser.parse(arguments))
        return fail(EX_USAGE, parser.errorText().toStdString() + "; see --help");
    if (parser.isSet(help))
        return {false, 0, parser.helpText().toStdString()};
    if (parser.isSet(version))
        return {false, 0, "velmora-logd " VELMORA_VERSION_TEXT "\n"};
    if (!parser.positionalArguments().isEmpty())
        return fail(EX_USAGE,
                    "Unexpected argument '" + parser.positionalArguments().first().toStdString() + "'; see --help");

    if (parser.isSet(mode)) {
        const QString value = parser.value(mode);
        if (value != QStringLiteral("channels") && value != QStringLiteral("concentration"))
            return fail(EX_USAGE, "Unknown mode '" + value.toStdString() + "': channels or concentration");
        options.concentration = value == QStringLiteral("concentration");
    }
    options.alarms.clear();
    for (const QString& text : parser.values(alarm)) {
        TAlarmRule rule;
        if (std::string why = ParseAlarmRule(text.toStdString(), rule); !why.empty())
            return fail(EX_USAGE, why);
        const char* modeName = options.concentration ? "concentration" : "channels";
        if (!MeasuresQuantity(options.concentration, rule.quantity))
            return fail(EX_USAGE, "The alarm '" + text.toStdString() + "': " + modeName + " mode does not measure "
                                      + rule.quantity);
        if (rule.latching)
            return fail(EX_USAGE, "The alarm '" + text.toStdString() + "': the service does not latch");
        options.alarms.push_back(rule);
    }
    if (parser.isSet(interval)) {
        const std::string text = parser.value(interval).toStdString();
        int32_t ms = -1;
        try {
            ms = IntervalMilliseconds(text);
        } catch (const std::exception&) {
        }
        if (ms < 0)
            return fail(EX_DATAERR, "The interval '" + text + "' is not a whole number of seconds from 1 to 2147483");
        options.intervalMs = ms;
    }
    if (parser.isSet(output))
        options.outputDir = parser.value(output).toLocal8Bit().toStdString();
    if (const std::string why = unusableFolder(options.outputDir); !why.empty())
        return fail(EX_CANTCREAT, "The output folder \"" + options.outputDir + "\" cannot take log files: " + why);
    std::string warning;
    if (parser.isSet(publish)) {
        const TServicePublishOptions given{parser.value(publish).toStdString(),
                                           parser.value(ca).toLocal8Bit().toStdString()};
        // The password: the file given, else the service manager's credential, else the environment.
        std::string file = parser.value(passwordFile).toLocal8Bit().toStdString();
        const char* source = "--publish-password-file";
        if (file.empty()) {
            file = CredentialPasswordFile(std::getenv("CREDENTIALS_DIRECTORY"));
            source = "The credential mqtt-password";
        }
        TPasswordFile read;
        if (!file.empty()) {
            read = ReadPasswordFile(file);
            if (!read.error.empty())
                return fail(EX_CONFIG, std::string(source) + ": " + read.error);
            if (!read.warning.empty())
                warning = "<4>" + std::string(source) + ": " + read.warning;
        }
        const char* password = !file.empty() ? read.password.c_str() : std::getenv(PasswordVariable);
        std::string error;
        const bool usable = PublishSettingsFromOptions(given, password, options.publishing, error);
        std::fill(read.password.begin(), read.password.end(), '\0');
        if (!usable)
            return fail(EX_USAGE, error);
    } else if (parser.isSet(passwordFile) || parser.isSet(ca)) {
        return fail(EX_USAGE, "--publish-password-file and --publish-ca need --publish");
    }
    if (parser.isSet(port)) {
        options.port = NormalisePortName(parser.value(port).toLocal8Bit().toStdString());
        if (options.port.empty())
            return fail(EX_USAGE, "The port name is empty");
        if (existsButIsNoTerminal(PortDevicePath(options.port)))
            return fail(EX_NOINPUT, "The port \"" + PortDevicePath(options.port) + "\" is not a serial port");
    }
    return {true, 0, warning};
}
