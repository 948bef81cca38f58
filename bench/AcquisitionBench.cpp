// The application (offscreen) acquiring in Channels mode while the far end of a pseudo-terminal sends
// channel lines back to back at the wire rate of 57600 8N1 (5760 bytes a second). Reports the
// application's CPU time as a share of one core (the sending thread's own CPU time subtracted) and the
// latency from a line's CR written on the PTY to the sensor's record holding that line's values.
#include "app/Main.h"
#include "sensor/SensorObjects.h"
#include "settings/SettingParams.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int SampleBase = 10000;

double cpuSeconds(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? atoi(argv[1]) : 60;

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    const std::string slave = ptsname(master);
    const int keepSlave = open(slave.c_str(), O_RDWR | O_NOCTTY); // the line stays up between opens

    QTemporaryDir dir;
    {
        TSettingParams settings((dir.path() + "/SensorSettings").toStdString(), "Sensor\\Settings");
        settings.SetPortListRoot(dir.path().toStdString());
        settings.ComPort = slave;
        settings.Save();
    }

    const size_t maxLines = static_cast<size_t>(seconds + 5) * 200;
    std::vector<Clock::time_point> written(maxLines), parsed(maxLines);
    std::vector<char> seen(maxLines, 0);
    std::atomic<bool> stop{false};
    std::atomic<double> senderCpu{0};
    std::atomic<size_t> sent{0};

    std::thread sender([&] {
        const double cpu0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        auto next = Clock::now();
        char sink[256];
        for (size_t i = 0; i < maxLines && !stop; ++i) {
            const std::string line =
                "\nN1 " + std::to_string(SampleBase + static_cast<int>(i)) + " 49000 513 0.0100 21 101.30\r";
            size_t done = 0;
            while (done < line.size()) {
                const ssize_t n = write(master, line.data() + done, line.size() - done);
                if (n > 0)
                    done += static_cast<size_t>(n);
            }
            written[i] = Clock::now();
            sent = i + 1;
            while (read(master, sink, sizeof sink) > 0) { // commands from the application
            }
            next += std::chrono::microseconds(1000000 * line.size() / 5760); // wire time of the line
            std::this_thread::sleep_until(next);
        }
        senderCpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpu0;
    });
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    TFormMainSetup paths;
    paths.SettingsFolder = dir.path();
    paths.PortListRoot = dir.path().toStdString();
    TFormMain window(paths);
    window.show();
    TSensor* sensor = window.Sensor();
    const auto handler = sensor->OnRxFlag;
    sensor->OnRxFlag = [&](QObject* s) {
        handler(s);
        const int index = sensor->Channels().Sample - SampleBase;
        if (index >= 0 && static_cast<size_t>(index) < maxLines && !seen[static_cast<size_t>(index)]) {
            seen[static_cast<size_t>(index)] = 1;
            parsed[static_cast<size_t>(index)] = Clock::now();
        }
    };

    const auto t0 = Clock::now();
    const double cpu0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    const double cpu = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    stop = true;
    sender.join();
    const double appCpu = cpu - senderCpu;

    std::vector<double> latencyUs;
    for (size_t i = 0; i < sent; ++i)
        if (seen[i])
            latencyUs.push_back(std::chrono::duration<double, std::micro>(parsed[i] - written[i]).count());
    std::sort(latencyUs.begin(), latencyUs.end());
    auto pct = [&](double p) {
        return latencyUs.empty() ? 0.0 : latencyUs[static_cast<size_t>(p * static_cast<double>(latencyUs.size() - 1))];
    };
    printf("| Acquiring at full wire rate (%zu lines in %.0f s, %zu parsed) | CPU %.2f %% of a core; latency median "
           "%.3f ms, 99th %.3f ms | < 2 %%; median < 1 ms |\n",
           static_cast<size_t>(sent), wall, latencyUs.size(), 100.0 * appCpu / wall, pct(0.5) / 1000.0,
           pct(0.99) / 1000.0);
    close(keepSlave);
    close(master);
    return 0;
}
