// The graphics tick and saving the chart as a bitmap.
#include "app/Main.h"
#include "app/SaveDialog.h"
#include "chart/StripChart.h"
#include "run/Run.h"

#include <QTimer>

void TFormMain::GraphicsTimerTimer()
{
    FRun->tick(TRun::Chart);
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
