// The review window on made-up log files: columns against clock time, the outage as a gap, the report of
// bad lines, and a cancelled load that shows what came before.
#include "app/ReviewWindow.h"
#include "chart/StripChart.h"
#include "record/ReadingFormat.h"
#include "record/RegionalSettings.h"
#include "support/EventLoopHelper.h"
#include "support/TempDir.h"
#include "tools/SampleLog.h"

#include <QLabel>
#include <QMenu>
#include <QPushButton>
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

    TReviewWindow window(QString::fromStdString(dir.file("run-0412.txt")));
    window.show();
    ASSERT_TRUE(loaded(window));
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
