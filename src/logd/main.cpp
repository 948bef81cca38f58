// velmora-logd: the sensor's readings logged to files without a window, for a service manager.
#include "base/ErrorReport.h"
#include "logd/LogdOptions.h"
#include "logd/LoggingService.h"
#include "logd/SignalEvents.h"
#include "publish/Publisher.h"
#include "record/RunClock.h"
#include "serial/EComPort.h"

#include <QCoreApplication>
#include <QDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <sysexits.h>

namespace {

void say(const std::string& line)
{
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

} // namespace

int main(int argc, char** argv)
{
    TSignalEvents::Block(); // before any thread starts
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmora-logd"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION_TEXT));
    SetApplicationErrorReport([](const std::exception& error) { say(error.what()); });

    TLogdOptions options;
    const TLogdStart start = ParseLogdOptions(app.arguments(), options);
    if (!start.run) {
        std::fputs(start.text.c_str(), start.exitCode == 0 ? stdout : stderr);
        if (start.exitCode != 0)
            std::fputs("\n", stderr);
        return start.exitCode;
    }
    if (!start.text.empty())
        say(start.text);

    const QDir localeDir(QCoreApplication::applicationDirPath() + QStringLiteral("/locale"));
    RegisterPortErrorTexts(localeDir.exists() ? localeDir.absolutePath().toLocal8Bit().constData()
                                              : VELMORA_INSTALL_LOCALEDIR);

    int code = 0;
    {
        TLoggingService service(options, systemRunClock(), say);
        // Signals take effect between two requests to the sensor, never inside one's wait.
        TSignalEvents signalEvents;
        QObject::connect(&signalEvents, &TSignalEvents::terminate, &service,
                         [&service](int) { service.whenIdle([] { QCoreApplication::exit(0); }); });
        QObject::connect(&signalEvents, &TSignalEvents::hangUp, &service,
                         [&service] { service.whenIdle([&service] { service.startNewFile(); }); });
        if (!service.start()) {
            service.finish();
            code = EX_CONFIG;
        } else {
            code = app.exec();
            service.finish();
        }
    }
    TPublisher::waitForRetired(std::chrono::seconds(3)); // "offline" for the broker, if it answers in time
    return code;
}
