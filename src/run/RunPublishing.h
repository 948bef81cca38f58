#pragma once
#include "sensor/Reading.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class RunClock;
class TPublisher;
struct TAlarmEvent;
struct TAlarmRule;
struct TPublishSettings;

// A run's publishing: the publisher for the settings, the readings and alarm events the run hands it, the
// sensor's outages as its status, and what a face says about it. Stopping never waits for the broker: the publisher
// finishes in the background.
class TRunPublishing : public QObject {
    Q_OBJECT
public:
    explicit TRunPublishing(const RunClock& clock, QObject* parent = nullptr);
    ~TRunPublishing() override;

    // Starts a publisher for the settings; false, with error(), when they cannot be used (nothing started).
    bool start(const TPublishSettings& settings, const std::string& portName);
    // Where the next start keeps what waits for the broker across a restart (the service); empty: nowhere.
    void setSpoolFile(const std::string& file) { FSpoolFile = file; }
    void stop();
    bool active() const { return FPublisher != nullptr; }
    const std::string& error() const { return FError; }
    TPublisher* publisher() const { return FPublisher.get(); }

    void publish(const TReading& reading);
    void setOutage(bool active);
    // The alarm rules (kept for the next start too) and the run's alarm events.
    void setAlarms(const std::vector<TAlarmRule>& rules, bool noReading);
    void publishEvent(const TAlarmEvent& event);

    // For a status bar: "Publishing to host:port", "Broker unreachable: reason; N readings waiting", ...
    QString statusText() const;
    // For the service's status: the state and the readings waiting.
    std::string shortStatus() const;
    uint64_t waiting() const;
    // How often at most said() repeats a growing count of readings waiting for the broker.
    void setWaitingReportIntervalMs(int64_t ms) { FWaitingReportMs = ms; }

signals:
    void statusChanged();
    // One line per change of state or reason, with the readings waiting when the broker is unreachable
    // and when it is reached again after that; while the count grows, the line again at most once a
    // minute; and at most one a minute about readings dropped past the bound.
    void said(const QString& line);

private:
    void report();

    const RunClock& FClock;
    std::unique_ptr<TPublisher> FPublisher;
    std::string FError;
    std::string FSpoolFile;
    std::vector<std::string> FAlarmNames;
    std::string FLastLine;
    uint64_t FReportedDropped = 0;
    int64_t FDroppedReportedAt = 0;
    bool FOutageSaid = false;
    uint64_t FWaitingSaid = 0;
    int64_t FWaitingSaidAt = 0;
    int64_t FWaitingReportMs = 60000;
};
