#include "Application.h"

#include "ErrorReport.h"

#include <QMessageBox>
#include <stdexcept>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ReportApplicationError(error);
    } catch (...) {
        ReportApplicationError(std::runtime_error("Unknown exception"));
    }
    return false;
}

void ShowErrorMessageBox(const std::exception& error)
{
    QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationName(),
                          QString::fromLocal8Bit(error.what()));
}

void InstallDefaultErrorReport()
{
    SetApplicationErrorReport(&ShowErrorMessageBox);
}
