// Publishing readings to an MQTT broker: Comms > Publishing..., status panel 2 and the publish timer.
#include "app/Main.h"
#include "app/PublishingDialog.h"
#include "publish/Publisher.h"
#include "record/Acquisition.h"
#include "record/RunClock.h"
#include "sensor/SensorObjects.h"
#include "base/ErrorReport.h"
#include "settings/SettingParams.h"
#include "ui_Main.h"

#include <QLabel>
#include <QStatusBar>
#include <QTimer>
#include <chrono>

// Panel 2 sits at the right of the status bar and is shown while publishing is on.
void TFormMain::setupPublishing()
{
    auto* panel = new QLabel(ui->StatusBar1);
    panel->setObjectName(QStringLiteral("StatusBar1Panel2"));
    panel->hide();
    ui->StatusBar1->addPermanentWidget(panel);
    FStatusPanels[2] = panel;
    FPublishTimer = new QTimer(this);
    FPublishTimer->setObjectName(QStringLiteral("PublishTimer"));
    FPublishTimer->setTimerType(Qt::PreciseTimer);
    ConnectHandler(FPublishTimer, &QTimer::timeout, this, &TFormMain::PublishTimerTimer);
    QAction* item = ui->menuComms->addAction(tr("Publishing..."));
    item->setObjectName(QStringLiteral("CommsPublishingItem"));
    ConnectHandler(item, &QAction::triggered, this, &TFormMain::CommsPublishingItemClick);
}

void TFormMain::startPublishing()
{
    const TPublishSettings& settings = FSettings->Publishing;
    FStatusPanels[2]->setVisible(settings.Enabled);
    if (!settings.Enabled)
        return;
    auto publisher = std::make_unique<TPublisher>();
    if (!publisher->start(settings, Sensor()->Port())) {
        FStatusPanels[2]->setText(tr("Publishing off: %1").arg(QString::fromStdString(publisher->error())));
        return;
    }
    FPublisher = std::move(publisher);
    connect(FPublisher.get(), &TPublisher::statusChanged, this, &TFormMain::showPublishingStatus);
    FPublishTimer->setInterval(settings.IntervalSeconds * 1000);
    if (FAcquiring)
        FPublishTimer->start();
    showPublishingStatus();
}

// The publisher finishes in the background ("offline" for the broker); the window deletes it when done,
// or at the latest with itself.
void TFormMain::stopPublishing()
{
    FPublishTimer->stop();
    if (!FPublisher)
        return;
    TPublisher* old = FPublisher.release();
    disconnect(old, nullptr, this, nullptr);
    old->setParent(this);
    connect(old, &TPublisher::stopped, old, &QObject::deleteLater);
    old->stop();
}

void TFormMain::publishingRunChanged(bool running, bool outage)
{
    if (!FPublisher)
        return;
    if (running)
        FPublishTimer->start();
    else
        FPublishTimer->stop();
    if (running || outage)
        FPublisher->setOutage(outage);
}

void TFormMain::PublishTimerTimer()
{
    if (!FPublisher)
        return;
    FAcquisition->runTick(FPublishTimer, [this](const TReading& reading) {
        const std::chrono::milliseconds wall(FClock.wallNow().toMSecsSinceEpoch());
        FPublisher->publish(reading, std::chrono::system_clock::time_point(wall));
        return true;
    });
}

void TFormMain::showPublishingStatus()
{
    if (FPublisher)
        FStatusPanels[2]->setText(FPublisher->statusText());
}

void TFormMain::CommsPublishingItemClick()
{
    if (!FSettings)
        return;
    TPublishingDialog dialog(FSettings->Publishing, Sensor() ? Sensor()->Port() : std::string(), this);
    if (dialog.exec() != QDialog::Accepted || dialog.settings() == FSettings->Publishing)
        return;
    FSettings->Publishing = dialog.settings();
    saveSettings();
    stopPublishing();
    startPublishing();
}
