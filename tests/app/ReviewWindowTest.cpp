// The review window on made-up log files: columns against clock time, the outage as a gap, the report of
// bad lines, and a cancelled load that shows what came before.
#include "app/ReviewWindow.h"
#include "chart/ChartBands.h"
#include "app/SaveDialog.h"
#include "chart/StripChart.h"
#include "record/ReadingFormat.h"
#include "record/RegionalSettings.h"
#include "support/EventLoopHelper.h"
#include "support/TempDir.h"
#include "tools/SampleLog.h"

#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

double seconds(const QDateTime& clock)
{
    return static_cast<double>(clock.toMSecsSinceEpoch()) / 1000.0;
}

bool loaded(const TReviewWindow& window)
{
    return runEventsUntil([&] { return !window.loading(); }, 60000);
}

// Collects Qt's warnings while it lives, but the test platform's own notes (offscreen, no runtime folder).
class TWarnings {
public:
    TWarnings() { FPrevious = qInstallMessageHandler(&TWarnings::take); }
    ~TWarnings() { qInstallMessageHandler(FPrevious); }
    static inline QStringList texts;

private:
    static void take(QtMsgType type, const QMessageLogContext&, const QString& text)
    {
        if (type != QtDebugMsg && type != QtInfoMsg && !text.startsWith(QLatin1String("This plugin does not support"))
            && !text.startsWith(QLatin1String("QStandardPaths:")))
            texts << text;
    }
    QtMessageHandler FPrevious;
};

} // namespace

TEST(ReviewWindow, ShowsEachColumnAgainstClockTimeWithTheOutageAsAGapAndReportsBadLines)
{
    ApplyRegionalSettings();
    TempDir dir;
    TSampleLog log;
    log.concentration = true;
    log.lines = 3 * 1440; // three days, one reading a minute
    log.intervalMs = 60000;
    log.start = QDateTime(QDate(2026, 4, 10), QTime(9, 0));
    log.outageAt = 2000;
    log.outageMs = 3 * 3600000;
    WriteSampleLog(dir.file("run-0412.txt"), log);
    dir.write("run-0412.txt", dir.read("run-0412.txt") + "13/04/2026\t16:01:00.000\t0.01\t0.01\r\n13/04/2026\t16:02");

    TWarnings warnings; // none in drawing the window
    TWarnings::texts.clear();
    TReviewWindow window(QString::fromStdString(dir.file("run-0412.txt")));
    window.show();
    ASSERT_TRUE(loaded(window));
    window.chart()->chart()->replot();
    EXPECT_EQ(TWarnings::texts, QStringList());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("run-0412.txt - Velmora Data Logger"));
    EXPECT_EQ(window.statusText(),
              QStringLiteral("4320 readings from 10/04/2026 09:00:00 to 13/04/2026 11:59:00; 1 gap; see the notes "
                             "below"));
    EXPECT_EQ(window.report(), QStringList({"line 4322: 4 fields, 10 expected; skipped",
                                            "line 4323: the last line is cut short (2 fields, 10 expected); skipped"}));

    ASSERT_NE(window.chart(), nullptr);
    TStripChart& chart = *window.chart();
    const QStringList titles = QString::fromLatin1(LogHeader(true)).split('\t').mid(2);
    ASSERT_EQ(chart.seriesCount(), titles.size());
    for (int c = 0; c < titles.size(); ++c) {
        SCOPED_TRACE(c);
        QCPGraph* series = chart.series(c);
        EXPECT_EQ(series->name(), titles[c]);
        EXPECT_TRUE(series->visible());
        const auto points = series->data();
        ASSERT_EQ(points->size(), log.lines + 1); // and the break of the outage
        for (int64_t i : {int64_t(0), log.outageAt - 1, log.outageAt, log.lines - 1}) {
            const QCPGraphData& p = *(points->constBegin() + (i < log.outageAt ? i : i + 1));
            EXPECT_EQ(p.key, seconds(log.clockTime(i)));
            EXPECT_EQ(p.value, std::stod(ConcentrationLogValues(log.concentrationReading(i))[static_cast<size_t>(c)]));
        }
        const QCPGraphData& gap = *(points->constBegin() + log.outageAt);
        EXPECT_TRUE(std::isnan(gap.value));
        EXPECT_GT(gap.key, seconds(log.clockTime(log.outageAt - 1)));
        EXPECT_LT(gap.key, seconds(log.clockTime(log.outageAt)));
    }

    // Its chart offers another log, as the main window's does.
    EXPECT_EQ(chart.contextMenu()->actions().last()->text(), QStringLiteral("Open log file..."));

    // The time axis reads the clock as written.
    QCustomPlot& plot = *chart.chart();
    plot.replot();
    const QString labels = plot.xAxis->tickVectorLabels().join(' ');
    EXPECT_TRUE(labels.contains(QStringLiteral("00:00:00\n11/04/2026"))) << labels.toStdString();
}

TEST(ReviewWindow, CancelShowsTheReadingsReadSoFar)
{
    ApplyRegionalSettings();
    std::signal(SIGPIPE, SIG_IGN); // the loader closes its end when it stops
    TempDir dir;
    const std::string fifo = dir.file("pipe.txt");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    TReviewWindow window(QString::fromStdString(fifo));
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    std::string text = std::string(LogHeader(false)) + "\r\n";
    for (int i = 0; text.size() < 1600000; ++i)
        text += "05/03/2012\t" + FormatLogTime(i / 3600 % 24, i / 60 % 60, i % 60, 0)
                + "\t3\t51234\t49876\t120\t0.0123\t24\t101.3\r\n";
    ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size())); // a piece of 1 MiB read
    QPushButton* cancel = window.findChild<QPushButton*>(QStringLiteral("ReviewCancel"));
    ASSERT_NE(cancel, nullptr);
    QTest::mouseClick(cancel, Qt::LeftButton);
    [[maybe_unused]] const ssize_t more = ::write(fd, text.data(), text.size()); // the piece that ends the reading
    ::close(fd);
    ASSERT_TRUE(loaded(window));
    EXPECT_TRUE(window.statusText().endsWith(QStringLiteral("; reading cancelled; see the notes below")))
        << window.statusText().toStdString();
    ASSERT_FALSE(window.report().isEmpty());
    EXPECT_TRUE(window.report().constLast().contains(QStringLiteral("reading cancelled")));
    ASSERT_NE(window.chart(), nullptr);
    EXPECT_GT(window.chart()->series(0)->data()->size(), 1000);
}

// Several files and a folder as one run: the title names the folder, or the first file and how many more;
// the status gives the readings, files, first and last time and the gaps, the report names each file.
TEST(ReviewWindow, ShowsSeveralFilesAndAFolderAsOneRun)
{
    ApplyRegionalSettings();
    TempDir dir;
    TSampleLog log;
    log.lines = 60;
    log.start = QDateTime(QDate(2026, 4, 11), QTime(0, 0));
    WriteSampleLog(dir.file("velmora-2026-04-11_00-00-00.txt"), log);
    log.concentration = true;
    log.start = QDateTime(QDate(2026, 4, 10), QTime(9, 0));
    WriteSampleLog(dir.file("velmora-2026-04-10_09-00-00.txt"), log);
    dir.write("velmora-2026-04-10_09-00-00.events.txt", "09:00 start\r\n");
    dir.write("broken.txt", std::string(LogHeader(false)) + "\r\n05/03\r\n");

    TReviewWindow folder(QStringList{QString::fromStdString(dir.path())});
    ASSERT_TRUE(loaded(folder));
    EXPECT_EQ(folder.windowTitle(), QDir(QString::fromStdString(dir.path())).dirName() + " - Velmora Data Logger");
    EXPECT_EQ(folder.statusText(), QStringLiteral("120 readings in 3 files from 10/04/2026 09:00:00 to 11/04/2026 "
                                                  "00:00:59; 1 gap; see the notes below"));
    EXPECT_EQ(folder.report(), QStringList({"broken.txt: line 2: 1 field, 9 expected; skipped",
                                            "velmora-2026-04-10_09-00-00.events.txt: line 1: the header is not that "
                                            "of an events file (Date, Time, Event, Quantity, Value, Level)"}));
    ASSERT_NE(folder.chart(), nullptr);
    EXPECT_EQ(folder.chart()->seriesCount(), 13);
    EXPECT_EQ(folder.chart()->series(0)->data()->size(), 121); // and the break between the files

    TReviewWindow files(QStringList{QString::fromStdString(dir.file("velmora-2026-04-11_00-00-00.txt")),
                                    QString::fromStdString(dir.file("velmora-2026-04-10_09-00-00.txt"))});
    ASSERT_TRUE(loaded(files));
    EXPECT_EQ(files.windowTitle(), QStringLiteral("velmora-2026-04-11_00-00-00.txt + 1 more - Velmora Data Logger"));
    ASSERT_EQ(files.report().size(), 1); // the damaged events file beside one of them
    EXPECT_TRUE(files.report()[0].startsWith(QStringLiteral("velmora-2026-04-10_09-00-00.events.txt: line 1:")));
}

// The command line without a display (no DISPLAY, no QT_QPA_PLATFORM): --help, and --export-csv, which
// writes what it could read and names the file and line of what it could not.
TEST(ReviewWindow, ExportsCsvFromTheCommandLineWithoutADisplay)
{
    TempDir dir;
    const std::string header = std::string(LogHeader(false)) + "\r\n";
    dir.write("good.txt", header + "26/10/2025\t01:45:00.000\t3\t1\t2\t3\t0.1\t4\t5.0\r\n"
                              + "26/10/2025\t01:00:00.000\t3\t1\t2\t3\t0.1\t4\t5.0\r\n");
    dir.write("broken.txt", header + "05/03\r\n27/10/2025\t09:00:00.000\t3\t1\t2\t3\t0.25\t4\t5.0\r\n");
    const auto run = [&](const QStringList& arguments, QString* err = nullptr) {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(name);
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(VELMORA_LOGGER), arguments);
        EXPECT_TRUE(program.waitForFinished(60000));
        if (err)
            *err = QString::fromLocal8Bit(program.readAllStandardError());
        return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    };
    const QString out = QString::fromStdString(dir.file("out.csv"));
    const QString good = QString::fromStdString(dir.file("good.txt"));
    const QString broken = QString::fromStdString(dir.file("broken.txt"));

    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_EQ(run({"--export-csv", out, "--tz", "Europe/London", good}), 0);
    EXPECT_EQ(dir.read("out.csv"), "Local time,UTC,Channel,Sample,Reference,Voltage PWM,Concentration,Temperature,"
                                   "Pressure\n"
                                   "2025-10-26T01:45:00.000+01:00,2025-10-26T00:45:00.000Z,3,1,2,3,0.1,4,5\n"
                                   "2025-10-26T01:00:00.000+00:00,2025-10-26T01:00:00.000Z,3,1,2,3,0.1,4,5\n");

    QString err;
    EXPECT_EQ(run({"--export-csv", out, "--tz", "Asia/Tokyo", broken, good}, &err), 65);
    EXPECT_TRUE(err.contains(broken + ": line 2: 1 field, 9 expected; skipped")) << err.toStdString();
    const QString csv = QString::fromStdString(dir.read("out.csv"));
    EXPECT_EQ(csv.count('\n'), 5) << csv.toStdString(); // header, two, a gap between the files, one
    EXPECT_TRUE(csv.endsWith(",,,,,,,,\n2025-10-27T09:00:00.000+09:00,2025-10-27T00:00:00.000Z,3,1,2,3,0.25,4,5\n"))
        << csv.toStdString();

    EXPECT_EQ(run({"--export-csv", out, QString::fromStdString(dir.file("missing.txt"))}, &err), 65);
    EXPECT_TRUE(err.contains("missing.txt: cannot open")) << err.toStdString();
    EXPECT_EQ(run({"--export-csv", out, "--tz", "Nowhere/Atlantis", good}, &err), 1);
}

// The last file is followed as it grows, with notification alone and with polling alone: new whole lines
// are drawn (a late one after a gap, as a band), the note names the file while the view follows and goes
// while it is held; a file cut short or replaced is read again from the start, with a note.
TEST(ReviewWindow, FollowsTheLastFileAsItGrows)
{
    ApplyRegionalSettings();
    for (const bool polled : {false, true}) {
        SCOPED_TRACE(polled ? "polled" : "notified");
        TempDir dir;
        TSampleLog log;
        log.concentration = true;
        log.lines = 90;
        log.start = QDateTime(QDate(2026, 4, 10), QTime(9, 0));
        log.outageAt = 80; // the readings after it come late
        log.outageMs = 600000;
        WriteSampleLog(dir.file("all.txt"), log);
        const std::string all = dir.read("all.txt");
        size_t cut = 0; // after the header and 60 readings
        for (int n = 0; n < 61; ++n)
            cut = all.find('\n', cut) + 1;
        dir.write("run.txt", all.substr(0, cut) + all.substr(cut, 10)); // and a piece of the next line
        const auto append = [&](const std::string& text) {
            const int fd = ::open(dir.file("run.txt").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
            ::close(fd);
        };

        TReviewWindow window(QString::fromStdString(dir.file("run.txt")));
        TLogFollower::TOptions options;
        options.watch = !polled;
        options.poll = polled ? TLogFollower::TPoll::Always : TLogFollower::TPoll::Never;
        options.pollMs = 100;
        window.setFollowOptions(options);
        window.show();
        ASSERT_TRUE(loaded(window));
        ASSERT_NE(window.follower(), nullptr);
        EXPECT_EQ(window.follower()->polling(), polled);
        EXPECT_EQ(window.followNote(), QStringLiteral("Following run.txt"));
        const auto points = [&] { return window.chart() ? window.chart()->series(0)->data()->size() : 0; };
        EXPECT_EQ(points(), 60);

        size_t end = cut;
        for (int n = 0; n < 10; ++n)
            end = all.find('\n', end) + 1;
        append(all.substr(cut + 10, end - cut - 10));
        ASSERT_TRUE(runEventsUntil([&] { return points() == 70; }, 10000)) << points();
        const QCPGraphData& newest = *(window.chart()->series(0)->data()->constEnd() - 1);
        EXPECT_EQ(newest.key, seconds(log.clockTime(69)));
        EXPECT_EQ(newest.value, std::stod(ConcentrationLogValues(log.concentrationReading(69))[0]));
        EXPECT_TRUE(window.gapBands()->bands().empty());

        // Held: the note goes and the view stays; Home follows again.
        TStripChart& chart = *window.chart();
        chart.hold(QCPRange(newest.key - 30, newest.key - 10), chart.chart()->yAxis->range());
        EXPECT_EQ(window.followNote(), QString());
        const QCPRange held = chart.chart()->xAxis->range();
        append(all.substr(end)); // the rest, with the late readings
        ASSERT_TRUE(runEventsUntil([&] { return points() == 91; }, 10000)) << points(); // and a break
        EXPECT_EQ(chart.chart()->xAxis->range(), held);
        const auto written = [](const QDateTime& t) { return t.toString(QStringLiteral("dd/MM/yyyy hh:mm:ss")); };
        EXPECT_EQ(window.statusText(), QStringLiteral("90 readings from %1 to %2; 1 gap; see the notes below")
                                           .arg(written(log.clockTime(0)), written(log.clockTime(89))));
        ASSERT_EQ(window.gapBands()->bands().size(), 1u);
        EXPECT_EQ(window.gapBands()->bands()[0].from, seconds(log.clockTime(79)));
        EXPECT_EQ(window.gapBands()->bands()[0].to, seconds(log.clockTime(80)));
        chart.resetView();
        EXPECT_EQ(window.followNote(), QStringLiteral("Following run.txt"));
        EXPECT_GE(chart.chart()->xAxis->range().upper, seconds(log.clockTime(89)));
        EXPECT_EQ(window.report().size(), 1) << window.report().join('\n').toStdString(); // the cut line, read first

        // Cut back to 20 readings: read again.
        cut = 0;
        for (int n = 0; n < 21; ++n)
            cut = all.find('\n', cut) + 1;
        ASSERT_EQ(::truncate(dir.file("run.txt").c_str(), static_cast<off_t>(cut)), 0);
        ASSERT_TRUE(runEventsUntil([&] { return points() == 20 && !window.loading(); }, 10000)) << points();
        EXPECT_TRUE(window.statusText().startsWith(QStringLiteral("run.txt shrank: read again from the start; 20 "
                                                                  "readings")))
            << window.statusText().toStdString();
        EXPECT_EQ(window.followNote(), QStringLiteral("Following run.txt"));

        // Replaced by a file of 30 readings, which is followed in its turn.
        for (int n = 0; n < 10; ++n)
            cut = all.find('\n', cut) + 1;
        dir.write("new.txt", all.substr(0, cut));
        ASSERT_EQ(::rename(dir.file("new.txt").c_str(), dir.file("run.txt").c_str()), 0);
        ASSERT_TRUE(runEventsUntil([&] { return points() == 30 && !window.loading(); }, 10000)) << points();
        EXPECT_TRUE(window.statusText().startsWith(QStringLiteral("run.txt was replaced: read again")))
            << window.statusText().toStdString();
        append(all.substr(cut, all.find('\n', cut) + 1 - cut));
        ASSERT_TRUE(runEventsUntil([&] { return points() == 31; }, 10000)) << points();
    }
}

// In the repeated autumn hour the readout gives each reading's written time with its offset; an outage is a
// shaded band.
TEST(ReviewWindow, ReadoutShowsTheWrittenTimeAndItsOffsetInTheRepeatedHour)
{
    ApplyRegionalSettings();
    TempDir dir;
    std::string text = std::string(LogHeader(false)) + "\r\n";
    for (const char* time : {"00:30", "00:45", "01:00", "01:15", "01:30", "01:45", "01:00", "01:15", "01:30", "01:45",
                             "02:00", "04:00", "04:15"})
        text += std::string("25/10/2026\t") + time + ":00.000\t3\t51234\t49876\t120\t0.0123\t24\t101.3\r\n";
    dir.write("autumn.txt", text);
    const QTimeZone london("Europe/London");
    ASSERT_TRUE(london.isValid());
    TReviewWindow window(QStringList{QString::fromStdString(dir.file("autumn.txt"))}, london);
    ASSERT_TRUE(loaded(window));
    TStripChart& chart = *window.chart();
    const auto at = [](int h, int m) {
        return static_cast<double>(QDateTime(QDate(2026, 10, 25), QTime(h, m), QTimeZone::utc()).toMSecsSinceEpoch())
               / 1000;
    };
    EXPECT_EQ(chart.keyText(at(0, 30)), QStringLiteral("25/10/2026 01:30:00.000 +01:00")); // the first pass
    EXPECT_EQ(chart.keyText(at(1, 30)), QStringLiteral("25/10/2026 01:30:00.000 +00:00")); // the second
    EXPECT_EQ(chart.keyText(at(23, 30) - 86400), QStringLiteral("25/10/2026 00:30:00.000 +01:00"));
    EXPECT_EQ(chart.keyText(at(4, 15)), QStringLiteral("25/10/2026 04:15:00.000 +00:00"));
    ASSERT_EQ(window.gapBands()->bands().size(), 1u); // 02:00 to 04:00
    EXPECT_EQ(window.gapBands()->bands()[0].from, at(2, 0));
    EXPECT_EQ(window.gapBands()->bands()[0].to, at(4, 0));
}

// The events file beside a log: alarm periods shaded, events marked and read out; its damaged lines are
// listed as the log's are.
TEST(ReviewWindow, ShowsTheEventsFileBesideTheLog)
{
    ApplyRegionalSettings();
    TempDir dir;
    TSampleLog log;
    log.concentration = true;
    log.lines = 121;
    log.start = QDateTime(QDate(2026, 12, 10), QTime(16, 0));
    WriteSampleLog(dir.file("all.txt"), log);
    const std::string all = dir.read("all.txt");
    const size_t lastLine = all.rfind('\n', all.size() - 2) + 1;
    dir.write("run.txt", all.substr(0, lastLine)); // 120 readings; the last is written while followed
    dir.write("run.events.txt", "Date\tTime\tEvent\tQuantity\tValue\tLevel\r\n"
                                "10/12/2026\t16:00:00.000\tLog started\t\t\t\r\n"
                                "10/12/2026\t16:00:30.000\tAlarm on\tconcentration\t0.0125\t0.01\r\n"
                                "10/12/2026\t16:00:50\r\n"
                                "10/12/2026\t16:01:10.000\tAlarm off\tconcentration\t0.009\t0.01\r\n");
    TReviewWindow window(QString::fromStdString(dir.file("run.txt")));
    window.show();
    ASSERT_TRUE(loaded(window));
    window.chart()->chart()->replot();
    EXPECT_EQ(window.report(), QStringList{"run.events.txt: line 4: 2 fields, 6 expected; skipped"});
    const auto key = [&](int s) { return seconds(log.start.addSecs(s)); };
    ASSERT_EQ(window.alarmBands()->bands().size(), 1u);
    EXPECT_EQ(window.alarmBands()->bands()[0].from, key(30));
    EXPECT_EQ(window.alarmBands()->bands()[0].to, key(70));
    EXPECT_EQ(window.eventMarks()->markers(), (std::vector<double>{key(0), key(30), key(70)}));
    TStripChart& chart = *window.chart();
    EXPECT_EQ(chart.readoutNotes(key(30)), QStringList{"Alarm on: concentration 0.0125 (level 0.01)"});
    EXPECT_EQ(chart.readoutNotes(key(0)), QStringList{"Log started"});
    EXPECT_EQ(chart.readoutNotes(key(50)), QStringList());

    // Followed: an event written beside the growing log is shown when the readings after it come.
    const auto append = [&](const std::string& name, const std::string& text) {
        const int fd = ::open(dir.file(name).c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        ::close(fd);
    };
    append("run.events.txt", "10/12/2026\t16:02:00.000\tAlarm on\tconcentration\t0.0131\t0.01\r\n");
    append("run.txt", all.substr(lastLine));
    ASSERT_TRUE(runEventsUntil([&] { return window.eventMarks()->markers().size() == 4; }, 10000));
    EXPECT_EQ(window.alarmBands()->bands().size(), 2u);
    EXPECT_EQ(chart.readoutNotes(key(120)), QStringList{"Alarm on: concentration 0.0131 (level 0.01)"});
    EXPECT_EQ(window.report().size(), 1); // the damaged line is not listed again
    EXPECT_TRUE(window.statusText().startsWith(QStringLiteral("121 readings"))) << window.statusText().toStdString();

    // Without an events file, or with an unreadable one, the log is shown all the same.
    ASSERT_EQ(::chmod(dir.file("run.events.txt").c_str(), 0), 0);
    TReviewWindow unreadable(QString::fromStdString(dir.file("run.txt")));
    ASSERT_TRUE(loaded(unreadable));
    EXPECT_EQ(unreadable.chart()->series(0)->data()->size(), 121);
    if (::geteuid() != 0) { // root reads it all the same
        EXPECT_EQ(unreadable.report().size(), 1);
    }
}

// The review shows a lane per column; "Export as CSV..." writes the whole run or the range shown, off the window's
// thread, and the file read back holds the readings the chart shows, a gap as an empty row.
TEST(ReviewWindow, ShowsLanesAndExportsTheRunOrTheShownRangeAsCsv)
{
    ApplyRegionalSettings();
    TempDir dir;
    TSampleLog log;
    log.concentration = true;
    log.lines = 600;
    log.start = QDateTime(QDate(2026, 4, 10), QTime(9, 0));
    log.outageAt = 300;
    log.outageMs = 600000;
    WriteSampleLog(dir.file("run.txt"), log);

    TReviewWindow window(QString::fromStdString(dir.file("run.txt")));
    window.show();
    ASSERT_TRUE(loaded(window));
    ASSERT_NE(window.chart(), nullptr);
    TStripChart& chart = *window.chart();
    ASSERT_TRUE(chart.lanes());
    chart.chart()->replot();
    for (int c = 0; c < chart.seriesCount(); ++c) {
        ASSERT_NE(chart.laneRect(c), nullptr);
        EXPECT_TRUE(chart.laneRect(c)->visible());
        EXPECT_GT(chart.laneRect(c)->height(), 20);
    }

    QStringList answers;
    TSaveDialog::SetExecuteFunction([&](const TSaveDialog&) { return answers.takeFirst(); });
    const auto exportTo = [&](const char* name, bool shownRange) {
        answers << QString::fromStdString(dir.file(name));
        QSignalSpy exported(&window, &TReviewWindow::exported);
        window.exportCsv(shownRange);
        EXPECT_TRUE(exported.wait(60000));
        EXPECT_EQ(exported.value(0).value(1).toString(), QString());
        return QString::fromStdString(dir.read(name)).split('\n', Qt::SkipEmptyParts);
    };
    // Each row against the chart's points, which hold the break of the outage as a NaN.
    const auto matches = [&](const QStringList& rows, qsizetype first) {
        for (qsizetype r = 1; r < rows.size(); ++r) {
            const QStringList fields = rows[r].split(',');
            const QCPGraphData& p = *(chart.series(0)->data()->constBegin() + first + r - 1);
            if (std::isnan(p.value)) {
                if (fields.join(QString()) != QString())
                    return false;
                continue;
            }
            const QDateTime utc = QDateTime::fromString(fields[1], Qt::ISODateWithMs);
            if (!utc.isValid() || utc.toMSecsSinceEpoch() != std::llround(p.key * 1000)
                || fields.size() != chart.seriesCount() + 2)
                return false;
            for (int c = 0; c < chart.seriesCount(); ++c)
                if (fields[c + 2].toDouble() != (chart.series(c)->data()->constBegin() + first + r - 1)->value)
                    return false;
        }
        return true;
    };
    const QStringList whole = exportTo("whole.csv", false);
    ASSERT_EQ(whole.size(), 1 + 600 + 1);
    EXPECT_TRUE(whole[0].startsWith(QStringLiteral("Local time,UTC,")));
    EXPECT_TRUE(matches(whole, 0));

    // Readings 100 to 199 shown.
    chart.hold(QCPRange(seconds(log.clockTime(100)) - 0.5, seconds(log.clockTime(199)) + 0.5),
               chart.chart()->yAxis->range());
    const QStringList shown = exportTo("shown.csv", true);
    ASSERT_EQ(shown.size(), 1 + 100);
    EXPECT_TRUE(matches(shown, 100));
    TSaveDialog::SetExecuteFunction({});
}
