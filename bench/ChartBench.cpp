// The strip chart with 6 series of N points against a bare QCustomPlot whose six default graphs share the
// same point containers, in one run:
// - adding a point to 6 series (median and worst below the reserved size) and the memory of the pyramids;
// - redrawing the whole run, a tenth, a thousandth and a millionth of it (median), both plots showing the
//   same key and value ranges;
// - one wheel step over the plot (the readout showing), from the event to the painted frame; the bare plot
//   zooms with its own wheel interaction.
// Each measure alternates between the two plots, so that both see the same machine. Times are wall-clock
// medians, with the median CPU time of the thread (which does all the drawing) beside them: on a busy
// machine the wall-clock time also counts the waits for a core.
// Arguments: optional point counts per series (the views and the wheel for the largest); `--picture FILE`
// saves the largest chart as a PNG.
#include "chart/ColumnBorders.h"
#include "chart/StripChart.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QWheelEvent>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

std::string count(int n)
{
    return n >= 1000000 ? std::to_string(n / 1000000) + " M"
           : n >= 1000  ? std::to_string(n / 1000) + " k"
                        : std::to_string(n);
}

// Six random walks of different step sizes around their own levels.
class TWalks {
public:
    std::array<double, TStripChart::SeriesCount> next()
    {
        std::array<double, TStripChart::SeriesCount> v;
        for (size_t s = 0; s < v.size(); ++s) {
            FState = FState * 6364136223846793005ULL + 1442695040888963407ULL;
            const double step = (static_cast<double>(FState >> 54) - 511.5) / 512.0; // -1..1, mean 0
            FLevel[s] += step * static_cast<double>(s + 1) * 0.05;
            v[s] = FLevel[s];
        }
        return v;
    }

private:
    unsigned long long FState = 42;
    std::array<double, 6> FLevel{100, 200, 300, 400, 500, 600};
};

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Wall-clock and thread CPU milliseconds of one run, or the medians of several.
struct TTimes {
    double wall = 0, cpu = 0;
};
class TStopwatch {
public:
    TStopwatch() : FCpu(threadCpuMs()) { FWall.start(); }
    TTimes elapsed() const { return {static_cast<double>(FWall.nsecsElapsed()) / 1e6, threadCpuMs() - FCpu}; }

private:
    QElapsedTimer FWall;
    double FCpu;
};
TTimes medians(const std::vector<TTimes>& runs)
{
    std::vector<double> wall, cpu;
    for (const TTimes& t : runs)
        wall.push_back(t.wall), cpu.push_back(t.cpu);
    return {median(wall), median(cpu)};
}
double worstWall(const std::vector<TTimes>& runs)
{
    double worst = 0;
    for (const TTimes& t : runs)
        worst = std::max(worst, t.wall);
    return worst;
}
std::string cell(const TTimes& t)
{
    char text[64];
    snprintf(text, sizeof text, "%.2f ms (CPU %.2f)", t.wall, t.cpu);
    return text;
}

// Medians of `repeats` runs of each of `runs`, taken in turns.
std::vector<TTimes> inTurns(int repeats, const std::vector<std::function<TTimes()>>& runs)
{
    std::vector<std::vector<TTimes>> times(runs.size());
    for (int r = 0; r < repeats; ++r)
        for (size_t i = 0; i < runs.size(); ++i)
            times[i].push_back(runs[i]());
    std::vector<TTimes> result;
    for (const auto& t : times)
        result.push_back(medians(t));
    return result;
}

TTimes redraw(QCustomPlot& plot)
{
    const TStopwatch watch;
    plot.replot(QCustomPlot::rpImmediateRefresh);
    return watch.elapsed();
}

// Notes when a plot has painted itself.
class TPaintWatch : public QObject {
public:
    bool painted = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        painted = painted || event->type() == QEvent::Paint;
        return false;
    }
};

// One wheel step at the middle of the plot, up or down, until the frame is painted.
TTimes wheelStep(QCustomPlot& plot, TPaintWatch& watch, bool in)
{
    const QPointF at = plot.axisRect()->rect().center();
    QWheelEvent event(at, plot.mapToGlobal(at), QPoint(), QPoint(0, in ? 120 : -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    watch.painted = false;
    const TStopwatch stopwatch;
    QApplication::sendEvent(&plot, &event);
    while (!watch.painted)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return stopwatch.elapsed();
}

struct TChartRun {
    std::unique_ptr<QCustomPlot> plot = std::make_unique<QCustomPlot>();
    std::unique_ptr<QCustomPlot> bare = std::make_unique<QCustomPlot>();
    std::unique_ptr<TStripChart> chart;
    int points = 0;
    double addMedianUs = 0, addWorstMs = 0;
    int addsOverMs = 0; // below the reserved size
};

// Fills a chart with n points per series, timing every addition, and a bare plot sharing its points.
void fill(TChartRun& run, int n)
{
    run.points = n;
    run.chart = std::make_unique<TStripChart>(run.plot.get());
    TWalks walks;
    std::vector<double> addUs;
    addUs.reserve(static_cast<size_t>(n));
    double worst = 0;
    for (int i = 0; i < n; ++i) {
        const auto v = walks.next();
        QElapsedTimer t;
        t.start();
        run.chart->addPoints(i * 1.0, v);
        const double us = static_cast<double>(t.nsecsElapsed()) / 1e3;
        addUs.push_back(us);
        if (i % TReservingGraphData::GrowthStep != 0) { // below the reserved size
            worst = std::max(worst, us);
            run.addsOverMs += us > 1000 ? 1 : 0;
        }
    }
    run.addMedianUs = median(addUs);
    run.addWorstMs = worst / 1000.0;
    for (int s = 0; s < TStripChart::SeriesCount; ++s)
        run.bare->addGraph()->setData(run.chart->series(s)->data());
}

void show(TChartRun& run, QSize size)
{
    for (QCustomPlot* p : {run.plot.get(), run.bare.get()}) {
        p->resize(size);
        p->show();
    }
    QCoreApplication::processEvents();
}

void printStorage(const TChartRun& run)
{
    size_t pyramid = 0, points = 0;
    for (int s = 0; s < TStripChart::SeriesCount; ++s) {
        pyramid += run.chart->data(s).pyramidBytes();
        points += run.chart->data(s).pointBytes();
    }
    printf("| %s | %.3f us / %.3f ms (%d over 1 ms) | %.1f MB / %.0f MB = %.2f %% |\n", count(run.points).c_str(),
           run.addMedianUs, run.addWorstMs, run.addsOverMs, static_cast<double>(pyramid) / 1048576.0,
           static_cast<double>(points) / 1048576.0, 100.0 * static_cast<double>(pyramid) / static_cast<double>(points));
    fflush(stdout);
}

// Both plots show `part` of the run, starting at 45 % of it (the whole run from its start). Each redraw moves
// the view by a pixel one way or the other, so that nothing drawn before can be used again; the strip chart
// is also redrawn without a move (it keeps what it reduced while the view and the points stay).
void printView(TChartRun& run, QSize size, double part, const char* name)
{
    const double last = run.points - 1.0;
    const double lower = part >= 1 ? 0 : 0.45 * last;
    run.chart->showWholeRun();
    const QCPRange keys(lower, lower + part * last), values = run.plot->yAxis->range();
    const double pixel = keys.size() / run.plot->axisRect()->width();
    int moves = 0;
    const auto moved = [&](QCustomPlot& plot, bool ours) {
        const QCPRange shown(keys.lower + (moves % 2) * pixel, keys.upper + (moves % 2) * pixel);
        if (ours)
            run.chart->hold(shown, values);
        else
            plot.xAxis->setRange(shown), plot.yAxis->setRange(values);
        moves += ours ? 0 : 1;
        return redraw(plot);
    };
    for (QCustomPlot* p : {run.plot.get(), run.bare.get()})
        moved(*p, p == run.plot.get()), p->replot(QCustomPlot::rpImmediateRefresh); // layout and caches settle
    const auto begin = run.chart->data(0).findBegin(keys.lower, false),
               end = run.chart->data(0).findEnd(keys.upper, false);
    const int repeats = part >= 0.1 && run.points >= 5000000 ? 7 : 21;
    const auto times = inTurns(repeats, {[&] { return moved(*run.plot, true); }, [&] { return redraw(*run.plot); },
                                         [&] { return moved(*run.bare, false); }});
    const TTimes &ours = times[0], &again = times[1], &bare = times[2];
    printf("| %s | %s | %d x %d | %s | %s | %s | %.1f x (CPU %.1f x) |\n", name, count(int(end - begin)).c_str(),
           size.width(), size.height(), cell(ours).c_str(), cell(again).c_str(), cell(bare).c_str(),
           bare.wall / ours.wall, bare.cpu / ours.cpu);
    fflush(stdout);
}

// The reduction of the whole run to pixel columns alone, without drawing: each series finding its own
// column borders against the borders found once and shared by the six series, in turns.
void printReduction(const TChartRun& run, int width)
{
    const double last = run.points - 1.0;
    QVector<QCPGraphData> out;
    TColumnBorders borders;
    int moves = 0;
    const auto map = [&] {
        const double pixel = last / width;
        return TKeyToPixel{(moves++ % 2) * pixel, last, double(width), 0, 0.5};
    };
    const auto perSeries = [&] {
        const TKeyToPixel m = map();
        const TStopwatch watch;
        for (int s = 0; s < TStripChart::SeriesCount; ++s) {
            const TReservingGraphData& d = run.chart->data(s);
            out.clear();
            TColumnReducer(&*d.constBegin(), d.pyramid(), m, out).reduce(0, d.size(), width);
        }
        return watch.elapsed();
    };
    const auto shared = [&] {
        const TKeyToPixel m = map();
        const TStopwatch watch;
        const TReservingGraphData& first = run.chart->data(0);
        borders.find(&*first.constBegin(), 0, first.size(), m);
        for (int s = 0; s < TStripChart::SeriesCount; ++s) {
            const TReservingGraphData& d = run.chart->data(s);
            out.clear();
            TColumnReducer(&*d.constBegin(), d.pyramid(), m, out).reduceSpans(borders.spans());
        }
        return watch.elapsed();
    };
    const auto times = inTurns(21, {perSeries, shared});
    printf("| %s | %d | %s | %s | %.2f x (CPU %.2f x) |\n", count(run.points).c_str(), width, cell(times[0]).c_str(),
           cell(times[1]).c_str(), times[0].wall / times[1].wall, times[0].cpu / times[1].cpu);
    fflush(stdout);
}

void printWheel(TChartRun& run, QSize size)
{
    run.chart->showWholeRun();
    run.bare->rescaleAxes();
    run.bare->xAxis->setRange(run.plot->xAxis->range());
    run.bare->setInteraction(QCP::iRangeZoom, true);
    run.bare->axisRect()->setRangeZoom(Qt::Horizontal);
    run.bare->axisRect()->setRangeZoomFactor(0.85);
    TPaintWatch ourWatch, bareWatch;
    run.plot->installEventFilter(&ourWatch);
    run.bare->installEventFilter(&bareWatch);
    // The pointer over the plot: the readout shows and its layer gets its buffer.
    const QPointF at = run.plot->axisRect()->rect().center();
    QMouseEvent move(QEvent::MouseMove, at, run.plot->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(run.plot.get(), &move);
    QCoreApplication::processEvents();
    std::vector<TTimes> ours, bare;
    for (int step = 0; step < 16; ++step) {
        ours.push_back(wheelStep(*run.plot, ourWatch, step % 2 == 0));
        bare.push_back(wheelStep(*run.bare, bareWatch, step % 2 == 0));
    }
    run.plot->removeEventFilter(&ourWatch);
    run.bare->removeEventFilter(&bareWatch);
    printf("| %s | %d x %d | %s / %.2f ms | %s / %.1f ms |\n", count(run.points).c_str(), size.width(), size.height(),
           cell(medians(ours)).c_str(), worstWall(ours), cell(medians(bare)).c_str(), worstWall(bare));
    fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    std::vector<int> sizes;
    const char* picture = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--picture") == 0 && i + 1 < argc)
            picture = argv[++i];
        else {
            char* end = nullptr;
            const long n = std::strtol(argv[i], &end, 10);
            if (*end != '\0' || n <= 0 || n > std::numeric_limits<int>::max()) {
                fprintf(stderr, "usage: %s [POINTS_PER_SERIES...] [--picture FILE]\n", argv[0]);
                return std::strcmp(argv[i], "--help") == 0 ? 0 : 64;
            }
            sizes.push_back(static_cast<int>(n));
        }
    }
    if (sizes.empty())
        sizes = {1000000, 10000000};
    std::sort(sizes.begin(), sizes.end());
    const QSize screens[] = {QSize(992, 445), QSize(1920, 1080)};

    std::vector<std::unique_ptr<TChartRun>> runs;
    printf("| Points per series | Add a point to 6 series: median / worst below the reserved size | Pyramids / "
           "points' own storage |\n|---|---|---|\n");
    for (const int n : sizes) {
        runs.push_back(std::make_unique<TChartRun>());
        fill(*runs.back(), n);
        printStorage(*runs.back());
        if (runs.size() > 1 && runs.size() < sizes.size())
            runs.erase(runs.begin()); // keep the smallest and the largest
    }

    printf(
        "\n| View | Points shown per series | Chart size | Strip chart redraw, view moved | Strip chart redraw, same "
        "view | Bare QCustomPlot redraw, view moved | Bare / strip chart, view moved "
        "|\n|---|---|---|---|---|---|---|\n");
    for (const QSize size : screens) {
        if (runs.size() > 1) {
            show(*runs.front(), size);
            printView(*runs.front(), size, 1, "Whole run");
        }
        TChartRun& run = *runs.back();
        show(run, size);
        const std::pair<double, const char*> views[] = {
            {1, "Whole run"}, {0.1, "A tenth"}, {0.01, "A hundredth"}, {0.001, "A thousandth"}, {1e-6, "A millionth"}};
        for (const auto& [part, name] : views)
            printView(run, size, part, name);
    }

    printf("\n| Points per series | Columns | Reducing the whole run of 6 series, each finding its column borders | "
           "Column borders found once, shared by the 6 series | Per series / shared |\n|---|---|---|---|---|\n");
    for (const QSize size : screens)
        printReduction(*runs.back(), size.width());

    printf("\n| Points per series | Chart size | One wheel step, event to painted frame: median / worst | Bare "
           "QCustomPlot's own wheel zoom: median / worst |\n|---|---|---|---|\n");
    for (const QSize size : screens) {
        show(*runs.back(), size);
        printWheel(*runs.back(), size);
    }

    if (picture) {
        TChartRun& run = *runs.back();
        run.chart->showWholeRun();
        run.plot->resize(992, 445);
        run.plot->replot(QCustomPlot::rpImmediateRefresh);
        run.plot->toPixmap().save(QString::fromLocal8Bit(picture), "PNG");
    }
    return 0;
}
