// CPU share of one core used by two readers of the same wire, run side by side: the sensor object with a
// 125 ms timer taking the channels reading, and a plain reader (QSerialPort readyRead on the main thread,
// split at CR, six numbers parsed with from_chars, the same timer). Each reader is its own process with
// its own sender process, which writes channel lines back to back at the wire rate of 57600 8N1 on a
// pseudo-terminal and answers nothing. Only the reader process's CPU time is counted.
//
//   bench_reader_cpu [seconds [rounds]]   both readers side by side, one table row
//   bench_reader_cpu --only sensor|plain [seconds]   one reader in this process (for profilers)
#include "sensor/ExceptionLib.h"
#include "sensor/SensorObjects.h"

#include <QCoreApplication>
#include <QSerialPort>
#include <QTimer>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <map>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int WarmUpMs = 1500;
constexpr int TimerMs = 125;
constexpr int SampleCycle = 256;                      // the sender's sample counts go round 50000 .. 50255
constexpr double WireBytesPerSecond = 57600.0 / 10.0; // 8N1: ten bits a byte
bool perThreadSplit = false;                          // --only: also print each thread's share

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The far end: channel lines, each sent when the previous one has left the wire, until `stop` closes.
[[noreturn]] void sendLines(int master, int stop)
{
    std::vector<std::string> lines;
    for (int i = 0; i < SampleCycle; ++i)
        lines.push_back("\nN1 " + std::to_string(50000 + i) + " 49012 514 +0.01002 21 101.29\r");
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    auto next = std::chrono::steady_clock::now();
    char sink[256];
    for (size_t i = 0;; ++i) {
        const std::string& line = lines[i % lines.size()];
        for (size_t done = 0; done < line.size();) {
            const ssize_t n = write(master, line.data() + done, line.size() - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else {
                pollfd p{master, POLLOUT, 0};
                poll(&p, 1, 100);
            }
        }
        while (read(master, sink, sizeof sink) > 0) { // requests from the reader
        }
        next +=
            std::chrono::microseconds(static_cast<long>(1e6 * static_cast<double>(line.size()) / WireBytesPerSecond));
        pollfd p{stop, POLLIN, 0};
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - std::chrono::steady_clock::now()).count();
        if (left > 0 && poll(&p, 1, static_cast<int>(left)) > 0)
            _exit(0); // the reader closed the pipe
        std::this_thread::sleep_until(next);
    }
}

struct Line {
    int master = -1;
    int keepSlave = -1;
    std::string slave;
    pid_t sender = -1;
    int stop = -1; // closing it ends the sender
};

Line startLine()
{
    Line line;
    line.master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(line.master);
    unlockpt(line.master);
    line.slave = ptsname(line.master);
    line.keepSlave = open(line.slave.c_str(), O_RDWR | O_NOCTTY); // the line stays up while readers open it
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        perror("pipe");
        exit(1);
    }
    line.sender = fork();
    if (line.sender == 0) {
        close(pipeFds[1]);
        sendLines(line.master, pipeFds[0]);
    }
    close(pipeFds[0]);
    close(line.master);
    line.stop = pipeFds[1];
    return line;
}

void endLine(Line& line)
{
    close(line.stop);
    waitpid(line.sender, nullptr, 0);
    close(line.keepSlave);
}

// The plain reader's record of a channel line: N<ch> sample reference pwm concentration temperature pressure.
struct PlainChannels {
    int channel = 0, sample = 0, reference = 0, pwm = 0, temperature = 0;
    double concentration = 0, pressure = 0;
};

bool parseChannels(const char* p, const char* end, PlainChannels& r)
{
    if (end - p < 3 || p[0] != 'N' || p[1] < '1' || p[1] > '5' || p[2] != ' ')
        return false;
    r.channel = p[1] - '0';
    p += 3;
    auto field = [&](auto& value) {
        while (p < end && (*p == ' ' || *p == '+')) // new firmware signs the concentration
            ++p;
        const auto [next, ec] = std::from_chars(p, end, value);
        p = next;
        return ec == std::errc();
    };
    return field(r.sample) && field(r.reference) && field(r.pwm) && field(r.concentration) && field(r.temperature)
           && field(r.pressure);
}

// One reader in this process for `seconds` after a warm-up; returns its CPU share of one core in percent
// and the number of lines it parsed meanwhile.
struct Result {
    double cpuPercent = 0;
    long lines = 0;
};

// CPU nanoseconds of each thread of this process, by thread id (for the per-thread split of --only).
std::map<std::string, long long> threadCpuNanoseconds()
{
    std::map<std::string, long long> out;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(tasks)) {
            if (entry->d_name[0] == '.')
                continue;
            if (FILE* f = fopen(("/proc/self/task/" + std::string(entry->d_name) + "/schedstat").c_str(), "r")) {
                long long ns = 0;
                if (fscanf(f, "%lld", &ns) == 1)
                    out[entry->d_name] = ns;
                fclose(f);
            }
        }
        closedir(tasks);
    }
    return out;
}

Result measure(int seconds, const std::function<long()>& linesSoFar)
{
    Result result;
    double cpu0 = 0;
    long lines0 = 0;
    std::map<std::string, long long> threads0;
    std::chrono::steady_clock::time_point t0;
    QTimer::singleShot(WarmUpMs, [&] {
        cpu0 = processCpuSeconds();
        lines0 = linesSoFar();
        threads0 = threadCpuNanoseconds();
        t0 = std::chrono::steady_clock::now();
    });
    QTimer::singleShot(WarmUpMs + seconds * 1000, [&] {
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        result.cpuPercent = 100.0 * (processCpuSeconds() - cpu0) / wall;
        result.lines = linesSoFar() - lines0;
        if (perThreadSplit)
            for (const auto& [tid, ns] : threadCpuNanoseconds())
                printf("  thread %s: %.2f %% of a core, %.1f us a line\n", tid.c_str(),
                       100.0 * (ns - threads0[tid]) / 1e9 / wall,
                       (ns - threads0[tid]) / 1e3 / static_cast<double>(std::max(result.lines, 1L)));
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    return result;
}

Result runSensorReader(const std::string& slave, int seconds)
{
    TSensor sensor;
    sensor.ConfigurePort(slave);
    sensor.Open();
    long lines = 0;
    int lastSample = -1;
    const auto handler = sensor.OnRxFlag;
    sensor.OnRxFlag = [&](QObject* s) { // consecutive lines count their samples up by one
        const int before = sensor.Channels().Sample;
        handler(s);
        lines += (sensor.Channels().Sample - before + SampleCycle) % SampleCycle;
    };
    TChannelsModeStructure reading;
    QTimer timer;
    timer.setInterval(TimerMs);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        timer.stop();
        try {
            sensor.GetChannelsReading(reading);
            lastSample = reading.Sample;
        } catch (const ESensorError& e) {
            fprintf(stderr, "sensor reader: %s\n", e.what());
        }
        timer.start();
    });
    timer.start();
    const Result r = measure(seconds, [&] { return lines; });
    sensor.Close();
    return lastSample < 0 ? Result{} : r;
}

Result runPlainReader(const std::string& slave, int seconds)
{
    QSerialPort port(QString::fromStdString(slave));
    port.setBaudRate(QSerialPort::Baud57600);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::SoftwareControl);
    if (!port.open(QIODevice::ReadWrite)) {
        fprintf(stderr, "plain reader: %s\n", qPrintable(port.errorString()));
        return {};
    }
    long lines = 0;
    std::string pending;
    PlainChannels latest, reading;
    char chunk[1024];
    QObject::connect(&port, &QSerialPort::readyRead, [&] {
        for (qint64 n; (n = port.read(chunk, sizeof chunk)) > 0;)
            pending.append(chunk, static_cast<size_t>(n));
        size_t start = 0;
        for (size_t cr; (cr = pending.find('\r', start)) != std::string::npos; start = cr + 1) {
            const size_t lf = pending.rfind('\n', cr);
            if (lf != std::string::npos && lf >= start
                && parseChannels(pending.data() + lf + 1, pending.data() + cr, latest))
                ++lines;
        }
        pending.erase(0, start);
    });
    QTimer timer;
    timer.setInterval(TimerMs);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        timer.stop();
        reading = latest;
        timer.start();
    });
    timer.start();
    return measure(seconds, [&] { return lines; });
}

Result runReader(const std::string& kind, int seconds)
{
    int argc = 1;
    char name[] = "bench_reader_cpu";
    char* argv[] = {name, nullptr};
    Line line = startLine(); // before Qt starts: the sender is a plain forked process
    QCoreApplication app(argc, argv);
    const Result r = kind == "sensor" ? runSensorReader(line.slave, seconds) : runPlainReader(line.slave, seconds);
    endLine(line);
    return r;
}

// Starts a reader in a child process; its result comes back through the returned pipe.
int spawnReader(const std::string& kind, int seconds, pid_t& pid)
{
    int fds[2];
    if (pipe(fds) != 0) {
        perror("pipe");
        exit(1);
    }
    pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const Result r = runReader(kind, seconds);
        [[maybe_unused]] ssize_t n = write(fds[1], &r, sizeof r);
        _exit(0);
    }
    close(fds[1]);
    return fds[0];
}

Result collect(int fd, pid_t pid)
{
    Result r;
    if (read(fd, &r, sizeof r) != static_cast<ssize_t>(sizeof r))
        r = Result{};
    close(fd);
    waitpid(pid, nullptr, 0);
    return r;
}

std::string figures(const std::vector<Result>& results)
{
    std::string out;
    for (size_t i = 0; i < results.size(); ++i) {
        char text[64];
        snprintf(text, sizeof text, "%s%.2f %%", i == 0 ? "" : (i + 1 == results.size() ? " and " : ", "),
                 results[i].cpuPercent);
        out += text;
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 2 && std::strcmp(argv[1], "--only") == 0) {
        const int seconds = argc > 3 ? atoi(argv[3]) : 20;
        perThreadSplit = true;
        const Result r = runReader(argv[2], seconds);
        printf("%s reader: %.2f %% of a core, %ld lines in %d s\n", argv[2], r.cpuPercent, r.lines, seconds);
        return r.lines > 0 ? 0 : 1;
    }
    const int seconds = argc > 1 ? atoi(argv[1]) : 20;
    const int rounds = argc > 2 ? atoi(argv[2]) : 2;
    std::vector<Result> sensor, plain;
    long sensorLines = 0, plainLines = 0;
    for (int i = 0; i < rounds; ++i) {
        pid_t sensorPid = -1, plainPid = -1;
        const int sensorFd = spawnReader("sensor", seconds, sensorPid);
        const int plainFd = spawnReader("plain", seconds, plainPid);
        sensor.push_back(collect(sensorFd, sensorPid));
        plain.push_back(collect(plainFd, plainPid));
        sensorLines += sensor.back().lines;
        plainLines += plain.back().lines;
    }
    printf("| Reader CPU, side by side at full wire rate (%d x %d s; %.0f and %.0f lines/s) | sensor object %s; "
           "plain QSerialPort reader %s of a core | sensor object <= plain reader |\n",
           rounds, seconds, static_cast<double>(sensorLines) / (rounds * seconds),
           static_cast<double>(plainLines) / (rounds * seconds), figures(sensor).c_str(), figures(plain).c_str());
    return 0;
}
