// An unattended run of the application (offscreen) against velmora-sensor-sim: logs LINES lines at the
// window's default 1 s interval and reports the spacing of their timestamps. With --replug-at K the
// simulator drops its device after K lines and brings it back behind the same link (the application
// reconnects by itself); the log lines around the outage and the status bar messages are printed.
//
//   bench_unattended [--lines N] [--replug-at K] [--coarse] [--keep FOLDER] [--screenshot FILE] [--sim ARG]...
//   bench_unattended --until-timeout --sim --silent-after --sim 40
//
// --until-timeout ends the run at the time-out message and prints how long after the last request it came
// (with every timer of the window running).
// --coarse sets the three acquisition timers back to Qt's coarse timers, for comparison. Each --sim ARG
// is passed on to the simulator (for example --sim --noise-every --sim 5 for a noisy line); the requests
// the simulator received during the run are counted.
#include "app/Main.h"
#include "app/SaveDialog.h"
#include "settings/SettingParams.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> readLines(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// Milliseconds of the day of a data line's time field (hh:mm:ss.mmm), or -1.
long timeOfDayMs(const std::string& line)
{
    const size_t tab = line.find('\t');
    unsigned h, m, s, ms;
    if (tab == std::string::npos || std::sscanf(line.c_str() + tab + 1, "%2u:%2u:%2u.%3u", &h, &m, &s, &ms) != 4)
        return -1;
    return ((static_cast<long>(h) * 60 + m) * 60 + s) * 1000 + ms;
}

double seconds(long ms)
{
    return static_cast<double>(ms) / 1000.0;
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    int lines = 60;
    int replugAt = -1;
    bool coarse = false;
    bool untilTimeout = false;
    QString keep, screenshot;
    QStringList simExtra;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--lines" && hasValue)
            lines = std::atoi(argv[++i]);
        else if (arg == "--replug-at" && hasValue)
            replugAt = std::atoi(argv[++i]);
        else if (arg == "--coarse")
            coarse = true;
        else if (arg == "--until-timeout")
            untilTimeout = true;
        else if (arg == "--keep" && hasValue)
            keep = QString::fromLocal8Bit(argv[++i]);
        else if (arg == "--screenshot" && hasValue)
            screenshot = QString::fromLocal8Bit(argv[++i]);
        else if (arg == "--sim" && hasValue)
            simExtra << QString::fromLocal8Bit(argv[++i]);
        else {
            std::fprintf(stderr,
                         "usage: %s [--lines N] [--replug-at K] [--coarse] [--keep FOLDER] [--screenshot FILE] "
                         "[--sim ARG]...\n",
                         argv[0]);
            return 2;
        }
    }

    QTemporaryDir temp;
    const QString dir = keep.isEmpty() ? temp.path() : keep;
    QDir().mkpath(dir);
    const QString link = dir + QStringLiteral("/sensor");
    QProcess sim;
    QStringList simArgs = {QStringLiteral("--link"), link, QStringLiteral("--show-commands")};
    simArgs << simExtra;
    if (replugAt >= 0)
        simArgs << QStringLiteral("--replug-delay") << QStringLiteral("3");
    sim.start(QStringLiteral(VELMORA_SENSOR_SIM), simArgs);
    if (!sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "the simulator did not start: %s\n", sim.readAllStandardError().constData());
        return 1;
    }
    const QString port = QString::fromLocal8Bit(sim.readLine()).trimmed();
    int requests = 0; // commands the simulator printed, one a line
    QElapsedTimer clock;
    clock.start();
    qint64 lastRequestAt = 0;
    QObject::connect(&sim, &QProcess::readyReadStandardOutput, [&] {
        while (sim.canReadLine())
            if (!sim.readLine().trimmed().isEmpty()) {
                ++requests;
                lastRequestAt = clock.elapsed();
            }
    });
    int requestsAtStart = 0;
    QElapsedTimer logging;

    {
        TSettingParams settings((dir + QStringLiteral("/SensorSettings")).toStdString(), TFormMain::SettingsRootPath);
        settings.SetPortListRoot(dir.toStdString());
        settings.ComPort = port.toStdString();
        settings.Reconnect = replugAt >= 0;
        settings.Save();
    }
    const std::string logFile = (dir + QStringLiteral("/run.txt")).toStdString();
    TSaveDialog::SetExecuteFunction([&](const TSaveDialog&) { return QString::fromStdString(logFile); });

    TFormMain window({dir, dir.toStdString(), {}});
    window.show();
    if (coarse)
        for (QTimer* timer : {window.DisplaysTimer(), window.GraphicsTimer(), window.LogTimer()})
            timer->setTimerType(Qt::CoarseTimer);
    const auto* status = window.findChild<QLabel*>(QStringLiteral("StatusBar1Panel1"));
    std::vector<std::string> messages;
    QString lastStatus;
    bool replugged = false;
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (status->text() != lastStatus) {
            lastStatus = status->text();
            if (untilTimeout && lastStatus.startsWith(QStringLiteral("Comms response"))) {
                std::printf("Time-out message %.2f s after the last request (%d requests)\n",
                            static_cast<double>(clock.elapsed() - lastRequestAt) / 1000.0, requests);
                app.quit();
            }
            messages.push_back(QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")).toStdString() + "  \""
                               + lastStatus.toStdString() + "\"");
        }
        const int written = static_cast<int>(readLines(logFile).size()) - 1;
        if (!replugged && replugAt >= 0 && written >= replugAt) {
            replugged = true;
            messages.push_back(QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")).toStdString()
                               + "  (simulator: device dropped)");
            ::kill(static_cast<pid_t>(sim.processId()), SIGUSR2);
        }
        if (written >= lines)
            app.quit();
    });
    QTimer::singleShot(1000, [&] {
        window.findChild<QPushButton*>(QStringLiteral("btnLogging"))->click();
        requestsAtStart = requests;
        logging.start();
        watch.start();
    });
    QTimer::singleShot((lines + 60) * 1000, &app, &QCoreApplication::quit); // a stuck run ends anyway
    app.exec();
    if (!screenshot.isEmpty())
        window.grab().save(screenshot);
    const int runRequests = requests - requestsAtStart;
    const double runSeconds = logging.isValid() ? static_cast<double>(logging.elapsed()) / 1000.0 : 0.0;
    window.findChild<QPushButton*>(QStringLiteral("btnLogging"))->click();
    sim.terminate();
    sim.waitForFinished(5000);

    const std::vector<std::string> log = readLines(logFile);
    std::vector<long> gaps;
    long previous = -1;
    for (size_t i = 1; i < log.size(); ++i) {
        const long t = timeOfDayMs(log[i]);
        if (t < 0)
            continue;
        if (previous >= 0)
            gaps.push_back(t >= previous ? t - previous : t + 86400000 - previous);
        previous = t;
    }
    if (replugAt >= 0) {
        std::printf("Log lines around the outage:\n");
        size_t widest = 0;
        for (size_t i = 1; i < gaps.size(); ++i)
            if (gaps[i] > gaps[widest])
                widest = i;
        for (size_t i = widest > 2 ? widest - 2 : 0; i < std::min(log.size() - 1, widest + 5); ++i)
            std::printf("  %s\n", log[i + 1].c_str());
        std::printf("Status bar, panel 1:\n");
        for (const std::string& m : messages)
            std::printf("  %s\n", m.c_str());
        std::printf("Widest gap between log lines: %.3f s\n",
                    gaps.empty() ? 0.0 : static_cast<double>(gaps[widest]) / 1000.0);
    }
    std::vector<long> sorted = gaps;
    std::sort(sorted.begin(), sorted.end());
    if (sorted.empty())
        return 1;
    std::printf(
        "| Log spacing at a 1 s interval (%zu lines, %s timers) | min %.3f s, median %.3f s, max %.3f s | 1.000 s |\n",
        log.size() - 1, coarse ? "coarse" : "the window's", seconds(sorted.front()), seconds(sorted[sorted.size() / 2]),
        seconds(sorted.back()));
    std::printf("Requests while logging: %d in %.1f s\n", runRequests, runSeconds);
    std::printf("Spacing in order (s):");
    for (long g : gaps)
        std::printf(" %.3f", seconds(g));
    std::printf("\n");
    return 0;
}
