#include "logd/LogdOptions.h"

#include "logd/LogdPublishOptions.h"
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
#include <optional>
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

std::string DefaultSpoolFile(const std::string& stateDirectories)
{
    const std::string first = stateDirectories.substr(0, stateDirectories.find(':'));
    return first.empty() ? std::string() : first + "/publish.spool";
}

TLogdStart ParseLogdOptions(const QStringList& arguments, TLogdOptions& options, const std::string& defaultSettingsFile)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Logs the readings of a gas sensor on a serial port to tab-separated files, without a window.\n"
                       "Each start writes a new file named by its start time.\n"
                       "A new file starts at local midnight and on SIGHUP.\n"
                       "SIGTERM and SIGINT finish the line being written, close the file and exit."));
    const auto option = [](const char* name, const char* description, const char* value = nullptr) {
        return value ? QCommandLineOption(QString::fromLatin1(name), QString::fromUtf8(description),
                                          QString::fromLatin1(value))
                     : QCommandLineOption(QString::fromLatin1(name), QString::fromUtf8(description));
    };
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this text."));
    const QCommandLineOption version = option("version", "Show the version.");
    const QCommandLineOption settings =
        option("settings",
               "A SensorSettings.xml as the window writes it: the port and the publishing settings (default: "
               "/etc/velmora-logger/SensorSettings.xml when it exists). The options below override it.",
               "FILE");
    const QCommandLineOption port = option("port", "Serial port (default: the port of the settings file).", "NAME");
    const QCommandLineOption mode =
        option("mode", "Measurement mode: channels or concentration (default channels).", "MODE");
    const QCommandLineOption interval =
        option("interval", "Log interval in whole seconds, at least 1 (default 1).", "SECONDS");
    const QCommandLineOption output = option("output", "Folder of the log files (default: the current folder).", "DIR");
    const QCommandLineOption publish =
        option("publish",
               "Publish the readings to an MQTT broker: mqtt://[user@]host[:port]/prefix, or mqtts:// for TLS. It "
               "replaces the broker of the settings file. The password comes from --publish-password-file, the "
               "systemd credential mqtt-password, or VELMORA_MQTT_PASSWORD.",
               "ADDRESS");
    const QCommandLineOption passwordFile =
        option("publish-password-file", "File holding the broker password (one trailing newline is ignored).", "FILE");
    const QCommandLineOption ca =
        option("publish-ca", "CA certificate of the broker (TLS only; default: the system's).", "FILE");
    const QCommandLineOption publishInterval =
        option("publish-interval",
               "Publish interval in whole seconds, at least 1 (default: the settings file's, else the log interval).",
               "SECONDS");
    const QCommandLineOption qos = option("publish-qos", "MQTT quality of service: 0 or 1 (default 1).", "QOS");
    const QCommandLineOption clientId =
        option("publish-client-id", "MQTT client id (default: the host name and the port's name).", "ID");
    const QCommandLineOption cert =
        option("publish-cert", "Client certificate (TLS only; with --publish-key).", "FILE");
    const QCommandLineOption key = option("publish-key", "Private key of the client certificate.", "FILE");
    const QCommandLineOption discovery =
        option("publish-discovery", "Home Assistant discovery messages: on or off (default off).", "on|off");
    const QCommandLineOption alarm = option(
        "alarm",
        "An alarm, repeatable: QUANTITY>LEVEL or QUANTITY<LEVEL, then optionally ,hysteresis=X and ,delay=SECONDS. "
        "Quantities as published (concentration, temperature, sample_conc_1, ...), levels in the log's units; "
        "\"%\" divides by 100: concentration>1%,hysteresis=0.05%,delay=10. Changes go to stderr and to an events "
        "file beside each log file (run.events.txt).",
        "RULE");
    const QCommandLineOption spool =
        option("spool",
               "With publishing: the file that keeps the readings and alarm events waiting for the broker across a "
               "restart (default: publish.spool in $STATE_DIRECTORY when systemd sets it, else none).",
               "FILE");
    for (const QCommandLineOption& o : {help, version, settings, port, mode, interval, output, publish, passwordFile,
                                        ca, publishInterval, qos, clientId, cert, key, discovery, alarm, spool})
        parser.addOption(o);

    if (!parser.parse(arguments))
        return fail(EX_USAGE, parser.errorText().toStdString() + "; see --help");
    if (parser.isSet(help))
        return {false, 0, parser.helpText().toStdString()};
    if (parser.isSet(version))
        return {false, 0, "velmora-logd " VELMORA_VERSION_TEXT "\n"};
    if (!parser.positionalArguments().isEmpty())
        return fail(EX_USAGE,
                    "Unexpected argument '" + parser.positionalArguments().first().toStdString() + "'; see --help");
    const auto localValue = [&parser](const QCommandLineOption& o) {
        return parser.value(o).toLocal8Bit().toStdString();
    };
    const auto given = [&parser](const QCommandLineOption& o, bool local = false) -> std::optional<std::string> {
        if (!parser.isSet(o))
            return std::nullopt;
        return local ? parser.value(o).toLocal8Bit().toStdString() : parser.value(o).toStdString();
    };

    TLogdFileSettings file;
    options.settingsFile.clear();
    options.settingsWarning.clear();
    if (parser.isSet(settings))
        options.settingsFile = localValue(settings);
    else if (struct stat st{}; ::stat(defaultSettingsFile.c_str(), &st) == 0 || (errno != ENOENT && errno != ENOTDIR))
        options.settingsFile = defaultSettingsFile;
    if (!options.settingsFile.empty()) {
        std::string why;
        if (const int code = ReadLogdSettingsFile(options.settingsFile, file, why); code != 0)
            return fail(code, why);
        options.settingsWarning = file.warning;
    } else if (parser.isSet(settings)) {
        return fail(EX_USAGE, "The settings file name is empty");
    }

    if (parser.isSet(mode)) {
        const QString value = parser.value(mode);
        if (value != QStringLiteral("channels") && value != QStringLiteral("concentration"))
            return fail(EX_USAGE, "Unknown mode '" + value.toStdString() + "': channels or concentration");
        options.concentration = value == QStringLiteral("concentration");
    }
    const char* modeName = options.concentration ? "concentration" : "channels";
    options.alarms.clear();
    for (const QString& text : parser.values(alarm)) {
        TAlarmRule rule;
        if (std::string why = ParseAlarmRule(text.toStdString(), rule); !why.empty())
            return fail(EX_USAGE, why);
        if (!MeasuresQuantity(options.concentration, rule.quantity))
            return fail(EX_USAGE, "The alarm '" + text.toStdString() + "': " + modeName + " mode does not measure "
                                      + rule.quantity);
        if (rule.latching)
            return fail(EX_USAGE, "The alarm '" + text.toStdString() + "': the service does not latch");
        options.alarms.push_back(rule);
    }
    // The rules of the settings file count only when the command line gives none.
    if (!parser.isSet(alarm)) {
        options.noReadingAlarm = file.noReadingAlarm;
        for (const TAlarmRule& rule : file.alarms) {
            const std::string named =
                "The settings file \"" + options.settingsFile + "\": the alarm '" + AlarmRuleText(rule) + "'";
            if (!MeasuresQuantity(options.concentration, rule.quantity))
                return fail(EX_CONFIG, named + ": " + modeName + " mode does not measure " + rule.quantity);
            if (rule.latching)
                return fail(EX_CONFIG, named + ": the service does not latch");
            options.alarms.push_back(rule);
        }
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
        options.outputDir = localValue(output);
    if (const std::string why = unusableFolder(options.outputDir); !why.empty())
        return fail(EX_CANTCREAT, "The output folder \"" + options.outputDir + "\" cannot take log files: " + why);
    const TPublishCommandLine publishing{
        given(publish),  given(passwordFile, true), given(ca, true),  given(publishInterval), given(qos),
        given(clientId), given(cert, true),         given(key, true), given(discovery)};
    // The password: the file given, else the service manager's credential, else the environment. A file
    // that cannot be used ends the start here, with its own exit code.
    std::string warning;
    TPasswordFile read;
    const char* password = std::getenv(PasswordVariable);
    const std::string passwordFileName =
        publishing.passwordFile.value_or(CredentialPasswordFile(std::getenv("CREDENTIALS_DIRECTORY")));
    if (!passwordFileName.empty()) {
        const std::string source =
            publishing.passwordFile ? "--publish-password-file" : "The credential " + std::string(PasswordCredential);
        read = ReadPasswordFile(passwordFileName);
        if (!read.error.empty())
            return fail(EX_CONFIG, source + ": " + read.error);
        if (!read.warning.empty())
            warning = "<4>" + source + ": " + read.warning;
        password = read.password.c_str();
    }
    std::string why;
    const int code = MergePublishOptions(file, options.settingsFile, publishing, password, options.publishing,
                                         options.publishIntervalMs, why);
    std::fill(read.password.begin(), read.password.end(), '\0');
    if (code != 0)
        return fail(code, why);
    if (options.publishing.Enabled) {
        options.spoolFile = localValue(spool);
        if (options.spoolFile.empty() && !parser.isSet(spool))
            options.spoolFile = DefaultSpoolFile(qgetenv("STATE_DIRECTORY").toStdString());
    } else if (parser.isSet(spool)) {
        return fail(EX_USAGE, "--spool needs publishing (--publish, or a settings file that publishes)");
    }

    options.port = parser.isSet(port) ? localValue(port) : file.port;
    if (options.port.empty()) {
        if (parser.isSet(port))
            return fail(EX_USAGE, "The port name is empty");
        if (!options.settingsFile.empty())
            return fail(EX_USAGE, "No port given, and the settings file \"" + options.settingsFile
                                      + "\" names none: give one with --port NAME");
        return fail(EX_USAGE, "No port given: give one with --port NAME, or a settings file that names one with "
                              "--settings FILE (or as "
                                  + defaultSettingsFile + ")");
    }
    options.port = NormalisePortName(options.port);
    if (existsButIsNoTerminal(PortDevicePath(options.port)))
        return fail(EX_NOINPUT, "The port \"" + PortDevicePath(options.port) + "\" is not a serial port");
    return {true, 0, warning};
}
