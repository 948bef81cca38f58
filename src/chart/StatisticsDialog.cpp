#include "chart/StatisticsDialog.h"

#include "chart/StripChart.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
constexpr int MeanColumn = 5; // of StatisticsColumns()
constexpr int DeviationColumn = 6;
} // namespace

TStatisticsDialog::TStatisticsDialog(std::function<QString(double)> keyText, QWidget* parent)
    : QDialog(parent), FKeyText(std::move(keyText))
{
    setObjectName(QStringLiteral("StatisticsDialog"));
    setWindowTitle(tr("Statistics of a range"));
    auto* layout = new QVBoxLayout(this);
    FRange = new QLabel(this);
    FRange->setObjectName(QStringLiteral("StatisticsRange"));
    FRange->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(FRange);
    FTable = new QTableWidget(this);
    FTable->setObjectName(QStringLiteral("StatisticsTable"));
    FTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FTable->verticalHeader()->hide();
    layout->addWidget(FTable, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* copyButton = buttons->addButton(tr("Copy"), QDialogButtonBox::ActionRole);
    copyButton->setObjectName(QStringLiteral("StatisticsCopy"));
    connect(copyButton, &QPushButton::clicked, this, &TStatisticsDialog::copy);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(760, 300);
}

void TStatisticsDialog::setStatistics(const TRangeStatistics& stats)
{
    FStats = stats;
    FRange->setText(
        tr("From %1 to %2, %3").arg(FKeyText(stats.from), FKeyText(stats.to), DurationText(stats.to - stats.from)));
    const QStringList columns = StatisticsColumns();
    FTable->clear();
    FTable->setColumnCount(static_cast<int>(columns.size()));
    FTable->setHorizontalHeaderLabels(columns);
    FTable->setRowCount(static_cast<int>(stats.series.size()));
    for (int row = 0; row < FTable->rowCount(); ++row) {
        const TSeriesStatistics& series = stats.series[static_cast<size_t>(row)];
        const QStringList cells = StatisticsRow(series);
        for (int column = 0; column < cells.size(); ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            if ((column == MeanColumn || column == DeviationColumn) && !cells[column].isEmpty()) {
                // Shown to 6 significant digits; the tooltip and Copy give them whole.
                item->setText(QString::number(column == MeanColumn ? series.mean : series.deviation, 'g', 6));
                item->setToolTip(cells[column]);
            }
            if (column >= 2)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (!series.shown)
                item->setForeground(palette().color(QPalette::Disabled, QPalette::Text));
            FTable->setItem(row, column, item);
        }
    }
    FTable->resizeColumnsToContents();
}

void TStatisticsDialog::copy() const
{
    QApplication::clipboard()->setText(text());
}

TRangeStatistics TStripChart::rangeStatistics(double from, double to) const
{
    TRangeStatistics stats;
    stats.from = std::min(from, to);
    stats.to = std::max(from, to);
    for (int i = 0; i < seriesCount(); ++i) {
        const TReservingGraphData& points = data(i);
        TSeriesStatistics series = SeriesStatistics(
            points.isEmpty() ? std::span<const QCPGraphData>()
                             : std::span<const QCPGraphData>(&*points.constBegin(), static_cast<size_t>(points.size())),
            stats.from, stats.to);
        series.title = seriesTitleAt(i, stats.to);
        series.shown = seriesShown(i);
        stats.series.push_back(std::move(series));
    }
    return stats;
}

void TStripChart::showRangeStatistics(double from, double to)
{
    if (!FChart || !std::isfinite(from) || !std::isfinite(to))
        return;
    auto* dialog = FChart->findChild<TStatisticsDialog*>(QString(), Qt::FindDirectChildrenOnly);
    if (!dialog) {
        dialog = new TStatisticsDialog([this](double key) { return keyText(key); }, FChart);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog, &QDialog::finished, FChart,
                [plot = FChart.data()] { plot->replot(QCustomPlot::rpQueuedReplot); });
    }
    dialog->setStatistics(rangeStatistics(from, to));
    dialog->show();
    dialog->raise();
    replotSoon();
}
