// Closing the window while it logs or publishes: asked first, naming the log file.
#include "app/Main.h"
#include "run/Run.h"
#include "run/RunLog.h"
#include "run/RunPublishing.h"

#include <QDir>
#include <QMessageBox>

bool TFormMain::confirmClose()
{
    if (!FRun)
        return true;
    const bool logging = FLogging && FRun->log().isOpen();
    const bool publishing = FRun->publishing().active();
    if (!logging && !publishing)
        return true;
    const QString file = QDir::toNativeSeparators(QString::fromLocal8Bit(FRun->log().fileName()));
    QString text;
    if (logging && publishing)
        text = tr("Logging to %1 and publishing are running.").arg(file);
    else if (logging)
        text = tr("Logging to %1 is running.").arg(file);
    else
        text = tr("Publishing is running.");
    text += QLatin1Char('\n') + tr("Close the window and stop?");
    QMessageBox box(QMessageBox::Question, windowTitle(), text, QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName(QStringLiteral("CloseQuestion"));
    box.setDefaultButton(QMessageBox::No);
    FCloseConfirmed = box.exec() == QMessageBox::Yes;
    return FCloseConfirmed;
}
