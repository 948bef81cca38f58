// Navigating the strip chart with the mouse and the keyboard: gestures, views, the readout, hiding series,
// the right-click menu, lanes and the statistics of a range.
#include "ChartFixture.h"
#include "chart/ChartLanes.h"
#include "chart/StatisticsDialog.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>

namespace {
// 1001 readings a second apart; series s at 10 s + (t mod 50): 0 to 99 over all, Series6 highest.
const TDataSet Ramps{"ramps", 1001, [](int t) { return double(t); }, [](int s, int t) { return 10.0 * s + t % 50; }};
constexpr double Step = 0.85; // TChartNavigator::ZoomStep

QCPRange scaled(const QCPRange& r, double factor, double centre)
{
    return QCPRange(centre + (r.lower - centre) * factor, centre + (r.upper - centre) * factor);
}
QCPRange shifted(const QCPRange& r, double by)
{
    return QCPRange(r.lower + by, r.upper + by);
}
} // namespace

class ChartNavigation : public ::testing::Test {
protected:
    void SetUp() override
    {
        plot.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&plot));
        plot.replot();
    }

    QRect area() const { return plot.axisRect()->rect(); }
    QPoint at(double x, double y) const // parts of the plot area
    {
        return {area().left() + int(x * area().width()), area().top() + int(y * area().height())};
    }
    void wheel(QPoint where, int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWheelEvent event(where, plot.mapToGlobal(where), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(&plot, &event);
    }
    void drag(QPoint from, QPoint to, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::mousePress(&plot, Qt::LeftButton, modifiers, from);
        QTest::mouseMove(&plot, (from + to) / 2);
        QTest::mouseMove(&plot, to);
        QTest::mouseRelease(&plot, Qt::LeftButton, modifiers, to);
    }
    void hover(QPoint where)
    {
        QMouseEvent event(QEvent::MouseMove, where, plot.mapToGlobal(where), Qt::NoButton, Qt::NoButton,
                          Qt::NoModifier);
        QApplication::sendEvent(&plot, &event);
    }
    void clickLegend(int series)
    {
        QTest::mouseClick(&plot, Qt::LeftButton, {}, plot.legend->item(series)->rect().center());
    }
    QPoint pixelOf(double key) const { return {int(std::lround(plot.xAxis->coordToPixel(key))), at(0.5, 0.5).y()}; }
    void addPoint(double x, double value)
    {
        const std::array<double, 6> values{value, value, value, value, value, value};
        chart.addPoints(x, values);
    }

    TSizedChart sized{QSize(800, 400), Ramps};
    QCustomPlot& plot = sized.plot;
    TStripChart& chart = sized.chart;
};

TEST_F(ChartNavigation, EachGestureMovesTheRangesAsDescribed)
{
    using TRanges = std::pair<QCPRange, QCPRange>;
    const double keyAt = plot.xAxis->pixelToCoord(at(0.75, 0).x()), valueAt = plot.yAxis->pixelToCoord(at(0, 0.25).y());
    const QRect rect(at(0.2, 0.1), at(0.6, 0.7));
    const QCPRange rectKeys(plot.xAxis->pixelToCoord(rect.left()), plot.xAxis->pixelToCoord(rect.right()));
    const QCPRange rectValues(plot.yAxis->pixelToCoord(rect.bottom()), plot.yAxis->pixelToCoord(rect.top()));
    const double keysPerPixel = plot.xAxis->range().size() / area().width();
    const double valuesPerPixel = plot.yAxis->range().size() / area().height();
    struct TGesture {
        const char* name;
        std::function<void()> act;
        std::function<TRanges(const QCPRange& k, const QCPRange& v)> expected;
        bool holds = true;
    };
    const TGesture gestures[] = {
        {"wheel up zooms the keys in around the pointer", [&] { wheel(at(0.75, 0.25), 120); },
         [&](auto k, auto v) {
             return TRanges{scaled(k, Step, keyAt), v};
         }},
        {"two steps down zoom them out", [&] { wheel(at(0.75, 0.25), -240); },
         [&](auto k, auto v) {
             return TRanges{scaled(k, 1 / (Step * Step), keyAt), v};
         }},
        {"Shift+wheel zooms the values", [&] { wheel(at(0.75, 0.25), 120, Qt::ShiftModifier); },
         [&](auto k, auto v) {
             return TRanges{k, scaled(v, Step, valueAt)};
         }},
        {"a left drag pans both axes", [&] { drag(at(0.5, 0.5), at(0.5, 0.5) + QPoint(80, -40)); },
         [&](auto k, auto v) {
             return TRanges{shifted(k, -80 * keysPerPixel), shifted(v, -40 * valuesPerPixel)};
         }},
        {"a Ctrl+left drag zooms to its rectangle",
         [&] { drag(rect.topLeft(), rect.bottomRight(), Qt::ControlModifier); },
         [&](auto, auto) {
             return TRanges{rectKeys, rectValues};
         }},
        {"+ zooms the keys in around their middle", [&] { QTest::keyClick(&plot, Qt::Key_Plus); },
         [&](auto k, auto v) {
             return TRanges{scaled(k, Step, k.center()), v};
         }},
        {"- zooms them out", [&] { QTest::keyClick(&plot, Qt::Key_Minus); },
         [&](auto k, auto v) {
             return TRanges{scaled(k, 1 / Step, k.center()), v};
         }},
        {"Right pans the keys by a tenth", [&] { QTest::keyClick(&plot, Qt::Key_Right); },
         [&](auto k, auto v) {
             return TRanges{shifted(k, k.size() / 10), v};
         }},
        {"Down pans the values by a tenth", [&] { QTest::keyClick(&plot, Qt::Key_Down); },
         [&](auto k, auto v) {
             return TRanges{k, shifted(v, -v.size() / 10)};
         }},
        {"a click moves nothing", [&] { QTest::mouseClick(&plot, Qt::LeftButton, {}, at(0.5, 0.5)); },
         [&](auto k, auto v) {
             return TRanges{k, v};
         },
         false},
        {"the wheel below the plot moves nothing", [&] { wheel(QPoint(at(0.5, 0).x(), area().bottom() + 20), 120); },
         [&](auto k, auto v) {
             return TRanges{k, v};
         },
         false},
    };
    for (const TGesture& gesture : gestures) {
        chart.showWholeRun();
        const QCPRange keys = plot.xAxis->range(), values = plot.yAxis->range();
        gesture.act();
        const auto [k, v] = gesture.expected(keys, values);
        EXPECT_NEAR(plot.xAxis->range().lower, k.lower, 1e-9 * k.size()) << gesture.name;
        EXPECT_NEAR(plot.xAxis->range().upper, k.upper, 1e-9 * k.size()) << gesture.name;
        EXPECT_NEAR(plot.yAxis->range().lower, v.lower, 1e-9 * v.size()) << gesture.name;
        EXPECT_NEAR(plot.yAxis->range().upper, v.upper, 1e-9 * v.size()) << gesture.name;
        EXPECT_EQ(chart.view(), gesture.holds ? TStripChart::TView::Held : TStripChart::TView::WholeRun)
            << gesture.name;
    }
}

TEST_F(ChartNavigation, ViewsSurvivePointsArrivingAndHomeOrAFreshRunShowTheWholeRun)
{
    QSignalSpy changes(&chart, &TStripChart::viewChanged);
    wheel(at(0.5, 0.5), 120);
    const QCPRange keys = plot.xAxis->range(), values = plot.yAxis->range();
    addPoint(1001, 500);
    chart.addGap(1001.5); // a mode change
    addPoint(1002, -5);
    EXPECT_EQ(chart.view(), TStripChart::TView::Held);
    EXPECT_EQ(plot.xAxis->range(), keys);
    EXPECT_EQ(plot.yAxis->range(), values);
    QTest::keyClick(&plot, Qt::Key_Home);
    EXPECT_EQ(chart.view(), TStripChart::TView::WholeRun);
    EXPECT_EQ(plot.xAxis->range(), QCPRange(0, 1002));
    EXPECT_EQ(plot.yAxis->range(), valueRange(-5, 500));

    // The last minute scrolls with the newest point; its values scale to what it shows.
    chart.showLast(60);
    EXPECT_EQ(plot.xAxis->range(), QCPRange(942, 1002));
    EXPECT_EQ(plot.yAxis->range(), valueRange(-5, 500));
    for (int t = 1003; t < 1070; ++t)
        addPoint(t, t % 2 ? 3 : 7);
    EXPECT_EQ(plot.xAxis->range(), QCPRange(1009, 1069));
    EXPECT_EQ(plot.yAxis->range(), valueRange(3, 7));
    wheel(at(0.5, 0.5), 120);
    EXPECT_EQ(chart.view(), TStripChart::TView::Held);
    chart.resetView(); // back to what was followed
    EXPECT_EQ(chart.view(), TStripChart::TView::Last);
    EXPECT_EQ(chart.lastSpan(), 60);
    QTest::keyClick(&plot, Qt::Key_Escape);
    EXPECT_EQ(chart.view(), TStripChart::TView::WholeRun);

    chart.showLast(600);
    chart.clear(); // a fresh run
    EXPECT_EQ(chart.view(), TStripChart::TView::WholeRun);
    addPoint(1, 10);
    addPoint(2, 20);
    EXPECT_EQ(plot.xAxis->range(), QCPRange(1, 2));
    EXPECT_GE(changes.count(), 7);

    // Zooming further than the axes can resolve is refused.
    chart.hold(QCPRange(1, 1 + 1e-13), QCPRange(0, 1));
    EXPECT_EQ(chart.view(), TStripChart::TView::WholeRun);
}

TEST_F(ChartNavigation, ReadoutShowsTheNearestReadingOfTheShownSeries)
{
    EXPECT_FALSE(chart.readout().valid);
    wheel(at(0.5, 0.5), 2400); // many pixels a reading
    const double middle = plot.xAxis->range().center();
    const double key = std::floor(middle);
    hover(pixelOf(key + 0.3));
    ASSERT_TRUE(chart.readout().valid);
    EXPECT_EQ(chart.readout().key, key);
    std::vector<std::pair<int, double>> expected;
    for (int s = 0; s < 6; ++s)
        expected.emplace_back(s, 10.0 * s + int(key) % 50);
    EXPECT_EQ(chart.readout().values, expected);
    hover(pixelOf(key + 0.7));
    EXPECT_EQ(chart.readout().key, key + 1);

    clickLegend(1);
    EXPECT_FALSE(chart.seriesShown(1));
    hover(pixelOf(key + 0.3));
    expected.erase(expected.begin() + 1);
    EXPECT_EQ(chart.readout().values, expected);

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&plot, &leave);
    EXPECT_FALSE(chart.readout().valid);

    chart.setTimeOrigin(QDateTime(QDate(2026, 12, 9), QTime(13, 52, 50, 574)));
    EXPECT_EQ(chart.keyText(500), QStringLiteral("500.000 s, 09/12/2026 14:01:10.574"));
    // Titles that change at a key: each reading keeps the title in force at its key; a fresh run the last.
    chart.setSeriesTitle(0, QStringLiteral("Conc"), 500);
    chart.setSeriesTitle(0, QStringLiteral("Counts"), 700);
    EXPECT_EQ(chart.seriesTitleAt(0, 499), QStringLiteral("Sample Counts"));
    EXPECT_EQ(chart.seriesTitleAt(0, 500), QStringLiteral("Conc"));
    EXPECT_EQ(chart.seriesTitleAt(0, 800), QStringLiteral("Counts"));
    EXPECT_EQ(chart.series(0)->name(), QStringLiteral("Counts"));
    chart.clear();
    EXPECT_EQ(chart.seriesTitleAt(0, 499), QStringLiteral("Counts"));
}

TEST_F(ChartNavigation, AHiddenSeriesIsDimmedInTheLegendAndLeftOutOfScaling)
{
    const QRect entry = plot.legend->item(5)->rect();
    const auto hasColour = [&](QColor colour) {
        const QImage image = plot.grab().toImage();
        for (int y = entry.top(); y <= entry.bottom(); ++y)
            for (int x = entry.left(); x <= entry.right(); ++x)
                if (image.pixelColor(x, y) == colour)
                    return true;
        return false;
    };
    const QColor colour = chart.series(5)->pen().color();
    ASSERT_TRUE(hasColour(colour));
    EXPECT_EQ(plot.yAxis->range(), valueRange(0, 99));
    clickLegend(5);
    EXPECT_FALSE(chart.seriesShown(5));
    EXPECT_EQ(plot.yAxis->range(), valueRange(0, 89));
    plot.replot();
    EXPECT_FALSE(hasColour(colour));
    chart.showLast(10); // readings 990 to 1000
    EXPECT_EQ(plot.yAxis->range(), valueRange(0, 89));
    clickLegend(5);
    EXPECT_EQ(plot.yAxis->range(), valueRange(0, 99));
    EXPECT_TRUE(chart.seriesShown(5));
    // A double-click on an entry is clicks on it, not the chart's double-click (which saves a bitmap).
    QSignalSpy doubleClicks(&chart, &TStripChart::doubleClicked);
    QTest::mouseDClick(&plot, Qt::LeftButton, {}, plot.legend->item(2)->rect().center());
    EXPECT_EQ(doubleClicks.count(), 0);
    QTest::mouseDClick(&plot, Qt::LeftButton, {}, at(0.5, 0.5));
    EXPECT_EQ(doubleClicks.count(), 1);
}

TEST_F(ChartNavigation, MenuHoldsTheViewsAndItsCommands)
{
    QMenu* menu = chart.contextMenu();
    QStringList texts;
    for (QAction* action : menu->actions())
        if (!action->isSeparator())
            texts << action->text();
    EXPECT_EQ(texts, (QStringList{"Whole run", "Last 1 min", "Last 10 min", "Last 1 h", "Last 6 h", "Last 24 h", "Held",
                                  "Reset view", "Statistics of a range...", "Save picture as..."}));
    const auto action = [&](const char* text) {
        for (QAction* a : menu->actions())
            if (a->text() == QLatin1String(text))
                return a;
        return static_cast<QAction*>(nullptr);
    };
    action("Last 1 h")->trigger();
    EXPECT_EQ(chart.view(), TStripChart::TView::Last);
    EXPECT_EQ(chart.lastSpan(), 3600);
    emit menu->aboutToShow();
    EXPECT_TRUE(action("Last 1 h")->isChecked());
    EXPECT_FALSE(action("Held")->isEnabled());

    QAction windowEntry(QStringLiteral("Window's entry"));
    chart.addMenuAction(&windowEntry);
    EXPECT_EQ(menu->actions().last(), &windowEntry); // after the chart's own

    TempDir dir;
    QStringList answers{QString::fromStdString(dir.file("chart.png")), QString(),
                        QString::fromStdString(dir.file("missing/chart.pdf"))};
    chart.setPictureFileChooser([&] { return answers.takeFirst(); });
    QSignalSpy problems(&chart, &TStripChart::problem);
    for (int i = 0; i < 3; ++i)
        action("Save picture as...")->trigger();
    EXPECT_EQ(QImage(QString::fromStdString(dir.file("chart.png"))).size(), plot.size());
    ASSERT_EQ(problems.count(), 1);
    EXPECT_TRUE(problems[0][0].toString().contains(QStringLiteral("missing/chart.pdf")));

    // The picture is of the chart alone: the same with the pointer over the plot as without; the readout
    // shows again after it.
    const QString over = QString::fromStdString(dir.file("over.png")),
                  away = QString::fromStdString(dir.file("away.png"));
    hover(at(0.5, 0.5));
    ASSERT_TRUE(chart.readout().valid);
    chart.savePicture(over);
    EXPECT_TRUE(plot.layer(QStringLiteral("readout"))->children().constFirst()->visible());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&plot, &leave);
    chart.savePicture(away);
    ASSERT_FALSE(QImage(away).isNull());
    EXPECT_TRUE(QImage(over) == QImage(away));

    QContextMenuEvent event(QContextMenuEvent::Mouse, at(0.5, 0.5), plot.mapToGlobal(at(0.5, 0.5)));
    QApplication::sendEvent(&plot, &event);
    EXPECT_TRUE(menu->isVisible());
    menu->hide();
}

// Lanes: one per series, stacked over the time axis with equal heights and the same left and right edges; a
// hidden series' lane leaves its height to the others. Every gesture moves every lane's time axis; each value
// axis fits its series. Off again, the series are back on the one plot.
TEST_F(ChartNavigation, LanesStackTheSeriesOverOneTimeAxis)
{
    QAction* entry = addLanesEntry(chart);
    EXPECT_FALSE(chart.lanes());
    EXPECT_EQ(chart.laneRect(0), nullptr);
    entry->trigger();
    ASSERT_TRUE(chart.lanes());
    plot.resize(800, 600);
    plot.replot();
    const auto at = [&](double x, double y) { // parts of the lanes' area
        const QRect area = chart.plotRect();
        return QPoint(area.left() + int(x * area.width()), area.top() + int(y * area.height()));
    };
    const auto check = [&](const std::vector<int>& shown) -> int {
        const QRect time = plot.axisRect()->rect();
        int top = 0, height = -1;
        for (int s = 0; s < 6; ++s) {
            SCOPED_TRACE(s);
            QCPAxisRect* lane = chart.laneRect(s);
            if (!lane) {
                ADD_FAILURE() << "no lane";
                return -1;
            }
            EXPECT_EQ(chart.series(s)->keyAxis()->axisRect(), lane);
            EXPECT_EQ(chart.series(s)->valueAxis()->axisRect(), lane);
            const bool visible = std::find(shown.begin(), shown.end(), s) != shown.end();
            EXPECT_EQ(lane->visible(), visible);
            if (!visible)
                continue;
            EXPECT_EQ(lane->left(), time.left());
            EXPECT_EQ(lane->right(), time.right());
            EXPECT_GT(lane->top(), top);
            top = lane->bottom();
            if (height >= 0) {
                EXPECT_NEAR(lane->height(), height, 1);
            }
            height = lane->height();
        }
        EXPECT_LE(top, time.top());
        EXPECT_LE(time.bottom() - top, 12); // the time axis right under the last lane shown
        EXPECT_GT(height * int(shown.size()), plot.height() * 6 / 10); // the lanes take most of the chart
        return height;
    };
    const int six = check({0, 1, 2, 3, 4, 5});
    for (int s = 0; s < 6; ++s)
        EXPECT_EQ(chart.laneRect(s)->axis(QCPAxis::atLeft)->range(), valueRange(10 * s, 10 * s + 49));

    clickLegend(2);
    clickLegend(4);
    plot.replot();
    const int four = check({0, 1, 3, 5});
    EXPECT_NEAR(four, six * 6 / 4, 6); // the lanes' spacing aside
    EXPECT_EQ(chart.plotRect(), chart.laneRect(0)->rect() | chart.laneRect(5)->rect());

    const auto keysInStep = [&] {
        for (int s = 0; s < 6; ++s)
            if (chart.laneRect(s)->axis(QCPAxis::atBottom)->range() != plot.xAxis->range())
                return false;
        return true;
    };
    const QCPRange whole = plot.xAxis->range();
    wheel(at(0.25, 0.1), 480);
    EXPECT_EQ(chart.view(), TStripChart::TView::Held);
    EXPECT_LT(plot.xAxis->range().size(), whole.size() * 0.6);
    EXPECT_TRUE(keysInStep());
    // Zoomed in to about 2 ramps' lengths: each lane still fits its series, the values the held keys show.
    drag(at(0.5, 0.5), at(0.6, 0.8));
    EXPECT_TRUE(keysInStep());
    const QCPRange keys = plot.xAxis->range();
    wheel(at(0.5, 0.5), 2400);
    EXPECT_TRUE(keysInStep());
    const QCPRange narrow = plot.xAxis->range();
    const double first = std::ceil(narrow.lower), last = std::floor(narrow.upper);
    ASSERT_LT(last - first, 49);
    const auto ramp = [](double key) { return std::fmod(key, 50); };
    if (ramp(first) < ramp(last)) {
        EXPECT_EQ(chart.laneRect(3)->axis(QCPAxis::atLeft)->range(), valueRange(30 + ramp(first), 30 + ramp(last)));
    }
    // Shift+wheel zooms the values of the lane under the pointer alone, which keeps them while the keys move.
    const QRect lane0 = chart.laneRect(0)->rect();
    const QCPRange fitted0 = chart.laneRect(0)->axis(QCPAxis::atLeft)->range();
    const QCPRange fitted3 = chart.laneRect(3)->axis(QCPAxis::atLeft)->range();
    wheel(lane0.center(), 240, Qt::ShiftModifier);
    const QCPRange zoomed0 = chart.laneRect(0)->axis(QCPAxis::atLeft)->range();
    EXPECT_LT(zoomed0.size(), fitted0.size() * 0.8);
    EXPECT_EQ(chart.laneRect(3)->axis(QCPAxis::atLeft)->range(), fitted3);
    wheel(at(0.5, 0.5), -120);
    EXPECT_EQ(chart.laneRect(0)->axis(QCPAxis::atLeft)->range(), zoomed0);
    QTest::keyClick(&plot, Qt::Key_Home);
    EXPECT_TRUE(keysInStep());
    EXPECT_EQ(plot.xAxis->range(), whole);
    EXPECT_NE(keys, whole);
    EXPECT_EQ(chart.laneRect(0)->axis(QCPAxis::atLeft)->range(), valueRange(0, 49)); // fitted again

    // The readout reads every shown lane, a dot on each at its value.
    hover(at(0.5, 0.5));
    ASSERT_TRUE(chart.readout().valid);
    EXPECT_EQ(chart.readout().values.size(), 4u);

    // The picture shows the lanes: a line of Series4's colour in its lane.
    TempDir dir;
    const QString name = QString::fromStdString(dir.file("lanes.png"));
    chart.savePicture(name);
    const QImage picture(name);
    const QRect lane4 = chart.laneRect(3)->rect();
    int inLane = 0;
    for (int y = lane4.top(); y <= lane4.bottom(); ++y)
        for (int x = lane4.left(); x <= lane4.right(); ++x)
            inLane += picture.pixelColor(x, y) == chart.series(3)->pen().color();
    EXPECT_GT(inLane, lane4.width());

    entry->trigger();
    EXPECT_FALSE(chart.lanes());
    EXPECT_EQ(chart.laneRect(0), nullptr);
    EXPECT_EQ(chart.series(0)->keyAxis(), plot.xAxis);
    EXPECT_EQ(chart.series(5)->valueAxis(), plot.yAxis);
    EXPECT_EQ(plot.plotLayout()->rowCount(), 3);
    plot.replot();
    EXPECT_EQ(chart.plotRect(), plot.axisRect()->rect());
    EXPECT_GT(plot.axisRect()->height(), plot.height() / 2);
    EXPECT_EQ(plot.yAxis->range(), valueRange(0, 99));
}

// A Shift+drag marks a range of keys; the statistics window lists every series over it, hidden ones marked, and
// copies its table as TAB-separated text. The menu's entry takes the range shown.
TEST_F(ChartNavigation, AShiftDragShowsTheStatisticsOfTheRangeMarked)
{
    for (int t = 1001; t < 1100; ++t) {
        if (t == 1050)
            chart.addGap(1049.5);
        addPoint(t, t == 1020 ? std::numeric_limits<double>::quiet_NaN() : 1e6 + t % 7);
    }
    chart.showWholeRun();
    clickLegend(1);
    plot.replot(); // the value axis' labels may move the plot's left edge
    EXPECT_EQ(plot.findChild<TStatisticsDialog*>(), nullptr);
    drag(pixelOf(990), pixelOf(1060), Qt::ShiftModifier);
    auto* dialog = plot.findChild<TStatisticsDialog*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    const TRangeStatistics& stats = dialog->statistics();
    const double pixel = plot.xAxis->range().size() / plot.axisRect()->width();
    EXPECT_NEAR(stats.from, 990, 2 * pixel);
    EXPECT_NEAR(stats.to, 1060, 2 * pixel);
    ASSERT_EQ(stats.series.size(), 6u);
    for (int s = 0; s < 6; ++s) {
        SCOPED_TRACE(s);
        const TSeriesStatistics& series = stats.series[s];
        EXPECT_EQ(series.title, chart.series(s)->name());
        EXPECT_EQ(series.shown, s != 1); // listed, but marked
        std::vector<double> values;
        for (const QCPGraphData& p : *chart.series(s)->data())
            if (p.key >= stats.from && p.key <= stats.to && std::isfinite(p.value))
                values.push_back(p.value);
        ASSERT_EQ(series.readings, values.size());
        EXPECT_EQ(series.first, values.front());
        EXPECT_EQ(series.last, values.back());
        EXPECT_EQ(series.minimum, *std::min_element(values.begin(), values.end()));
        double sum = 0;
        for (double v : values)
            sum += v;
        EXPECT_NEAR(series.mean, sum / double(values.size()), 1e-6);
    }
    const auto* table = dialog->findChild<QTableWidget*>(QStringLiteral("StatisticsTable"));
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->item(0, 5)->text(), QString::number(stats.series[0].mean, 'g', 6)); // mean, readably
    EXPECT_EQ(table->item(0, 5)->toolTip(), StatisticsRow(stats.series[0])[5]);          // and whole
    // The gap and the NaN are no readings: readings 990 to 1060 but 1020.
    EXPECT_EQ(stats.series[0].readings, size_t(std::floor(stats.to)) - size_t(std::ceil(stats.from)) + 1 - 1);

    QApplication::clipboard()->clear();
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("StatisticsCopy")), Qt::LeftButton);
    const QString copied = QApplication::clipboard()->text();
    EXPECT_EQ(copied, dialog->text());
    const QStringList lines = copied.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3 + 1 + 6);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Start\t")));
    EXPECT_EQ(lines[3], StatisticsColumns().join(QLatin1Char('\t')));
    for (int s = 0; s < 6; ++s)
        EXPECT_EQ(lines[4 + s], StatisticsRow(stats.series[s]).join(QLatin1Char('\t')));
    EXPECT_TRUE(lines[5].startsWith(chart.series(1)->name() + QStringLiteral("\tno\t")));

    // The menu's entry: the range shown, in the same window.
    chart.showLast(60);
    for (QAction* action : chart.contextMenu()->actions())
        if (action->objectName() == QLatin1String("StatisticsItem"))
            action->trigger();
    EXPECT_EQ(plot.findChildren<TStatisticsDialog*>().size(), 1);
    EXPECT_EQ(dialog->statistics().from, plot.xAxis->range().lower);
    EXPECT_EQ(dialog->statistics().series[0].readings, 61u); // both ends inside
    dialog->close();
}
