// Publishes one reading to 127.0.0.1:<port> under <prefix> and keeps the connection until it is killed.
// With "retire": once connected it prints "connected", and when a line arrives on stdin it retires the
// publisher, waits at most 100 ms for it ("ended" or "abandoned") and returns from main.
// With "spool FILE FIRST COUNT": keeps what waits in FILE and publishes the readings FIRST .. FIRST+COUNT-1
// (sample i, taken at 1796852400 s + i s) with an "alarm on" event after the first, prints "queued" and
// waits to be killed.
#include "publish/Publisher.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bool retire = argc == 4 && std::strcmp(argv[3], "retire") == 0;
    const bool spool = argc == 7 && std::strcmp(argv[3], "spool") == 0;
    if (argc != 3 && !retire && !spool) {
        std::fprintf(stderr, "usage: %s PORT PREFIX [retire]\n", argv[0]);
        return 64;
    }
    TPublishSettings settings;
    settings.Enabled = true;
    settings.Host = "127.0.0.1";
    settings.Port = std::atoi(argv[1]);
    settings.TopicPrefix = argv[2];
    settings.ClientId = std::string(argv[2]) + "-helper";
    auto publisher = std::make_unique<TPublisher>();
    TPublishLimits limits;
    if (spool)
        limits.spoolFile = argv[4];
    if (!publisher->start(settings, "ttyUSB0", limits)) {
        std::fprintf(stderr, "%s\n", publisher->error().c_str());
        return 1;
    }
    if (spool) {
        const int first = std::atoi(argv[5]), count = std::atoi(argv[6]);
        const auto t0 = std::chrono::system_clock::time_point(std::chrono::seconds(1796852400));
        for (int i = first; i < first + count; ++i) {
            TChannelsModeStructure reading;
            reading.Sample = i;
            publisher->publish(reading, t0 + std::chrono::seconds(i));
            if (i == first) {
                TPublishEvent event;
                event.time = t0 + std::chrono::seconds(i) + std::chrono::milliseconds(1);
                TPublishEvent::copyName(event.event, "alarm on");
                TPublishEvent::copyName(event.quantity, "sample");
                event.value = i;
                event.alarm = TPublishEvent::Alarm::On;
                publisher->publishEvent(event);
            }
        }
        std::puts("queued");
        std::fflush(stdout);
        return app.exec();
    }
    publisher->publish(TChannelsModeStructure{}, std::chrono::system_clock::now());
    if (!retire)
        return app.exec();

    QEventLoop loop;
    QObject::connect(publisher.get(), &TPublisher::statusChanged, &loop, [&] {
        if (publisher->state() == TPublisher::State::Connected)
            loop.quit();
    });
    QTimer::singleShot(std::chrono::seconds(10), &loop, [&] { loop.exit(1); });
    if (loop.exec() != 0)
        return 1;
    std::puts("connected");
    std::fflush(stdout);
    std::getchar();
    TPublisher::retire(std::move(publisher));
    std::puts(TPublisher::waitForRetired(std::chrono::milliseconds(100)) ? "ended" : "abandoned");
    return 0;
}
