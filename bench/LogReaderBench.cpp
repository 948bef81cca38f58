// bench_log_reader [LINES]: writes a made-up Channels log of LINES readings (default 1 M, about 60 MB),
// then reads it with the log reader and, side by side, with a plain reader that takes the whole file into
// memory and splits it with Qt's string routines; then opens it in the review window (offscreen), from
// the window's construction to the first drawing of the loaded chart. Each run is a fresh child process
// (the file in the page cache), so that its peak memory is its own: the growth of the peak resident set
// over what the process held before, against the storage of what was loaded (the readers: 8 bytes per
// time and per value; the window: the chart's points, 16 bytes each). Prints table rows; the median of
// three runs each.
#include "app/ReviewWindow.h"
#include "chart/StripChart.h"
#include "record/LogReader.h"
#include "record/RegionalSettings.h"
#include "tools/SampleLog.h"

#include <QApplication>
#include <QDate>
#include <QEventLoop>
#include <QFile>
#include <QTime>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct TRun {
    double seconds = 0;
    double peakMb = 0;   // growth of the peak resident set while reading
    double storedMb = 0; // the readings' own storage
    long long readings = 0;
};

long long statusKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::atoll(line.c_str() + std::string(field).size());
    return 0;
}

// The plain way: the whole file in memory, split into lines and fields, converted with Qt's routines.
long long plainRead(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray all = file.readAll();
    const QList<QByteArray> lines = all.split('\n');
    std::vector<qint64> times;
    std::vector<std::vector<double>> values(7);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].trimmed().split('\t');
        if (fields.size() != 9)
            continue;
        const QDate date = QDate::fromString(QString::fromLatin1(fields[0]), QStringLiteral("dd/MM/yyyy"));
        const QTime time = QTime::fromString(QString::fromLatin1(fields[1]), QStringLiteral("hh:mm:ss.zzz"));
        times.push_back(QDateTime(date, time, Qt::UTC).toMSecsSinceEpoch());
        for (int c = 0; c < 7; ++c)
            values[static_cast<size_t>(c)].push_back(fields[c + 2].toDouble());
    }
    return static_cast<long long>(times.size());
}

enum EWay { Reader, Plain, Window };

// The review window from its construction to the first drawing of the loaded chart.
long long windowLoad(const QString& fileName, double& pointsMb)
{
    TReviewWindow window(fileName);
    window.resize(1000, 640);
    window.show();
    QEventLoop wait;
    QObject::connect(&window, &TReviewWindow::loaded, &wait, &QEventLoop::quit);
    wait.exec();
    window.chart()->chart()->replot();
    pointsMb = 0;
    for (int i = 0; i < window.chart()->seriesCount(); ++i)
        pointsMb += static_cast<double>(window.chart()->data(i).size()) * sizeof(QCPGraphData) / 1e6;
    return window.chart()->data(0).size();
}

// One run in a child process; the parent gets its figures through a pipe.
TRun measure(const QString& fileName, EWay way)
{
    int channel[2];
    if (pipe(channel) != 0)
        std::exit(1);
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        int argc = 1;
        char name[] = "bench_log_reader";
        char* argv[] = {name, nullptr};
        std::unique_ptr<QApplication> app(way == Window ? new QApplication(argc, argv) : nullptr);
        {
            std::ofstream reset("/proc/self/clear_refs");
            reset << "5"; // the peak resident set starts again from the current one
        }
        const long long before = statusKb("VmRSS:");
        TRun run;
        const auto start = std::chrono::steady_clock::now();
        if (way == Plain) {
            run.readings = plainRead(fileName);
            run.storedMb = static_cast<double>(run.readings) * 8 * 8 / 1e6;
        } else if (way == Reader) {
            const TLogData data = ReadLogFile(fileName);
            run.readings = static_cast<long long>(data.count());
            run.storedMb = static_cast<double>(data.bytes()) / 1e6;
        } else {
            run.readings = windowLoad(fileName, run.storedMb);
        }
        run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        run.peakMb = static_cast<double>(statusKb("VmHWM:") - before) * 1024 / 1e6;
        if (write(channel[1], &run, sizeof run) != static_cast<ssize_t>(sizeof run))
            _exit(1);
        _exit(0);
    }
    close(channel[1]);
    TRun run;
    if (read(channel[0], &run, sizeof run) != static_cast<ssize_t>(sizeof run))
        std::exit(1);
    close(channel[0]);
    waitpid(child, nullptr, 0);
    return run;
}

TRun median(const QString& fileName, EWay way)
{
    std::vector<TRun> runs;
    for (int i = 0; i < 3; ++i)
        runs.push_back(measure(fileName, way));
    std::sort(runs.begin(), runs.end(), [](const TRun& a, const TRun& b) { return a.seconds < b.seconds; });
    return runs[1];
}

} // namespace

int main(int argc, char** argv)
{
    ApplyRegionalSettings(); // no application object here: the window's runs make their own
    TSampleLog log;
    log.lines = argc > 1 ? std::atoll(argv[1]) : 1000000;
    log.start = QDateTime(QDate(2026, 3, 2), QTime(8, 0));
    log.outageAt = log.lines / 2;
    log.outageMs = 600000;
    char path[] = "/tmp/velmora-bench-log-reader-XXXXXX";
    const int fd = mkstemp(path);
    close(fd);
    WriteSampleLog(path, log);
    const QString fileName = QString::fromLocal8Bit(path);
    const double fileMb = static_cast<double>(QFile(fileName).size()) / 1e6;

    const TRun reader = median(fileName, Reader);
    const TRun plain = median(fileName, Plain);
    const TRun window = median(fileName, Window);
    unlink(path);
    const double lines = static_cast<double>(log.lines) / 1e6;
    std::printf("| Loading a %.0f M-line log (%.0f MB): log reader | %.2f s (plain whole-file reader %.2f s, %.1f x); "
                "peak memory %.0f MB = %.2f x the %.0f MB of its %lld readings (plain: %.0f MB = %.2f x) | < 2 s; "
                "<= 1.5 x |\n",
                lines, fileMb, reader.seconds, plain.seconds, plain.seconds / reader.seconds, reader.peakMb,
                reader.peakMb / reader.storedMb, reader.storedMb, reader.readings, plain.peakMb,
                plain.peakMb / plain.storedMb);
    std::printf(
        "| The same log in the review window, to the first drawing of its chart | %.2f s; peak memory %.0f MB = "
        "%.2f x the %.0f MB of the chart's points | < 2 s; <= 1.5 x |\n",
        window.seconds, window.peakMb, window.peakMb / window.storedMb, window.storedMb);
    return reader.readings == log.lines && plain.readings == log.lines && window.readings == log.lines + 1 ? 0 : 1;
}
