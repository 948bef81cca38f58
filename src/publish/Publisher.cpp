#include "publish/Publisher.h"

#include "publish/MqttClient.h"
#include "publish/PublishPayloads.h"
#include "publish/PublishSpool.h"
#include "publish/ReadingQueue.h"
#include "publish/TlsCheck.h"

#include <QMetaObject>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Readings and events handed to the MQTT client and not yet acknowledged, at most: the rest wait in our
// queue, which costs about 100 bytes an item where the client's own queue costs about a kilobyte a message.
constexpr size_t HandOverWindow = 100;
constexpr int ClientQueueLimit = 4096; // hand-over window plus quantity, status, alarm and discovery messages
constexpr size_t NoMode = 2;

// The retired publishers still ending. Never destroyed: one abandoned at exit may still end while the
// program's static objects go.
struct TRetirement {
    std::mutex mutex;
    std::condition_variable allDone;
    size_t running = 0;
};

TRetirement& retirement()
{
    static TRetirement* const r = new TRetirement;
    return *r;
}

std::string fileProblem(const char* what, const std::string& file)
{
    if (file.empty() || ::access(file.c_str(), R_OK) == 0)
        return {};
    return std::string("the ") + what + " " + file + " cannot be read (" + std::strerror(errno) + ")";
}

} // namespace

class TPublisher::Worker final : public TMqttEvents {
public:
    Worker(TPublisher* owner, TMqttEndpoint endpoint, const std::string& prefix, int qos, bool discovery, size_t bound,
           int stopTimeoutMs, std::unique_ptr<TPublishSpool> spool)
        : FOwner(owner), FPrefix(prefix), FQos(qos), FDiscovery(discovery), FBound(bound),
          FStopTimeoutMs(stopTimeoutMs), FReadingTopic(prefix + "/reading"), FStatusTopic(prefix + "/status"),
          FEventTopic(prefix + "/event"), FSpool(std::move(spool)), FClient(std::move(endpoint), *this)
    {
        for (size_t mode = 0; mode < 2; ++mode) {
            size_t i = 0;
            for (const TQuantity& q : ModeQuantities(mode))
                FQuantityTopics[mode][i++] = prefix + "/" + q.name;
        }
        FPayload.reserve(1024);
    }

    // The library calls the events below on its threads until its client is destroyed, and during that.
    // So: end the thread, destroy the client (no event comes after that), and only then let the mutex,
    // the queue and the state go. A retired worker is destroyed by its own thread, which is detached.
    ~Worker() override
    {
        if (FThread.joinable()) {
            {
                std::lock_guard lock(FMutex);
                FStopRequested = true;
                FRelease = Release::Joined;
            }
            FWake.notify_one();
            FThread.join();
        }
        FClient.destroy();
    }

    void startThread()
    {
        FThread = std::thread([this] { threadMain(); });
    }

    // Owner's thread: stops and lets go; the thread destroys this object once it has ended.
    void retire()
    {
        std::lock_guard lock(FMutex);
        FOwner = nullptr;
        FStopRequested = true;
        FRelease = Release::Retired;
        FThread.detach();
        FWake.notify_one(); // under the lock: once it is released the object may be gone
    }

    // Items the spool kept from before: first in the queue, the newest `FBound` of them.
    void restore(const std::vector<TQueuedItem>& items)
    {
        std::lock_guard lock(FMutex);
        const size_t skip = items.size() > FBound ? items.size() - FBound : 0;
        FDropped += skip;
        for (size_t i = skip; i < items.size(); ++i)
            FQueue.push(items[i]);
    }

    // Owner's thread. True when what statusText() shows changed.
    bool push(const TQueuedItem& item)
    {
        bool wake = false, visible = false;
        {
            std::lock_guard lock(FMutex);
            if (FStopRequested)
                return false;
            if (!item.isMark() && waitingItems() >= FBound) {
                ++FDropped;
                visible = true;
                dropOldestQueued();
                if (waitingItems() >= FBound)
                    return true;
            }
            FQueue.push(item);
            if (item.isMark()) {
                ++FMarks;
            } else if (FSpool) {
                FSpool->append(item);
                FSpool->settle(waitingItems());
                visible = visible || FSpool->notesPending();
            }
            wake = FConnected && FHanded < HandOverWindow;
            visible = visible || !FConnected;
        }
        if (wake)
            FWake.notify_one();
        return visible;
    }

    // Owner's thread: the names of the alarm topics from now on; applied in the queue's order.
    void setAlarms(std::vector<std::string> names)
    {
        {
            std::lock_guard lock(FMutex);
            FAlarmNames = std::move(names);
        }
        push({std::chrono::system_clock::time_point(), TAlarmRulesMark{}});
    }

    std::vector<std::string> takeNotes()
    {
        std::lock_guard lock(FMutex);
        return FSpool ? FSpool->takeNotes() : std::vector<std::string>();
    }

    void setOutage(bool active)
    {
        {
            std::lock_guard lock(FMutex);
            if (FOutage == active)
                return;
            FOutage = active;
            FStatusDirty = true;
        }
        FWake.notify_one();
    }

    void requestStop()
    {
        {
            std::lock_guard lock(FMutex);
            FStopRequested = true;
        }
        FWake.notify_one();
    }

    struct Snapshot {
        State state;
        std::string reason;
        uint64_t waiting;
        uint64_t dropped;
        bool finished;
        bool stopRequested;
    };
    Snapshot snapshot() const
    {
        std::lock_guard lock(FMutex);
        return {FState, FReason, waitingItems(), FDropped, FFinished, FStopRequested};
    }
    const TMqttEndpoint& endpoint() const { return FClient.endpoint(); }

    std::atomic<bool> notifyPending{false};
    bool stoppedReported = false;

private:
    // Events of the MQTT client, on its threads.
    void connected() override
    {
        {
            std::lock_guard lock(FMutex);
            FConnected = true;
            FJustConnected = true;
            FFailed = false;
            FState = State::Connected;
            FReason.clear();
        }
        FWake.notify_one();
    }
    void connectionLost() override
    {
        {
            std::lock_guard lock(FMutex);
            FConnected = false;
            FLost = true;
            FState = State::Unreachable;
            FReason = "connection lost";
        }
        FWake.notify_one();
    }
    void connectFailed(int code, const std::string& libraryMessage) override
    {
        {
            std::lock_guard lock(FMutex);
            FFailed = true;
            FFailCode = code;
            FFailMessage = libraryMessage;
        }
        FWake.notify_one();
    }
    void tlsError(const std::string& reason) override
    {
        std::lock_guard lock(FMutex);
        FTlsError = reason;
    }
    void delivered(bool ok) override
    {
        {
            std::lock_guard lock(FMutex);
            if (FHanded > 0)
                --FHanded;
            else if (FHandedOther > 0)
                --FHandedOther;
            if (!ok)
                ++FDropped;
            // Only what the broker took leaves the spool: what the client gives up on (at its end) stays.
            if (ok && FSpool && waitingItems() == 0)
                FSpool->settle(0);
        }
        FWake.notify_one();
    }
    void disconnected() override
    {
        {
            std::lock_guard lock(FMutex);
            FDisconnected = true;
        }
        FWake.notify_one();
    }

    // After its run the thread waits for its owner to let go: joined by the destructor, or retired.
    void threadMain()
    {
        run();
        std::unique_lock lock(FMutex);
        FWake.wait(lock, [this] { return FRelease != Release::Kept; });
        if (FRelease == Release::Joined)
            return;
        lock.unlock();
        delete this;
        TRetirement& r = retirement();
        {
            std::lock_guard retiredLock(r.mutex);
            --r.running;
        }
        r.allDone.notify_all();
    }

    void run()
    {
        const std::string problem = FClient.start(ClientQueueLimit);
        std::unique_lock lock(FMutex);
        if (!problem.empty()) {
            FState = State::Unreachable;
            FReason = problem;
        }
        notifyOwner();
        size_t announcedMode = NoMode;
        for (;;) {
            FWake.wait(lock, [this] {
                return FStopRequested || FJustConnected || FLost || FFailed || (FStatusDirty && FConnected)
                       || (FConnected && !FQueue.empty() && FHanded < HandOverWindow);
            });
            if (FStopRequested)
                break;
            if (FLost) {
                FLost = false;
                notifyOwner();
                lock.unlock();
                FClient.reconnectNow();
                lock.lock();
                continue;
            }
            if (FFailed) {
                FFailed = false;
                const int code = FFailCode;
                const std::string message = FFailMessage, tls = FTlsError;
                FTlsError.clear();
                lock.unlock();
                const std::string reason = ConnectFailureText(FClient.endpoint(), code, message, tls);
                lock.lock();
                if (!FConnected) {
                    FState = State::Unreachable;
                    FReason = reason;
                    notifyOwner();
                }
                continue;
            }
            if (FJustConnected || FStatusDirty) {
                const bool reconnected = FJustConnected;
                if (reconnected)
                    announcedMode = NoMode; // the broker may have lost its retained messages
                FJustConnected = FStatusDirty = false;
                const char* status = FOutage ? StatusTimeout : StatusOnline;
                notifyOwner();
                lock.unlock();
                FClient.send(FStatusTopic, status, 1, true, false);
                if (reconnected)
                    restateAlarms();
                lock.lock();
                continue;
            }
            while (FConnected && !FQueue.empty() && FHanded < HandOverWindow && !FStopRequested) {
                const bool rulesDue = FRulesDue;
                FRulesDue = false;
                const TQueuedItem item = rulesDue ? TQueuedItem{} : FQueue.front();
                if (!rulesDue)
                    FQueue.pop();
                if (rulesDue || item.isMark()) {
                    if (!rulesDue)
                        --FMarks;
                    std::vector<std::string> names = FAlarmNames;
                    lock.unlock();
                    applyAlarms(std::move(names));
                    lock.lock();
                    continue;
                }
                ++FHanded;
                const bool latest = FQueue.empty();
                lock.unlock();
                if (const auto* event = std::get_if<TPublishEvent>(&item.what)) {
                    sendEvent(*event);
                } else {
                    const auto& reading = std::get<TReading>(item.what);
                    const size_t mode = reading.index();
                    if (FDiscovery && mode != announcedMode) {
                        announce(mode, announcedMode);
                        announcedMode = mode;
                    }
                    sendReading(reading, item.takenAt, latest);
                }
                lock.lock();
            }
        }
        const bool connected = FConnected;
        lock.unlock();
        if (connected)
            finishCleanly();
        lock.lock();
        FState = State::Off;
        FReason.clear();
        FFinished = true;
        notifyOwner();
    }

    void sendReading(const TReading& reading, std::chrono::system_clock::time_point takenAt, bool latest)
    {
        FPayload.clear();
        AppendReadingJson(FPayload, reading, takenAt);
        if (!FClient.send(FReadingTopic, FPayload, FQos, false, true))
            delivered(false);
        if (!latest)
            return;
        const auto& topics = FQuantityTopics[reading.index()];
        size_t i = 0;
        for (const TQuantity& q : ReadingQuantities(reading)) {
            FPayload.clear();
            AppendNumber(FPayload, q.value);
            FClient.send(topics[i++], FPayload, 0, false, false); // the next value supersedes a lost one
        }
    }

    // The retained alarm state the event sets (on while any rule of its quantity is on), then the event.
    void sendEvent(const TPublishEvent& event)
    {
        if (event.alarm != TPublishEvent::Alarm::Unchanged) {
            const std::string_view name = event.stateName();
            bool on = event.alarm == TPublishEvent::Alarm::On;
            for (TAlarmTopic& topic : FAlarmTopics) {
                if (topic.name == name) {
                    topic.rulesOn = on ? topic.rulesOn + 1 : std::max(topic.rulesOn, 1) - 1;
                    on = topic.rulesOn > 0;
                }
            }
            FClient.send(topic(name), on ? AlarmOnPayload : AlarmOffPayload, FQos, true, false);
        }
        FPayload.clear();
        AppendEventJson(FPayload, event);
        if (!FClient.send(FEventTopic, FPayload, FQos, false, true))
            delivered(false);
    }

    // New rules start off (the run judges them afresh): every alarm topic of the old and the new rules
    // says "off"; the binary sensors of rules gone are removed, those of the new ones announced.
    void applyAlarms(std::vector<std::string> names)
    {
        for (const TAlarmTopic& old : FAlarmTopics) {
            if (std::find(names.begin(), names.end(), old.name) != names.end())
                continue;
            FClient.send(topic(old.name), AlarmOffPayload, FQos, true, false);
            if (FDiscovery)
                FClient.send(AlarmDiscoveryTopic(FClient.endpoint().clientId, old.name), "", 1, true, false);
        }
        FAlarmTopics.clear();
        for (std::string& name : names)
            FAlarmTopics.push_back({std::move(name), 0});
        restateAlarms();
    }

    // The alarm states (and their binary sensors) again: after rules change, and after a reconnection,
    // since the broker may have lost its retained messages.
    void restateAlarms()
    {
        for (const TAlarmTopic& t : FAlarmTopics) {
            if (FDiscovery)
                FClient.send(AlarmDiscoveryTopic(FClient.endpoint().clientId, t.name),
                             AlarmDiscoveryConfig(FClient.endpoint().clientId, FPrefix, t.name), 1, true, false);
            FClient.send(topic(t.name), t.rulesOn > 0 ? AlarmOnPayload : AlarmOffPayload, FQos, true, false);
        }
    }

    const std::string& topic(std::string_view alarmName)
    {
        FTopic.assign(FPrefix).append("/alarm/").append(alarmName);
        return FTopic;
    }

    // Retained discovery configs for the quantities of `mode`; those of the mode before that it lacks
    // are removed with an empty retained message.
    void announce(size_t mode, size_t previous)
    {
        const TQuantities now = ModeQuantities(mode);
        if (previous != NoMode) {
            for (const TQuantity& old : ModeQuantities(previous)) {
                bool kept = false;
                for (const TQuantity& q : now)
                    kept = kept || std::strcmp(q.name, old.name) == 0;
                if (!kept)
                    FClient.send(DiscoveryTopic(FClient.endpoint().clientId, old.name), "", 1, true, false);
            }
        }
        for (const TQuantity& q : now)
            FClient.send(DiscoveryTopic(FClient.endpoint().clientId, q.name),
                         DiscoveryConfig(FClient.endpoint().clientId, FPrefix, q.name), 1, true, false);
    }

    // "offline", retained, once what was handed over is acknowledged; then DISCONNECT.
    void finishCleanly()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FStopTimeoutMs);
        std::unique_lock lock(FMutex);
        ++FHandedOther;
        lock.unlock();
        if (!FClient.send(FStatusTopic, StatusOffline, 1, true, true))
            delivered(false);
        lock.lock();
        FWake.wait_until(lock, deadline, [this] { return (FHanded == 0 && FHandedOther == 0) || !FConnected; });
        FDisconnected = false;
        lock.unlock();
        FClient.disconnect(500);
        lock.lock();
        FWake.wait_until(lock, deadline + std::chrono::seconds(1), [this] { return FDisconnected; });
    }

    // Under FMutex. Posted by name: the owner reads the state under FMutex, and nothing else crosses
    // the threads inside Qt's event queue, whose synchronisation ThreadSanitizer cannot see.
    void notifyOwner()
    {
        if (!FOwner || notifyPending.exchange(true))
            return;
        QMetaObject::invokeMethod(FOwner, "notifyFromWorker", Qt::QueuedConnection);
    }

    // Under FMutex: readings and events not yet delivered.
    size_t waitingItems() const { return FQueue.size() - FMarks + FHanded; }

    // Under FMutex: past the bound the oldest item queued goes. A rules mark before it is due at once.
    void dropOldestQueued()
    {
        while (!FQueue.empty()) {
            const bool mark = FQueue.front().isMark();
            FQueue.pop();
            if (!mark)
                return;
            --FMarks;
            FRulesDue = true;
        }
    }

    struct TAlarmTopic {
        std::string name;
        int rulesOn;
    };

    enum class Release { Kept, Joined, Retired };

    TPublisher* FOwner; // null once retired; under FMutex
    const std::string FPrefix;
    const int FQos;
    const bool FDiscovery;
    const size_t FBound;
    const int FStopTimeoutMs;
    const std::string FReadingTopic, FStatusTopic, FEventTopic;
    std::array<std::array<std::string, MaxQuantities>, 2> FQuantityTopics;
    std::string FPayload;                  // worker thread only
    std::string FTopic;                    // worker thread only
    std::vector<TAlarmTopic> FAlarmTopics; // worker thread only
    std::thread FThread;

    mutable std::mutex FMutex;
    std::condition_variable FWake;
    TReadingQueue FQueue;
    size_t FMarks = 0;       // rules marks in FQueue
    size_t FHanded = 0;      // readings and events handed to the client, not yet acknowledged
    size_t FHandedOther = 0; // other messages tracked ("offline")
    std::vector<std::string> FAlarmNames;
    bool FRulesDue = false; // a rules mark was dropped past the bound: the rules apply before the next item
    std::unique_ptr<TPublishSpool> FSpool;
    uint64_t FDropped = 0;
    bool FConnected = false, FJustConnected = false, FLost = false, FFailed = false, FDisconnected = false;
    int FFailCode = 0;
    std::string FFailMessage, FTlsError;
    bool FOutage = false, FStatusDirty = false, FStopRequested = false, FFinished = false;
    State FState = State::Connecting;
    std::string FReason;
    Release FRelease = Release::Kept;

    // Last, so that even without the destructor's explicit order it would go before the state it calls into.
    TMqttClient FClient;
};

TMqttEndpoint BrokerEndpoint(const TPublishSettings& settings, const std::string& clientId)
{
    TMqttEndpoint endpoint;
    endpoint.host = settings.Host;
    endpoint.port = EffectivePort(settings);
    endpoint.tls = settings.Tls;
    endpoint.caFile = settings.CaFile;
    endpoint.certFile = settings.CertFile;
    endpoint.keyFile = settings.KeyFile;
    endpoint.userName = settings.UserName;
    endpoint.password = settings.Password;
    endpoint.clientId = clientId;
    return endpoint;
}

TPublisher::TPublisher(QObject* parent) : QObject(parent) {}

TPublisher::~TPublisher()
{
    FWorker.reset();
}

bool TPublisher::start(const TPublishSettings& settings, const std::string& portName, const TPublishLimits& limits)
{
    FError.clear();
    if (FWorker) {
        FError = "publishing has already been started";
        return false;
    }
    TMqttEndpoint endpoint = BrokerEndpoint(settings, EffectiveClientId(settings, portName));
    const std::string prefix = EffectiveTopicPrefix(settings, portName);
    endpoint.willTopic = prefix + "/status";
    endpoint.willPayload = StatusOffline;
    endpoint.connectTimeoutSeconds = limits.connectTimeoutSeconds;
    endpoint.maxRetrySeconds = limits.maxRetrySeconds;

    TPublishSettings resolved = settings;
    resolved.TopicPrefix = prefix;
    FError = PublishSettingsProblem(resolved);
    if (FError.empty() && settings.Tls) {
        for (const auto& [what, file] :
             {std::pair{"CA file", settings.CaFile}, std::pair{"client certificate", settings.CertFile},
              std::pair{"client key", settings.KeyFile}})
            if (FError.empty())
                FError = fileProblem(what, file);
        if (FError.empty() && !settings.CaFile.empty())
            FError = CaFileProblem(settings.CaFile);
    }
    if (!FError.empty())
        return false;
    const size_t bound =
        limits.maxWaiting != 0 ? limits.maxWaiting : static_cast<size_t>(24 * 3600 / settings.IntervalSeconds);
    std::unique_ptr<TPublishSpool> spool;
    std::vector<TQueuedItem> kept;
    if (!limits.spoolFile.empty()) {
        spool = std::make_unique<TPublishSpool>();
        if (!spool->open(limits.spoolFile, std::max<size_t>(bound, 256), kept)) {
            FError = spool->error();
            return false;
        }
    }
    FWorker = std::make_unique<Worker>(this, std::move(endpoint), prefix, settings.QoS, settings.HomeAssistant, bound,
                                       limits.stopTimeoutMs, std::move(spool));
    FWorker->restore(kept);
    FWorker->startThread();
    return true;
}

void TPublisher::publish(const TReading& reading, std::chrono::system_clock::time_point takenAt)
{
    if (FWorker && FWorker->push({takenAt, reading}))
        emit statusChanged();
}

void TPublisher::publishEvent(const TPublishEvent& event)
{
    if (FWorker && FWorker->push({event.time, event}))
        emit statusChanged();
}

void TPublisher::setAlarms(std::vector<std::string> names)
{
    if (FWorker)
        FWorker->setAlarms(std::move(names));
}

std::vector<std::string> TPublisher::takeNotes()
{
    return FWorker ? FWorker->takeNotes() : std::vector<std::string>();
}

void TPublisher::setOutage(bool active)
{
    if (FWorker)
        FWorker->setOutage(active);
}

void TPublisher::stop()
{
    if (FWorker)
        FWorker->requestStop();
}

void TPublisher::retire(std::unique_ptr<TPublisher> publisher)
{
    if (!publisher || !publisher->FWorker)
        return;
    TRetirement& r = retirement();
    {
        std::lock_guard lock(r.mutex);
        ++r.running;
    }
    publisher->FWorker.release()->retire();
}

bool TPublisher::waitForRetired(std::chrono::milliseconds limit)
{
    TRetirement& r = retirement();
    std::unique_lock lock(r.mutex);
    return r.allDone.wait_for(lock, limit, [&r] { return r.running == 0; });
}

bool TPublisher::running() const
{
    if (!FWorker)
        return false;
    const auto s = FWorker->snapshot();
    return !s.finished && !s.stopRequested;
}

TPublisher::State TPublisher::state() const
{
    return FWorker ? FWorker->snapshot().state : State::Off;
}

std::string TPublisher::reason() const
{
    return FWorker ? FWorker->snapshot().reason : std::string();
}

uint64_t TPublisher::waiting() const
{
    return FWorker ? FWorker->snapshot().waiting : 0;
}

uint64_t TPublisher::dropped() const
{
    return FWorker ? FWorker->snapshot().dropped : 0;
}

std::string TPublisher::stateText() const
{
    if (!FWorker)
        return {};
    const auto s = FWorker->snapshot();
    const std::string where = FWorker->endpoint().address();
    switch (s.state) {
    case State::Off: return "Publishing stopped";
    case State::Connecting: return "Connecting to " + where;
    case State::Connected: return "Publishing to " + where;
    case State::Unreachable: return "Broker unreachable: " + s.reason;
    }
    return {};
}

QString TPublisher::statusText() const
{
    if (!FWorker)
        return {};
    const auto s = FWorker->snapshot();
    QString text = QString::fromStdString(stateText());
    if (s.state == State::Unreachable)
        text += QStringLiteral("; %1 readings waiting").arg(s.waiting);
    if (s.dropped > 0)
        text += QStringLiteral("; %1 dropped").arg(s.dropped);
    return text;
}

void TPublisher::notifyFromWorker()
{
    if (!FWorker)
        return;
    FWorker->notifyPending = false;
    emit statusChanged();
    if (!FWorker->stoppedReported && FWorker->snapshot().finished) {
        FWorker->stoppedReported = true;
        emit stopped();
    }
}
