#include "sensor/SensorObjects.h"

#include "sensor/ExceptionLib.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>

TSensor::TSensor(QObject* owner) : TComPort(owner), FClock(&steadySensorClock())
{
    SetEvents(TComEvents{evRxFlag, evRx80Full});
    SetEventChar(SensorLineEnd);
    OnRx80Full = [this](QObject* sender) { HandleRx80Full(sender); };
    OnRxFlag = [this](QObject* sender) { HandleRxFlag(sender); };
    ResetState();
    FReplyText.reserve(MaxLineLength);
}

TSensor::~TSensor()
{
    // Close while this object is whole: closing hands the last pending events to the handlers above.
    try {
        ClosePort();
    } catch (...) {
    }
    OnRx80Full = nullptr;
    OnRxFlag = nullptr;
}

void TSensor::ResetState()
{
    FLineStarted = false;
    FReplyComplete = false;
    FReplyKind = ReplyKind::Unknown;
    FKnownKind = ReplyKind::Unknown;
    FNewFirmware = 0;
    FPotsIndex = 1;
    markReadingsStale();
    FConcentration = DefaultConcentrationMode;
    FChannels = DefaultChannelsMode;
    FReplyC13 = DefaultReplyC13;
    FReplyC45 = DefaultReplyC45;
    FReplyE = DefaultReplyE;
    FReplyO = DefaultReplyO;
    FReplyD = DefaultReplyD;
    FSettingsMode = DefaultSettingsMode;
    FUserInterfaceMode = DefaultUserInterfaceMode;
}

void TSensor::markReadingsStale()
{
    FConcentrationTime = FChannelsTime = NeverCompleted;
}

void TSensor::ConfigurePort(const std::string& PortName)
{
    ResetState();
    BeginSettingsChange();
    SetPort(PortName);
    SetBaudRate(br57600);
    SetDataBits(dbEight);
    FlowControl().SetFlowControl(fcSoftware);
    Parity().SetBits(prNone);
    SetStopBits(sbOneStopBit);
    EndSettingsChange();
}

void TSensor::Open()
{
    OpenPort();
}

void TSensor::Close()
{
    ClosePort();
}

// A handler that finds the device gone says nothing more: the loss ends the wait and fails the readings.
void TSensor::HandleRx80Full(QObject*)
{
    try {
        PurgeQueues(true, false);
    } catch (const EComPort&) {
        if (!deviceLost())
            throw;
    }
}

void TSensor::HandleRxFlag(QObject*)
{
    try {
        const int32_t count = InputQueueCount();
        if (count <= 0)
            return;
        const int32_t got = ReadText(FRxBuffer, count);
        receiveBytes(
            std::string_view(FRxBuffer.data(), std::min(static_cast<size_t>(std::max(got, 0)), FRxBuffer.size())));
    } catch (const EComPort&) {
        if (!deviceLost())
            throw;
    }
}

void TSensor::FireDeviceLost()
{
    TComPort::FireDeviceLost();
    try {
        ClosePort(); // deviceLost() stays true: it ends a wait in progress and fails the next reading
    } catch (const EComPort&) {
        // The device stays held until the next reopen closes it again.
    }
}

void TSensor::raiseTimeout() const
{
    throw ESensorError(SensorTimeoutMessage, SensorTimeoutErrorCode);
}

std::chrono::nanoseconds TSensor::deadlineIn(int32_t timeoutMs) const
{
    using namespace std::chrono;
    // Timed out once the clock is the tolerance past the deadline.
    return FClock->now() + milliseconds(timeoutMs) + milliseconds(SensorDeadlineToleranceMs);
}

template <typename Done> void TSensor::waitFor(int32_t timeoutMs, Done done)
{
    waitUntil(deadlineIn(timeoutMs), done);
}

template <typename Done> void TSensor::waitUntil(std::chrono::nanoseconds limit, Done done)
{
    using namespace std::chrono;
    const SensorClock& clock = *FClock;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    bool timedOut = false;
    for (;;) {
        if (deviceLost())
            raiseTimeout();
        // Each pass processes the pending events once; it sleeps until the next event (the port's
        // hand-over, any timer, input) or the deadline timer only while the condition does not hold.
        QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents;
        if (!done()) {
            const nanoseconds left = limit - clock.now();
            if (left > nanoseconds::zero()) {
                if (!deadline.isActive()) {
                    const auto ms = ceil<milliseconds>(left).count();
                    deadline.start(static_cast<int>(std::clamp<decltype(ms)>(ms, 1, 24 * 3600 * 1000)));
                }
                flags |= QEventLoop::WaitForMoreEvents;
            }
        }
        loop.processEvents(flags);
        timedOut = clock.now() >= limit;
        if (deviceLost())
            raiseTimeout();
        if (done() || timedOut)
            break;
    }
    if (timedOut) // also when the condition came true in the same pass
        raiseTimeout();
}

void TSensor::SendCommand(const std::string& Command, int32_t TimeoutMs)
{
    if (deviceLost())
        raiseTimeout();
    FLineStarted = false;
    FReplyComplete = false;
    FCommandBuffer.assign(Command).append(SensorCommandTerminator);
    try {
        WriteText(FCommandBuffer);
    } catch (const EComPort&) {
        if (deviceLost()) // the device went before its loss was reported: an outage like any other
            raiseTimeout();
        throw;
    }
    waitFor(TimeoutMs, [this] { return FReplyComplete; });
}

void TSensor::requestReading(int32_t kind, const char* command)
{
    const auto answered = [this, kind] { return FKnownKind == kind; };
    if (FPendingKind == kind) {
        // A tick run by the wait of the same request: another command would only add traffic and restart
        // the framing of a line in transit. Wait for the answer of the pending one.
        waitUntil(FPendingLimit, [this, answered] { return FReplyComplete && answered(); });
        return;
    }
    struct Pending { // the request this one runs inside (another kind, or none) is pending again after it
        TSensor& sensor;
        int32_t kind;
        std::chrono::nanoseconds limit;
        ~Pending()
        {
            sensor.FPendingKind = kind;
            sensor.FPendingLimit = limit;
        }
    } outer{*this, FPendingKind, FPendingLimit};
    FPendingKind = kind;
    FPendingLimit = deadlineIn(FCommandWaitMs + FReplyKindWaitMs);
    SendCommand(command, FCommandWaitMs);
    waitFor(FReplyKindWaitMs, answered);
}

void TSensor::RequestConcentrationReading()
{
    requestReading(ReplyKind::Concentration, "N");
}

void TSensor::RequestChannelsReading()
{
    char command[16];
    std::snprintf(command, sizeof command, "N%d", static_cast<int>(FChannels.Channel));
    requestReading(ReplyKind::Channels, command);
}

bool TSensor::stale(std::chrono::nanoseconds completedAt) const
{
    return completedAt == NeverCompleted || FClock->now() - completedAt > std::chrono::milliseconds(FStalenessLimitMs);
}

void TSensor::GetConcentrationReading(TConcentrationModeStructure& Reading)
{
    if (FKnownKind != ReplyKind::Concentration || deviceLost() || stale(FConcentrationTime))
        RequestConcentrationReading();
    Reading = FConcentration;
}

void TSensor::GetChannelsReading(TChannelsModeStructure& Reading)
{
    if (FKnownKind != ReplyKind::Channels || deviceLost() || stale(FChannelsTime))
        RequestChannelsReading();
    Reading = FChannels;
}

void TSensor::setWaitLimits(int32_t commandWaitMs, int32_t replyKindWaitMs)
{
    FCommandWaitMs = commandWaitMs;
    FReplyKindWaitMs = replyKindWaitMs;
}

void TSensor::setClock(const SensorClock* clock)
{
    FClock = clock ? clock : &steadySensorClock();
}
