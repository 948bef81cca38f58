// The display tick and the two interval editors of the main window.
#include "app/Main.h"
#include "record/Acquisition.h"
#include "record/RunClock.h"
#include "record/ValidateLib.h"
#include "ui_Main.h"

#include <QTimer>

void TFormMain::DisplaysTimerTimer()
{
    clearStatusMessage();
    FAcquisition->runTick(FDisplaysTimer, [this](const TReading& reading) {
        showPanels(PanelTexts(reading));
        return true;
    });
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
    applyInterval(ui->edtGraphicsInterval, ui->btnGraphicsInterval, FGraphicsTimer);
}

void TFormMain::btnLoggingIntervalClick()
{
    applyInterval(ui->edtLoggingInterval, ui->btnLoggingInterval, FLogTimer);
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
