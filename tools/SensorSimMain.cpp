// velmora-sensor-sim: plays the gas sensor on a pseudo-terminal (or a serial device) for tests,
// demos and operator training.
#include "tools/SensorSimulator.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <getopt.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

SensorSimulator* volatile g_simulator = nullptr;
volatile sig_atomic_t g_quit = 0;
volatile sig_atomic_t g_replug = 0;

void onSignal(int sig)
{
    if (sig == SIGUSR1) {
        if (g_simulator)
            g_simulator->toggleSilence();
        return;
    }
    if (sig == SIGUSR2)
        g_replug = 1;
    else
        g_quit = 1;
    if (g_simulator)
        g_simulator->stop();
}

void usage(FILE* out)
{
    std::fputs("Usage: velmora-sensor-sim [options]\n"
               "Plays the gas sensor at 57600 8N1. Opens a pseudo-terminal pair (or --device) and prints the\n"
               "device path the application should use as the first line of output. Answers \"N\" with\n"
               "concentration lines and \"N1\"..\"N5\" with channel lines, each sent as LF <text> CR, then keeps\n"
               "sending lines of the last requested kind. Ends on SIGINT or SIGTERM; SIGUSR1 toggles silence.\n"
               "SIGUSR2 unplugs the device and plugs it in again: the pseudo-terminal is closed (the application\n"
               "sees the device vanish) and, after --replug-delay, a new one is opened and the --link re-pointed\n"
               "at it (with --device, the device is closed and opened again). The sensor restarts on replugging:\n"
               "it streams again after the next request (at once with --start).\n"
               "\n"
               "Options:\n"
               "  --device PATH          use this serial device instead of a new pseudo-terminal\n"
               "  --link PATH            publish the device through a symbolic link at PATH (replaced if it\n"
               "                         exists, removed while unplugged and at the end) and print PATH\n"
               "  --replug-delay SECS    time the device stays away after SIGUSR2 (default 0)\n"
               "  --rate N               lines per second after a request (default 8; 0: replies only)\n"
               "  --full-rate            send lines back to back at the wire rate of 57600 8N1\n"
               "  --start CMD            stream from the start as if CMD (N, N1..N5) had been requested\n"
               "  --silent-after N       go silent after N lines (SIGUSR1 makes it speak again)\n"
               "  --silent               start silent\n"
               "  --show-commands        print each command received on a line of its own\n"
               "  --interleave KINDS     mix other kinds into the stream: letters from C E O D X U A R S\n"
               "  --interleave-every N   every N-th line of the stream is of another kind (default 5)\n"
               "  --firmware VER         firmware version sent in X lines (default 1.7; 1.7 and later 1.x\n"
               "                         sign the channel concentration and add a letter to U lines)\n"
               "  --malformed-every N    every N-th line of the stream is malformed\n"
               "  --garbage-every N      a burst of random bytes (no XON/XOFF) before every N-th line of the stream\n"
               "  --garbage-bytes N      size of a garbage burst (default 64)\n"
               "  --noise-every N        a burst of noise inside every N-th line of the stream, right after its\n"
               "                         LF: random bytes of any value, XON/XOFF, CR and LF included, as when\n"
               "                         noise hits a line on the wire\n"
               "  --noise-bytes N        size of a noise burst (default 40)\n"
               "  --seed N               seed of the value generator (default 1)\n"
               "  --ramp Q:LOW:HIGH:SECS move quantity Q (concentration, sample_conc_1, temperature, ...) up\n"
               "                         and down between LOW and HIGH, once every SECS seconds\n"
               "  --help                 show this text\n",
               out);
}

bool toNumber(const char* text, long long& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text, &end, 10);
    return errno == 0 && end != text && *end == '\0';
}

void setLine(int fd)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return;
    cfmakeraw(&t);
    cfsetispeed(&t, B57600);
    cfsetospeed(&t, B57600);
    t.c_cflag = static_cast<tcflag_t>((t.c_cflag & ~(CSIZE | PARENB | CSTOPB)) | CS8 | CLOCAL | CREAD);
    tcsetattr(fd, TCSANOW, &t);
}

// The line the simulator serves: a new pseudo-terminal or the given device.
struct Line {
    int fd = -1;
    int keepSlave = -1; // holds the slave open so the master sees no hang-up while the application is away
    std::string path;
};

bool openLine(const std::string& device, Line& line)
{
    if (!device.empty()) {
        line.fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (line.fd < 0) {
            std::fprintf(stderr, "velmora-sensor-sim: cannot open %s: %s\n", device.c_str(), std::strerror(errno));
            return false;
        }
        setLine(line.fd);
        line.path = device;
        return true;
    }
    line.fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (line.fd < 0 || grantpt(line.fd) != 0 || unlockpt(line.fd) != 0 || ptsname_r(line.fd, name, sizeof name) != 0) {
        std::fprintf(stderr, "velmora-sensor-sim: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
        if (line.fd >= 0)
            ::close(line.fd);
        return false;
    }
    line.path = name;
    line.keepSlave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (line.keepSlave >= 0)
        setLine(line.keepSlave);
    return true;
}

void closeLine(Line& line)
{
    if (line.keepSlave >= 0)
        ::close(line.keepSlave);
    ::close(line.fd);
    line = Line{};
}

// Points the link at target in one step (a new link renamed over the old one).
bool pointLink(const std::string& link, const std::string& target)
{
    const std::string fresh = link + ".new";
    ::unlink(fresh.c_str());
    if (::symlink(target.c_str(), fresh.c_str()) != 0 || ::rename(fresh.c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "velmora-sensor-sim: cannot create the link %s: %s\n", link.c_str(), std::strerror(errno));
        ::unlink(fresh.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    enum {
        optDevice = 1,
        optLink,
        optReplugDelay,
        optRate,
        optFullRate,
        optStart,
        optSilentAfter,
        optSilent,
        optShowCommands,
        optInterleave,
        optInterleaveEvery,
        optFirmware,
        optMalformed,
        optGarbageEvery,
        optGarbageBytes,
        optNoiseEvery,
        optNoiseBytes,
        optSeed,
        optRamp,
        optHelp
    };
    static const option longOptions[] = {{"device", required_argument, nullptr, optDevice},
                                         {"link", required_argument, nullptr, optLink},
                                         {"replug-delay", required_argument, nullptr, optReplugDelay},
                                         {"rate", required_argument, nullptr, optRate},
                                         {"full-rate", no_argument, nullptr, optFullRate},
                                         {"start", required_argument, nullptr, optStart},
                                         {"silent-after", required_argument, nullptr, optSilentAfter},
                                         {"silent", no_argument, nullptr, optSilent},
                                         {"show-commands", no_argument, nullptr, optShowCommands},
                                         {"interleave", required_argument, nullptr, optInterleave},
                                         {"interleave-every", required_argument, nullptr, optInterleaveEvery},
                                         {"firmware", required_argument, nullptr, optFirmware},
                                         {"malformed-every", required_argument, nullptr, optMalformed},
                                         {"garbage-every", required_argument, nullptr, optGarbageEvery},
                                         {"garbage-bytes", required_argument, nullptr, optGarbageBytes},
                                         {"noise-every", required_argument, nullptr, optNoiseEvery},
                                         {"noise-bytes", required_argument, nullptr, optNoiseBytes},
                                         {"seed", required_argument, nullptr, optSeed},
                                         {"ramp", required_argument, nullptr, optRamp},
                                         {"help", no_argument, nullptr, optHelp},
                                         {nullptr, 0, nullptr, 0}};

    SimulatorOptions options;
    std::string device;
    std::string link;
    double replugDelay = 0;
    bool startSilent = false;
    int opt;
    while ((opt = getopt_long(argc, argv, "", longOptions, nullptr)) != -1) {
        long long n = 0;
        const bool numeric = optarg && toNumber(optarg, n);
        const auto needNumber = [&](long long low) {
            if (!numeric || n < low) {
                std::fprintf(stderr, "velmora-sensor-sim: invalid value '%s' for --%s\n", optarg,
                             longOptions[opt - 1].name);
                std::exit(2);
            }
        };
        switch (opt) {
        case optDevice: device = optarg; break;
        case optLink: link = optarg; break;
        case optReplugDelay: {
            char* end = nullptr;
            replugDelay = std::strtod(optarg, &end);
            if (end == optarg || *end != '\0' || !(replugDelay >= 0 && replugDelay <= 3600)) {
                std::fprintf(stderr, "velmora-sensor-sim: invalid value '%s' for --replug-delay\n", optarg);
                return 2;
            }
            break;
        }
        case optRate:
            options.linesPerSecond = std::strtod(optarg, nullptr);
            if (options.linesPerSecond < 0) {
                std::fprintf(stderr, "velmora-sensor-sim: invalid rate '%s'\n", optarg);
                return 2;
            }
            break;
        case optFullRate: options.fullRate = true; break;
        case optStart:
            options.startCommand = optarg;
            if (!(options.startCommand == "N"
                  || (options.startCommand.size() == 2 && options.startCommand[0] == 'N'
                      && options.startCommand[1] >= '1' && options.startCommand[1] <= '5'))) {
                std::fprintf(stderr, "velmora-sensor-sim: --start takes N or N1..N5\n");
                return 2;
            }
            break;
        case optSilentAfter:
            needNumber(0);
            options.silentAfter = n;
            break;
        case optSilent: startSilent = true; break;
        case optShowCommands:
            options.onCommand = [](const std::string& command) {
                std::printf("%s\n", command.c_str());
                std::fflush(stdout);
            };
            break;
        case optInterleave:
            options.interleaveKinds = optarg;
            if (options.interleaveEvery == 0)
                options.interleaveEvery = 5;
            break;
        case optInterleaveEvery:
            needNumber(1);
            options.interleaveEvery = static_cast<int>(n);
            break;
        case optFirmware: options.firmware = optarg; break;
        case optMalformed:
            needNumber(1);
            options.malformedEvery = static_cast<int>(n);
            break;
        case optGarbageEvery:
            needNumber(1);
            options.garbageEvery = static_cast<int>(n);
            break;
        case optGarbageBytes:
            needNumber(1);
            options.garbageBytes = static_cast<int>(n);
            break;
        case optNoiseEvery:
            needNumber(1);
            options.noiseEvery = static_cast<int>(n);
            break;
        case optNoiseBytes:
            needNumber(1);
            options.noiseBytes = static_cast<int>(n);
            break;
        case optSeed:
            needNumber(0);
            options.seed = static_cast<uint32_t>(n);
            break;
        case optRamp: {
            const std::string problem = ParseSensorRamp(optarg, options.ramp);
            if (!problem.empty()) {
                std::fprintf(stderr, "velmora-sensor-sim: %s\n", problem.c_str());
                return 2;
            }
            break;
        }
        case optHelp: usage(stdout); return 0;
        default: usage(stderr); return 2;
        }
    }

    if (!link.empty() && link.back() == '/') {
        std::fprintf(stderr, "velmora-sensor-sim: --link takes the path of the link to create\n");
        return 2;
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGUSR1, &sa, nullptr);
    sigaction(SIGUSR2, &sa, nullptr);

    bool first = true;
    while (!g_quit) {
        Line line;
        if (!openLine(device, line))
            return 1;
        if (!link.empty() && !pointLink(link, line.path)) {
            closeLine(line);
            return 1;
        }
        if (first) {
            std::printf("%s\n", (link.empty() ? line.path : link).c_str());
            std::fflush(stdout);
        }

        SensorSimulator simulator(line.fd, options);
        simulator.setSilent(first && startSilent);
        first = false;
        g_simulator = &simulator;
        if (g_quit || g_replug) // a signal that came before the simulator was there
            simulator.stop();
        simulator.run();
        g_simulator = nullptr;
        closeLine(line);
        if (!link.empty())
            ::unlink(link.c_str());
        if (!g_replug)
            break;
        g_replug = 0;
        // Unplugged: stay away for the delay (a signal ends the wait early).
        const auto whole = static_cast<time_t>(replugDelay);
        timespec away{whole, static_cast<long>((replugDelay - static_cast<double>(whole)) * 1e9)};
        while (!g_quit && !g_replug && nanosleep(&away, &away) != 0 && errno == EINTR) {
        }
        g_replug = 0;
    }
    return 0;
}
