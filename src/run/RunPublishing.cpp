#include "run/RunPublishing.h"

#include "publish/Publisher.h"
#include "record/AlarmRule.h"
#include "record/RunClock.h"

#include <algorithm>
#include <cctype>
#include <chrono>

TRunPublishing::TRunPublishing(const RunClock& clock, QObject* parent) : QObject(parent), FClock(clock) {}

TRunPublishing::~TRunPublishing()
{
    stop();
}

bool TRunPublishing::start(const TPublishSettings& settings, const std::string& portName)
{
    stop();
    auto publisher = std::make_unique<TPublisher>();
    TPublishLimits limits;
    limits.spoolFile = FSpoolFile;
    if (!publisher->start(settings, portName, limits)) {
        FError = publisher->error();
        return false;
    }
    FError.clear();
    FLastLine.clear();
    FReportedDropped = 0;
    FOutageSaid = false;
    FPublisher = std::move(publisher);
    connect(FPublisher.get(), &TPublisher::statusChanged, this, &TRunPublishing::report);
    if (!FAlarmNames.empty())
        FPublisher->setAlarms(FAlarmNames);
    report();
    return true;
}

void TRunPublishing::stop()
{
    if (!FPublisher)
        return;
    disconnect(FPublisher.get(), nullptr, this, nullptr);
    TPublisher::retire(std::move(FPublisher));
    emit statusChanged();
}

void TRunPublishing::publish(const TReading& reading)
{
    if (!FPublisher)
        return;
    const std::chrono::milliseconds wall(FClock.wallNow().toMSecsSinceEpoch());
    FPublisher->publish(reading, std::chrono::system_clock::time_point(wall));
}

void TRunPublishing::setOutage(bool active)
{
    if (FPublisher)
        FPublisher->setOutage(active);
}

void TRunPublishing::setAlarms(const std::vector<TAlarmRule>& rules, bool noReading)
{
    std::vector<std::string> names;
    for (const TAlarmRule& rule : rules)
        if (std::find(names.begin(), names.end(), rule.quantity) == names.end())
            names.push_back(rule.quantity);
    if (noReading && !names.empty())
        names.emplace_back("no_reading");
    if (names == FAlarmNames)
        return;
    FAlarmNames = names;
    if (FPublisher)
        FPublisher->setAlarms(std::move(names));
}

void TRunPublishing::publishEvent(const TAlarmEvent& event)
{
    if (!FPublisher)
        return;
    TPublishEvent published;
    published.time = std::chrono::system_clock::time_point(std::chrono::milliseconds(event.time.toMSecsSinceEpoch()));
    char name[TPublishEvent::NameSize] = {};
    std::string_view text = AlarmEventName(event.kind);
    text = text.substr(0, sizeof name - 1);
    std::transform(text.begin(), text.end(), name,
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    TPublishEvent::copyName(published.event, name);
    TPublishEvent::copyName(published.quantity, event.quantity);
    published.value = event.value;
    published.level = event.level;
    switch (event.kind) {
    case TAlarmEvent::AlarmOn:
    case TAlarmEvent::NoReading: published.alarm = TPublishEvent::Alarm::On; break;
    case TAlarmEvent::AlarmOff:
    case TAlarmEvent::ReadingsAgain: published.alarm = TPublishEvent::Alarm::Off; break;
    default: break;
    }
    FPublisher->publishEvent(published);
}

QString TRunPublishing::statusText() const
{
    return FPublisher ? FPublisher->statusText() : QString();
}

uint64_t TRunPublishing::waiting() const
{
    return FPublisher ? FPublisher->waiting() : 0;
}

std::string TRunPublishing::shortStatus() const
{
    if (!FPublisher)
        return {};
    switch (FPublisher->state()) {
    case TPublisher::State::Connected: return "publishing";
    case TPublisher::State::Connecting: return "connecting to the broker";
    case TPublisher::State::Unreachable:
        return "broker unreachable, " + std::to_string(FPublisher->waiting()) + " readings waiting";
    case TPublisher::State::Off: break;
    }
    return {};
}

// One line per change of the state or its reason, with the readings waiting during an outage and at its
// end; a growing count alone repeats the line at most once per FWaitingReportMs.
void TRunPublishing::report()
{
    emit statusChanged();
    if (!FPublisher)
        return;
    for (const std::string& note : FPublisher->takeNotes())
        emit said(QString::fromStdString(note));
    const TPublisher::State state = FPublisher->state();
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(FClock.now()).count();
    const auto waitingText = [](uint64_t n) { return "; " + std::to_string(n) + " readings waiting"; };
    std::string line = state == TPublisher::State::Off ? std::string() : FPublisher->stateText();
    if (!line.empty() && line != FLastLine) {
        FLastLine = line;
        const uint64_t waiting = FPublisher->waiting();
        if (state == TPublisher::State::Unreachable) {
            line += waitingText(waiting);
            FOutageSaid = true;
            FWaitingSaid = waiting;
            FWaitingSaidAt = now;
        } else if (state == TPublisher::State::Connected && FOutageSaid) {
            line += waitingText(waiting) + " to be sent";
            FOutageSaid = false;
        }
        emit said(QString::fromStdString(line));
    } else if (state == TPublisher::State::Unreachable && FOutageSaid) {
        const uint64_t waiting = FPublisher->waiting();
        if (waiting > FWaitingSaid && now - FWaitingSaidAt >= FWaitingReportMs) {
            FWaitingSaid = waiting;
            FWaitingSaidAt = now;
            emit said(QString::fromStdString(FLastLine + waitingText(waiting)));
        }
    }
    const uint64_t dropped = FPublisher->dropped();
    if (dropped > FReportedDropped && (FReportedDropped == 0 || now - FDroppedReportedAt >= 60000)) {
        emit said(QStringLiteral("%1 readings dropped while the broker was unreachable").arg(dropped));
        FReportedDropped = dropped;
        FDroppedReportedAt = now;
    }
}
