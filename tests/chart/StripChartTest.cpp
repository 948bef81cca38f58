// The strip chart's drawing through the pyramid at any zoom, gaps, bulk loading, the clock-time axis and
// saving pictures.
#include "ChartFixture.h"
#include "chart/ChartAlarmMarks.h"
#include "chart/ChartBands.h"
#include "chart/ColumnReducer.h"
#include "support/TempDir.h"

#include <QFile>
#include <QFontInfo>
#include <QImage>
#include <gtest/gtest.h>

namespace {
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
    // The axes' arithmetic to the bit, as the drawing does it inline.
    const QCPRange range = plot.xAxis->range(), values = plot.yAxis->range();
    const TKeyToPixel map{range.lower, range.size(), double(area.width()), double(area.left())};
    for (auto it = chart.data(0).constBegin(); it != chart.data(0).constEnd(); ++it) {
        ASSERT_EQ(map.pixel(it->key), plot.xAxis->coordToPixel(it->key)) << what;
        const double y = area.bottom() - (it->value - values.lower) / values.size() * area.height();
        ASSERT_TRUE(y == plot.yAxis->coordToPixel(it->value) || std::isnan(it->value)) << what;
    }
}
} // namespace

// At the window's design size and at its minimum, the whole run of every data set; zoomed into the first one
// at several widths and offsets, down to fewer points than columns.
TEST(StripChartDrawing, PyramidDrawingMatchesDrawingEveryPointAtAnyZoom)
{
    for (const QSize size : {QSize(992, 445), QSize(735, 300)})
        for (const TDataSet& set : DataSets) {
            TSizedChart sized(size, set);
            expectDrawingsAgree(sized.chart, set.name + (", width " + std::to_string(size.width())));
        }
    TSizedChart sized(QSize(992, 445), DataSets[0]);
    const QCPRange values = sized.plot.yAxis->range();
    const double zooms[][2] = {{0.1, 0.05}, {0.1, 0.25}, {0.01, 0.3}, {0.003, 0.39}, {0.0002, 0.5}, {1e-5, 0.61}};
    for (const auto& [part, offset] : zooms) {
        const double lower = 1800 * offset;
        sized.chart.hold(QCPRange(lower, lower + 1800 * part), values);
        expectDrawingsAgree(sized.chart, "zoomed to " + std::to_string(part) + " at " + std::to_string(offset));
    }
}

// Antialiased lines composed on the screen's transparent buffer differ by a few levels from those drawn on
// the bitmap's white. Cached labels sit a fraction of a pixel away from directly drawn ones. A hidden series,
// a held view and the readout are saved as shown.
TEST(StripChartDrawing, SavedBitmapHoldsThePictureOnTheScreen)
{
    TempDir dir;
    const QString file = QString::fromStdString(dir.file("chart.bmp"));
    for (const bool antialiased : {true, false}) {
        TSizedChart sized(QSize(992, 445), {"walks", 100000, [](int t) { return t * 0.25; }}, antialiased);
        sized.plot.setPlottingHint(QCP::phCacheLabels, false);
        sized.plot.show();
        if (!antialiased) {
            sized.chart.setSeriesShown(1, false);
            sized.chart.hold(QCPRange(100, 9000), QCPRange(-10, 150));
        }
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
    std::array<double, 5> v{};                                           // Channels mode: Series6 gets no point
    for (const double x : {1.0, 2.0, 3.0, -3.5, 4.0, 5.0, -5.5, -5.6}) { // negative: a gap at -x
        v.fill(x == 1 ? NAN : x);
        x < 0 ? chart.addGap(-x) : chart.addPoints(x, v);
    }
    for (int s = 0; s < TStripChart::SeriesCount; ++s) {
        std::vector<double> keys; // of gaps negative
        for (auto it = chart.data(s).constBegin(); it != chart.data(s).constEnd(); ++it)
            keys.push_back(std::isnan(it->value) ? -it->key : it->key);
        EXPECT_EQ(keys, (s < 5 ? std::vector<double>{-1, 2, 3, -3.5, 4, 5, -5.5} : std::vector<double>{})) << s;
    }
    EXPECT_EQ(plot.xAxis->range(), QCPRange(1, 5));
    EXPECT_EQ(plot.yAxis->range(), valueRange(2, 5));
}

// Gaps as shaded bands: ten minutes in three days still takes MinimumWidth pixels, at the whole view and
// zoomed in; a wide band keeps its width; an open band (an outage going on) reaches the right edge.
TEST(StripChartBands, ShowAtLeastThreePixelsWideAtEveryZoom)
{
    const QRgb Shade = qRgb(10, 200, 120);
    QCustomPlot plot;
    plot.resize(800, 400);
    plot.setViewport(QRect(0, 0, 800, 400));
    TStripChart chart(&plot, 1);
    for (int m = 0; m <= 3 * 1440; m += 10)
        chart.addPoints(m * 60.0, std::array<double, 1>{double(m % 7)});
    auto* bands = new TChartBands(&plot, QColor(Shade));
    bands->addBand(1000 * 60.0, 1010 * 60.0); // ten minutes
    bands->addBand(3000 * 60.0, 3600 * 60.0); // ten hours
    bands->addBand(2000 * 60.0, 2000 * 60.0); // none at all
    plot.layer(QStringLiteral("axes"))->setVisible(false);
    const auto blueColumns = [&](double key) { // width of the blue run through the band at `key`
        const QImage image = plot.toPixmap().toImage();
        const int y = plot.axisRect()->rect().top() + 3; // above the lines: the value axis keeps a margin
        const int x = qRound(plot.xAxis->coordToPixel(key));
        int left = x, right = x;
        while (left > 0 && image.pixel(left - 1, y) == Shade)
            --left;
        while (right + 1 < image.width() && image.pixel(right + 1, y) == Shade)
            ++right;
        return image.pixel(x, y) == Shade ? right - left + 1 : 0;
    };
    for (const double zoom : {1.0, 0.01}) {
        SCOPED_TRACE(zoom);
        if (zoom != 1.0)
            chart.hold(QCPRange(995 * 60.0, 995 * 60.0 + 4320 * 60 * zoom), plot.yAxis->range());
        plot.replot();
        const std::vector<QRectF> rects = bands->bandRects();
        ASSERT_FALSE(rects.empty());
        for (const QRectF& r : rects)
            EXPECT_GE(r.width(), TChartBands::MinimumWidth);
        EXPECT_GE(blueColumns(1005 * 60.0), TChartBands::MinimumWidth);
    }
    chart.resetView();
    plot.replot();
    ASSERT_EQ(bands->bandRects().size(), 3u);
    EXPECT_NEAR(bands->bandRects()[1].width(),
                plot.xAxis->coordToPixel(3600 * 60.0) - plot.xAxis->coordToPixel(3000 * 60.0), 1);
    EXPECT_GE(blueColumns(2000 * 60.0), TChartBands::MinimumWidth);

    bands->openBand(4000 * 60.0);
    EXPECT_TRUE(bands->bandOpen());
    plot.replot();
    EXPECT_EQ(bands->bandRects().back().right(), plot.axisRect()->rect().right() + 1.0);
    bands->closeBand(4100 * 60.0);
    EXPECT_FALSE(bands->bandOpen());
    EXPECT_EQ(bands->bands().back().to, 4100 * 60.0);
    bands->clear();
    EXPECT_TRUE(bands->bandRects().empty());
}

// The value axis keeps 5 % of its range free on both sides: no line lies on the frame, and a constant series
// at the others' minimum stays in sight; a constant series alone is in the middle.
TEST(StripChartAxes, ValueAxisKeepsAMarginAboveAndBelow)
{
    QCustomPlot plot;
    TStripChart chart(&plot, 2);
    for (int x = 0; x < 10; ++x)
        chart.addPoints(x, std::array<double, 2>{0, 10.0 * x});
    EXPECT_EQ(plot.yAxis->range(), valueRange(0, 90));
    chart.setSeriesShown(1, false);
    EXPECT_LT(plot.yAxis->range().lower, 0);
    EXPECT_GT(plot.yAxis->range().upper, 0);
    EXPECT_EQ(plot.yAxis->range().center(), 0);
}

// A review window's use: eight series on clock time, loaded in chunks, one of them out of order.
TEST(StripChartReview, LoadsSeriesInBulkOnAClockTimeAxis)
{
    QCustomPlot plot;
    TStripChart chart(&plot, 8);
    chart.setKeyAxis(TStripChart::TKeyAxis::ClockTime);
    ASSERT_EQ(chart.seriesCount(), 8);
    EXPECT_TRUE(plot.xAxis->ticker().dynamicCast<QCPAxisTickerDateTime>());
    chart.reserve(3000);
    const size_t pointBytes = chart.data(7).pointBytes();
    const double start =
        static_cast<double>(QDateTime(QDate(2012, 3, 5), QTime(14, 7, 9, 42)).toMSecsSinceEpoch()) / 1000;
    std::vector<QCPGraphData> chunk;
    for (const int first : {0, 2000, 1000}) {
        chunk.clear();
        for (int i = first; i < first + 1000; ++i)
            chunk.emplace_back(start + i, i == 1500 ? NAN : 7.0 * i);
        chunk.emplace_back(NAN, 1.0); // no key: left out
        for (int s = 0; s < 8; ++s)
            chart.addSeriesPoints(s, chunk);
    }
    EXPECT_EQ(chart.data(7).pointBytes(), pointBytes); // no allocation within the reserved room
    ASSERT_EQ(chart.data(7).size(), 3000);
    EXPECT_TRUE(std::is_sorted(chart.data(7).constBegin(), chart.data(7).constEnd(),
                               [](const QCPGraphData& a, const QCPGraphData& b) { return a.key < b.key; }));
    EXPECT_EQ(chart.data(7).pyramid().count(), 3000);
    EXPECT_EQ(plot.xAxis->range(), QCPRange(start, start + 2999));
    EXPECT_EQ(plot.yAxis->range(), valueRange(0, 7.0 * 2999));
    EXPECT_EQ(chart.keyText(start + 2), QStringLiteral("05/03/2012 14:07:11.042"));
    const TChartReading reading = chart.readingNear(start + 1500.2); // a gap: the nearest reading next to it
    EXPECT_EQ(reading.key, start + 1501);
}

// PNG, PDF and SVG at the size shown, by the name's extension; a file that cannot be written says which and why.
TEST(StripChartPicture, SavesTheChartAsShownInThreeFormats)
{
    TempDir dir;
    TSizedChart sized(QSize(640, 360), {"walks", 2000, [](int t) { return t * 1.0; }});
    sized.plot.show();
    const QString base = QString::fromStdString(dir.file("chart"));
    sized.chart.savePicture(base + QStringLiteral(".png"));
    EXPECT_EQ(QImage(base + QStringLiteral(".png")).size(), QSize(640, 360));
    sized.chart.savePicture(base + QStringLiteral(".pdf"));
    sized.chart.savePicture(base + QStringLiteral(".svg"));
    for (const auto& [suffix, start] : {std::pair{".pdf", "%PDF"}, std::pair{".svg", "<?xml"}}) {
        QFile file(base + QLatin1String(suffix));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << suffix;
        EXPECT_TRUE(file.read(5).startsWith(start)) << suffix;
    }
    QFile svg(base + QStringLiteral(".svg"));
    ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
    const QByteArray drawing = svg.readAll();
    EXPECT_TRUE(drawing.contains("viewBox=\"0 0 640 360\""));
    // Text at its size and in its font on the screen; the dotted grid as lines, not pictures.
    const QFont tickFont = sized.plot.xAxis->tickLabelFont();
    EXPECT_TRUE(drawing.contains(QStringLiteral("font-family=\"%1\" font-size=\"%2\"")
                                     .arg(QFontInfo(tickFont).family())
                                     .arg(QFontInfo(tickFont).pixelSize())
                                     .toUtf8()))
        << drawing.left(4000).toStdString();
    EXPECT_FALSE(drawing.contains("<image"));
    EXPECT_TRUE(drawing.contains("stroke-dasharray"));
    try {
        sized.chart.savePicture(QString::fromStdString(dir.file("missing/chart.svg")));
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("missing/chart.svg"), std::string::npos) << error.what();
    }
}

// The grids are drawn as QCPGrid draws them: dotted and solid lines, the sub grid, a zero line, ticks at the
// ends of the ranges, at several sizes.
TEST(StripChartDrawing, GridLooksAsQCustomPlotDrawsIt)
{
    const struct {
        QSize size;
        QCPRange keys, values;
    } cases[] = {{{992, 445}, {0, 1000}, {0, 50000}},
                 {{735, 300}, {-3.7, 12.2}, {-1.5, 2.5}},
                 {{1920, 1080}, {12.25, 812.5}, {-7, 3}},
                 {{640, 361}, {1e6, 1e6 + 1}, {0.001, 0.0013}},
                 {{801, 399}, {-100, 0}, {-50000, 1e5}}};
    for (const auto& c : cases) {
        TSizedChart sized(c.size, {"none", 0, [](int) { return 0.0; }});
        QCustomPlot& plot = sized.plot;
        sized.chart.hold(c.keys, c.values);
        plot.xAxis->grid()->setZeroLinePen(QPen(Qt::darkGreen, 0, Qt::SolidLine));
        for (const char* layer : {"background", "main", "axes", "legend", "overlay"})
            plot.layer(QString::fromLatin1(layer))->setVisible(false);
        const QImage laid = plot.toPixmap().toImage();
        qsizetype dots = 0;
        for (int y = 0; y < laid.height(); ++y)
            for (int x = 0; x < laid.width(); ++x)
                dots += laid.pixel(x, y) != qRgb(255, 255, 255);
        EXPECT_GT(dots, c.size.width()) << c.size.width();
        plot.layer(QStringLiteral("grid objects"))->setVisible(true);
        plot.layer(QStringLiteral("grid"))->setVisible(false);
        const QImage stroked = plot.toPixmap().toImage();
        EXPECT_EQ(laid, stroked) << c.size.width() << " x " << c.size.height();
    }
}

namespace {
int paintWarnings = 0;
void countPaintWarnings(QtMsgType, const QMessageLogContext&, const QString& text)
{
    paintWarnings += text.contains(QLatin1String("paint buffer returned inactive painter")) ? 1 : 0;
}
} // namespace

// A chart squeezed to no height (a window made smaller than its minimum) draws nothing while points
// arrive, instead of a warning per point; given room, it draws them.
TEST(StripChartDrawing, AChartWithNoRoomWaitsForRoomToDraw)
{
    QCustomPlot plot;
    TStripChart chart(&plot);
    plot.resize(400, 0);
    plot.show();
    QCoreApplication::processEvents();
    const QtMessageHandler previous = qInstallMessageHandler(countPaintWarnings);
    paintWarnings = 0;
    const std::array<double, 5> v{1, 2, 3, 4, 5};
    for (int x = 0; x < 20; ++x) {
        chart.addPoints(x, v);
        QCoreApplication::processEvents();
    }
    qInstallMessageHandler(previous);
    EXPECT_EQ(paintWarnings, 0);
    plot.resize(400, 300);
    QCoreApplication::processEvents();
    EXPECT_EQ(plot.xAxis->range(), QCPRange(0, 19));
}

// Alarm levels are dashed lines of their series' colour at the level's value, drawn only while the series is
// shown; alarm spans shade the plot's height from their start to their end, an open one to the newest point.
TEST(StripChartAlarmMarks, LevelsFollowTheirSeriesAndSpansShadeTheAlarmTimes)
{
    const TDataSet flat{"flat", 101, [](int t) { return t * 1.0; }, [](int s, int) { return 100.0 * s; }};
    TSizedChart sized(QSize(600, 400), flat);
    QCustomPlot& plot = sized.plot;
    TChartAlarmMarks marks(sized.chart);
    marks.setLevels({{2, 250}, {7, 1}, {1, NAN}}); // no series 7; a level that is no number
    ASSERT_EQ(marks.levels().size(), 1u);
    plot.replot();
    const QColor colour = sized.chart.series(2)->pen().color();
    const int y = qRound(plot.yAxis->coordToPixel(250));
    const auto rowHas = [&](const QImage& image, int row, const QColor& c) { // the most of the rows about it
        int most = 0;
        for (int r = row - 1; r <= row + 1; ++r) {
            int n = 0;
            for (int x = 0; x < image.width(); ++x)
                n += image.pixelColor(x, r) == c;
            most = std::max(most, n);
        }
        return most;
    };
    QImage image = plot.toPixmap(600, 400).toImage();
    const int drawn = rowHas(image, y, colour);
    EXPECT_GT(drawn, 100);                                           // across the plot
    EXPECT_LT(drawn, qRound(plot.xAxis->axisRect()->width() * 0.9)); // with gaps: dashed
    sized.chart.setSeriesShown(2, false);
    plot.replot(); // the marks follow at each replot
    image = plot.toPixmap(600, 400).toImage();
    EXPECT_LT(rowHas(image, y, colour), 5); // a legend pixel at most
    EXPECT_EQ(marks.levelsShown(), 0);
    sized.chart.setSeriesShown(2, true);

    // A span from 20 to 40, and one open from 70: up to the newest point, 100, then 110 once it is added.
    const auto shaded = [&](double key) {
        const QImage shot = plot.toPixmap(600, 400).toImage();
        const QColor c = shot.pixelColor(qRound(plot.xAxis->coordToPixel(key)), qRound(plot.yAxis->coordToPixel(50)));
        return c.red() > c.green() + 10;
    };
    marks.beginSpan(20);
    marks.beginSpan(25); // already open
    marks.endSpan(40);
    marks.endSpan(45); // none open
    marks.beginSpan(70);
    ASSERT_EQ(marks.spans().size(), 2u);
    EXPECT_EQ(marks.spans()[0].from, 20);
    EXPECT_EQ(marks.spans()[0].to, 40);
    EXPECT_TRUE(marks.spanOpen());
    EXPECT_FALSE(shaded(10));
    EXPECT_TRUE(shaded(30));
    EXPECT_FALSE(shaded(55));
    EXPECT_TRUE(shaded(95));
    sized.chart.showLast(60); // keys 50 .. 110 once 110 is there
    std::array<double, 6> v{0, 100, 200, 300, 400, 500};
    sized.chart.addPoints(110, v);
    plot.replot();
    EXPECT_TRUE(shaded(105));
    marks.clearSpans();
    EXPECT_TRUE(marks.spans().empty());
    EXPECT_FALSE(shaded(95));
}
