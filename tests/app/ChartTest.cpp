// The strip chart: points per mode, legend, storage, saving as a bitmap, gaps, and drawing through the
// min/max pyramid against drawing every point.
#include "ColumnReducer.h"
#include "EventLoopHelper.h"
#include "SaveDialog.h"
#include "StripChart.h"
#include "TempDir.h"
#include "WindowFixture.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <climits>
#include <random>

namespace {
std::vector<double> values(QCPGraph* graph)
{
    std::vector<double> result;
    for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it)
        result.push_back(it->value);
    return result;
}

// A strip chart on a plot of its own, lines drawn without antialiasing.
struct TSizedChart {
    QCustomPlot plot;
    std::unique_ptr<TStripChart> chart;

    explicit TSizedChart(QSize size)
    {
        plot.resize(size);
        plot.setViewport(QRect(QPoint(), size)); // hidden: no resize event sets it
        chart = std::make_unique<TStripChart>(&plot);
        for (int s = 0; s < TStripChart::SeriesCount; ++s)
            chart->series(s)->setAntialiased(false);
    }
};

// Feeds six series tick by tick: x of each tick, y of each series at each tick.
template <typename X, typename Y> void feed(TStripChart& chart, int ticks, X x, Y&& y)
{
    for (int t = 0; t < ticks; ++t) {
        TChartValues v;
        v.count = TStripChart::SeriesCount;
        for (int s = 0; s < v.count; ++s)
            v.y[static_cast<size_t>(s)] = y(s, t);
        chart.addPoints(x(t), v);
    }
}

// Six random walks of different step sizes.
struct TWalks {
    std::minstd_rand random;
    std::array<double, TStripChart::SeriesCount> level{0, 40, 80, 120, 160, 200};

    explicit TWalks(unsigned seed) : random(seed) {}
    double operator()(int s, int)
    {
        const double step = (static_cast<int>(random() % 2001) - 1000) * 0.0005;
        return level[static_cast<size_t>(s)] += step * (s + 1);
    }
};

struct TDataSet {
    const char* name;
    void (*fill)(TStripChart&);
};

// Ticks of a graphics timer whose interval changes during the run: bunched, spread, bunched tighter.
double changingInterval(int t)
{
    return t < 60000 ? t * 0.01 : t < 60600 ? 600 + (t - 60000) : 1200 + (t - 60600) * 0.004;
}

const TDataSet DataSets[] = {
    {"random walks, changing interval, gaps",
     [](TStripChart& c) {
         TWalks y(1);
         feed(c, 30000, changingInterval, y);
         c.addGap(300.005);
         feed(c, 30600, [](int t) { return changingInterval(t + 30000); }, y);
         c.addGap(changingInterval(60600) - 0.001);
         feed(c, 90000, [](int t) { return changingInterval(t + 60600); }, y);
     }},
    {"flat lines with a one-sample spike",
     [](TStripChart& c) {
         feed(c, 50000, [](int t) { return t * 0.1; },
              [](int s, int t) { return 100.0 * s + (t == 7001 * (s + 1) ? (s % 2 ? -47.0 : 53.0) : 0.0); });
     }},
    {"steps",
     [](TStripChart& c) {
         feed(c, 50000, [](int t) { return t * 0.5; },
              [](int s, int t) { return 100.0 * s + 30.0 * ((t / (1500 + 700 * s)) % 4); });
     }},
    {"a clock set back",
     [](TStripChart& c) {
         TWalks y(2);
         feed(c, 40000, [](int t) { return t * 0.05; }, y);
         c.addGap(1999.99);
         feed(c, 10000, [](int t) { return 1950 + t * 0.05; }, y); // 50 s back: among the points before
     }},
    {"fewer points than columns",
     [](TStripChart& c) {
         TWalks y(3);
         feed(c, 150, [](int t) { return t * 1.0; }, y);
         c.addGap(150);
         feed(c, 150, [](int t) { return 151.0 + t; }, y);
     }},
};

// Per pixel column of `area`, the top and bottom row holding `colour`; top > bottom where none does.
struct TExtent {
    int top, bottom;
    bool drawn() const { return top <= bottom; }
};
std::vector<TExtent> columnExtents(const QImage& picture, const QRect& area, QRgb colour)
{
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    std::vector<TExtent> result(static_cast<size_t>(area.width()), TExtent{area.bottom() + 1, area.top() - 1});
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = area.left(); x <= area.right(); ++x)
            if (line[x] == colour) {
                TExtent& e = result[static_cast<size_t>(x - area.left())];
                e.top = std::min(e.top, y);
                e.bottom = std::max(e.bottom, y);
            }
    }
    return result;
}

// How many rows the extent of each column of `a` reaches beyond the extents of `b` in the columns up to
// `slack` either side; a column drawn in one and not the other counts as the whole height.
int rowsBeyond(const std::vector<TExtent>& a, const std::vector<TExtent>& b, int slack, int height)
{
    int worst = 0;
    for (size_t x = 0; x < a.size(); ++x) {
        TExtent near{INT_MAX, INT_MIN};
        for (size_t n = x >= size_t(slack) ? x - size_t(slack) : 0; n <= std::min(x + size_t(slack), b.size() - 1);
             ++n)
            if (b[n].drawn())
                near = {std::min(near.top, b[n].top), std::max(near.bottom, b[n].bottom)};
        if (a[x].drawn())
            worst = std::max(worst, near.drawn() ? std::max({near.top - a[x].top, a[x].bottom - near.bottom, 0}) : height);
        else if (slack == 0 && b[x].drawn())
            worst = height;
    }
    return worst;
}

// How lines reach the pixels: segment by segment with their ends on whole pixels (QCustomPlot's fast
// polylines, drawn by a replot), or as polylines (the default, and how a saved bitmap is drawn).
enum class TLines { Segments, Polylines };

QImage render(QCustomPlot& plot, TLines lines)
{
    if (lines == TLines::Polylines)
        return plot.toPixmap().toImage();
    plot.replot();
    return plot.grab().toImage();
}

// Draws each series alone through the pyramid and through every point (adaptive sampling off) and
// returns, per series, the rows by which either drawing leaves the other, columns up to `slack` apart.
std::array<int, TStripChart::SeriesCount> drawingDifferences(TStripChart& chart, TLines lines, int slack)
{
    QCustomPlot& plot = *chart.chart();
    plot.setPlottingHint(QCP::phFastPolylines, lines == TLines::Segments);
    plot.layer(QStringLiteral("axes"))->setVisible(false); // tick marks reach into the plot
    plot.replot();
    const QRgb probe = qRgb(255, 0, 255);
    const QRect area = plot.axisRect()->rect();
    std::array<int, TStripChart::SeriesCount> worst{};
    for (int s = 0; s < TStripChart::SeriesCount; ++s) {
        for (int o = 0; o < TStripChart::SeriesCount; ++o)
            chart.series(o)->setVisible(o == s);
        QCPGraph* graph = chart.series(s);
        graph->setPen(QPen(QColor(probe), 1));
        const std::vector<TExtent> reduced = columnExtents(render(plot, lines), area, probe);
        graph->setAdaptiveSampling(false);
        const std::vector<TExtent> full = columnExtents(render(plot, lines), area, probe);
        graph->setAdaptiveSampling(true);
        worst[static_cast<size_t>(s)] = std::max(rowsBeyond(reduced, full, slack, area.height()),
                                                 rowsBeyond(full, reduced, slack, area.height()));
    }
    return worst;
}
} // namespace

using Chart = WindowTest;

TEST_F(Chart, LegendReadsTheChannelsTitlesAtStart)
{
    startSimulator();
    createForm();
    QCPLegend* legend = form->Chart().chart()->legend;
    ASSERT_EQ(legend->itemCount(), 6);
    const char* titles[] = {"Sample Counts", "Reference Counts", "Conc * 10000", "Temperature", "Pressure * 10",
                            "Humidity"};
    for (int i = 0; i < 6; ++i) {
        auto* item = qobject_cast<QCPPlottableLegendItem*>(legend->item(i));
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->plottable()->name(), QString::fromLatin1(titles[i]));
    }
    EXPECT_EQ(form->Series5->pen().color(), QColor(255, 0, 128));
    EXPECT_EQ(form->Series1->pen().color(), QColor(Qt::red));
    EXPECT_EQ(form->Series1->pen().width(), 1);
    EXPECT_TRUE(form->Series1->adaptiveSampling());
    EXPECT_EQ(form->Chart().chart()->xAxis->label(), QStringLiteral("Elapsed Time (Seconds)"));
    EXPECT_EQ(form->Chart().chart()->yAxis->label(), QStringLiteral("Digital Counts"));
}

TEST_F(Chart, FirstPointComesAboutOneIntervalAfterTheStart)
{
    createFormWithLine("N3 51234 49876 120 0.0123 24 101.3");
    ASSERT_TRUE(runEventsUntil([&] { return form->Series1->dataCount() >= 1; }, 3000));
    const double x = form->Series1->data()->constBegin()->key;
    EXPECT_GE(x, 0.95);
    EXPECT_LT(x, 1.6);
}

TEST_F(Chart, PointsPerModeAndModeChangesKeepThem)
{
    createFormWithLine("N3 51234 49876 120 0.0123 24 101.3");
    ASSERT_TRUE(waitForPanel("pnlSample", "51234"));
    form->GraphicsTimer->setInterval(30);
    ASSERT_TRUE(runEventsUntil([&] { return form->Series1->dataCount() >= 3; }, 3000));
    EXPECT_EQ(values(form->Series1).front(), 51234);
    EXPECT_EQ(values(form->Series2).front(), 49876);
    EXPECT_DOUBLE_EQ(values(form->Series3).front(), 123);
    EXPECT_EQ(values(form->Series4).front(), 24);
    EXPECT_DOUBLE_EQ(values(form->Series5).front(), 1013);
    EXPECT_EQ(form->Series6->dataCount(), 0);
    for (int i = 0; i < 5; ++i)
        EXPECT_GE(form->Chart().data(i).capacity(), 1000000) << i;
    EXPECT_EQ(form->Chart().data(5).capacity(), 0);

    action("ModeConcentrationItem")->trigger();
    const int channelsPoints = form->Series1->dataCount();
    EXPECT_GE(channelsPoints, 3);
    sendLine("N 0.0021 0.5 0.25 3.14159 3.14159 21 101.3 45");
    ASSERT_TRUE(runEventsUntil([&] { return form->Series6->dataCount() >= 2; }, 3000));
    EXPECT_GT(form->Series1->dataCount(), channelsPoints);
    EXPECT_EQ(values(form->Series1).front(), 51234); // not cleared
    EXPECT_DOUBLE_EQ(values(form->Series1).back(), 21);
    EXPECT_DOUBLE_EQ(values(form->Series2).back(), 5000);
    EXPECT_DOUBLE_EQ(values(form->Series3).back(), 2500);
    EXPECT_EQ(values(form->Series6).back(), 45);

    action("ModeChannelsItem")->trigger();
    sendLine("N3 51234 49876 120 0.0123 24 101.3");
    const int concPoints = form->Series6->dataCount();
    const int before = form->Series1->dataCount();
    ASSERT_TRUE(runEventsUntil([&] { return form->Series1->dataCount() >= before + 3; }, 3000));
    EXPECT_LE(form->Series6->dataCount(), concPoints + 1); // at most a tick under way at the switch
    EXPECT_EQ(values(form->Series1).back(), 51234);

    // x in seconds since the start, ascending.
    double last = -1;
    for (auto it = form->Series1->data()->constBegin(); it != form->Series1->data()->constEnd(); ++it) {
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


// Drawn line by line with whole-pixel ends, the pyramid's four points a column give exactly the pixels of
// every point: no tolerance. Drawn as polylines, Qt's aliased stroker keeps a segment's start when the
// segment lit no new pixel and lights a shallow segment only where it crosses a pixel centre, so the
// picture of every point depends on sub-pixel detail that four points a column cannot carry: there
// the extents agree within one column and two rows.
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
            TSizedChart sized(size);
            set.fill(*sized.chart);
            const auto exact = drawingDifferences(*sized.chart, TLines::Segments, 0);
            const auto near = drawingDifferences(*sized.chart, TLines::Polylines, 1);
            for (size_t s = 0; s < TStripChart::SeriesCount; ++s) {
                EXPECT_EQ(exact[s], 0) << set.name << ", Series" << s + 1 << ", " << size.width() << " x " << size.height();
                EXPECT_LE(near[s], 2) << set.name << ", Series" << s + 1 << ", " << size.width() << " x " << size.height();
            }
        }
}

// The screen composes antialiased lines on a transparent buffer, the bitmap draws them on white: their
// colours may differ by rounding, a few levels. Label caching is off here, as the screen's cached labels
// sit a fraction of a pixel away from directly drawn ones.
TEST(StripChartDrawing, SavedBitmapHoldsThePictureOnTheScreen)
{
    TempDir dir;
    TSizedChart sized(QSize(992, 445));
    feed(*sized.chart, 100000, [](int t) { return t * 0.25; }, TWalks(4));
    sized.plot.setPlottingHint(QCP::phCacheLabels, false);
    sized.plot.show();
    for (const bool antialiased : {true, false}) {
        for (int s = 0; s < TStripChart::SeriesCount; ++s)
            sized.chart->series(s)->setAntialiased(antialiased);
        sized.plot.replot();
        const QImage screen = sized.plot.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QString file = QString::fromStdString(dir.file("chart.bmp"));
        sized.chart->saveBitmap(file);
        const QImage saved = QImage(file, "BMP").convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(saved.size(), screen.size());
        int worst = 0;
        for (int y = 0; y < saved.height(); ++y)
            for (int x = 0; x < saved.width(); ++x) {
                const QRgb a = saved.pixel(x, y), b = screen.pixel(x, y);
                worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                  std::abs(qBlue(a) - qBlue(b))});
            }
        EXPECT_LE(worst, antialiased ? 3 : 0) << (antialiased ? "antialiased" : "aliased");
    }
}

TEST(StripChartDrawing, AOneSampleSpikeShowsAmongFlatPoints)
{
    TSizedChart sized(QSize(992, 445));
    sized.chart->series(0)->setAntialiased(true);
    const int spikeAt = 123457;
    feed(*sized.chart, 250000, [](int t) { return t * 1.0; },
         [](int s, int t) { return s == 0 && t == spikeAt ? 100.0 : 10.0 * s; });
    for (int s = 1; s < TStripChart::SeriesCount; ++s)
        sized.chart->series(s)->setVisible(false);
    const QImage image = sized.plot.toPixmap().toImage();
    const int x = qRound(sized.plot.xAxis->coordToPixel(spikeAt));
    const int tip = qRound(sized.plot.yAxis->coordToPixel(100.0));
    int reddest = 255;
    for (int dx = -1; dx <= 1; ++dx)
        for (int dy = 0; dy <= 2; ++dy)
            reddest = std::min(reddest, qGreen(image.pixel(x + dx, tip + dy)));
    EXPECT_LT(reddest, 128) << "no red near the spike's tip at " << x << ", " << tip;
}

TEST(StripChartDrawing, ColumnsFollowTheAxisArithmeticToTheLastBit)
{
    TSizedChart sized(QSize(992, 445));
    feed(*sized.chart, 10, [](int t) { return 1234.5 + t * 0.37; }, [](int, int t) { return t * 1.0; });
    sized.plot.replot();
    const QCPAxis& axis = *sized.plot.xAxis;
    const QRect rect = axis.axisRect()->rect();
    const TKeyToPixel map{axis.range().lower, axis.range().size(), double(rect.width()), double(rect.left()), 0.5};
    std::minstd_rand random(5);
    for (int i = 0; i < 10000; ++i) {
        const double key = axis.range().lower + axis.range().size() * (random() % 100001) / 100000.0;
        ASSERT_EQ(map.pixel(key), axis.coordToPixel(key)) << key;
        const qint64 column = map.column(key);
        ASSERT_EQ(column, static_cast<qint64>(std::floor(axis.coordToPixel(key) + 0.5))) << key;
        // The last key in the column is known to within a few units in the last place.
        const double last = map.lastKeyIn(column);
        ASSERT_LE(map.column(last), column) << key;
        double beyond = last;
        for (int ulp = 0; ulp < 16; ++ulp)
            beyond = std::nextafter(beyond, INFINITY);
        ASSERT_GT(map.column(beyond), column) << key;
    }
}

TEST(StripChartGap, SkipsSeriesWithoutPointsAndRepeatedGapsAndNotANumberStaysOutOfTheAxes)
{
    TSizedChart sized(QSize(992, 445));
    TStripChart& chart = *sized.chart;
    TChartValues v;
    v.count = 5; // Channels mode: Series6 gets no point
    for (int t = 0; t < 4; ++t) {
        if (t == 2)
            chart.addGap(1.5);
        v.y.fill(t % 2 ? 10.0 : 0.0);
        chart.addPoints(t, v);
    }
    chart.addGap(3.5);
    chart.addGap(3.6); // right after a gap: nothing more to break
    EXPECT_EQ(chart.data(0).size(), 6);
    EXPECT_EQ(chart.data(5).size(), 0);
    EXPECT_TRUE(std::isnan((chart.data(4).constBegin() + 2)->value));
    EXPECT_EQ(sized.plot.xAxis->range(), QCPRange(0, 3));
    EXPECT_EQ(sized.plot.yAxis->range(), QCPRange(0, 10));

    // A reading that is not a number breaks the lines too, and the value axis does not follow it.
    v.y.fill(NAN);
    chart.addPoints(4, v);
    EXPECT_EQ(sized.plot.yAxis->range(), QCPRange(0, 10));
    EXPECT_EQ(sized.plot.xAxis->range(), QCPRange(0, 4));
}

TEST(StripChartGap, BreaksTheLinesOfAllSeriesAndIsLeftOutOfTheAxisRanges)
{
    QCustomPlot plot;
    plot.resize(600, 400);
    TStripChart chart(&plot);
    TChartValues values;
    values.y = {100, 80, 60, 40, 20, 10};
    values.count = 6;
    for (double x : {1.0, 2.0})
        chart.addPoints(x, values);
    chart.addGap(3);
    for (double x : {4.0, 5.0})
        chart.addPoints(x, values);

    for (int i = 0; i < TStripChart::SeriesCount; ++i) {
        SCOPED_TRACE(i);
        std::vector<double> keys, ys;
        for (auto it = chart.series(i)->data()->constBegin(); it != chart.series(i)->data()->constEnd(); ++it) {
            keys.push_back(it->key);
            ys.push_back(it->value);
        }
        EXPECT_EQ(keys, (std::vector<double>{1, 2, 3, 4, 5}));
        EXPECT_TRUE(std::isnan(ys[2]));
    }
    EXPECT_EQ(plot.xAxis->range(), QCPRange(1, 5));
    EXPECT_EQ(plot.yAxis->range(), QCPRange(10, 100));

    // Drawn: the red line of Series1 runs between 1 and 2, and nothing runs across the gap.
    plot.replot();
    const QImage image = plot.toPixmap().toImage();
    const auto redNear = [&](double x) {
        const int px = qRound(plot.xAxis->coordToPixel(x)), py = qRound(plot.yAxis->coordToPixel(100));
        for (int dy = -2; dy <= 2; ++dy) {
            const QColor c = image.pixelColor(px, py + dy);
            if (c.red() > 200 && c.green() < 120 && c.blue() < 120)
                return true;
        }
        return false;
    };
    EXPECT_TRUE(redNear(1.5));
    EXPECT_TRUE(redNear(4.5));
    EXPECT_FALSE(redNear(3));
}
