// The window's strip chart: points per mode, legend, storage, saving as a bitmap.
#include "WindowFixture.h"
#include "app/SaveDialog.h"
#include "chart/StripChart.h"
#include "support/EventLoopHelper.h"

#include <QAction>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <cmath>

namespace {
std::vector<double> values(QCPGraph* graph)
{
    std::vector<double> result;
    for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it)
        result.push_back(it->value);
    return result;
}
} // namespace

using Chart = WindowTest;

TEST_F(Chart, LegendReadsTheChannelsTitlesAtStart)
{
    startSimulator();
    createForm();
    QCPLegend* legend = form->Chart().chart()->legend;
    ASSERT_EQ(legend->itemCount(), 6);
    const char* titles[] = {"Sample Counts", "Reference Counts", "Conc * 10000",
                            "Temperature",   "Pressure * 10",    "Humidity"};
    for (int i = 0; i < 6; ++i) {
        auto* item = qobject_cast<QCPPlottableLegendItem*>(legend->item(i));
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->plottable()->name(), QString::fromLatin1(titles[i]));
    }
    EXPECT_EQ(form->Chart().series(4)->pen().color(), QColor(255, 0, 128));
    EXPECT_EQ(form->Chart().series(0)->pen().color(), QColor(Qt::red));
    EXPECT_EQ(form->Chart().series(0)->pen().width(), 1);
    EXPECT_TRUE(form->Chart().series(0)->adaptiveSampling());
    EXPECT_EQ(form->Chart().chart()->xAxis->label(), QStringLiteral("Elapsed Time (Seconds)"));
    EXPECT_EQ(form->Chart().chart()->yAxis->label(), QStringLiteral("Digital Counts"));
}

// The window adds "Split into lanes" (off: the one plot) and "Open log file..." after the chart's own entries;
// the latter asks for a log file.
TEST_F(Chart, MenuOffersLanesAndOpeningALogFile)
{
    startSimulator();
    createForm();
    const QList<QAction*> actions = form->Chart().contextMenu()->actions();
    QAction* open = actions.last();
    EXPECT_EQ(open->text(), QStringLiteral("Open log file..."));
    QAction* lanes = actions[actions.size() - 2];
    EXPECT_EQ(lanes->text(), QStringLiteral("Split into lanes"));
    EXPECT_TRUE(lanes->isCheckable());
    EXPECT_FALSE(lanes->isChecked());
    EXPECT_FALSE(form->Chart().lanes());
    lanes->trigger();
    EXPECT_TRUE(form->Chart().lanes());
    lanes->trigger();
    EXPECT_FALSE(form->Chart().lanes());
    QString asked;
    whenModal([&](QWidget* modal) {
        asked = modal->windowTitle();
        modal->close();
    });
    open->trigger();
    EXPECT_EQ(asked, QStringLiteral("Open log files"));
}

TEST_F(Chart, FirstPointComesAboutOneIntervalAfterTheStart)
{
    createFormWithLine("N3 51234 49876 120 0.0123 24 101.3");
    ASSERT_TRUE(runEventsUntil([&] { return form->Chart().series(0)->dataCount() >= 1; }, 3000));
    const double x = form->Chart().series(0)->data()->constBegin()->key;
    EXPECT_GE(x, 0.95);
    EXPECT_LT(x, 1.6);
}

TEST_F(Chart, PointsPerModeAndModeChangesKeepThem)
{
    createFormWithLine("N3 51234 49876 120 0.0123 24 101.3");
    ASSERT_TRUE(waitForPanel("pnlSample", "51234"));
    form->GraphicsTimer()->setInterval(30);
    ASSERT_TRUE(runEventsUntil([&] { return form->Chart().series(0)->dataCount() >= 3; }, 3000));
    EXPECT_EQ(values(form->Chart().series(0)).front(), 51234);
    EXPECT_EQ(values(form->Chart().series(1)).front(), 49876);
    EXPECT_DOUBLE_EQ(values(form->Chart().series(2)).front(), 123);
    EXPECT_EQ(values(form->Chart().series(3)).front(), 24);
    EXPECT_DOUBLE_EQ(values(form->Chart().series(4)).front(), 1013);
    EXPECT_EQ(form->Chart().series(5)->dataCount(), 0);
    for (int i = 0; i < 5; ++i)
        EXPECT_GE(form->Chart().data(i).capacity(), 1000000) << i;
    EXPECT_EQ(form->Chart().data(5).capacity(), 0);

    action("ModeConcentrationItem")->trigger();
    const int channelsPoints = form->Chart().series(0)->dataCount();
    EXPECT_GE(channelsPoints, 3);
    sendLine("N 0.0021 0.5 0.25 3.14159 3.14159 21 101.3 45");
    ASSERT_TRUE(runEventsUntil([&] { return form->Chart().series(5)->dataCount() >= 2; }, 3000));
    EXPECT_GT(form->Chart().series(0)->dataCount(), channelsPoints);
    EXPECT_EQ(values(form->Chart().series(0)).front(), 51234); // not cleared
    EXPECT_DOUBLE_EQ(values(form->Chart().series(0)).back(), 21);
    EXPECT_DOUBLE_EQ(values(form->Chart().series(1)).back(), 5000);
    EXPECT_DOUBLE_EQ(values(form->Chart().series(2)).back(), 2500);
    EXPECT_EQ(values(form->Chart().series(5)).back(), 45);
    // The readout names each reading by the mode it was read in.
    const double countKey = form->Chart().series(0)->data()->constBegin()->key;
    const double concKey = (form->Chart().series(0)->data()->constEnd() - 1)->key;
    EXPECT_EQ(form->Chart().seriesTitleAt(0, countKey), QStringLiteral("Sample Counts"));
    EXPECT_EQ(form->Chart().seriesTitleAt(0, concKey), QStringLiteral("Conc 1 * 10000"));
    EXPECT_EQ(form->Chart().series(0)->name(), QStringLiteral("Conc 1 * 10000"));

    action("ModeChannelsItem")->trigger();
    sendLine("N3 51234 49876 120 0.0123 24 101.3");
    const int concPoints = form->Chart().series(5)->dataCount();
    const int before = form->Chart().series(0)->dataCount();
    ASSERT_TRUE(runEventsUntil([&] { return form->Chart().series(0)->dataCount() >= before + 3; }, 3000));
    EXPECT_LE(form->Chart().series(5)->dataCount(), concPoints + 1); // at most a tick under way at the switch
    EXPECT_EQ(values(form->Chart().series(0)).back(), 51234);

    // The lines break at each change: no line joins a count to a concentration.
    const auto& points = form->Chart().data(0);
    int breaks = 0;
    for (auto it = points.constBegin(); it + 1 != points.constEnd(); ++it) {
        breaks += std::isnan(it->value) ? 1 : 0;
        if (!std::isnan(it->value) && !std::isnan((it + 1)->value)) {
            EXPECT_EQ(it->value > 1000, (it + 1)->value > 1000) << it->key;
        }
    }
    EXPECT_EQ(breaks, 2);

    // x in seconds since the start, ascending.
    double last = -1;
    for (auto it = form->Chart().series(0)->data()->constBegin(); it != form->Chart().series(0)->data()->constEnd();
         ++it) {
        EXPECT_GE(it->key, last);
        last = it->key;
    }
    EXPECT_LT(last, 10);
    EXPECT_TRUE(reports.empty());
}

TEST_F(Chart, DoubleClickSavesTheChartAsABitmap)
{
    startSimulator();
    createForm();
    QWidget* chart = find<QWidget>("Chart1");
    saveAnswers = {QString::fromStdString(dir.file("chart"))};
    QTest::mouseDClick(chart, Qt::LeftButton);
    ASSERT_EQ(seenDialogs.size(), 1u);
    EXPECT_EQ(seenDialogs[0].name, QStringLiteral("SaveDialog2"));
    EXPECT_EQ(seenDialogs[0].defaultExt, QStringLiteral("bmp"));
    EXPECT_EQ(seenDialogs[0].filter, QStringLiteral("Bitmaps (*.bmp)|*.bmp"));
    EXPECT_EQ(seenDialogs[0].options, int(TSaveDialog::OverwritePrompt));
    QFile file(QString::fromStdString(dir.file("chart.bmp")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.read(2), QByteArray("BM"));
    const QImage image(file.fileName(), "BMP");
    EXPECT_EQ(image.size(), chart->size());
    EXPECT_TRUE(reports.empty());
}

TEST_F(Chart, CancelWritesNothingAndAWriteFailureIsReported)
{
    startSimulator();
    createForm();
    QWidget* chart = find<QWidget>("Chart1");
    QTest::mouseDClick(chart, Qt::LeftButton); // no answer: Cancel
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir.file("chart.bmp"))));
    EXPECT_TRUE(reports.empty());

    saveAnswers = {QString::fromStdString(dir.file("missing/chart.bmp"))};
    QTest::mouseDClick(chart, Qt::LeftButton);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("missing/chart.bmp"), std::string::npos) << reports[0];
}
