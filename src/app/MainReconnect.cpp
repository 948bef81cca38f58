// Reconnecting by itself after an outage: Comms > Reconnect Automatically, one try, and the run going on.
#include "serial/EComPort.h"
#include "app/Main.h"
#include "app/MainTick.h"
#include "record/ReconnectController.h"
#include "settings/SettingParams.h"
#include "chart/StripChart.h"
#include "ui_Main.h"

#include <QTime>
#include <QTimer>

void TFormMain::CommsReconnectItemClick()
{
    const bool on = ui->CommsReconnectItem->isChecked();
    FReconnect->setEnabled(on);
    if (on && FReconnect->outage())
        LogTimer->stop(); // no log lines until the run goes on
    if (FSettings) {
        FSettings->Reconnect = on;
        saveSettings();
    }
}

bool TFormMain::reconnectAttempt()
{
    if (!FSensor)
        return false;
    try {
        if (!FSensor->Connected() || FSensor->deviceLost()) {
            FSensor->Close();
            FSensor->Open();
        }
        FSensor->markReadingsStale(); // a record from before the outage does not count as an answer
        takeReading([](const auto&) {});
        return true;
    } catch (const ESensorError&) {
    } catch (const EComPort&) {
    }
    return false;
}

// The same run goes on: same mode, the chart keeps its points and its elapsed time (the outage shows as
// a gap), an open log file gets its lines again.
void TFormMain::resumeAcquisition()
{
    const QString now = QTime::currentTime().toString(QStringLiteral("hh:mm:ss"));
    if (FStartPending) { // the port is there at last: the run starts
        FStartPending = false;
        StartAcquisition();
        showStatusNote(QStringLiteral("Connected at %1").arg(now));
        warnOfOtherPortHolders();
        return;
    }
    FChart->addGap(elapsedSeconds());
    runAcquisition(false);
    if (FLogging)
        LogTimer->start();
    showStatusNote(QStringLiteral("Reconnected at %1").arg(now));
}
