#pragma once
#include "publish/Publisher.h"

#include <QObject>
#include <functional>
#include <string>

class QTimer;
class TAcquisition;

// The service's publishing: a publish timer on the run's tick pattern while the run takes readings,
// "timeout" while the sensor is away, and one stderr line per change of the connection ("Publishing to
// host:port", "Broker unreachable: reason; N readings waiting") and at most one a minute about readings
// dropped past the bound.
//
//   TServicePublishing publishing(service.acquisition(), say);
//   if (!publishing.start(settings, port, service.logTimer()->isActive())) ...;   // error() says why
//   ...
//   publishing.finish(); // "offline" for the broker
class TServicePublishing : public QObject {
    Q_OBJECT
public:
    using TSay = std::function<void(const std::string& line)>;

    TServicePublishing(TAcquisition& acquisition, TSay say, QObject* parent = nullptr);
    ~TServicePublishing() override;

    bool start(const TPublishSettings& settings, const std::string& portName, bool running);
    const std::string& error() const { return FPublisher.error(); }
    void finish();
    TPublisher& publisher() { return FPublisher; }

private:
    void publishTick();
    void report();

    TAcquisition& FAcquisition;
    TSay FSay;
    TPublisher FPublisher;
    QTimer* FTimer;
    std::string FLastLine;
    uint64_t FReportedDropped = 0;
    qint64 FDroppedReportedAt = 0;
};
