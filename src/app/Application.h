#pragma once
#include "serial/ErrorReport.h"

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

// Connects a signal to a handler without arguments. An exception leaving the handler goes to the
// application's error report right there, so it never unwinds through the framework's own frames
// (they are not exception-safe: events in flight would leak); notify() stays the catch point for the rest.
template <typename Sender, typename Signal, typename Receiver>
QMetaObject::Connection ConnectHandler(Sender* sender, Signal signal, Receiver* receiver, void (Receiver::*handler)())
{
    return QObject::connect(sender, signal, receiver, [receiver, handler] {
        try {
            (receiver->*handler)();
        } catch (...) {
            ReportCurrentException();
        }
    });
}
