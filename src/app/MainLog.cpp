// Logging to a tab-separated text file: START/STOP and the log tick.
#include "app/Main.h"
#include "app/SaveDialog.h"
#include "base/ErrorReport.h"
#include "run/Run.h"
#include "ui_Main.h"

#include <QTimer>
#include <exception>
#include <stdexcept>

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
        FRun->startLog(SaveDialog1->FileName().toLocal8Bit().toStdString());
    } catch (...) {
        // A file that cannot be created or written: back to the not-logging state, then report.
        FLogging = false;
        ui->btnLogging->setText(QStringLiteral("START"));
        ui->btnLogging->setEnabled(FRun->acquiring());
        setMenusEnabledForLogging(true);
        throw;
    }
}

void TFormMain::stopLogging()
{
    FLogging = false;
    std::exception_ptr closeError;
    try {
        FRun->stopLog();
    } catch (...) {
        closeError = std::current_exception(); // the file is closed all the same
    }
    if (FLogNote)
        setStatusText(1, QString());
    ui->btnLogging->setText(QStringLiteral("START"));
    ui->btnLogging->setEnabled(FRun->acquiring());
    setMenusEnabledForLogging(true);
    if (closeError)
        std::rethrow_exception(closeError);
}

void TFormMain::LogTimerTimer()
{
    FRun->tick(TRun::Log);
}

// Logging goes on: the note stays until the next message, the message box comes once the tick is over.
void TFormMain::logFailed(const QString& text)
{
    logNote(text);
    QTimer::singleShot(0, this, [text] { ReportApplicationError(std::runtime_error(text.toStdString())); });
}

void TFormMain::logNote(const QString& text)
{
    showStatusNote(text);
    FLogNote = true;
}
