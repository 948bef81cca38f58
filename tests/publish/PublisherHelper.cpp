// Publishes one reading to 127.0.0.1:<port> under <prefix> and keeps the connection until it is killed.
// With "retire": once connected it prints "connected", and when a line arrives on stdin it retires the
// publisher, waits at most 100 ms for it ("ended" or "abandoned") and returns from main.
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
    if (argc != 3 && !retire) {
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
    if (!publisher->start(settings, "ttyUSB0")) {
        std::fprintf(stderr, "%s\n", publisher->error().c_str());
        return 1;
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
