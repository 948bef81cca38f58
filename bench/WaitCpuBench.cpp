// CPU time used while the sensor object waits for a silent sensor, against a baseline loop that
// processes events without blocking until the same deadline. Prints one table row per case.
#include "sensor/ExceptionLib.h"
#include "sensor/SensorObjects.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void row(const char* what, double cpu, double wall, const char* goal)
{
    printf("| %s | %.3f s CPU in %.1f s (%.3f %%) | %s |\n", what, cpu, wall, 100.0 * cpu / wall, goal);
    fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int requests = argc > 1 ? atoi(argv[1]) : 2; // each times out after the 10000 ms command wait

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    TSensor sensor;
    sensor.ConfigurePort(ptsname(master));
    sensor.Open();

    QElapsedTimer wall;
    wall.start();
    const double cpu0 = cpuSeconds();
    int timeouts = 0;
    for (int i = 0; i < requests; ++i) {
        try {
            TChannelsModeStructure reading;
            sensor.GetChannelsReading(reading);
        } catch (const ESensorError&) {
            ++timeouts;
        }
    }
    const double waitCpu = cpuSeconds() - cpu0;
    const double waitWall = static_cast<double>(wall.elapsed()) / 1000.0;
    if (timeouts != requests)
        fprintf(stderr, "expected %d time-outs, got %d\n", requests, timeouts);
    row("Wait for a silent sensor (event loop)", waitCpu, waitWall, "< 0.5 % of the wait");

    // Baseline: process events without blocking until the same time has passed.
    wall.restart();
    const double cpu1 = cpuSeconds();
    while (wall.elapsed() < static_cast<qint64>(waitWall * 1000))
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    row("Baseline: non-blocking event processing loop", cpuSeconds() - cpu1,
        static_cast<double>(wall.elapsed()) / 1000.0, "near 100 %");
    sensor.Close();
    ::close(master);
    return 0;
}
