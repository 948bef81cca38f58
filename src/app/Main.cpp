#include "app/Main.h"

#include "app/Application.h"

#include "about/AboutBox.h"
#include "app/Beep.h"
#include "app/SaveDialog.h"
#include "app/SensorSettings.h"
#include "app/StatusPanel.h"
#include "chart/ChartAlarmMarks.h"
#include "chart/ChartBands.h"
#include "chart/StripChart.h"
#include "publish/Publisher.h"
#include "record/LogFile.h"
#include "record/ReconnectController.h"
#include "record/RegionalSettings.h"
#include "record/RunClock.h"
#include "run/Run.h"
#include "run/RunLog.h"
#include "sensor/SensorObjects.h"
#include "serial/EComPort.h"
#include "base/ErrorReport.h"
#include "serial/PortHolders.h"
#include "settings/SettingParams.h"
#include "settings/SettingsFile.h"
#include "ui_Main.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <stdexcept>

namespace {

// Design size of the area between menu bar and status bar, and the distances the anchored controls
// keep to its right and bottom edges.
constexpr int DesignWidth = 992;
constexpr int DesignClientHeight = 666;
constexpr int StatusBarHeight = 19;
constexpr int GraphicsRightGap = DesignWidth - (694 + 140);
constexpr int LoggingRightGap = DesignWidth - (840 + 140);
constexpr int ChartTop = 160; // the chart reaches down to the status bar
constexpr int StatusPanelMinimumWidth = 50;

// Fonts, by pixel height.
constexpr const char* FormFont = "MS Sans Serif";
constexpr const char* PanelFont = "Microsoft Sans Serif";
constexpr int FormFontPixels = 16;
constexpr int CaptionFontPixels = 13;
constexpr int ConcentrationFontPixels = 24;
constexpr int PanelFontPixels = 19;
constexpr int LoggingButtonFontPixels = 19;
constexpr int StatusFontPixels = 12; // the status bar's 19 pixels hold its descenders

// The beep of a sensor time-out: one an outage.
constexpr int TimeoutBeepHz = 200;
constexpr int TimeoutBeepMs = 100;

void setPixelFont(QWidget* widget, const char* family, int pixels, bool bold)
{
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(pixels);
    font.setBold(bold);
    widget->setFont(font);
}

} // namespace

TFormMain::TFormMain(const TFormMainSetup& setup, QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::FormMain>()), FSetup(setup),
      FClock(setup.Clock ? *setup.Clock : systemRunClock())
{
    ui->setupUi(this);
    applyFonts();
    setupPanels();
    setupStatusBar();
    setupTimers();
    setupPublishing();
    setupChart();
    setupAlarms();
    connectHandlers();
    setupSize();
    try {
        FormCreate();
    } catch (...) {
        ReportCurrentException(); // the window stays, in the state reached so far
    }
}

TFormMain::~TFormMain()
{
    FormDestroy();
}

void TFormMain::setupPanels()
{
    FPanels = {ui->pnlConcentration, ui->pnlChannel,   ui->pnlPressure,   ui->pnlHumidity,
               ui->pnlSample,        ui->pnlReference, ui->pnlTemperature};
    QPalette highlight = ui->pnlConcentration->palette();
    highlight.setColor(QPalette::Window, highlight.color(QPalette::Highlight));
    highlight.setColor(QPalette::WindowText, highlight.color(QPalette::HighlightedText));
    ui->pnlConcentration->setPalette(highlight);
    ui->pnlConcentration->setAutoFillBackground(true);
    for (size_t i = 0; i < FPanels.size(); ++i)
        FPanelPalettes[i] = FPanels[i]->palette();
}

// Panel 0 (port name) and panel 1 (messages), which takes the rest of the width. Every panel takes the status
// bar's font.
void TFormMain::setupStatusBar()
{
    ui->StatusBar1->setFixedHeight(StatusBarHeight);
    ui->StatusBar1->setSizeGripEnabled(false);
    setPixelFont(ui->StatusBar1, FormFont, StatusFontPixels, false);
    for (int i = 0; i < 2; ++i) {
        auto* panel = new TStatusPanel(ui->StatusBar1);
        panel->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i));
        panel->setMinimumWidth(StatusPanelMinimumWidth);
        ui->StatusBar1->addWidget(panel, i == 0 ? 0 : 1);
        FStatusPanels[i] = panel;
    }
}

// The run's timers, with the window's intervals; the panels and the chart follow acquisition.
void TFormMain::setupTimers()
{
    FRun = std::make_unique<TRun>(FClock);
    FRun->setAcquisitionPurposes({TRun::Display, TRun::Chart});
    DisplaysTimer()->setInterval(DisplaysIntervalMs);
    GraphicsTimer()->setInterval(GraphicsIntervalMs);
    LogTimer()->setInterval(LogIntervalMs);

    SaveDialog1 = new TSaveDialog(this);
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog2 = new TSaveDialog(this);
    SaveDialog2->setObjectName(QStringLiteral("SaveDialog2"));
}

void TFormMain::setupChart()
{
    FChart = std::make_unique<TStripChart>(ui->Chart1);
    FOutageBands = new TChartBands(ui->Chart1, QColor(120, 120, 120, 60));
    connectChart();
}

template <typename Sender, typename Signal>
void TFormMain::connectCommand(Sender* sender, Signal signal, void (TFormMain::*handler)())
{
    connect(sender, signal, this, [this, handler] {
        try {
            FRun->whenIdle([this, handler] { (this->*handler)(); });
        } catch (...) {
            ReportCurrentException();
        }
    });
}

void TFormMain::connectHandlers()
{
    ConnectHandler(FChart.get(), &TStripChart::doubleClicked, this, &TFormMain::Chart1DblClick);
    connectCommand(ui->ModeConcentrationItem, &QAction::triggered, &TFormMain::ModeConcentrationItemClick);
    connectCommand(ui->ModeChannelsItem, &QAction::triggered, &TFormMain::ModeChannelsItemClick);
    connectCommand(ui->CommsSettingsItem, &QAction::triggered, &TFormMain::CommsSettingsItemClick);
    connectCommand(ui->CommsReconnectItem, &QAction::triggered, &TFormMain::CommsReconnectItemClick);
    ConnectHandler(ui->HelpAboutItem, &QAction::triggered, this, &TFormMain::HelpAboutItemClick);
    ConnectHandler(ui->edtGraphicsInterval, &QLineEdit::textChanged, this, &TFormMain::edtGraphicsIntervalChange);
    ConnectHandler(ui->edtLoggingInterval, &QLineEdit::textChanged, this, &TFormMain::edtLoggingIntervalChange);
    connectCommand(ui->btnGraphicsInterval, &QPushButton::clicked, &TFormMain::btnGraphicsIntervalClick);
    connectCommand(ui->btnLoggingInterval, &QPushButton::clicked, &TFormMain::btnLoggingIntervalClick);
    connectCommand(ui->btnLogging, &QPushButton::clicked, &TFormMain::btnLoggingClick);
    connectRun();
    // The check marks are set by the mode handlers only.
    ui->ModeConcentrationItem->setChecked(false);
    ui->ModeChannelsItem->setChecked(false);
}

void TFormMain::setupSize()
{
    // Never narrower than the value boxes plus the boxes kept at the top right, so that none overlap.
    int panelsRight = 0;
    for (const QGroupBox* box : {ui->gbConcentration, ui->gbChannel, ui->gbPressure, ui->gbHumidity, ui->gbSample,
                                 ui->gbReference, ui->gbTemperature})
        panelsRight = std::max(panelsRight, box->geometry().right() + 1);
    const int boxSpacing = ui->gbChannel->x() - (ui->gbConcentration->geometry().right() + 1);
    setMinimumWidth(std::max(minimumWidth(), panelsRight + boxSpacing + ui->gbGraphics->width() + GraphicsRightGap));

    // Client area 992 x 666 below the menu bar, centred on the screen.
    ui->centralWidget->installEventFilter(this);
    resize(DesignWidth, ui->MainMenu1->sizeHint().height() + DesignClientHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TFormMain::applyFonts()
{
    setPixelFont(this, FormFont, FormFontPixels, false);
    for (QGroupBox* box :
         {ui->gbConcentration, ui->gbChannel, ui->gbPressure, ui->gbHumidity, ui->gbSample, ui->gbReference,
          ui->gbTemperature, ui->gbGraphics, ui->gbLogging, ui->gbGraphicsInterval, ui->gbLoggingInterval})
        setPixelFont(box, FormFont, CaptionFontPixels, false);
    setPixelFont(ui->pnlConcentration, PanelFont, ConcentrationFontPixels, true);
    setPixelFont(ui->lblConcentrationUnits, PanelFont, ConcentrationFontPixels, true);
    for (QLabel* panel :
         {ui->pnlChannel, ui->pnlPressure, ui->pnlHumidity, ui->pnlSample, ui->pnlReference, ui->pnlTemperature})
        setPixelFont(panel, PanelFont, PanelFontPixels, true);
    setPixelFont(ui->btnLogging, FormFont, LoggingButtonFontPixels, false);
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->centralWidget && event->type() == QEvent::Resize)
        layoutAnchored();
    return QMainWindow::eventFilter(watched, event);
}

// Graphics and Logging stay at the top right; the chart stretches with the window.
void TFormMain::layoutAnchored()
{
    const int width = ui->centralWidget->width();
    const int height = ui->centralWidget->height();
    ui->gbGraphics->move(width - GraphicsRightGap - ui->gbGraphics->width(), ui->gbGraphics->y());
    ui->gbLogging->move(width - LoggingRightGap - ui->gbLogging->width(), ui->gbLogging->y());
    ui->Chart1->setGeometry(0, ChartTop, width, std::max(0, height - ChartTop));
}

QString TFormMain::StatusPanelText(int index) const
{
    return FStatusPanels[index]->text();
}

void TFormMain::setStatusText(int index, const QString& text)
{
    FStatusPanels[index]->setText(text);
    if (index == 1)
        FStatusNote = FLogNote = false;
}

void TFormMain::showStatusNote(const QString& text)
{
    setStatusText(1, text);
    FStatusNote = true;
}

void TFormMain::clearStatusMessage()
{
    if (!FStatusNote)
        setStatusText(1, QString());
}

void TFormMain::FormCreate()
{
    ApplyRegionalSettings();
    setWindowTitle(QCoreApplication::applicationName());
    // The chart's point storage grows in steps of a million points (TReservingGraphData).

    QString folder = FSetup.SettingsFolder;
    if (folder.isEmpty())
        folder = ResolveSettingsFolder(FSetup.ExecutableFolder.isEmpty() ? QCoreApplication::applicationDirPath()
                                                                         : FSetup.ExecutableFolder);
    const std::string fileBase =
        QDir(folder).filePath(QString::fromLatin1(SettingsFileBase)).toLocal8Bit().toStdString();
    FSettings = std::make_unique<TSettingParams>(fileBase, SettingsRootPath);
    if (!FSetup.PortListRoot.empty())
        FSettings->SetPortListRoot(FSetup.PortListRoot);
    if (FSettings->Load() != XmlResult::Ok)
        reportSettingsProblem(SettingsLoadFailureText(*FSettings));

    ui->CommsReconnectItem->setChecked(FSettings->Reconnect);
    Reconnect().setEnabled(FSettings->Reconnect);
    FRun->configurePort(FSettings->ComPort);
    FSensorReady = true;
    applyAlarmRules();
    openConfiguredPort();
    startPublishing();
}

void TFormMain::openConfiguredPort()
{
    setStatusText(0, QString::fromLocal8Bit(FRun->port()));
    ModeChannelsItemClick();
    FLogging = false;
    if (FRun->openPort()) {
        StartAcquisition();
        setStatusText(1, QString());
        warnOfOtherPortHolders();
    } else {
        // With Reconnect Automatically on, the port is tried like a lost one (an adapter plugged in late).
        StopAcquisition();
        setStatusText(1, QString::fromLatin1(PortUnavailableText));
    }
}

// Another program reading the same device takes replies away; say which, until the next message.
void TFormMain::warnOfOtherPortHolders()
{
    const std::vector<PortHolder> holders = OtherPortHolders(FRun->port());
    if (holders.empty())
        return;
    QStringList names;
    for (const PortHolder& holder : holders)
        names << QStringLiteral("%1 (%2)").arg(QString::fromLocal8Bit(holder.Command)).arg(holder.Pid);
    showStatusNote(
        QStringLiteral("The port is also open in %1: readings may go missing").arg(names.join(QStringLiteral(", "))));
}

// An open log file is closed with its last line end, synced; the publisher finishes in the background.
void TFormMain::FormDestroy()
{
    FRun.reset(); // closes the port and ends its event thread
    FSettings.reset();
}

void TFormMain::closeEvent(QCloseEvent* event)
{
    // Asked once: a close put off until the sensor's reply does not ask again.
    if (!FCloseConfirmed && !confirmClose()) {
        event->ignore();
        return;
    }
    if (FRun && FRun->requestPending()) {
        event->ignore();
        FRun->whenIdle([this] { close(); });
        return;
    }
    QMainWindow::closeEvent(event);
}

QTimer* TFormMain::DisplaysTimer() const
{
    return FRun->timer(TRun::Display);
}

QTimer* TFormMain::GraphicsTimer() const
{
    return FRun->timer(TRun::Chart);
}

QTimer* TFormMain::LogTimer() const
{
    return FRun->timer(TRun::Log);
}

QTimer* TFormMain::PublishTimer() const
{
    return FRun->timer(TRun::Publish);
}

const QDateTime& TFormMain::StartTime() const
{
    return FRun->startTime();
}

TSensor* TFormMain::Sensor() const
{
    return FSensorReady ? &FRun->sensor() : nullptr;
}

TReconnectController& TFormMain::Reconnect() const
{
    return FRun->reconnect();
}

bool TFormMain::ConcentrationMode() const
{
    return FRun->concentrationMode();
}

void TFormMain::ModeConcentrationItemClick()
{
    applyMode(true);
}

void TFormMain::ModeChannelsItemClick()
{
    applyMode(false);
}

void TFormMain::applyMode(bool concentration)
{
    struct ModeTexts {
        const char* sample;
        const char* reference;
        const char* channel;
        const char* series[3];
    };
    static constexpr ModeTexts channels{
        "Sample", "Reference", "Channel", {"Sample Counts", "Reference Counts", "Conc * 10000"}};
    static constexpr ModeTexts concentrations{
        "Channel 1", "Channel 2", "Channel 3", {"Conc 1 * 10000", "Conc 2 * 10000", "Conc 3 * 10000"}};
    const ModeTexts& texts = concentration ? concentrations : channels;
    // The lines break where the kind of values changes, as at an outage.
    if (concentration != FRun->concentrationMode())
        FChart->addGap(FRun->elapsedSeconds());
    ui->gbConcentration->setVisible(!concentration);
    ui->gbSample->setTitle(QString::fromLatin1(texts.sample));
    ui->gbReference->setTitle(QString::fromLatin1(texts.reference));
    ui->gbChannel->setTitle(QString::fromLatin1(texts.channel));
    ui->gbHumidity->setVisible(concentration);
    FRun->setConcentrationMode(concentration);
    for (int i = 0; i < 3; ++i)
        FChart->setSeriesTitle(i, QString::fromLatin1(texts.series[i]), FRun->elapsedSeconds());
    ui->ModeConcentrationItem->setChecked(concentration);
    ui->ModeChannelsItem->setChecked(!concentration);
}

void TFormMain::StartAcquisition()
{
    runAcquisition(true);
}

void TFormMain::runAcquisition(bool fresh)
{
    if (fresh) {
        for (QLabel* panel : FPanels)
            panel->clear();
        FPanelsTime = QDateTime();
        showPanelsOld(false);
        FChart->clear();
        FAlarmMarks->clearSpans();
        FOutageBands->clear();
        FRun->restartTime();
        FChart->setTimeOrigin(FRun->startTime());
    }
    FRun->startAcquisition();
    ui->edtGraphicsInterval->setEnabled(true);
    ui->edtLoggingInterval->setEnabled(true);
    ui->btnLogging->setEnabled(true);
}

void TFormMain::StopAcquisition()
{
    showPanelsOld(true);
    FRun->stopAcquisition();
    ui->edtGraphicsInterval->setEnabled(false);
    ui->edtLoggingInterval->setEnabled(false);
    // While a log file is open its STOP button stays usable, so that the file can be closed.
    if (!FLogging)
        ui->btnLogging->setEnabled(false);
}

// An outage beeps once however many ticks fail in it; with reconnection on, the run's log timer waits for
// the run to go on.
void TFormMain::sensorTimedOut(bool beginsOutage)
{
    if (beginsOutage) {
        Beep(TimeoutBeepHz, TimeoutBeepMs);
        FOutageBands->openBand(FRun->elapsedSeconds());
    }
    StopAcquisition();
    setStatusText(1, QString::fromLatin1(TimeoutText));
}

// While logging, neither the mode nor the port can change; Reconnect Automatically, which does not touch
// the port, stays usable.
void TFormMain::setMenusEnabledForLogging(bool enabled)
{
    ui->CommsSettingsItem->setEnabled(enabled);
    ui->menuMode->setEnabled(enabled);
}

void TFormMain::CommsSettingsItemClick()
{
    if (!FSettings || !FSensorReady) {
        ReportApplicationError(std::runtime_error(
            "The serial port cannot be changed: the program could not set up its sensor connection at "
            "start-up. Please check the settings file and the serial ports, then restart the program."));
        return;
    }
    auto dialog = std::make_unique<TFormSensorSettings>(this);
    dialog->SetComPort(FRun->port());
    const bool confirmed = dialog->exec() == QDialog::Accepted;
    const std::string chosen = dialog->FComPort;
    dialog.reset();
    if (!confirmed)
        return;

    FRun->closePort();
    FRun->configurePort(chosen);
    FSettings->ComPort = chosen;
    saveSettings();
    openConfiguredPort();
}

void TFormMain::saveSettings()
{
    std::string reason;
    int32_t result = XmlResult::SaveFailed;
    if (EnsureSettingsFolder(*FSettings, reason)) {
        result = FSettings->Save();
        reason = FSettings->ErrorText();
    }
    if (result != XmlResult::Ok)
        reportSettingsProblem(SettingsSaveFailureText(*FSettings, result, reason));
}

void TFormMain::reportSettingsProblem(const std::string& text)
{
    QTimer::singleShot(0, this, [text] { ReportApplicationError(std::runtime_error(text)); });
}

void TFormMain::HelpAboutItemClick()
{
    TFormAboutBox box;
    box.exec();
}

void TFormMain::keyPressEvent(QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && !qobject_cast<QAbstractButton*>(focusWidget())) {
        for (QPushButton* button : {ui->btnLoggingInterval, ui->btnGraphicsInterval}) {
            if (button->isEnabled()) {
                event->accept();
                button->click();
                return;
            }
        }
    }
    QMainWindow::keyPressEvent(event);
}
