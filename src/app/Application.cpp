#include "app/Application.h"

#include "base/ErrorReport.h"

#include <QDirIterator>
#include <QIcon>
#include <QMessageBox>
#include <stdexcept>

static void initIconResources()
{
    Q_INIT_RESOURCE(AppIcon);
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // The program's icon, in the sizes the install puts into the icon theme; windows and dialogs show it.
    initIconResources();
    QIcon icon;
    QDirIterator sizes(QStringLiteral(":/icons"));
    while (sizes.hasNext())
        icon.addFile(sizes.next());
    setWindowIcon(icon);
    setDesktopFileName(QStringLiteral("org.example.VelmoraLogger")); // the installed desktop entry
}

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
