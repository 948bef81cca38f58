// Publishing readings to an MQTT broker: Comms > Publishing..., status panel 2 and the publish timer.
#include "app/Main.h"
#include "app/PublishingDialog.h"
#include "app/StatusPanel.h"
#include "base/ErrorReport.h"
#include "publish/Publisher.h"
#include "run/Run.h"
#include "run/RunPublishing.h"
#include "sensor/SensorObjects.h"
#include "settings/SettingParams.h"
#include "ui_Main.h"

#include <QStatusBar>
#include <QTimer>

// Panel 2 sits at the right of the status bar and is shown while publishing is on.
void TFormMain::setupPublishing()
{
    auto* panel = new TStatusPanel(ui->StatusBar1);
    panel->setObjectName(QStringLiteral("StatusBar1Panel2"));
    panel->hide();
    ui->StatusBar1->addPermanentWidget(panel);
    FStatusPanels[2] = panel;
    QAction* item = ui->menuComms->addAction(tr("Publishing..."));
    item->setObjectName(QStringLiteral("CommsPublishingItem"));
    connectCommand(item, &QAction::triggered, &TFormMain::CommsPublishingItemClick);
    connect(&FRun->publishing(), &TRunPublishing::statusChanged, this, &TFormMain::showPublishingStatus);
}

TPublisher* TFormMain::Publisher() const
{
    return FRun->publishing().publisher();
}

void TFormMain::startPublishing()
{
    const TPublishSettings& settings = FSettings->Publishing;
    FStatusPanels[2]->setVisible(settings.Enabled);
    if (!settings.Enabled)
        return;
    if (!FRun->startPublishing(settings, FRun->port(), settings.IntervalSeconds * 1000)) {
        FStatusPanels[2]->setText(
            tr("Publishing off: %1").arg(QString::fromStdString(FRun->publishing().error())));
        return;
    }
    showPublishingStatus();
}

// The publisher finishes in the background ("offline" for the broker).
void TFormMain::stopPublishing()
{
    FRun->stopPublishing();
}

void TFormMain::PublishTimerTimer()
{
    FRun->tick(TRun::Publish);
}

void TFormMain::showPublishingStatus()
{
    if (FRun->publishing().active())
        FStatusPanels[2]->setText(FRun->publishing().statusText());
}

void TFormMain::CommsPublishingItemClick()
{
    if (!FSettings)
        return;
    TPublishingDialog dialog(FSettings->Publishing, FRun->port(), this);
    if (dialog.exec() != QDialog::Accepted || dialog.settings() == FSettings->Publishing)
        return;
    FSettings->Publishing = dialog.settings();
    saveSettings();
    stopPublishing();
    startPublishing();
}
