// Publishing: the CPU the publisher adds at a 0.1 s interval (a local mosquitto, QoS 1), against the same
// process idle, and the memory a 24 h outage at 1 s holds, against the MQTT client's own offline buffer
// holding the same readings. Prints table rows. Usage: bench_publish [SECONDS]
#include "publish/PublishPayloads.h"
#include "publish/Publisher.h"
#include "support/FreePort.h"

#include <MQTTAsync.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono;

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long rssKb()
{
    FILE* f = std::fopen("/proc/self/status", "r");
    char line[256];
    long kb = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmRSS:", 6) == 0)
            kb = std::atol(line + 6);
    std::fclose(f);
    return kb;
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

TPublishSettings settingsFor(int port)
{
    TPublishSettings s;
    s.Enabled = true;
    s.Host = "127.0.0.1";
    s.Port = port;
    s.ClientId = "bench";
    s.TopicPrefix = "bench";
    if (std::getenv("BENCH_QOS0"))
        s.QoS = 0;
    return s;
}

const TConcentrationModeStructure Reading{0.0101, 0.0102, 0.0099, 0.01, 0.0098, 21, 101.3, 45};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;

    // CPU: idle, then publishing ten readings a second.
    const int port = freePort();
    char dir[] = "/tmp/bench-broker-XXXXXX";
    ::mkdtemp(dir);
    const std::string conf = std::string(dir) + "/mosquitto.conf";
    if (FILE* f = std::fopen(conf.c_str(), "w")) {
        std::fprintf(f, "listener %d 127.0.0.1\nallow_anonymous true\n%s", port, ::geteuid() == 0 ? "user root\n" : "");
        std::fclose(f);
    }
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    const char* brokerArgs[] = {"mosquitto", "-c", conf.c_str(), nullptr};
    pid_t broker = -1;
    ::posix_spawnp(&broker, "mosquitto", &quiet, nullptr, const_cast<char**>(brokerArgs), environ);
    runFor(500);

    double before = cpuSeconds();
    runFor(seconds * 1000);
    const double idle = cpuSeconds() - before;
    double publishing = 0;
    {
        TPublisher publisher;
        publisher.start(settingsFor(port), "ttyUSB0");
        runFor(500);
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [&] { publisher.publish(Reading, system_clock::now()); });
        tick.start(100);
        before = cpuSeconds();
        runFor(seconds * 1000);
        publishing = cpuSeconds() - before;
        tick.stop();
        if (publisher.state() != TPublisher::State::Connected)
            std::fprintf(stderr, "not connected: %s\n", publisher.reason().c_str());
    }
    ::kill(broker, SIGTERM);
    ::waitpid(broker, nullptr, 0);
    std::printf("| Publisher at a 0.1 s interval, QoS 1, local broker (2 x %d s) | CPU %.3f %% of a core (the "
                "same process idle: %.3f %%) | < 0.5 %% |\n",
                seconds, 100.0 * (publishing - idle) / seconds, 100.0 * idle / seconds);

    // Memory: a day of readings at 1 s waiting for an unreachable broker.
    const size_t day = 24 * 3600;
    long ours = 0, library = 0;
    {
        TPublisher publisher;
        TPublishSettings s = settingsFor(freePort()); // nothing listens
        publisher.start(s, "ttyUSB0");
        const long start = rssKb();
        const auto t0 = system_clock::now();
        for (size_t i = 0; i < day; ++i)
            publisher.publish(Reading, t0 + std::chrono::seconds(i));
        ours = rssKb() - start;
        if (publisher.waiting() != day)
            std::fprintf(stderr, "waiting %llu\n", static_cast<unsigned long long>(publisher.waiting()));
    }
    {
        MQTTAsync client;
        MQTTAsync_createOptions create = MQTTAsync_createOptions_initializer;
        create.sendWhileDisconnected = 1;
        create.allowDisconnectedSendAtAnyTime = 1;
        create.maxBufferedMessages = int(day);
        create.deleteOldestMessages = 1;
        const std::string uri = "tcp://127.0.0.1:" + std::to_string(freePort());
        MQTTAsync_createWithOptions(&client, uri.c_str(), "bench-buffer", MQTTCLIENT_PERSISTENCE_NONE, nullptr,
                                    &create);
        const long start = rssKb();
        std::string json;
        const auto t0 = system_clock::now();
        for (size_t i = 0; i < day; ++i) {
            json.clear();
            AppendReadingJson(json, Reading, t0 + std::chrono::seconds(i));
            MQTTAsync_message m = MQTTAsync_message_initializer;
            m.payload = json.data();
            m.payloadlen = int(json.size());
            m.qos = 0; // QoS 1 cannot buffer a day: it runs out of its 65535 packet ids
            MQTTAsync_sendMessage(client, "bench/reading", &m, nullptr);
        }
        library = rssKb() - start;
        MQTTAsync_destroy(&client);
    }
    std::printf("| Broker outage of 24 h at 1 s (86400 readings waiting) | %.1f MB (the MQTT client's own offline "
                "buffer, readings only: %.1f MB) | < 50 MB |\n",
                static_cast<double>(ours) / 1024.0, static_cast<double>(library) / 1024.0);
    return 0;
}
