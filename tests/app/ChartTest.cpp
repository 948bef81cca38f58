// The strip chart: points per mode, legend, storage, saving as a bitmap, gaps, drawing through the pyramid.
#include "chart/ColumnReducer.h"
#include "support/EventLoopHelper.h"
#include "app/SaveDialog.h"
#include "chart/StripChart.h"
#include "WindowFixture.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTest>
#include <QTimer>
#include <random>

namespace {
std::vector<double> values(QCPGraph* graph)
{
    std::vector<double> result;
    for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it)
        result.push_back(it->value);
    return result;
}

// Ticks, x of a tick, y of a series at a tick (random walks where none), gaps: the tick they precede and x.
struct TDataSet {
    const char* name;
    int ticks;
    double (*x)(int t);
    double (*y)(int s, int t) = nullptr;
    std::vector<std::pair<int, double>> gaps = {};
};
const TDataSet DataSets[] = {
    {"random walks, changing interval, gaps",
     150600,
     [](int t) { return t < 60000   ? t * 0.01
                        : t < 60600 ? 600 + (t - 60000)
                                    : 1200 + (t - 60600) * 0.004; },
     nullptr,
     {{30000, 300.005}, {60600, 1199.999}}},
    {"flat lines with a one-sample spike", 50000, [](int t) { return t * 0.1; },
     [](int s, int t) { return 100.0 * s + (t == 7001 * (s + 1) ? (s % 2 ? -47.0 : 53.0) : 0.0); }},
    {"steps", 50000, [](int t) { return t * 0.5; },
     [](int s, int t) { return 100.0 * s + 30.0 * ((t / (1500 + 700 * s)) % 4); }},
    {"a clock set back among the points before",
     50000,
     [](int t) { return t < 40000 ? t * 0.05 : 1950 + (t - 40000) * 0.05; },
     nullptr,
     {{40000, 1999.99}}},
    {"fewer points than columns", 300, [](int t) { return t < 150 ? t : t + 1.0; }, nullptr, {{150, 150}}},
};

// A strip chart on a hidden plot of its own, holding a data set.
struct TSizedChart {
    QCustomPlot plot;
    TStripChart chart{&plot};
    TSizedChart(QSize size, const TDataSet& set, bool antialiased = false)
    {
        plot.resize(size);
        plot.setViewport(QRect(QPoint(), size)); // hidden: no resize event sets it
        plot.setNotAntialiasedElements(antialiased ? QCP::aeNone : QCP::aePlottables);
        std::minstd_rand random(1);
        TChartValues v{{0, 40, 80, 120, 160, 200}, TStripChart::SeriesCount};
        for (int t = 0, gap = 0; t < set.ticks; ++t) {
            for (; gap < int(set.gaps.size()) && set.gaps[gap].first == t; ++gap)
                chart.addGap(set.gaps[gap].second);
            for (int s = 0; s < v.count; ++s)
                v.y[s] = set.y ? set.y(s, t) : v.y[s] + (int(random() % 2001) - 1000) * 0.0005 * (s + 1);
            chart.addPoints(set.x(t), v.values());
        }
    }
};

// Draws each series alone through the pyramid and through every point (adaptive sampling off). Segments
// with whole-pixel ends (fast polylines) light the same pixels; polylines (how a bitmap is saved) depend on
// sub-pixel detail four points a column cannot carry: their column extents agree within a column and two rows.
void expectDrawingsAgree(TStripChart& chart, const std::string& what)
{
    QCustomPlot& plot = *chart.chart();
    plot.layer(QStringLiteral("axes"))->setVisible(false); // tick marks reach into the plot
    plot.replot();
    const QRect area = plot.axisRect()->rect();
    const QRgb probe = qRgb(255, 0, 255);
    for (const bool segments : {true, false}) {
        plot.setPlottingHint(QCP::phFastPolylines, segments);
        // Per pixel column, the top and bottom row of the probe colour; top > bottom where there is none.
        const auto extents = [&] {
            const QImage image = (segments ? (plot.replot(), plot.grab()) : plot.toPixmap()).toImage();
            std::vector<std::pair<int, int>> result(area.width(), {1 << 30, -1});
            for (int y = area.top(); y <= area.bottom(); ++y)
                for (int x = area.left(); x <= area.right(); ++x)
                    if (image.pixel(x, y) == probe)
                        result[x - area.left()] = {std::min(result[x - area.left()].first, y), y};
            return result;
        };
        // How many rows the extent of column x of `a` reaches beyond those of `b` up to `slack` columns away.
        const int slack = segments ? 0 : 1;
        const auto beyond = [&](const auto& a, const auto& b, int x) {
            int top = 1 << 30, bottom = -1;
            for (int n = std::max(x - slack, 0); n <= std::min(x + slack, area.width() - 1); ++n)
                top = std::min(top, b[n].first), bottom = std::max(bottom, b[n].second);
            const auto [aTop, aBottom] = a[x];
            return aTop > aBottom ? 0 : top > bottom ? area.height() : std::max({top - aTop, aBottom - bottom, 0});
        };
        for (int s = 0; s < TStripChart::SeriesCount; ++s) {
            for (int o = 0; o < TStripChart::SeriesCount; ++o)
                chart.series(o)->setVisible(o == s);
            chart.series(s)->setPen(QPen(QColor(probe), 1));
            const auto reduced = extents();
            chart.series(s)->setAdaptiveSampling(false);
            const auto full = extents();
            chart.series(s)->setAdaptiveSampling(true);
            int worst = 0;
            for (int x = 0; x < area.width(); ++x)
                worst = std::max({worst, beyond(reduced, full, x), beyond(full, reduced, x)});
            EXPECT_LE(worst, segments ? 0 : 2)
                << what << ", Series" << s + 1 << (segments ? ", segments" : ", polylines");
        }
    }
    const QCPRange range = plot.xAxis->range();
    const TKeyToPixel map{range.lower, range.size(), double(area.width()), double(area.left())};
    for (auto it = chart.data(0).constBegin(); it != chart.data(0).constEnd(); ++it)
        ASSERT_EQ(map.pixel(it->key), plot.xAxis->coordToPixel(it->key)) << what; // the axis' arithmetic to the bit
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

    action("ModeChannelsItem")->trigger();
    sendLine("N3 51234 49876 120 0.0123 24 101.3");
    const int concPoints = form->Chart().series(5)->dataCount();
    const int before = form->Chart().series(0)->dataCount();
    ASSERT_TRUE(runEventsUntil([&] { return form->Chart().series(0)->dataCount() >= before + 3; }, 3000));
    EXPECT_LE(form->Chart().series(5)->dataCount(), concPoints + 1); // at most a tick under way at the switch
    EXPECT_EQ(values(form->Chart().series(0)).back(), 51234);

    // x in seconds since the start, ascending.
    double last = -1;
    for (auto it = form->Chart().series(0)->data()->constBegin(); it != form->Chart().series(0)->data()->constEnd(); ++it) {
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

TEST_F(Chart, PyramidDrawingMatchesDrawingEveryPointAtTheDefaultAndTheMinimumWindowSize)
{
    startSimulator();
    createForm();
    QWidget* chartWidget = find<QWidget>("Chart1");
    std::vector<QSize> sizes{chartWidget->size()};
    form->resize(form->minimumSize());
    ASSERT_TRUE(runEventsUntil([&] { return chartWidget->width() == form->minimumWidth(); }, 3000));
    sizes.push_back(chartWidget->size());
    for (const QSize& size : sizes)
        for (const TDataSet& set : DataSets) {
            TSizedChart sized(size, set);
            expectDrawingsAgree(sized.chart, set.name + (", width " + std::to_string(size.width())));
        }
}

// Antialiased lines composed on the screen's transparent buffer differ by a few levels from those drawn on
// the bitmap's white. Cached labels sit a fraction of a pixel away from directly drawn ones.
TEST(StripChartDrawing, SavedBitmapHoldsThePictureOnTheScreen)
{
    TempDir dir;
    const QString file = QString::fromStdString(dir.file("chart.bmp"));
    for (const bool antialiased : {true, false}) {
        TSizedChart sized(QSize(992, 445), {"walks", 100000, [](int t) { return t * 0.25; }}, antialiased);
        sized.plot.setPlottingHint(QCP::phCacheLabels, false);
        sized.plot.show();
        sized.plot.replot();
        const QImage screen = sized.plot.grab().toImage().convertToFormat(QImage::Format_RGB32);
        sized.chart.saveBitmap(file);
        const QImage saved = QImage(file, "BMP").convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(saved.size(), screen.size());
        int worst = 0; // of the colour channels
        for (qsizetype i = 0; i < saved.sizeInBytes(); ++i)
            worst = std::max(worst, std::abs(saved.constBits()[i] - screen.constBits()[i]));
        EXPECT_LE(worst, antialiased ? 3 : 0) << (antialiased ? "antialiased" : "aliased");
    }
}

// A gap breaks the lines of the series with points, once; so does a reading not a number. Neither moves the axes.
TEST(StripChartGap, BreaksTheLinesOfSeriesWithPointsAndStaysOutOfTheAxes)
{
    QCustomPlot plot;
    TStripChart chart(&plot);
    TChartValues v{{}, 5};                                               // Channels mode: Series6 gets no point
    for (const double x : {1.0, 2.0, 3.0, -3.5, 4.0, 5.0, -5.5, -5.6}) { // negative: a gap at -x
        v.y.fill(x == 1 ? NAN : x);
        x < 0 ? chart.addGap(-x) : chart.addPoints(x, v.values());
    }
    for (int s = 0; s < TStripChart::SeriesCount; ++s) {
        std::vector<double> keys; // of gaps negative
        for (auto it = chart.data(s).constBegin(); it != chart.data(s).constEnd(); ++it)
            keys.push_back(std::isnan(it->value) ? -it->key : it->key);
        EXPECT_EQ(keys, (s < 5 ? std::vector<double>{-1, 2, 3, -3.5, 4, 5, -5.5} : std::vector<double>{})) << s;
    }
    EXPECT_EQ(plot.xAxis->range(), QCPRange(1, 5));
    EXPECT_EQ(plot.yAxis->range(), QCPRange(2, 5));
}
