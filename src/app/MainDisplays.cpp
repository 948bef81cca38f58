// The display tick and the two interval editors of the main window.
#include "app/Main.h"
#include "chart/StripChart.h"
#include "record/RunClock.h"
#include "record/ValidateLib.h"
#include "run/Run.h"
#include "run/RunLog.h"
#include "ui_Main.h"

#include <QTimer>

void TFormMain::DisplaysTimerTimer()
{
    FRun->tick(TRun::Display);
}

// What the run hands out and says, shown.
void TFormMain::connectRun()
{
    connect(FRun.get(), &TRun::reading, this, [this](TRun::Purpose purpose, const TReading& reading, double x) {
        if (purpose == TRun::Display)
            showPanels(PanelTexts(reading));
        else if (purpose == TRun::Chart)
            FChart->addPoints(x, ChartValues(reading).values());
    });
    connect(FRun.get(), &TRun::tickStarted, this, &TFormMain::clearStatusMessage);
    connect(FRun.get(), &TRun::readingsAged, this, [this] { showPanelsOld(true); });
    connect(FRun.get(), &TRun::timedOut, this, &TFormMain::sensorTimedOut);
    connect(FRun.get(), &TRun::reconnected, this, &TFormMain::resumeAcquisition);
    TRunLog& log = FRun->log();
    connect(&log, &TRunLog::failed, this, &TFormMain::logFailed);
    connect(&log, &TRunLog::replaced, this, &TFormMain::logFailed);
    connect(&log, &TRunLog::waitingChanged, this, [this](const QString& text) {
        if (FLogNote)
            logNote(text);
    });
    connect(&log, &TRunLog::recovered, this, &TFormMain::logNote);
}

void TFormMain::showPanels(const TPanelTexts& texts)
{
    for (const auto& [panel, text] : texts)
        FPanels[static_cast<size_t>(panel)]->setText(QString::fromStdString(text));
    FPanelsTime = FClock.wallNow();
    showPanelsOld(false);
}

void TFormMain::edtGraphicsIntervalChange()
{
    ui->btnGraphicsInterval->setEnabled(true);
}

void TFormMain::edtLoggingIntervalChange()
{
    ui->btnLoggingInterval->setEnabled(true);
}

void TFormMain::btnGraphicsIntervalClick()
{
    applyInterval(ui->edtGraphicsInterval, ui->btnGraphicsInterval, GraphicsTimer());
}

void TFormMain::btnLoggingIntervalClick()
{
    applyInterval(ui->edtLoggingInterval, ui->btnLoggingInterval, LogTimer());
}

// An invalid or too small text is replaced by the current interval; a text that passes the character
// check but does not convert, or whose milliseconds overflow, raises (EConvertError, EIntOverflow).
void TFormMain::applyInterval(QLineEdit* edit, QPushButton* button, QTimer* timer)
{
    button->setEnabled(false);
    const int32_t milliseconds = IntervalMilliseconds(edit->text().toStdString());
    if (milliseconds < 0) {
        edit->setText(QString::number(timer->interval() / 1000));
        edit->setFocus();
        return;
    }
    if (milliseconds != timer->interval())
        timer->setInterval(milliseconds); // restarts a running timer
}
