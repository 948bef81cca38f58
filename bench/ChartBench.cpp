// The strip chart with 6 series of N points: time to add one point to every series (median and worst
// below the reserved size), time to redraw (median), and the memory of the min/max pyramids against the
// points' own storage. A bare QCustomPlot whose six default graphs share the same point containers is
// redrawn in the same run as the baseline.
// Arguments: optional point counts per series; `--picture FILE` saves the largest chart as a PNG.
#include "chart/StripChart.h"

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
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

double redrawMs(QCustomPlot& plot, int repeats)
{
    plot.replot(QCustomPlot::rpImmediateRefresh); // layout and label caches settle
    std::vector<double> times;
    for (int r = 0; r < repeats; ++r) {
        QElapsedTimer t;
        t.start();
        plot.replot(QCustomPlot::rpImmediateRefresh);
        times.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    return median(times);
}

struct TChartRun {
    std::unique_ptr<QCustomPlot> plot = std::make_unique<QCustomPlot>();
    std::unique_ptr<QCustomPlot> bare = std::make_unique<QCustomPlot>();
    std::unique_ptr<TStripChart> chart;
    double addMedianUs = 0, addWorstMs = 0;
    int addsOverMs = 0; // below the reserved size
};

// Fills a chart with n points per series, timing every addition, and a bare plot sharing its points.
void fill(TChartRun& run, int n)
{
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
    run.bare->rescaleAxes();
}

void printRow(TChartRun& run, int n, QSize size)
{
    for (QCustomPlot* p : {run.plot.get(), run.bare.get()}) {
        p->resize(size);
        p->show();
    }
    QCoreApplication::processEvents();
    const double ours = redrawMs(*run.plot, 15);
    const double bare = redrawMs(*run.bare, n >= 5000000 ? 5 : 9);
    size_t pyramid = 0, points = 0;
    for (int s = 0; s < TStripChart::SeriesCount; ++s) {
        pyramid += run.chart->data(s).pyramidBytes();
        points += run.chart->data(s).pointBytes();
    }
    printf("| %s | %d x %d | %.2f ms | %.1f ms | %.1f x | %.3f us / %.3f ms (%d over 1 ms) | %.1f MB / %.0f MB = %.2f "
           "%% |\n",
           n >= 1000000 ? (std::to_string(n / 1000000) + " M").c_str() : std::to_string(n).c_str(), size.width(),
           size.height(), ours, bare, bare / ours, run.addMedianUs, run.addWorstMs, run.addsOverMs,
           static_cast<double>(pyramid) / 1048576.0, static_cast<double>(points) / 1048576.0,
           100.0 * static_cast<double>(pyramid) / static_cast<double>(points));
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
        else
            sizes.push_back(atoi(argv[i]));
    }
    if (sizes.empty())
        sizes = {1000000, 10000000};

    printf("| Points per series | Chart size | Redraw (median) | Bare QCustomPlot redraw | Faster by | Add a point "
           "to 6 series: median / worst below the reserved size | Pyramids / points' own storage |\n");
    printf("|---|---|---|---|---|---|---|\n");
    for (size_t k = 0; k < sizes.size(); ++k) {
        const int n = sizes[k];
        TChartRun run;
        fill(run, n);
        printRow(run, n, QSize(992, 445));
        if (n >= 10000000)
            printRow(run, n, QSize(1920, 1080));
        if (picture && k + 1 == sizes.size()) {
            run.plot->resize(992, 445);
            run.plot->replot(QCustomPlot::rpImmediateRefresh);
            run.plot->toPixmap().save(QString::fromLocal8Bit(picture), "PNG");
        }
    }
    return 0;
}
