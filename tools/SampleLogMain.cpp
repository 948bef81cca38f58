// velmora-sample-log FILE [options]: writes a made-up log file, to try the review window on.
#include "record/LogFile.h"
#include "record/RegionalSettings.h"
#include "tools/SampleLog.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ApplyRegionalSettings();
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes a made-up log file as the logger writes it."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The log file to write."));
    const QCommandLineOption concentration(QStringLiteral("concentration"),
                                           QStringLiteral("Concentration layout (default: Channels)."));
    const QCommandLineOption lines(QStringLiteral("lines"), QStringLiteral("Readings (default 3600)."),
                                   QStringLiteral("n"), QStringLiteral("3600"));
    const QCommandLineOption interval(QStringLiteral("interval-ms"), QStringLiteral("Spacing (default 1000)."),
                                      QStringLiteral("ms"), QStringLiteral("1000"));
    const QCommandLineOption start(QStringLiteral("start"),
                                   QStringLiteral("First reading, yyyy-mm-ddThh:mm:ss (default 2026-03-02T08:00:00)."),
                                   QStringLiteral("time"), QStringLiteral("2026-03-02T08:00:00"));
    const QCommandLineOption outageAt(QStringLiteral("outage-at"),
                                      QStringLiteral("Reading before which the sensor was away."), QStringLiteral("k"));
    const QCommandLineOption outage(QStringLiteral("outage-s"), QStringLiteral("Length of the outage (default 600)."),
                                    QStringLiteral("s"), QStringLiteral("600"));
    parser.addOptions({concentration, lines, interval, start, outageAt, outage});
    parser.process(app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);

    TSampleLog log;
    log.concentration = parser.isSet(concentration);
    log.lines = parser.value(lines).toLongLong();
    log.intervalMs = parser.value(interval).toInt();
    log.start = QDateTime::fromString(parser.value(start), Qt::ISODate);
    log.outageAt = parser.isSet(outageAt) ? parser.value(outageAt).toLongLong() : -1;
    log.outageMs = parser.value(outage).toLongLong() * 1000;
    if (log.lines < 0 || log.intervalMs <= 0 || !log.start.isValid()) {
        std::fprintf(stderr, "%s: invalid --lines, --interval-ms or --start\n", argv[0]);
        return 2;
    }
    try {
        WriteSampleLog(parser.positionalArguments().constFirst().toStdString(), log);
    } catch (const EInOutError& e) {
        std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
        return 1;
    }
    return 0;
}
