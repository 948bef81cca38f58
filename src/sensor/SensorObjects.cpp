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
    FDeviceLost = false;
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
    FDeviceLost = false;
    OpenPort();
}

void TSensor::Close()
{
    ClosePort();
}

void TSensor::HandleRx80Full(QObject*)
{
    PurgeQueues(true, false);
}

void TSensor::HandleRxFlag(QObject*)
{
    const int32_t count = InputQueueCount();
    if (count <= 0)
        return;
    const int32_t got = ReadText(FRxBuffer, count);
    receiveBytes(std::string_view(FRxBuffer.data(), std::min(static_cast<size_t>(std::max(got, 0)), FRxBuffer.size())));
}

void TSensor::FireDeviceLost()
{
    FDeviceLost = true; // ends a wait in progress and fails the next reading
    TComPort::FireDeviceLost();
}

void TSensor::raiseTimeout() const
{
    throw ESensorError(SensorTimeoutMessage, SensorTimeoutErrorCode);
}

template <typename Done> void TSensor::waitFor(int32_t timeoutMs, Done done)
{
    using namespace std::chrono;
    const SensorClock& clock = *FClock;
    // Timed out once the clock is the tolerance past the deadline.
    const nanoseconds limit = clock.now() + milliseconds(timeoutMs) + milliseconds(SensorDeadlineToleranceMs);
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    bool timedOut = false;
    for (;;) {
        if (FDeviceLost)
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
        if (FDeviceLost)
            raiseTimeout();
        if (done() || timedOut)
            break;
    }
    if (timedOut) // also when the condition came true in the same pass
        raiseTimeout();
}

void TSensor::SendCommand(const std::string& Command, int32_t TimeoutMs)
{
    if (FDeviceLost)
        raiseTimeout();
    FLineStarted = false;
    FReplyComplete = false;
    FCommandBuffer.assign(Command).append(SensorCommandTerminator);
    WriteText(FCommandBuffer);
    waitFor(TimeoutMs, [this] { return FReplyComplete; });
}

void TSensor::RequestConcentrationReading()
{
    SendCommand("N", FCommandWaitMs);
    waitFor(FReplyKindWaitMs, [this] { return FReplyKind == ReplyKind::Concentration; });
}

void TSensor::RequestChannelsReading()
{
    char command[16];
    std::snprintf(command, sizeof command, "N%d", static_cast<int>(FChannels.Channel));
    SendCommand(command, FCommandWaitMs);
    waitFor(FReplyKindWaitMs, [this] { return FReplyKind == ReplyKind::Channels; });
}

bool TSensor::stale(std::chrono::nanoseconds completedAt) const
{
    return completedAt == NeverCompleted || FClock->now() - completedAt > std::chrono::milliseconds(FStalenessLimitMs);
}

void TSensor::GetConcentrationReading(TConcentrationModeStructure& Reading)
{
    if (FReplyKind != ReplyKind::Concentration || FDeviceLost || stale(FConcentrationTime))
        RequestConcentrationReading();
    Reading = FConcentration;
}

void TSensor::GetChannelsReading(TChannelsModeStructure& Reading)
{
    if (FReplyKind != ReplyKind::Channels || FDeviceLost || stale(FChannelsTime))
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
