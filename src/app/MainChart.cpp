// The graphics tick and saving the chart as a bitmap.
#include "app/Main.h"
#include "app/SaveDialog.h"
#include "chart/StripChart.h"
#include "record/Acquisition.h"
#include "record/RunClock.h"

#include <QTimer>

void TFormMain::GraphicsTimerTimer()
{
    // x is the moment the tick began, not the moment the reading was in hand.
    const double x = elapsedSeconds();
    clearStatusMessage();
    FAcquisition->runTick(FGraphicsTimer, [this, x](const TReading& reading) {
        FChart->addPoints(x, ChartValues(reading).values());
        return true;
    });
}

// Seconds since acquisition started, with millisecond resolution: the chart's x.
double TFormMain::elapsedSeconds() const
{
    return static_cast<double>(FStartTime.msecsTo(FClock.wallNow())) / 1000.0;
}

void TFormMain::Chart1DblClick()
{
    SaveDialog2->SetDefaultExt(QStringLiteral("bmp"));
    SaveDialog2->SetFilter(QStringLiteral("Bitmaps (*.bmp)|*.bmp"));
    SaveDialog2->SetOptions(TSaveDialog::OverwritePrompt);
    if (!SaveDialog2->Execute(this))
        return;
    FChart->saveBitmap(SaveDialog2->FileName());
}
