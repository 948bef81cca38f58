#pragma once
#include <QObject>
#include <exception>
#include <functional>

// The application's error report: where an exception that leaves a handler ends up. The serial event
// delivery reports handler exceptions here; the application installs its message box.
using ErrorReportFn = std::function<void(const std::exception& error)>;
void SetApplicationErrorReport(ErrorReportFn report);
void ReportApplicationError(const std::exception& error);
// Reports the exception currently being handled (inside a catch block).
void ReportCurrentException();

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
