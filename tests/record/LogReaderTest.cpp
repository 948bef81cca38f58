#include "record/LogReader.h"
#include "record/EventsLog.h"
#include "record/LogCsv.h"
#include "record/LogFollower.h"
#include "record/LogLoader.h"
#include "record/LogRun.h"
#include "record/ReadingFormat.h"
#include "record/RegionalSettings.h"
#include "support/EventLoopHelper.h"
#include "support/TempDir.h"
#include "tools/SampleLog.h"

#include <QTimeZone>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

TLogData parse(const std::string& text, size_t piece = SIZE_MAX)
{
    TLogParser parser;
    for (size_t at = 0; at < text.size(); at += piece)
        parser.feed(std::string_view(text).substr(at, piece));
    return parser.finish();
}

const std::string Channels = std::string(LogHeader(false)) + "\r\n";
const std::string Concentration = std::string(LogHeader(true)) + "\r\n";

std::string reading(int second, const std::string& values = "3\t51234\t49876\t120\t0.0123\t24\t101.3")
{
    return "05/03/2012\t14:07:" + std::string(second < 10 ? "0" : "") + std::to_string(second) + ".042\t" + values
           + "\r\n";
}

std::string withLf(std::string text)
{
    std::erase(text, '\r');
    return text;
}

// One reading a second from midnight (at most a day's worth).
std::string day(int count)
{
    std::string text = Channels;
    for (int i = 0; i < count; ++i)
        text += "05/03/2012\t" + FormatLogTime(i / 3600, i / 60 % 60, i % 60, 0)
                + "\t3\t51234\t49876\t120\t0.0123\t24\t101.3\r\n";
    return text;
}

std::string readings(int first, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += reading(first + i);
    return text;
}

// A Channels log with one reading at each of the given "dd/mm/yyyy hh:mm:ss" clock times.
std::string at(std::initializer_list<const char*> times)
{
    std::string text = Channels;
    for (const char* t : times) {
        std::string line(t);
        line[10] = '\t';
        text += line + ".000\t3\t1\t2\t3\t0.1\t4\t5.0\r\n";
    }
    return text;
}

TLogData parseIn(const char* zone, const std::string& text)
{
    TLogParser parser{QTimeZone(zone)};
    parser.feed(text);
    return parser.finish();
}

QString iso(const TLogData& data, size_t i)
{
    return data.placedTime(i).toString(Qt::ISODate);
}

} // namespace

class LogReader : public ::testing::Test {
protected:
    void SetUp() override { ApplyRegionalSettings(); }
    TempDir dir;
};

TEST_F(LogReader, ReadsBackWhatTheWriterWroteInBothModes)
{
    for (const bool concentration : {false, true}) {
        SCOPED_TRACE(concentration ? "Concentration" : "Channels");
        TSampleLog log;
        log.concentration = concentration;
        log.lines = 3000;
        log.start = QDateTime(QDate(2026, 12, 31), QTime(23, 10, 0, 7)); // across the turn of the year
        const std::string file = dir.file("run.txt");
        WriteSampleLog(file, log);

        const TLogData data = ReadLogFile(QString::fromStdString(file));
        EXPECT_TRUE(data.problems.empty()) << data.report().join('\n').toStdString();
        ASSERT_EQ(data.count(), 3000u);
        EXPECT_EQ(data.lineCount, 3001);
        EXPECT_EQ(data.layout, concentration ? TLogData::Concentration : TLogData::Channels);
        EXPECT_EQ(data.titles, QString::fromLatin1(LogHeader(concentration)).split('\t').mid(2));
        EXPECT_TRUE(data.gaps.empty());
        EXPECT_EQ(data.medianSpacing, 1000);
        for (int64_t i = 0; i < log.lines; i += 7) {
            const auto i_ = static_cast<size_t>(i);
            ASSERT_EQ(data.clockTime(i_), log.clockTime(i));
            std::vector<std::string> written;
            if (concentration) {
                const auto v = ConcentrationLogValues(log.concentrationReading(i));
                written.assign(v.begin(), v.end());
            } else {
                const auto v = ChannelsLogValues(log.channelsReading(i));
                written.assign(v.begin(), v.end());
            }
            ASSERT_EQ(data.values.size(), written.size());
            for (size_t c = 0; c < written.size(); ++c)
                ASSERT_EQ(data.values[c][i_], std::stod(written[c])) << "line " << i + 2 << " column " << c;
        }
    }
}

TEST_F(LogReader, FindsTheGapsAnOutageAndAClockSetBackLeave)
{
    TSampleLog log;
    log.lines = 1000;
    log.start = QDateTime(QDate(2026, 3, 2), QTime(8, 0));
    log.outageAt = 400;
    log.outageMs = 3100; // a step of 4.1 s: more than three times the median of 1 s
    WriteSampleLog(dir.file("outage.txt"), log);
    TLogData data = ReadLogFile(QString::fromStdString(dir.file("outage.txt")));
    EXPECT_EQ(data.gaps, std::vector<size_t>{400});
    EXPECT_TRUE(data.startsStretch(400));
    EXPECT_FALSE(data.startsStretch(401));
    EXPECT_TRUE(data.problems.empty());

    log.outageMs = 1900; // a step of 2.9 s is irregular spacing, not an outage
    WriteSampleLog(dir.file("late.txt"), log);
    EXPECT_TRUE(ReadLogFile(QString::fromStdString(dir.file("late.txt"))).gaps.empty());

    // The clock set back by an hour: the readings are kept, placed by their time.
    data =
        parse(Channels + reading(1) + reading(2) + reading(3) + "05/03/2012\t13:07:04.042\t3\t1\t2\t3\t0.1\t4\t5.0\r\n"
              + "05/03/2012\t13:07:05.042\t3\t1\t2\t3\t0.1\t4\t5.0\r\n");
    ASSERT_EQ(data.count(), 5u);
    EXPECT_EQ(data.clockTime(0), QDateTime(QDate(2012, 3, 5), QTime(13, 7, 4, 42)));
    EXPECT_EQ(data.clockTime(2), QDateTime(QDate(2012, 3, 5), QTime(14, 7, 1, 42)));
    EXPECT_EQ(data.values[1][0], 1);
    EXPECT_EQ(data.values[1][2], 51234);
    EXPECT_EQ(data.gaps, std::vector<size_t>{2});
    EXPECT_EQ(data.report(), QStringList{"line 5: the time goes back by 00:59:59.000; kept"});
}

TEST_F(LogReader, ALineWrittenAcrossMidnightWithTheOldDateBelongsToTheNextDay)
{
    // The date is taken before the time, so a tick at midnight can write the old day's date.
    const TLogData data = parse(Channels + "05/03/2012\t23:59:59.500\t3\t1\t2\t3\t0.1\t4\t5.0\r\n"
                                + "05/03/2012\t00:00:00.501\t3\t1\t2\t3\t0.1\t4\t5.0\r\n"
                                + "06/03/2012\t00:00:01.502\t3\t1\t2\t3\t0.1\t4\t5.0\r\n");
    ASSERT_EQ(data.count(), 3u);
    EXPECT_EQ(data.clockTime(1), QDateTime(QDate(2012, 3, 6), QTime(0, 0, 0, 501)));
    EXPECT_TRUE(data.gaps.empty());
    EXPECT_TRUE(data.problems.empty());
}

// Every kind of bad input: what is said about it, at which line, and which readings are kept. Each text is
// also fed a byte at a time, which must read the same.
TEST_F(LogReader, ReportsBadInputWithItsLineAndKeepsEveryGoodLine)
{
    const std::string cut = "05/03/2012\t14:07:20.042\t3\t512";
    const std::string binary("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\x01\0", 20);
    const struct {
        const char* name;
        std::string text;
        size_t kept;
        QStringList report;
    } cases[] = {
        {"clean, LF line ends", withLf(Channels + readings(1, 3)), 3, {}},
        {"empty file", "", 0, {"line 1: the file is empty"}},
        {"stopped before the first reading", Channels, 0, {}},
        {"truncated last line",
         Channels + readings(1, 3) + cut,
         3,
         {"line 5: the last line is cut short (4 fields, 9 expected); skipped"}},
        {"last line without its line end",
         Channels + readings(1, 3) + reading(4).substr(0, reading(4).size() - 2),
         4,
         {"line 5: the last line has no line end; kept"}},
        {"damaged lines, each wrong number of fields a kind of its own",
         Channels + reading(1) + cut + "\r\n" + reading(3) + "05/03\r\n" + reading(5) + cut + "\r\n"
             + reading(6, "3\t1\t2\t3\t4\t5\t6\t7\t8") + reading(7, std::string(20, '\t')) + reading(8, "1\t2"),
         3,
         {"line 3: 4 fields, 9 expected; 3 such lines skipped", "line 5: 1 field, 9 expected; skipped",
          "line 8: 11 fields, 9 expected; skipped", "line 9: more than 11 fields, 9 expected; skipped"}},
        {"bad values",
         Channels + reading(1) + reading(2, "3\t12a\t49876\t120\t0.0123\t24\t101.3") + reading(3)
             + "32/03/2012\t14:07:04.042\t3\t1\t2\t3\t4\t5\t6\r\n"
             + "05/03/2012\t24:07:05.042\t3\t1\t2\t3\t4\t5\t6\r\n",
         2,
         {"line 3: \"12a\" in column Sample is not a number; skipped",
          "line 5: \"32/03/2012\" is not a date (dd/mm/yyyy); skipped",
          "line 6: \"24:07:05.042\" is not a time (hh:mm:ss.mmm); skipped"}},
        {"wrong header",
         "Datum\tZeit\tKanal\r\n" + readings(1, 2),
         2,
         {"line 1: not a header of this program's logs (\"Datum\\tZeit\\tKanal\"); read as the Channels layout (9 "
          "fields)"}},
        {"no header",
         readings(1, 2),
         2,
         {"line 1: no header: the file begins with a reading; read as the Channels layout (9 fields)"}},
        {"other layout's lines",
         Concentration + readings(1, 2),
         0,
         {"line 2: 9 fields, 10 expected; 2 such lines skipped"}},
        {"not a log",
         "Dear operator,\r\nplease\tcall me.\r\n",
         0,
         {"line 1: not a log of this program: no line holds a date, a time and 7 or 8 values",
          "line 1: not a header of this program's logs (\"Dear operator,\")",
          "line 2: 2 fields, 9 or 10 expected; skipped"}},
        {"binary file",
         binary,
         0,
         {"line 1: not a log of this program: no line holds a date, a time and 7 or 8 values",
          "line 1: not a header of this program's logs (binary data)", "line 2: binary data; 2 such lines skipped"}},
        {"binary, empty, long and header lines among readings",
         Channels + reading(1) + std::string("\0\x01\xff\r\n", 5) + "\r\n" + reading(2) + std::string(5000, 'x')
             + "\r\n" + Channels + reading(3),
         3,
         {"line 3: binary data; skipped", "line 4: an empty line; skipped", "line 6: longer than 4096 bytes; skipped",
          "line 7: a header line; skipped"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const size_t piece : {SIZE_MAX, size_t(1)}) {
            const TLogData data = parse(c.text, piece);
            EXPECT_EQ(data.count(), c.kept);
            EXPECT_EQ(data.report(), c.report);
        }
    }
}

TEST_F(LogReader, AFileThatCannotBeReadIsNamedWithTheReason)
{
    const TLogData data = ReadLogFile(QString::fromStdString(dir.file("missing.txt")));
    ASSERT_EQ(data.problems.size(), 1u);
    EXPECT_EQ(data.problems[0].text().toStdString(),
              "cannot open \"" + dir.file("missing.txt") + "\": No such file or directory");
}

TEST_F(LogReader, ProgressRisesToTheFileSizeAndCanStopTheReading)
{
    dir.write("run.txt", day(60000)); // about 3.5 MB: four pieces
    const QString file = QString::fromStdString(dir.file("run.txt"));
    std::vector<int64_t> done;
    int64_t size = 0;
    EXPECT_EQ(ReadLogFile(file,
                          [&](int64_t d, int64_t total) {
                              done.push_back(d);
                              size = total;
                              return true;
                          })
                  .count(),
              60000u);
    ASSERT_GE(done.size(), 4u);
    EXPECT_TRUE(std::is_sorted(done.begin(), done.end()));
    EXPECT_EQ(done.back(), size);

    const TLogData data = ReadLogFile(file, [](int64_t, int64_t) { return false; });
    EXPECT_TRUE(data.cancelled);
    EXPECT_GT(data.count(), 0u);
    EXPECT_LT(data.count(), 60000u);
    ASSERT_EQ(data.problems.size(), 1u);
    EXPECT_EQ(data.problems[0].text(),
              QStringLiteral("line %1: reading cancelled: this line and the lines after it are not shown")
                  .arg(data.lineCount + 1));
}

// The loader reads on its own thread: a reader that blocks on a pipe does not block the event loop, and a
// cancel takes effect at the next piece.
TEST_F(LogReader, TheLoaderReadsOnItsOwnThreadUntilCancelled)
{
    std::signal(SIGPIPE, SIG_IGN); // the loader closes its end when it stops
    const std::string fifo = dir.file("pipe.txt");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    TLogLoader loader;
    bool finished = false;
    QObject::connect(&loader, &TLogLoader::finished, [&] { finished = true; });
    loader.start(QString::fromStdString(fifo));
    const int fd = ::open(fifo.c_str(), O_WRONLY); // waits for the loader's thread to open the other end
    ASSERT_GE(fd, 0);
    auto send = [fd](const std::string& text) {
        for (size_t at = 0; at < text.size();) {
            const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
            if (n <= 0)
                return n < 0 && errno == EPIPE;
            at += static_cast<size_t>(n);
        }
        return true;
    };
    std::string lines;
    while (lines.size() < 1600000)
        lines += reading(static_cast<int>(lines.size() / 64 % 60));
    ASSERT_TRUE(send(Channels + lines)); // the loader has read at least one piece of 1 MiB
    EXPECT_TRUE(loader.isRunning());
    EXPECT_FALSE(finished);
    loader.cancel();
    EXPECT_TRUE(send(lines)); // the piece after the cancel ends the reading
    ::close(fd);
    ASSERT_TRUE(runEventsUntil([&] { return finished; }, 60000));
    EXPECT_FALSE(loader.isRunning());
    const TLogData data = loader.takeResult().data;
    EXPECT_TRUE(data.cancelled);
    EXPECT_GE(data.count(), 1048576u / 64);
    EXPECT_LT(data.count(), 2 * lines.size() / 64);
}

// The written local times placed with a zone: the hour the autumn change repeats follows its first pass,
// the spring change's jump forward is no gap, and a clock set back otherwise is still listed.
TEST_F(LogReader, PlacesTheWrittenTimesWithTheTimeZoneAcrossItsChanges)
{
    TLogData data = parseIn("Europe/London", at({"26/10/2025 00:45:00", "26/10/2025 01:15:00", "26/10/2025 01:45:00",
                                                 "26/10/2025 01:15:00", "26/10/2025 01:45:00", "26/10/2025 02:15:00"}));
    EXPECT_TRUE(data.problems.empty()) << data.report().join('\n').toStdString();
    ASSERT_EQ(data.count(), 6u);
    EXPECT_EQ(iso(data, 0), "2025-10-26T00:45:00+01:00");
    EXPECT_EQ(iso(data, 2), "2025-10-26T01:45:00+01:00");
    EXPECT_EQ(iso(data, 3), "2025-10-26T01:15:00+00:00");
    EXPECT_EQ(iso(data, 5), "2025-10-26T02:15:00+00:00");
    for (size_t i = 1; i < data.count(); ++i)
        EXPECT_EQ(data.times[i] - data.times[i - 1], 1800000) << i;
    EXPECT_EQ(data.clockTime(3), QDateTime(QDate(2025, 10, 26), QTime(1, 15)));
    EXPECT_TRUE(data.gaps.empty());

    // Back by 20 minutes in the first pass of the repeated hour: a clock set back, listed and sorted in.
    data = parseIn("Europe/London", at({"26/10/2025 01:30:00", "26/10/2025 01:40:00", "26/10/2025 01:20:00"}));
    EXPECT_EQ(data.report(), QStringList{"line 4: the time goes back by 00:20:00.000; kept"});
    ASSERT_EQ(data.count(), 3u);
    EXPECT_EQ(iso(data, 0), "2025-10-26T01:20:00+01:00");
    EXPECT_EQ(iso(data, 2), "2025-10-26T01:40:00+01:00");

    data = parseIn("Europe/London", at({"30/03/2025 00:30:00", "30/03/2025 00:45:00", "30/03/2025 02:00:00",
                                        "30/03/2025 02:15:00", "30/03/2025 02:30:00"}));
    EXPECT_TRUE(data.problems.empty());
    EXPECT_TRUE(data.gaps.empty());
    EXPECT_EQ(data.medianSpacing, 900000);
    EXPECT_EQ(iso(data, 1), "2025-03-30T00:45:00+00:00");
    EXPECT_EQ(iso(data, 2), "2025-03-30T02:00:00+01:00");
    EXPECT_EQ(data.times[2] - data.times[1], 900000);

    for (const char* zone : {"UTC", "Asia/Tokyo"}) {
        SCOPED_TRACE(zone);
        const int32_t offset = QTimeZone(zone).offsetFromUtc(QDateTime::currentDateTimeUtc());
        data = parseIn(zone, at({"26/10/2025 01:15:00", "26/10/2025 01:45:00", "26/10/2025 01:15:01"}));
        EXPECT_EQ(data.report(), QStringList{"line 4: the time goes back by 00:29:59.000; kept"});
        ASSERT_EQ(data.count(), 3u);
        EXPECT_EQ(data.offsetAt(2), offset);
        EXPECT_EQ(data.times[0], QDateTime(QDate(2025, 10, 26), QTime(1, 15), QTimeZone(zone)).toMSecsSinceEpoch());
    }
}

TEST_F(LogReader, PlacesTheWrittenTimesWithTheMachinesZoneByDefault)
{
    const QByteArray saved = qgetenv("TZ");
    qputenv("TZ", "Europe/London");
    const std::string file = dir.file("autumn.txt");
    dir.write("autumn.txt", at({"26/10/2025 01:45:00", "26/10/2025 01:15:00"}));
    const TLogData data = ReadLogFile(QString::fromStdString(file));
    if (saved.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", saved);
    EXPECT_TRUE(data.problems.empty());
    ASSERT_EQ(data.count(), 2u);
    EXPECT_EQ(iso(data, 1), "2025-10-26T01:15:00+00:00");
}

// A season's folder: files ordered by their first reading whatever their names, the time between two
// files a gap, both layouts on one axis (each column NaN where its file lacks it), problems per file.
TEST_F(LogReader, ReadsFilesAndFoldersAsOneRunInTheOrderOfTheirFirstReading)
{
    dir.write("b-first.txt", at({"10/04/2026 09:00:00", "10/04/2026 09:00:01", "10/04/2026 09:00:02"}));
    dir.write("a-second.txt", Concentration + "10/04/2026\t12:00:00.000\t0.1\t0.2\t0.3\t0.41\t0.5\t21\t99.5\t40\r\n"
                                  + "10/04/2026\t12:00:01.000\t0.1\t0.2\t0.3\t0.41\t0.5\t22\t99.5\t40\r\n"
                                  + "10/04/2026\t12:00:02\r\n");
    dir.write("a-second.events.txt", "not a log\r\n");
    const std::string extra = dir.file("later.txt");
    dir.write("later.txt", at({"11/04/2026 08:00:00", "11/04/2026 08:00:01"}));
    ASSERT_EQ(
        LogFilesIn({QString::fromStdString(dir.path()), QString::fromStdString(extra)}),
        QStringList({QString::fromStdString(dir.file("a-second.txt")), QString::fromStdString(dir.file("b-first.txt")),
                     QString::fromStdString(dir.file("later.txt")), QString::fromStdString(extra)}));

    const TLogRun run =
        ReadLogRun({QString::fromStdString(extra), QString::fromStdString(dir.file("a-second.txt")),
                    QString::fromStdString(dir.file("b-first.txt")), QString::fromStdString(dir.file("missing.txt"))},
                   {}, QTimeZone("UTC"));
    ASSERT_EQ(run.files.size(), 4u);
    EXPECT_TRUE(run.files[0].fileName.endsWith("b-first.txt"));
    EXPECT_TRUE(run.files[1].fileName.endsWith("a-second.txt"));
    EXPECT_TRUE(run.files[2].fileName.endsWith("later.txt"));
    EXPECT_TRUE(run.files[3].fileName.endsWith("missing.txt"));
    EXPECT_EQ(run.files[1].layout, TLogData::Concentration);

    const TLogData& data = run.data;
    ASSERT_EQ(data.count(), 7u);
    EXPECT_EQ(data.layout, TLogData::Mixed);
    EXPECT_TRUE(std::is_sorted(data.times.begin(), data.times.end()));
    EXPECT_EQ(data.gaps, (std::vector<size_t>{3, 5}));
    EXPECT_EQ(data.clockTime(3), QDateTime(QDate(2026, 4, 10), QTime(12, 0)));
    const QStringList titles = data.titles;
    ASSERT_EQ(titles.size(), 13);
    const auto column = [&](const char* title) { return data.values[static_cast<size_t>(titles.indexOf(title))]; };
    EXPECT_EQ(column("Temperature"), (TLogColumn{4, 4, 4, 21, 22, 4, 4}));
    EXPECT_TRUE(std::isnan(column("Sample")[3]));
    EXPECT_EQ(column("Sample")[0], 1);
    EXPECT_TRUE(std::isnan(column("Humidity")[0]));
    EXPECT_EQ(column("Humidity")[4], 40);

    const QStringList report = run.report();
    ASSERT_EQ(report.size(), 2);
    EXPECT_EQ(report[0], "a-second.txt: line 4: 2 fields, 10 expected; skipped");
    EXPECT_TRUE(report[1].startsWith("missing.txt: cannot open")) << report[1].toStdString();

    // Files that share time are sorted in.
    const TLogRun both =
        ReadLogRun({QString::fromStdString(dir.file("b-first.txt")), QString::fromStdString(dir.file("b-first.txt"))},
                   {}, QTimeZone("UTC"));
    EXPECT_EQ(both.data.count(), 6u);
    EXPECT_TRUE(std::is_sorted(both.data.times.begin(), both.data.times.end()));
    EXPECT_EQ(both.data.layout, TLogData::Channels);
    EXPECT_EQ(both.data.values.size(), 7u);
}

// CSV of a run across the autumn change and of a zone without one: the written time with its offset and
// the UTC instant both read back to the reading's instant, the values to the same doubles, a gap as a row
// of empty fields.
TEST_F(LogReader, CsvRoundTripsTimesAcrossTheChangesOfTheZone)
{
    for (const char* zone : {"Europe/London", "Asia/Tokyo"}) {
        SCOPED_TRACE(zone);
        TLogData data = parseIn(zone, at({"26/10/2025 01:30:00", "26/10/2025 01:45:00", "26/10/2025 01:00:00",
                                          "26/10/2025 01:15:00", "26/10/2025 03:00:00"}));
        data.values[4][1] = 0.1 + 0.2; // a value with no short decimal form
        const std::string file = dir.file(std::string("run-") + (zone[0] == 'E' ? "london" : "tokyo") + ".csv");
        ASSERT_TRUE(WriteLogCsv(QString::fromStdString(file), data, 0, data.count()));
        const QStringList rows = QString::fromStdString(dir.read(file.substr(dir.path().size() + 1))).split('\n');
        ASSERT_EQ(rows.size(), static_cast<qsizetype>(data.count() + data.gaps.size() + 2)); // header, final LF
        EXPECT_EQ(rows[0], "Local time,UTC," + data.titles.join(','));
        EXPECT_EQ(rows.back(), "");
        qsizetype row = 1;
        for (size_t i = 0; i < data.count(); ++i, ++row) {
            if (data.startsStretch(i)) {
                EXPECT_EQ(rows[row++], QString(8, ','));
            }
            const QStringList fields = rows[row].split(',');
            ASSERT_EQ(fields.size(), 9);
            const QDateTime local = QDateTime::fromString(fields[0], Qt::ISODateWithMs);
            const QDateTime utc = QDateTime::fromString(fields[1], Qt::ISODateWithMs);
            EXPECT_EQ(local.toMSecsSinceEpoch(), data.times[i]) << fields[0].toStdString();
            EXPECT_EQ(utc.toMSecsSinceEpoch(), data.times[i]) << fields[1].toStdString();
            EXPECT_EQ(local.offsetFromUtc(), data.offsetAt(i));
            EXPECT_EQ(fields[0].left(19), data.clockTime(i).toString("yyyy-MM-dd'T'HH:mm:ss"));
            for (size_t c = 0; c < data.values.size(); ++c)
                EXPECT_EQ(fields[static_cast<qsizetype>(c + 2)].toDouble(), data.values[c][i]);
        }
        if (zone[0] == 'E') {
            EXPECT_TRUE(rows[3].startsWith("2025-10-26T01:00:00.000+00:00,2025-10-26T01:00:00.000Z,"));
            EXPECT_EQ(data.gaps, std::vector<size_t>{4});
        } else {
            EXPECT_TRUE(rows[1].startsWith("2025-10-26T01:00:00.000+09:00,2025-10-25T16:00:00.000Z,"));
        }
    }
}

// Following a growing log file: whole lines only, from where the reader stopped; a file that shrank or
// was replaced is handed back to be read again. Each case with notification alone and with polling alone.
class LogFollowing : public ::testing::TestWithParam<bool> {
protected:
    TLogFollower::TOptions options() const
    {
        TLogFollower::TOptions o;
        o.watch = !GetParam();
        o.poll = GetParam() ? TLogFollower::TPoll::Always : TLogFollower::TPoll::Never;
        o.pollMs = 50;
        return o;
    }
    void append(const std::string& text) const
    {
        const int fd = ::open(dir.file("run.txt").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        ::close(fd);
    }
    TempDir dir;
    QByteArray got;
    QString restarted;
};

TEST_P(LogFollowing, HandsOverWholeAppendedLinesAndNoticesShrinkingAndReplacing)
{
    dir.write("run.txt", "header\r\nline 1\r\nline 2 not ended");
    const QString name = QString::fromStdString(dir.file("run.txt"));
    EXPECT_EQ(LogLinesEnd(name, 2), 16); // after "line 1\r\n"
    EXPECT_EQ(LogLinesEnd(name, 9), 32); // fewer lines: the size
    EXPECT_EQ(LogLinesEnd(name + QStringLiteral(".none"), 1), -1);

    TLogFollower follower(name, LogLinesEnd(name, 2), options());
    QObject::connect(&follower, &TLogFollower::appended, [&](const QByteArray& lines) { got += lines; });
    QObject::connect(&follower, &TLogFollower::restarted, [&](const QString& why) { restarted = why; });
    follower.start();
    EXPECT_EQ(follower.polling(), GetParam());
    runEventsFor(150);
    EXPECT_EQ(got, QByteArray()); // "line 2" waits for its end

    append(" yet\r\nline 3\r\nline");
    ASSERT_TRUE(runEventsUntil([&] { return !got.isEmpty(); }, 10000));
    EXPECT_EQ(got, QByteArray("line 2 not ended yet\r\nline 3\r\n"));
    append(" 4\r\n");
    ASSERT_TRUE(runEventsUntil([&] { return got.endsWith("line 4\r\n"); }, 10000));
    EXPECT_EQ(follower.offset(), static_cast<int64_t>(dir.read("run.txt").size()));
    EXPECT_TRUE(restarted.isEmpty());

    // Truncated (a new run in the same file): read again from the start.
    ASSERT_EQ(::truncate(dir.file("run.txt").c_str(), 8), 0);
    ASSERT_TRUE(runEventsUntil([&] { return !restarted.isEmpty(); }, 10000));
    EXPECT_EQ(restarted, QStringLiteral("run.txt shrank: read again from the start"));
    EXPECT_FALSE(follower.following());

    // Replaced by another file of the same name, however long.
    restarted.clear();
    TLogFollower again(name, 8, options());
    QObject::connect(&again, &TLogFollower::restarted, [&](const QString& why) { restarted = why; });
    again.start();
    dir.write("other.txt", "header\r\nline 1\r\nline 2\r\nline 3\r\n");
    ASSERT_EQ(::rename(dir.file("other.txt").c_str(), dir.file("run.txt").c_str()), 0);
    ASSERT_TRUE(runEventsUntil([&] { return !restarted.isEmpty(); }, 10000));
    EXPECT_EQ(restarted, QStringLiteral("run.txt was replaced: read again from the start"));
}

INSTANTIATE_TEST_SUITE_P(NotifiedOrPolled, LogFollowing, ::testing::Values(false, true),
                         [](const auto& param) { return param.param ? "Polled" : "Notified"; });

TEST(EventsLog, ReadsAlarmPeriodsAndEventsAndListsDamagedLines)
{
    TempDir dir;
    EXPECT_EQ(EventsFileOf(QStringLiteral("/logs/run-0412.txt")), QStringLiteral("/logs/run-0412.events.txt"));
    EXPECT_FALSE(ReadEventsFile(QString::fromStdString(dir.file("none.events.txt"))).found);

    dir.write("run.events.txt", "Date\tTime\tEvent\tQuantity\tValue\tLevel\r\n"
                                "10/12/2026\t16:00:00.000\tLog started\t\t\t\r\n"
                                "10/12/2026\t16:40:00.125\tAlarm on\tconcentration\t0.0125\t0.01\r\n"
                                "10/12/2026\t16:41:00.000\tAlarm on\tpressure\t120\t110\r\n"
                                "10/12/2026\t16:45:00.000\tAlarm off\tconcentration\t0.009\t0.01\r\n"
                                "10/12/2026\t16:46:00.000\tbroken\r\n"
                                "1O/12/2026\t16:47:00.000\tAlarm off\tpressure\t100\t110\r\n"
                                "10/12/2026\t16:50:00.000\tAcknowledged\tpressure\t\t\r\n"
                                "10/12/2026\t16:55:00.000\tAlarm on\thumidity\t90\t80\r\n"
                                "10/12/2026\t17:00:00.000\tLog stopped\t\t\t\r\n");
    const TEventsLog log = ReadEventsFile(QString::fromStdString(dir.file("run.events.txt")), QTimeZone::utc());
    EXPECT_TRUE(log.found);
    ASSERT_EQ(log.events.size(), 7u);
    EXPECT_EQ(log.events[1].text(), QStringLiteral("Alarm on: concentration 0.0125 (level 0.01)"));
    EXPECT_EQ(log.events[0].text(), QStringLiteral("Log started"));
    const int64_t at1600 = QDateTime(QDate(2026, 12, 10), QTime(16, 0), QTimeZone::utc()).toMSecsSinceEpoch();
    EXPECT_EQ(log.events[1].time.utc, at1600 + 40 * 60000 + 125);
    ASSERT_EQ(log.problems.size(), 2u);
    EXPECT_EQ(log.problems[0].text(), QStringLiteral("line 6: 3 fields, 6 expected; skipped"));
    EXPECT_EQ(log.problems[1].text(), QStringLiteral("line 7: \"1O/12/2026\" is not a date (dd/mm/yyyy); skipped"));

    const std::vector<TAlarmPeriod> periods = log.alarmPeriods();
    ASSERT_EQ(periods.size(), 3u);
    EXPECT_EQ(periods[0].quantity, QStringLiteral("concentration"));
    EXPECT_EQ(periods[0].from, at1600 + 40 * 60000 + 125);
    EXPECT_EQ(periods[0].to, at1600 + 45 * 60000);
    EXPECT_EQ(periods[1].quantity, QStringLiteral("pressure")); // until acknowledged
    EXPECT_EQ(periods[1].to, at1600 + 50 * 60000);
    EXPECT_EQ(periods[2].quantity, QStringLiteral("humidity")); // still on at the end
    EXPECT_EQ(periods[2].to, at1600 + 60 * 60000);

    dir.write("bad.events.txt", std::string("\x01\x02 not an events file\n"));
    const TEventsLog bad = ReadEventsFile(QString::fromStdString(dir.file("bad.events.txt")));
    EXPECT_TRUE(bad.events.empty());
    ASSERT_FALSE(bad.problems.empty());
    EXPECT_EQ(bad.problems[0].kind, TLogProblem::UnknownHeader);
}
