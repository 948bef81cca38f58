// The display tick and the two interval editors of the main window.
#include "record/Conversions.h"
#include "sensor/ExceptionLib.h"
#include "app/Main.h"
#include "app/MainTick.h"
#include "sensor/SensorObjects.h"
#include "record/ValidateLib.h"
#include "ui_Main.h"

#include <QTimer>

void TFormMain::DisplaysTimerTimer()
{
    runTick(DisplaysTimer, [this](const auto& reading) {
        showPanels(PanelTexts(reading));
        return true;
    });
}

void TFormMain::showPanels(const TPanelTexts& texts)
{
    for (const auto& [panel, text] : texts)
        FPanels[static_cast<size_t>(panel)]->setText(QString::fromStdString(text));
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
    applyInterval(ui->edtGraphicsInterval, ui->btnGraphicsInterval, GraphicsTimer);
}

void TFormMain::btnLoggingIntervalClick()
{
    applyInterval(ui->edtLoggingInterval, ui->btnLoggingInterval, LogTimer);
}

// An invalid or too small text is replaced by the current interval; a text that passes the character
// check but does not convert, or whose milliseconds overflow, raises (EConvertError, EIntOverflow).
void TFormMain::applyInterval(QLineEdit* edit, QPushButton* button, QTimer* timer)
{
    button->setEnabled(false);
    const int seconds = timer->interval() / 1000;
    const std::string text = edit->text().toStdString();
    if (IsInvalidIntegerMin(text, 1)) {
        edit->setText(QString::number(seconds));
        edit->setFocus();
        return;
    }
    const int32_t milliseconds = MultiplyChecked(StrToInt(text), 1000);
    if (milliseconds != timer->interval())
        timer->setInterval(milliseconds); // restarts a running timer
}
