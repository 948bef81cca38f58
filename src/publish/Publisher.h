#pragma once
#include "publish/MqttClient.h"
#include "publish/PublishEvent.h"
#include "publish/PublishSettings.h"
#include "sensor/Reading.h"

#include <QObject>
#include <QString>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Tuning that the settings file does not hold (tests and benchmarks make it small).
// The broker, TLS and login of the settings, under the given client id.
TMqttEndpoint BrokerEndpoint(const TPublishSettings& settings, const std::string& clientId);

struct TPublishLimits {
    size_t maxWaiting = 0;          // readings kept while the broker is away; 0: a day at the publish interval
    int connectTimeoutSeconds = 10; // for the broker's answer to a connection attempt
    int maxRetrySeconds = 60;       // longest pause between reconnection attempts
    int stopTimeoutMs = 2000;       // how long a clean stop waits for "offline" to be acknowledged
    std::string spoolFile;          // where what waits is kept across a restart (PublishSpool.h); empty: nowhere
};

// Publishes readings and alarm events to an MQTT broker (see PublishPayloads.h for topics and payloads).
// Every call returns at once: readings and events go, in one order, to a queue in memory that a thread of the publisher
// hands to the MQTT client, so a slow, hung or absent broker never holds up the caller. While the broker is unreachable
// the readings wait, up to maxWaiting; past it the oldest are dropped and counted. When it returns they are delivered
// in order with the times they were taken, at the settings' QoS. Per-quantity topics carry the latest value only: they
// are sent at QoS 0 for the newest reading once the queue has been delivered, since the next value supersedes one that
// is lost. With a spool file, what waits is also kept there and sent first, in order, after a restart.
//
//   TPublisher publisher;
//   if (!publisher.start(settings.Publishing, settings.ComPort)) report(publisher.error());
//   connect(&publisher, &TPublisher::statusChanged, ...);   // statusText() for a status bar
//   publisher.publish(reading, std::chrono::system_clock::now());   // each fresh reading
//   publisher.setOutage(true);    // the sensor stopped answering: status "timeout" until setOutage(false)
//   publisher.setAlarms({"concentration", "no_reading"});   // the alarm topics: each "off" from here
//   publisher.publishEvent(event);   // "<prefix>/event", and the retained "<prefix>/alarm/<name>" it sets
//   publisher.stop();             // "offline", retained; stopped() when done; the destructor waits for it
//
// The destructor waits for the broker (up to about stopTimeoutMs and a second). A window lets go
// instead, and waits for what is left, boundedly, at exit:
//
//   TPublisher::retire(std::move(publisherPtr));   // returns at once
//   ...
//   TPublisher::waitForRetired(std::chrono::seconds(3));   // before the program ends
//
// Use from the thread that owns it (the main thread).
class TPublisher : public QObject {
    Q_OBJECT
public:
    enum class State { Off, Connecting, Connected, Unreachable };

    explicit TPublisher(QObject* parent = nullptr);
    ~TPublisher() override; // stops cleanly, waiting up to about stopTimeoutMs plus a connection check

    // Checks the settings and files and starts connecting in the background. False, with error(), when
    // they cannot be used; nothing is started then. portName gives the default client id.
    bool start(const TPublishSettings& settings, const std::string& portName, const TPublishLimits& limits = {});
    const std::string& error() const { return FError; }

    // A fresh reading, taken at takenAt. Stale or failed readings are never passed here.
    void publish(const TReading& reading, std::chrono::system_clock::time_point takenAt);
    // The sensor stopped answering (true) or answers again (false): status "timeout" / "online".
    void setOutage(bool active);
    // An alarm event, in order with the readings.
    void publishEvent(const TPublishEvent& event);
    // The alarm topics of the rules from now on (quantities, "no_reading"), in order with the readings and
    // events: each says "off" then (the rules start afresh), and with discovery is a binary sensor.
    void setAlarms(std::vector<std::string> names);
    // What the operator should hear about the spool (damage found, a failed write). Taken once.
    std::vector<std::string> takeNotes();
    // Publishes "offline" (retained) when connected, then disconnects; returns at once. Readings still
    // waiting are dropped, or kept in the spool. stopped() follows.
    void stop();
    bool running() const;

    // Stops the publisher as stop() does ("offline" when connected) and returns at once: it ends on its
    // own thread, which frees it then. Nothing is emitted any more.
    static void retire(std::unique_ptr<TPublisher> publisher);
    // Waits until every retired publisher has ended, at most `limit`; false when some still run. Those
    // are abandoned: they go on until the program ends, and the program's end does not wait for them.
    static bool waitForRetired(std::chrono::milliseconds limit);

    State state() const;
    std::string reason() const; // why the broker is unreachable
    uint64_t waiting() const;   // readings not yet delivered
    uint64_t dropped() const;   // readings dropped since start
    // The state without the counts: "Publishing to host:port", "Connecting to host:port", "Broker
    // unreachable: reason", "Publishing stopped"; empty before start.
    std::string stateText() const;
    // stateText() with the counts: "; N readings waiting" while unreachable, and "; M dropped".
    QString statusText() const;

signals:
    // State, reason, waiting or dropped changed (coalesced; emitted on the owner's thread).
    void statusChanged();
    void stopped();

private:
    class Worker;
    Q_INVOKABLE void notifyFromWorker(); // posted by the worker thread

    std::unique_ptr<Worker> FWorker;
    std::string FError;
};
