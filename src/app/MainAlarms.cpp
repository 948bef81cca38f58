// Alarms in the window: the Alarms menu and dialog, the panels of alarmed quantities in red, the alarms'
// status panel, the repeated beep until acknowledged, and the levels and alarm times on the chart.
#include "app/AlarmView.h"
#include "app/AlarmsDialog.h"
#include "app/Beep.h"
#include "app/Main.h"
#include "app/StatusPanel.h"
#include "chart/ChartAlarmMarks.h"
#include "chart/StripChart.h"
#include "run/AlarmMonitor.h"
#include "run/Run.h"
#include "settings/SettingParams.h"
#include "ui_Main.h"

#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QTimer>

namespace {
constexpr int AlarmBeepHz = 880;
constexpr int AlarmBeepMs = 150;
constexpr int AlarmBeepRepeatMs = 2000;
const QColor AlarmRed(200, 0, 0);

bool isOn(TAlarmMonitor::State state)
{
    return state == TAlarmMonitor::On || state == TAlarmMonitor::OnAcknowledged
           || state == TAlarmMonitor::ClearedUnacknowledged;
}
} // namespace

// The Alarms menu sits between Mode and Help; the alarms' panel left of the publishing panel.
void TFormMain::setupAlarms()
{
    auto* menu = new QMenu(tr("&Alarms"), ui->MainMenu1);
    menu->setObjectName(QStringLiteral("menuAlarms"));
    ui->MainMenu1->insertMenu(ui->menuHelp->menuAction(), menu);
    QAction* settings = menu->addAction(tr("Alarms..."));
    settings->setObjectName(QStringLiteral("AlarmsSettingsItem"));
    QAction* acknowledge = menu->addAction(tr("Acknowledge"));
    acknowledge->setObjectName(QStringLiteral("AlarmsAcknowledgeItem"));
    acknowledge->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    connectCommand(settings, &QAction::triggered, &TFormMain::AlarmsSettingsItemClick);
    connectCommand(acknowledge, &QAction::triggered, &TFormMain::AlarmsAcknowledgeItemClick);

    FAlarmPanel = new TStatusPanel(ui->StatusBar1);
    FAlarmPanel->setObjectName(QStringLiteral("StatusBar1AlarmPanel"));
    QPalette palette = FAlarmPanel->palette();
    palette.setColor(QPalette::WindowText, AlarmRed);
    FAlarmPanel->setPalette(palette);
    QFont font = FAlarmPanel->font();
    font.setBold(true);
    FAlarmPanel->setFont(font);
    FAlarmPanel->hide();
    ui->StatusBar1->insertPermanentWidget(2, FAlarmPanel); // after the two panels of setupStatusBar

    FAlarmBeepTimer = new QTimer(this);
    FAlarmBeepTimer->setInterval(AlarmBeepRepeatMs);
    connect(FAlarmBeepTimer, &QTimer::timeout, this, [] { Beep(AlarmBeepHz, AlarmBeepMs); });

    FAlarmMarks = std::make_unique<TChartAlarmMarks>(*FChart);
    connect(FRun.get(), &TRun::alarmEvent, this, &TFormMain::alarmChanged);
    connect(FRun.get(), &TRun::modeChanged, this, [this] {
        showAlarmLevels();
        showAlarms();
    });
    connect(FRun.get(), &TRun::reading, this, [this](TRun::Purpose purpose, const TReading& reading, double) {
        if (purpose == TRun::Display && FRun->alarms().active())
            alarmReading(reading);
    });
}

QString TFormMain::AlarmPanelText() const
{
    return FAlarmPanel->text();
}

QString TFormMain::AlarmPanelToolTip() const
{
    return FAlarmPanel->toolTip();
}

// The stored rules given to the run; none set leaves the run as it was.
void TFormMain::applyAlarmRules()
{
    if (FSettings->AlarmRules.empty() && !FRun->alarms().active())
        return;
    FRun->setAlarmRules(FSettings->AlarmRules);
    FRun->setNoReadingAlarm(FSettings->NoReadingAlarm);
    FAlarmSince.assign(FSettings->AlarmRules.size(), TAlarmSince{});
    FNoReadingSince = QDateTime();
    FNoReadingAcknowledged = false;
    FAlarmMarks->endSpan(FRun->elapsedSeconds());
    showAlarmLevels();
    showAlarms();
}

void TFormMain::AlarmsSettingsItemClick()
{
    if (!FSettings)
        return;
    TAlarmsDialog dialog(FSettings->AlarmRules, FSettings->NoReadingAlarm, FRun->concentrationMode(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (dialog.rules() == FSettings->AlarmRules && dialog.noReading() == FSettings->NoReadingAlarm)
        return;
    FSettings->AlarmRules = dialog.rules();
    FSettings->NoReadingAlarm = dialog.noReading();
    saveSettings();
    applyAlarmRules();
}

void TFormMain::AlarmsAcknowledgeItemClick()
{
    FRun->acknowledgeAlarms();
    showAlarms();
}

void TFormMain::alarmChanged(const TAlarmEvent& event)
{
    if (event.quantity.empty()) {
        if (event.kind == TAlarmEvent::NoReading) {
            FNoReadingSince = event.time;
            FNoReadingAcknowledged = false;
        } else if (event.kind == TAlarmEvent::ReadingsAgain) {
            FNoReadingSince = QDateTime();
        } else if (event.kind == TAlarmEvent::Acknowledged) {
            FNoReadingAcknowledged = true;
        }
    } else if (event.kind == TAlarmEvent::AlarmOn || event.kind == TAlarmEvent::AlarmOff) {
        const auto& rules = FRun->alarms().rules();
        for (size_t i = 0; i < rules.size() && i < FAlarmSince.size(); ++i) {
            const TAlarmRule& r = rules[i];
            if (r.quantity != event.quantity || r.direction != event.direction || r.level != event.level)
                continue;
            FAlarmSince[i].since = event.kind == TAlarmEvent::AlarmOn ? event.time : QDateTime();
            FAlarmSince[i].value = event.value;
        }
    }
    showAlarms();
}

void TFormMain::alarmReading(const TReading& reading)
{
    const auto& rules = FRun->alarms().rules();
    bool any = false;
    for (size_t i = 0; i < rules.size() && i < FAlarmSince.size(); ++i) {
        if (!isOn(FRun->alarms().state(i)))
            continue;
        any = true;
        if (const auto value = QuantityValue(reading, rules[i].quantity))
            FAlarmSince[i].value = *value;
    }
    if (any)
        showAlarms();
}

// Panels in red while their quantity's alarm is on, the status panel, the beep and the shaded time.
void TFormMain::showAlarms()
{
    if (!FAlarmPanel || !FRun)
        return;
    const TAlarmMonitor& alarms = FRun->alarms();
    const auto& rules = alarms.rules();
    const bool concentration = FRun->concentrationMode();
    QStringList lines;
    std::array<QStringList, PanelCount> panelTips;
    bool unacknowledged = false;
    bool anyRuleOn = false;
    for (size_t i = 0; i < rules.size() && i < FAlarmSince.size(); ++i) {
        const TAlarmMonitor::State state = alarms.state(i);
        if (!isOn(state))
            continue;
        anyRuleOn = true;
        unacknowledged |= state != TAlarmMonitor::OnAcknowledged;
        const QString text =
            AlarmStatusText({&rules[i], FAlarmSince[i].value, FAlarmSince[i].since,
                             state == TAlarmMonitor::OnAcknowledged, state == TAlarmMonitor::ClearedUnacknowledged});
        lines << text;
        if (const auto panel = AlarmPanel(rules[i].quantity, concentration))
            panelTips[static_cast<size_t>(*panel)] << text;
    }
    if (alarms.noReading()) {
        unacknowledged |= !FNoReadingAcknowledged;
        lines << AlarmStatusText({nullptr, 0, FNoReadingSince, FNoReadingAcknowledged, false});
    }

    for (size_t i = 0; i < FPanels.size(); ++i) {
        const bool alarmed = !panelTips[i].isEmpty();
        if (alarmed) {
            if (!FPanelAlarmed[i]) {
                QPalette palette = FPanelPalettes[i];
                palette.setColor(QPalette::Window, AlarmRed);
                palette.setColor(QPalette::WindowText, Qt::white);
                FPanels[i]->setPalette(palette);
                FPanels[i]->setAutoFillBackground(true);
            }
            FPanels[i]->setToolTip(panelTips[i].join(QLatin1Char('\n')));
        } else if (FPanelAlarmed[i]) {
            FPanels[i]->setPalette(panelPalette(i));
            FPanels[i]->setAutoFillBackground(FPanels[i] == ui->pnlConcentration);
            FPanels[i]->setToolTip(panelToolTip());
        }
        FPanelAlarmed[i] = alarmed;
    }

    if (lines.isEmpty()) {
        FAlarmPanel->setText(QString());
        FAlarmPanel->hide();
    } else {
        FAlarmPanel->setText(lines.size() == 1 ? lines.front() : tr("%1 alarms").arg(lines.size()));
        FAlarmPanel->setToolTip(lines.join(QLatin1Char('\n')));
        FAlarmPanel->show();
    }

    if (unacknowledged && !FAlarmBeepTimer->isActive()) {
        Beep(AlarmBeepHz, AlarmBeepMs);
        FAlarmBeepTimer->start();
    } else if (!unacknowledged) {
        FAlarmBeepTimer->stop();
    }

    if (anyRuleOn)
        FAlarmMarks->beginSpan(FRun->elapsedSeconds());
    else
        FAlarmMarks->endSpan(FRun->elapsedSeconds());
}

// Each level on its quantity's series in the current mode, with the series' factor.
void TFormMain::showAlarmLevels()
{
    std::vector<TChartAlarmMarks::TLevel> levels;
    for (const TAlarmRule& rule : FRun->alarms().rules())
        if (const auto series = AlarmSeries(rule.quantity, FRun->concentrationMode()))
            levels.push_back({series->series, rule.level * series->factor});
    FAlarmMarks->setLevels(levels);
}
