#pragma once
#include <exception>
#include <functional>

// The application's error report: where an exception that leaves a handler ends up. The serial event
// delivery reports handler exceptions here; the application installs its message box.
using ErrorReportFn = std::function<void(const std::exception& error)>;
void SetApplicationErrorReport(ErrorReportFn report);
void ReportApplicationError(const std::exception& error);
// Reports the exception currently being handled (inside a catch block).
void ReportCurrentException();
