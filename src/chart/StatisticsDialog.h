#pragma once
#include "chart/ChartStatistics.h"

#include <QDialog>
#include <functional>

class QLabel;
class QTableWidget;

// A window with the statistics of a range of keys: the range's start, end and duration above a table with a
// row per series (hidden series are listed, marked "no" under Shown). "Copy" puts the table on the clipboard
// as TAB-separated text (StatisticsText).
class TStatisticsDialog : public QDialog {
    Q_OBJECT
public:
    // keyText writes a key as the chart's readout does.
    TStatisticsDialog(std::function<QString(double)> keyText, QWidget* parent = nullptr);

    void setStatistics(const TRangeStatistics& stats);
    const TRangeStatistics& statistics() const { return FStats; }
    // What Copy puts on the clipboard.
    QString text() const { return StatisticsText(FStats, FKeyText); }
    void copy() const;

private:
    std::function<QString(double)> FKeyText;
    TRangeStatistics FStats;
    QLabel* FRange;
    QTableWidget* FTable;
};
