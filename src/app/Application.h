#pragma once
#include "base/ErrorReport.h"

#include <QApplication>
#include <exception>

// The application object, with the program's icon. An exception that leaves any event handler ends in
// notify(), which hands it to the application's error report (ReportApplicationError) and lets the
// program go on.
class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// The default error report: a message box with the exception's message over the active window.
void ShowErrorMessageBox(const std::exception& error);
// Installs ShowErrorMessageBox as the application's error report (also used by the serial event delivery).
void InstallDefaultErrorReport();
