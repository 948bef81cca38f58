#include "logd/ServicePublishing.h"

#include "record/Acquisition.h"
#include "record/RunClock.h"
#include "base/ErrorReport.h"

#include <QTimer>
#include <chrono>

TServicePublishing::TServicePublishing(TAcquisition& acquisition, TSay say, QObject* parent)
    : QObject(parent), FAcquisition(acquisition), FSay(std::move(say)), FTimer(new QTimer(this))
{
    FTimer->setObjectName(QStringLiteral("PublishTimer"));
    FTimer->setTimerType(Qt::PreciseTimer);
    ConnectHandler(FTimer, &QTimer::timeout, this, &TServicePublishing::publishTick);
    connect(&FPublisher, &TPublisher::statusChanged, this, &TServicePublishing::report);
    connect(&acquisition, &TAcquisition::timedOut, this, [this](bool) {
        FTimer->stop();
        FPublisher.setOutage(true);
    });
    connect(&acquisition, &TAcquisition::reconnected, this, [this](bool) {
        FPublisher.setOutage(false);
        if (FPublisher.running())
            FTimer->start();
    });
}

TServicePublishing::~TServicePublishing()
{
    finish();
}

bool TServicePublishing::start(const TPublishSettings& settings, const std::string& portName, bool running)
{
    if (!FPublisher.start(settings, portName))
        return false;
    FTimer->setInterval(settings.IntervalSeconds * 1000);
    if (running)
        FTimer->start();
    report();
    return true;
}

void TServicePublishing::finish()
{
    FTimer->stop();
    FPublisher.stop();
}

void TServicePublishing::publishTick()
{
    FAcquisition.runTick(FTimer, [this](const TReading& reading) {
        const std::chrono::milliseconds wall(FAcquisition.clock().wallNow().toMSecsSinceEpoch());
        FPublisher.publish(reading, std::chrono::system_clock::time_point(wall));
        return true;
    });
}

// One line per change of the state or its reason; the waiting count alone changes no line.
void TServicePublishing::report()
{
    const TPublisher::State state = FPublisher.state();
    std::string line = state == TPublisher::State::Off ? std::string() : FPublisher.stateText();
    if (!line.empty() && line != FLastLine) {
        FLastLine = line;
        if (state == TPublisher::State::Unreachable)
            line += "; " + std::to_string(FPublisher.waiting()) + " readings waiting";
        FSay(line);
    }
    const uint64_t dropped = FPublisher.dropped();
    const qint64 now = FAcquisition.clock().now().count() / 1000000;
    if (dropped > FReportedDropped && (FReportedDropped == 0 || now - FDroppedReportedAt >= 60000)) {
        FSay(std::to_string(dropped) + " readings dropped while the broker was unreachable");
        FReportedDropped = dropped;
        FDroppedReportedAt = now;
    }
}
