// Reconnecting by itself after an outage: Comms > Reconnect Automatically, and the run going on.
#include "app/Main.h"
#include "chart/ChartBands.h"
#include "chart/StripChart.h"
#include "record/RunClock.h"
#include "run/Run.h"
#include "record/RunTexts.h"
#include "sensor/SensorObjects.h"
#include "settings/SettingParams.h"
#include "ui_Main.h"

#include <QTimer>

void TFormMain::CommsReconnectItemClick()
{
    if (!FSettings)
        return;
    const bool on = ui->CommsReconnectItem->isChecked();
    Reconnect().setEnabled(on);
    if (on && Reconnect().outage())
        LogTimer()->stop(); // no log lines until the run goes on
    FSettings->Reconnect = on;
    saveSettings();
}

// The same run goes on: same mode, the chart keeps its points and its elapsed time (the outage shows as
// a gap), an open log file gets its lines again. A port that could not be opened at first starts the run.
void TFormMain::resumeAcquisition(bool firstStart)
{
    const QTime now = FClock.wallNow().time();
    setStatusText(0, QString::fromLocal8Bit(FRun->port())); // the adapter may have come back under another name
    if (firstStart) {
        StartAcquisition();
        showStatusNote(ConnectedText(now));
        warnOfOtherPortHolders();
        return;
    }
    FChart->addGap(FRun->elapsedSeconds());
    FOutageBands->closeBand(FRun->elapsedSeconds());
    runAcquisition(false); // the run's log timer goes on with an open log
    showStatusNote(ReconnectedText(now));
}
