#include "base/ErrorReport.h"

#include <QtGlobal>
#include <mutex>

namespace {
std::mutex reportLock;
ErrorReportFn& reportFn()
{
    static ErrorReportFn fn;
    return fn;
}
} // namespace

void SetApplicationErrorReport(ErrorReportFn report)
{
    std::lock_guard lock(reportLock);
    reportFn() = std::move(report);
}

void ReportApplicationError(const std::exception& error)
{
    ErrorReportFn fn;
    {
        std::lock_guard lock(reportLock);
        fn = reportFn();
    }
    if (fn)
        fn(error);
    else
        qWarning("%s", error.what());
}

void ReportCurrentException()
{
    try {
        throw;
    } catch (const std::exception& e) {
        ReportApplicationError(e);
    } catch (...) {
        ReportApplicationError(std::runtime_error("Unknown exception"));
    }
}
