// Publishes one reading to 127.0.0.1:<port> under <prefix> and keeps the connection until it is killed.
#include "publish/Publisher.h"

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PORT PREFIX\n", argv[0]);
        return 64;
    }
    TPublishSettings settings;
    settings.Enabled = true;
    settings.Host = "127.0.0.1";
    settings.Port = std::atoi(argv[1]);
    settings.TopicPrefix = argv[2];
    settings.ClientId = std::string(argv[2]) + "-helper";
    TPublisher publisher;
    if (!publisher.start(settings, "ttyUSB0")) {
        std::fprintf(stderr, "%s\n", publisher.error().c_str());
        return 1;
    }
    publisher.publish(TChannelsModeStructure{}, std::chrono::system_clock::now());
    return app.exec();
}
