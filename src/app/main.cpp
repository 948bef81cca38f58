// Program entry: the command line, then the application object, the window and the message loop. What
// needs no display (--help, --version, --export-csv) runs without a GUI application object.
#include "app/Main.h"
#include "app/Application.h"
#include "app/ReviewWindow.h"
#include "publish/Publisher.h"
#include "record/LogCsv.h"
#include "record/LogRun.h"
#include "record/RegionalSettings.h"
#include "serial/EComPort.h"

#include <QCommandLineParser>
#include <QDir>
#include <QTimeZone>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

constexpr int ExitUsage = 1;      // as QCommandLineParser's own for an unknown option
constexpr int ExitDataError = 65; // a log file could not be read, or only in part
constexpr int ExitCannotCreate = 73;

struct TOptions {
    QCommandLineOption review{QStringLiteral("review"),
                              QStringLiteral("Show the log file or folder <file> in a review window only, with the "
                                             "files and folders that follow as one run: no acquisition, no serial "
                                             "port opened, no settings written."),
                              QStringLiteral("file")};
    QCommandLineOption exportCsv{QStringLiteral("export-csv"),
                                 QStringLiteral("Without a display: write the log files and folders that follow, as "
                                                "one run sorted by time, to <out.csv> and exit (65 when a file could "
                                                "not be read whole)."),
                                 QStringLiteral("out.csv")};
    QCommandLineOption zone{QStringLiteral("tz"),
                            QStringLiteral("Place the log times in the time zone <zone> (an IANA id such as "
                                           "Europe/London) instead of the machine's, for --review and --export-csv."),
                            QStringLiteral("zone")};
};

void setUp(QCommandLineParser& parser, const TOptions& options)
{
    QCoreApplication::setApplicationName(QStringLiteral("Velmora Data Logger"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
    parser.setApplicationDescription(QStringLiteral("Shows, plots and logs the readings of a gas sensor on a serial "
                                                    "port; with --review, shows log files written earlier; with "
                                                    "--export-csv, writes them as CSV."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({options.review, options.exportCsv, options.zone});
    parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("More log files and folders."),
                                 QStringLiteral("[FILE|FOLDER...]"));
}

// Whether the command line asks for something that needs no display (decided before any application
// object exists, so that no display is opened for it).
bool headless(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--") == 0)
            return false;
        for (const char* option : {"-h", "-?", "--help", "--help-all", "-v", "--version", "--export-csv"})
            if (std::strcmp(a, option) == 0)
                return true;
        if (std::strncmp(a, "--export-csv=", 13) == 0)
            return true;
    }
    return false;
}

void complain(const QString& text)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationFilePath().section(QLatin1Char('/'), -1)),
                 qPrintable(text));
}

// The zone of --tz, or the machine's; false after saying what is wrong.
bool zoneOf(const QCommandLineParser& parser, const TOptions& options, QTimeZone& zone)
{
    zone = QTimeZone::systemTimeZone();
    if (!parser.isSet(options.zone))
        return true;
    zone = QTimeZone(parser.value(options.zone).toUtf8());
    if (zone.isValid())
        return true;
    complain(
        QStringLiteral("unknown time zone '%1' (an IANA id such as Europe/London)").arg(parser.value(options.zone)));
    return false;
}

int exportCsv(const QCommandLineParser& parser, const TOptions& options)
{
    QTimeZone zone;
    if (!zoneOf(parser, options, zone))
        return ExitUsage;
    const QStringList paths = parser.positionalArguments();
    if (paths.isEmpty()) {
        complain(QStringLiteral("--export-csv OUT.csv needs log files or folders to export"));
        return ExitUsage;
    }
    const TLogRun run = ReadLogRun(paths, {}, zone);
    bool whole = true;
    for (const TLogSource& file : run.files) {
        for (const TLogProblem& p : file.problems) {
            const bool kept =
                p.kind == TLogProblem::TimeBack || p.kind == TLogProblem::NoLineEnd || p.kind == TLogProblem::NoHeader;
            whole = whole && kept;
            complain(QDir::toNativeSeparators(file.fileName) + QStringLiteral(": ") + p.text());
        }
    }
    QString error;
    const QString out = parser.value(options.exportCsv);
    if (!WriteLogCsv(out, run.data, 0, run.data.count(), &error)) {
        complain(QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(out), error));
        return ExitCannotCreate;
    }
    return whole ? 0 : ExitDataError;
}

bool noStrayArguments(const QCommandLineParser& parser, const TOptions& options)
{
    if (parser.positionalArguments().isEmpty() || parser.isSet(options.review))
        return true;
    complain(QStringLiteral("unexpected argument '%1'; to review log files: --review FILE [FILE|FOLDER...]")
                 .arg(parser.positionalArguments().constFirst()));
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    const TOptions options;
    if (headless(argc, argv)) {
        QCoreApplication application(argc, argv);
        QCommandLineParser parser;
        setUp(parser, options);
        parser.process(application); // --help, --version: printed, exit 0; an unknown option: exit 1
        if (!parser.isSet(options.exportCsv))
            return noStrayArguments(parser, options) ? 0 : ExitUsage;
        return exportCsv(parser, options);
    }

    TApplication application(argc, argv);
    QCommandLineParser parser;
    setUp(parser, options);
    parser.process(application); // an unknown option: a message naming it on stderr, exit code 1
    if (!noStrayArguments(parser, options))
        return ExitUsage;
    InstallDefaultErrorReport();

    if (parser.isSet(options.review)) {
        QTimeZone zone;
        if (!zoneOf(parser, options, zone))
            return ExitUsage;
        ApplyRegionalSettings();
        TReviewWindow window(parser.values(options.review) + parser.positionalArguments(), zone);
        window.show();
        return application.exec();
    }

    // Message catalogues: a build tree's next to the executable, else those of the install.
    const QDir localeDir(QCoreApplication::applicationDirPath() + QStringLiteral("/locale"));
    const QByteArray catalogues =
        localeDir.exists() ? localeDir.absolutePath().toLocal8Bit() : QByteArray(VELMORA_INSTALL_LOCALEDIR);
    RegisterPortErrorTexts(catalogues.constData());

    int code = 0;
    {
        TFormMain window;
        window.show();
        code = application.exec();
    }
    TPublisher::waitForRetired(std::chrono::seconds(3)); // "offline" for the broker, if it answers in time
    return code;
}
