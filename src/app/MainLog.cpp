// Logging to a tab-separated text file: START/STOP and the log tick.
#include "app/Main.h"
#include "app/SaveDialog.h"
#include "record/Acquisition.h"
#include "record/LogWriter.h"
#include "ui_Main.h"

#include <QTimer>
#include <exception>

void TFormMain::btnLoggingClick()
{
    if (FLogging)
        stopLogging();
    else
        startLogging();
}

void TFormMain::startLogging()
{
    SaveDialog1->SetDefaultExt(QStringLiteral("txt"));
    SaveDialog1->SetFilter(QStringLiteral("Text files (*.txt)|*.txt|All files (*)|*"));
    SaveDialog1->SetOptions(TSaveDialog::OverwritePrompt);
    if (!SaveDialog1->Execute(this))
        return;
    FLogging = true;
    setMenusEnabledForLogging(false);
    ui->btnLogging->setText(QStringLiteral("STOP"));
    try {
        FLogFile->open(SaveDialog1->FileName().toLocal8Bit().toStdString(), ConcentrationMode());
    } catch (...) {
        // A file that cannot be created or written: back to the not-logging state, then report.
        FLogging = false;
        ui->btnLogging->setText(QStringLiteral("START"));
        ui->btnLogging->setEnabled(FAcquiring);
        setMenusEnabledForLogging(true);
        throw;
    }
    FLogTimer->start();
}

void TFormMain::stopLogging()
{
    FLogging = false;
    FLogTimer->stop();
    std::exception_ptr closeError;
    if (FLogFile->isOpen()) {
        try {
            FLogFile->close();
        } catch (...) {
            closeError = std::current_exception(); // the file is closed all the same
        }
    }
    ui->btnLogging->setText(QStringLiteral("START"));
    ui->btnLogging->setEnabled(FAcquiring);
    setMenusEnabledForLogging(true);
    if (closeError)
        std::rethrow_exception(closeError);
}

void TFormMain::LogTimerTimer()
{
    clearStatusMessage();
    FAcquisition->runTick(FLogTimer, [this](const TReading& reading) {
        if (!FLogFile->isOpen())
            return false; // logging was stopped while the sensor was asked
        FLogFile->writeLine(reading);
        return true;
    });
}
