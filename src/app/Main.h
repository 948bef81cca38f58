#pragma once
#include "record/LogFile.h"
#include "record/ReadingFormat.h"
#include "settings/SettingsFile.h"

#include <QDateTime>
#include <QMainWindow>
#include <QString>
#include <array>
#include <memory>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QCPGraph;
class TSaveDialog;
class TSensor;
class TReconnectController;
class TSettingParams;
class TStripChart;
namespace Ui {
class FormMain;
}

// Where the window finds its settings file and the list of serial ports; empty means the product's
// places (ResolveSettingsFolder for the running executable's folder, the system's tty class folder).
// Tests point them elsewhere: SettingsFolder fixes the folder, ExecutableFolder replaces the
// executable's folder in the resolution.
struct TFormMainPaths {
    QString SettingsFolder;
    std::string PortListRoot;
    QString ExecutableFolder;
};

// The main window: value panels, strip chart, logging controls, menus and status bar. Three timers poll
// the sensor: DisplaysTimer fills the panels, GraphicsTimer adds chart points, LogTimer appends log lines.
// Construction runs FormCreate (opens the stored port and starts acquisition); destruction FormDestroy.
class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TFormMain(const TFormMainPaths& paths = {}, QWidget* parent = nullptr);
    ~TFormMain() override;

    // Messages of status panel 1.
    static constexpr const char* PortUnavailableText = "Current port is already in use or unavailable !!!";
    static constexpr const char* TimeoutText = "Comms response has exceeded timeout period !!!";
    static constexpr const char* SettingsFileBase = ::SettingsFileBase;
    static constexpr const char* SettingsRootPath = "Sensor\\Settings";

    // Components that the form description does not hold.
    QTimer* DisplaysTimer = nullptr;
    QTimer* GraphicsTimer = nullptr;
    QTimer* LogTimer = nullptr;
    TSaveDialog* SaveDialog1 = nullptr;
    TSaveDialog* SaveDialog2 = nullptr;
    QCPGraph* Series1 = nullptr;
    QCPGraph* Series2 = nullptr;
    QCPGraph* Series3 = nullptr;
    QCPGraph* Series4 = nullptr;
    QCPGraph* Series5 = nullptr;
    QCPGraph* Series6 = nullptr;

    // State, for inspection.
    TSensor* Sensor() const { return FSensor; }
    TSettingParams* Settings() const { return FSettings.get(); }
    bool Logging() const { return FLogging; }
    bool ConcentrationMode() const { return FConcentrationMode; }
    const QDateTime& StartTime() const { return FStartTime; }
    TStripChart& Chart() const { return *FChart; }
    TReconnectController& Reconnect() const { return *FReconnect; }
    QString StatusPanelText(int index) const;

public slots:
    void ModeConcentrationItemClick();
    void ModeChannelsItemClick();
    void CommsSettingsItemClick();
    void CommsReconnectItemClick();
    void HelpAboutItemClick();
    void DisplaysTimerTimer();
    void GraphicsTimerTimer();
    void LogTimerTimer();
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

private:
    void FormCreate();
    void FormDestroy();
    void StartAcquisition();
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
    void StopAcquisition();
    // Saves the settings store; a failure is reported with the file name and the reason.
    void saveSettings();
    // Reports a settings problem once the current handler has finished (the report may be modal).
    void reportSettingsProblem(const std::string& text);

    void setupComponents();
    void applyFonts();
    void layoutAnchored();
    void setStatusText(int index, const QString& text);
    // A message on status panel 1 that the ticks do not clear: it stays until the next message.
    void showStatusNote(const QString& text);
    // Status panel 1 emptied at the start of a tick, unless it shows a note.
    void clearStatusMessage();
    double elapsedSeconds() const;
    void sensorTimedOut();
    template <typename Use> auto takeReading(Use use);            // defined in MainTick.h
    template <typename Put> void runTick(QTimer* timer, Put put); // defined in MainTick.h
    // Reconnection: one try (reopen the port if closed or lost, take a reading of the current mode), and
    // the run going on after a successful one.
    bool reconnectAttempt();
    void resumeAcquisition();
    void showPanels(const TPanelTexts& texts);
    void applyInterval(QLineEdit* edit, QPushButton* button, QTimer* timer);
    void setMenusEnabledForLogging(bool enabled);
    void startLogging();
    void stopLogging();
    void writeLogField(const std::string& text, bool last);
    template <size_t N> void writeLogLine(const std::array<std::string, N>& values);

    std::unique_ptr<Ui::FormMain> ui;
    TFormMainPaths FPaths;
    QLabel* FStatusPanels[2] = {nullptr, nullptr};
    std::array<QLabel*, PanelCount> FPanels{};
    std::unique_ptr<TStripChart> FChart;
    TReconnectController* FReconnect = nullptr; // a child of the window
    bool FStartPending = false;                 // the chosen port could not be opened: a successful try starts the run
    bool FStatusNote = false;

    std::unique_ptr<TSettingParams> FSettings;
    TSensor* FSensor = nullptr; // owned: a child of the window, deleted first by FormDestroy
    bool FLogging = false;
    bool FConcentrationMode = false;
    bool FAcquiring = false;
    TLogFile FLogFile;
    QDateTime FStartTime;
};

extern TFormMain* FormMain;
