// The strip chart with 6 series of N points: time to add one point to every series (median and worst
// below the reserved size), time to redraw at the default size (median), and resident memory. A bare
// QCustomPlot holding the same data is redrawn in the same run as the baseline.
#include "StripChart.h"

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

long residentKb()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(1 << 16, '\n');
    }
    return 0;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

TChartValues valuesAt(int i)
{
    TChartValues v;
    v.count = 6;
    for (int s = 0; s < 6; ++s)
        v.y[static_cast<size_t>(s)] = (s + 1) * 10.0 + std::sin(i * 0.001 * (s + 1)) * 5.0;
    return v;
}

double redrawMs(QCustomPlot& plot, int repeats)
{
    std::vector<double> times;
    for (int r = 0; r < repeats; ++r) {
        QElapsedTimer t;
        t.start();
        plot.replot(QCustomPlot::rpImmediateRefresh);
        times.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    return median(times);
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const std::vector<int> sizes = argc > 1 ? std::vector<int>{atoi(argv[1])} : std::vector<int>{10000, 100000, 600000, 1000000};
    printf("| Points per series | Add one point to 6 series: median / worst | Redraw 992x445 (median) | Bare QCustomPlot redraw | Resident memory |\n");
    printf("|---|---|---|---|---|\n");
    for (int n : sizes) {
        const long rss0 = residentKb();
        auto* plot = new QCustomPlot;
        plot->resize(992, 445);
        plot->show();
        TStripChart chart(plot);
        std::vector<double> addUs;
        addUs.reserve(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            const TChartValues v = valuesAt(i);
            QElapsedTimer t;
            t.start();
            chart.addPoints(i * 1.0, v);
            addUs.push_back(static_cast<double>(t.nsecsElapsed()) / 1e3);
        }
        QCoreApplication::processEvents(); // the queued redraw of the additions
        const double add = median(addUs);
        const double worst = *std::max_element(addUs.begin(), addUs.end());
        const double redraw = redrawMs(*plot, 7);
        const long rss = residentKb() - rss0;

        // Baseline: a bare plot with six default graphs holding the same points.
        auto* bare = new QCustomPlot;
        bare->resize(992, 445);
        bare->show();
        for (int s = 0; s < 6; ++s) {
            QVector<double> x(n), y(n);
            for (int i = 0; i < n; ++i) {
                x[i] = i;
                y[i] = valuesAt(i).y[static_cast<size_t>(s)];
            }
            bare->addGraph()->setData(x, y, true);
        }
        bare->rescaleAxes();
        const double bareRedraw = redrawMs(*bare, 7);
        printf("| %d | %.2f us / %.2f ms | %.1f ms | %.1f ms | %.0f MB |\n", n, add, worst / 1000.0, redraw, bareRedraw,
               static_cast<double>(rss) / 1024.0);
        fflush(stdout);
        delete bare;
        delete plot;
    }
    return 0;
}
