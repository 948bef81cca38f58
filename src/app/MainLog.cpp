// Logging to a tab-separated text file: START/STOP and the log tick.
#include "sensor/ExceptionLib.h"
#include "app/Main.h"
#include "app/MainTick.h"
#include "app/SaveDialog.h"
#include "sensor/SensorObjects.h"
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
        FLogFile.Rewrite(SaveDialog1->FileName().toLocal8Bit().toStdString());
        FLogFile.Write(LogHeader(FConcentrationMode));
        FLogFile.Flush();
        FLogFile.WriteLineEnd();
    } catch (...) {
        // A file that cannot be created or written: back to the not-logging state, then report.
        FLogFile.Abandon();
        FLogging = false;
        ui->btnLogging->setText(QStringLiteral("START"));
        ui->btnLogging->setEnabled(FAcquiring);
        setMenusEnabledForLogging(true);
        throw;
    }
    LogTimer->start();
}

void TFormMain::stopLogging()
{
    FLogging = false;
    LogTimer->stop();
    std::exception_ptr closeError;
    if (FLogFile.IsOpen()) {
        try {
            FLogFile.Close();
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
    runTick(LogTimer, [this](const auto& reading) {
        if (!FLogFile.IsOpen())
            return false; // logging was stopped while the sensor was asked
        writeLogLine(LogValues(reading));
        return true;
    });
}

// Each field and each TAB goes to the system at once; the line end waits in the buffer.
void TFormMain::writeLogField(const std::string& text, bool last)
{
    FLogFile.Write(text);
    FLogFile.Flush();
    if (!last) {
        FLogFile.Write("\t");
        FLogFile.Flush();
    }
}

template <size_t N> void TFormMain::writeLogLine(const std::array<std::string, N>& values)
{
    writeLogField(FormatLogDate(QDate::currentDate()), false);
    const QTime time = QTime::currentTime();
    writeLogField(FormatLogTime(static_cast<unsigned>(time.hour()), static_cast<unsigned>(time.minute()),
                                static_cast<unsigned>(time.second()), static_cast<unsigned>(time.msec())),
                  false);
    for (size_t i = 0; i < N; ++i)
        writeLogField(values[i], i + 1 == N);
    FLogFile.WriteLineEnd();
}
