#pragma once
#include "record/ReadingFormat.h"
#include "record/RunTexts.h"
#include "sensor/Reading.h"

#include <QDateTime>
#include <QMainWindow>
#include <QPalette>
#include <QString>
#include <array>
#include <memory>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class RunClock;
class TChartBands;
class TPublisher;
class TReconnectController;
class TRun;
class TSaveDialog;
class TSensor;
class TStatusPanel;
class TSettingParams;
class TStripChart;
class TChartAlarmMarks;
struct TAlarmEvent;
namespace Ui {
class FormMain;
}

// What the window is set up with; empty means the product's places and clock: ResolveSettingsFolder for
// the running executable's folder, the system's tty class folder, the system clock. Tests point them
// elsewhere: SettingsFolder fixes the folder, ExecutableFolder replaces the executable's folder in the
// resolution, Clock drives the run's time (it must outlive the window).
struct TFormMainSetup {
    QString SettingsFolder;
    std::string PortListRoot;
    QString ExecutableFolder;
    const RunClock* Clock = nullptr;
};

// The main window: value panels, strip chart, logging controls, menus and status bar; a face of the run
// (TRun), whose timers poll the sensor: DisplaysTimer fills the panels, GraphicsTimer adds chart points,
// LogTimer appends log lines. The operator's commands given while the run waits for the sensor take effect
// when the wait returns. Construction runs FormCreate (opens the stored port and starts acquisition);
// destruction FormDestroy.
class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TFormMain(const TFormMainSetup& setup = {}, QWidget* parent = nullptr);
    ~TFormMain() override;

    // Where the settings live in the settings file.
    static constexpr const char* SettingsRootPath = "Sensor\\Settings";
    // Timer intervals at start, in milliseconds.
    static constexpr int DisplaysIntervalMs = 125;
    static constexpr int GraphicsIntervalMs = 1000;
    static constexpr int LogIntervalMs = 1000;

    // Components and state, for inspection.
    QTimer* DisplaysTimer() const;
    QTimer* GraphicsTimer() const;
    QTimer* LogTimer() const;
    TSensor* Sensor() const;
    TRun& Run() const { return *FRun; }
    TSettingParams* Settings() const { return FSettings.get(); }
    bool Logging() const { return FLogging; }
    bool ConcentrationMode() const;
    const QDateTime& StartTime() const;
    TStripChart& Chart() const { return *FChart; }
    TReconnectController& Reconnect() const;
    // Panels 0 and 1, and 2: the publishing state.
    QString StatusPanelText(int index) const;
    QTimer* PublishTimer() const;
    TPublisher* Publisher() const;
    // The alarms' status panel (hidden while no alarm is on), its tooltip, the timer that repeats the alarm
    // beep while an alarm is not acknowledged, and the alarm marks on the chart.
    QString AlarmPanelText() const;
    QString AlarmPanelToolTip() const;
    QTimer* AlarmBeepTimer() const { return FAlarmBeepTimer; }
    TChartAlarmMarks& AlarmMarks() const { return *FAlarmMarks; }

public slots:
    void ModeConcentrationItemClick();
    void ModeChannelsItemClick();
    void CommsSettingsItemClick();
    void CommsReconnectItemClick();
    void CommsPublishingItemClick();
    void AlarmsSettingsItemClick();
    void AlarmsAcknowledgeItemClick();
    void HelpAboutItemClick();
    void DisplaysTimerTimer();
    void GraphicsTimerTimer();
    void LogTimerTimer();
    void PublishTimerTimer();
    void edtGraphicsIntervalChange();
    void edtLoggingIntervalChange();
    void btnGraphicsIntervalClick();
    void btnLoggingIntervalClick();
    void btnLoggingClick();
    void Chart1DblClick();

protected:
    // Enter, while the focus is not on a button, presses the first enabled Apply button.
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // A close asked for while the run waits for the sensor closes when the wait returns.
    void closeEvent(QCloseEvent* event) override;
    // While logging or publishing: asks whether to close, naming the log file (MainClose.cpp).
    bool confirmClose();

private:
    // Construction, in parts.
    void setupPanels();
    void setupStatusBar();
    void setupTimers();
    void setupChart();
    void connectHandlers();
    void connectRun();
    // An operator's command: runs now, or when the run's pending request returns.
    template <typename Sender, typename Signal>
    void connectCommand(Sender* sender, Signal signal, void (TFormMain::*handler)());
    void setupSize();
    void applyFonts();
    void layoutAnchored();

    void FormCreate();
    void FormDestroy();
    void StartAcquisition();
    void StopAcquisition();
    // Shows the configured port, selects Channels mode, opens the port and starts acquisition (a fresh
    // run), or stops with the port message.
    void openConfiguredPort();
    // A note on status panel 1 naming other processes that hold the port's device open.
    void warnOfOtherPortHolders();
    // Switches the acquisition timers on and enables the interval editors and START/STOP; a fresh run
    // also empties the panels, clears the chart and restarts the elapsed time.
    void runAcquisition(bool fresh);
    // Captions, visibility, series titles and check marks of a mode.
    void applyMode(bool concentration);
    // Saves the settings store; a failure is reported with the file name and the reason.
    void saveSettings();
    // Reports a settings problem once the current handler has finished (the report may be modal).
    void reportSettingsProblem(const std::string& text);

    void setStatusText(int index, const QString& text);
    // A message on status panel 1 that the ticks do not clear: it stays until the next message.
    void showStatusNote(const QString& text);
    // Status panel 1 emptied at the start of a tick, unless it shows a note.
    void clearStatusMessage();
    // The answer of the ticks to an outage: a sensor that did not reply in time or a lost device.
    void sensorTimedOut(bool beginsOutage);
    // The run going on after a successful reconnection try, or starting on a port that was missing.
    void resumeAcquisition(bool firstStart);
    void showPanels(const TPanelTexts& texts);
    // The look of the panels' values (MainView.cpp): old (after a stop, during an outage: greyed, with the
    // time of their reading as a tooltip) or current.
    void showPanelsOld(bool old);
    // The chart's signals and the window (MainView.cpp).
    void connectChart();
    void applyInterval(QLineEdit* edit, QPushButton* button, QTimer* timer);
    void setMenusEnabledForLogging(bool enabled);
    // The log's failures and recoveries: a note in the status bar, the first failure also in a message box.
    void logFailed(const QString& text);
    void logNote(const QString& text);
    void startLogging();
    void stopLogging();
    // Publishing (MainPublish.cpp): its menu item, status panel and timer; a publisher for the stored
    // settings; the timer following the run, and the outage status following the sensor.
    void setupPublishing();
    void startPublishing();
    void stopPublishing();
    void showPublishingStatus();
    // Alarms (MainAlarms.cpp): the Alarms menu, the status panel, the beep and the chart marks; the rules of
    // the settings given to the run.
    void setupAlarms();
    void applyAlarmRules();
    void alarmChanged(const TAlarmEvent& event);
    void alarmReading(const TReading& reading);
    void showAlarms();
    void showAlarmLevels();
    // The look of a panel without an alarm: current or old (MainView.cpp).
    QPalette panelPalette(size_t index) const;
    QString panelToolTip() const;

    std::unique_ptr<Ui::FormMain> ui;
    TFormMainSetup FSetup;
    const RunClock& FClock;
    TStatusPanel* FStatusPanels[3] = {nullptr, nullptr, nullptr};
    std::array<QLabel*, PanelCount> FPanels{};
    std::array<QPalette, PanelCount> FPanelPalettes{}; // current values' look
    QDateTime FPanelsTime;                             // of the reading the panels show
    bool FPanelsOld = false;
    TSaveDialog* SaveDialog1 = nullptr;
    TSaveDialog* SaveDialog2 = nullptr;
    std::unique_ptr<TStripChart> FChart;
    TChartBands* FOutageBands = nullptr; // on the chart: the outages of the run
    bool FCloseConfirmed = false;
    bool FStatusNote = false;

    std::unique_ptr<TSettingParams> FSettings;
    std::unique_ptr<TRun> FRun; // owns the sensor, the timers, the log file and the publisher
    bool FLogging = false;
    bool FLogNote = false;     // status panel 1 shows the log's failure
    bool FSensorReady = false; // the sensor was set up from the settings at start-up

    struct TAlarmSince {
        QDateTime since;  // when it came on
        double value = 0; // the latest value of its quantity
    };
    TStatusPanel* FAlarmPanel = nullptr;
    QTimer* FAlarmBeepTimer = nullptr;
    std::unique_ptr<TChartAlarmMarks> FAlarmMarks;
    std::vector<TAlarmSince> FAlarmSince; // per rule
    QDateTime FNoReadingSince;            // invalid while readings come
    bool FNoReadingAcknowledged = false;
    std::array<bool, PanelCount> FPanelAlarmed{};
};
