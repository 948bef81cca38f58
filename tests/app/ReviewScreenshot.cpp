// Renders a review window in lanes with the statistics of a range over it to a PNG file (for the README).
#include "app/ReviewWindow.h"
#include "chart/StatisticsDialog.h"
#include "chart/StripChart.h"
#include "record/RegionalSettings.h"

#include <QApplication>
#include <QEventLoop>
#include <QPainter>
#include <QPixmap>
#include <cstdio>
#include <qcustomplot.h>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <log file> <picture.png>\n", argv[0]);
        return 2;
    }
    QApplication::setApplicationName(QStringLiteral("Velmora Data Logger"));
    ApplyRegionalSettings();
    TReviewWindow window(QString::fromLocal8Bit(argv[1]));
    window.resize(1180, 720);
    window.show();
    QEventLoop loop;
    QObject::connect(&window, &TReviewWindow::loaded, &loop, &QEventLoop::quit);
    if (window.loading())
        loop.exec();
    TStripChart* chart = window.chart();
    if (!chart) {
        std::fprintf(stderr, "%s: no readings\n", argv[1]);
        return 1;
    }
    const QCPRange keys = chart->chart()->xAxis->range();
    chart->showRangeStatistics(keys.lower + keys.size() * 0.55, keys.lower + keys.size() * 0.7);
    auto* dialog = chart->chart()->findChild<TStatisticsDialog*>();
    dialog->resize(900, 370);
    QApplication::processEvents();
    chart->chart()->replot();

    // The window, and the statistics window over its lower right corner.
    const QPixmap main = window.grab(), statistics = dialog->grab();
    QPixmap shot(main.width(), main.height() + statistics.height() / 2);
    shot.fill(QColor(235, 235, 235));
    QPainter painter(&shot);
    painter.drawPixmap(0, 0, main);
    const QPoint at(shot.width() - statistics.width() - 16, shot.height() - statistics.height() - 8);
    painter.fillRect(QRect(at + QPoint(4, 4), statistics.size()), QColor(0, 0, 0, 60));
    painter.drawPixmap(at, statistics);
    painter.setPen(QColor(110, 110, 110));
    painter.drawRect(QRect(at, statistics.size()).adjusted(0, 0, -1, -1));
    painter.end();
    return shot.save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
