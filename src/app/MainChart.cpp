// The graphics tick and saving the chart as a bitmap.
#include "Main.h"
#include "SaveDialog.h"
#include "ExceptionLib.h"
#include "SensorObjects.h"
#include "StripChart.h"

#include <QTimer>

void TFormMain::GraphicsTimerTimer()
{
    GraphicsTimer->stop();
    const double x = static_cast<double>(FStartTime.msecsTo(QDateTime::currentDateTime())) / 1000.0;
    setStatusText(1, QString());
    try {
        if (FConcentrationMode) {
            TConcentrationModeStructure reading;
            FSensor->GetConcentrationReading(reading);
            FChart->addPoints(x, ConcentrationChartValues(reading));
        } else {
            TChannelsModeStructure reading;
            FSensor->GetChannelsReading(reading);
            FChart->addPoints(x, ChannelsChartValues(reading));
        }
        GraphicsTimer->start();
    } catch (const ESensorError&) {
        sensorTimedOut();
    }
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
