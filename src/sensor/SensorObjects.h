#pragma once
#include "serial/ComPort.h"
#include "sensor/SensorClock.h"
#include "sensor/SensorConstants.h"
#include "sensor/SensorTypes.h"

#include <QObject>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// The gas sensor: a serial port fixed to the sensor's line settings that frames, classifies and parses
// every line the sensor sends into the record of its kind, and sends the two reading requests.
// Everything runs on the main thread; the waits run the main thread's event loop.
class TSensor : public TComPort {
    Q_OBJECT
public:
    // The longest line kept while it is assembled. The longest line the sensor sends is well under
    // 200 characters, and the driver's receive queue (1024 bytes) is purged at 80 %, so a line longer than
    // the queue cannot be a reply: its text is discarded and, at its CR, it counts as a line of no kind.
    // This bounds memory whatever arrives without a CR.
    static constexpr size_t MaxLineLength = 1024;

    explicit TSensor(QObject* owner = nullptr);
    // Closes the port before the sensor's own members go.
    ~TSensor() override;

    // Resets the protocol state and sets the port name with 57600 8N1, XON/XOFF.
    void ConfigurePort(const std::string& PortName);
    void Open();
    void Close();

    // The readings: send a request only when the last line was of another kind, the stored record is
    // older than the staleness limit or the device was lost, else copy the stored record. Raise
    // ESensorError ("ESensorError", -1010) on a time-out or when the device has been lost; an EComPort
    // from writing the command passes through.
    void GetConcentrationReading(TConcentrationModeStructure& Reading);
    void GetChannelsReading(TChannelsModeStructure& Reading);
    // "N" / "N<channel>" and the two waits.
    void RequestConcentrationReading();
    void RequestChannelsReading();
    // Writes Command + CR LF and waits until some reply is complete.
    void SendCommand(const std::string& Command, int32_t TimeoutMs);

    // Port event handlers (installed by the constructor).
    void HandleRxFlag(QObject* Sender);
    void HandleRx80Full(QObject* Sender);

    // Makes the stored readings stale, so that the next reading of either kind asks the sensor.
    void markReadingsStale();

    // Protocol state back to its start (records to defaults and stale, kind 11, old firmware, pots slot 1).
    void ResetState();

    // The receive path: bytes as the port's ReadText returned them. HandleRxFlag feeds it; tests,
    // benchmarks and fuzzers call it directly. Allocation-free once the buffers have grown.
    void receiveBytes(std::string_view chunk);
    void receiveBytes(const char* data, size_t count) { receiveBytes(std::string_view(data, count)); }

    // Classifies the line in FReplyText and parses it.
    void ProcessReply();
    // Kind code (ReplyKind) of the line in FReplyText; lines too short to tell are Unknown.
    int32_t ClassifyReply() const;

    // State (read-only views of the fields).
    bool LineStarted() const { return FLineStarted; }
    bool ReplyComplete() const { return FReplyComplete; }
    std::string_view ReplyText() const { return std::string_view(FReplyText).substr(FReplyPos); }
    int32_t ReplyKind() const { return FReplyKind; }
    const TConcentrationModeStructure& Concentration() const { return FConcentration; }
    const TChannelsModeStructure& Channels() const { return FChannels; }
    const TReplyC13Structure& ReplyC13() const { return FReplyC13; }
    const TReplyC45Structure& ReplyC45() const { return FReplyC45; }
    const TReplyEStructure& ReplyE() const { return FReplyE; }
    const TReplyOStructure& ReplyO() const { return FReplyO; }
    const TReplyDStructure& ReplyD() const { return FReplyD; }
    const TSettingsModeStructure& SettingsMode() const { return FSettingsMode; }
    int32_t NewFirmware() const { return FNewFirmware; }
    const TUserInterfaceModeStructure& UserInterfaceMode() const { return FUserInterfaceMode; }
    const TReplyAStructure& ReplyA() const { return FReplyA; }
    const TSettingPotsStructure& SettingPots() const { return FSettingPots; }
    int32_t PotsIndex() const { return FPotsIndex; }
    // True from a device loss (hang-up, I/O failure while open) until the next Open or ConfigurePort.
    bool deviceLost() const { return FDeviceLost; }
    // Clock time at which a reading record (either kind) last completed; nanoseconds::min() while there
    // is none (before the first, and after the readings were made stale).
    std::chrono::nanoseconds lastReadingTime() const { return std::max(FConcentrationTime, FChannelsTime); }

    // Test seams: the two wait limits (SensorWaitLimitMs each in the product), the staleness limit
    // (SensorStalenessLimitMs) and the clock of the waits and of the records' ages (null restores the
    // steady clock; the clock must outlive its use).
    void setWaitLimits(int32_t commandWaitMs, int32_t replyKindWaitMs);
    int32_t commandWaitMs() const { return FCommandWaitMs; }
    int32_t replyKindWaitMs() const { return FReplyKindWaitMs; }
    void setStalenessLimit(int32_t ms) { FStalenessLimitMs = ms; }
    int32_t stalenessLimit() const { return FStalenessLimitMs; }
    void setClock(const SensorClock* clock);

protected:
    void FireDeviceLost() override;

private:
    // Runs the main thread's event loop until `done` holds or the deadline (now + timeoutMs, plus the
    // tolerance) has passed; raises ESensorError on a time-out (even if `done` became true in the same
    // pass) or on a device loss.
    template <typename Done> void waitFor(int32_t timeoutMs, Done done);
    [[noreturn]] void raiseTimeout() const;
    // True when a record completed at `completedAt` is older than the staleness limit.
    bool stale(std::chrono::nanoseconds completedAt) const;

    void endLine();
    // Parsers; false when a value does not convert (the parse stops at that field).
    bool ParseConcentrationReply();
    bool ParseChannelsReply();
    bool ParseReplyC13();
    bool ParseReplyC45();
    bool ParseReplyE();
    bool ParseReplyO();
    bool ParseReplyD();
    bool ParseSettingsModeReply();
    bool CheckFirmwareVersion();
    bool ParseUserInterfaceModeReply();
    bool ParseReplyA();
    void StoreSettingPotsLine();
    // Field splitting: removes the prefix, then each next field.
    void skipPrefix(size_t count);
    std::string_view peekField(size_t& advance) const;
    bool nextInt(int32_t& field);
    bool nextDouble(double& field);
    bool nextText(std::string& field);
    bool complete();

    bool FLineStarted = false;
    bool FReplyComplete = false;
    std::string FReplyText; // the current line; the parsers consume it from FReplyPos on
    size_t FReplyPos = 0;
    bool FLineOverflow = false; // the line grew past MaxLineLength and was discarded
    int32_t FReplyKind = ReplyKind::Unknown;
    TConcentrationModeStructure FConcentration;
    TChannelsModeStructure FChannels;
    TReplyC13Structure FReplyC13;
    TReplyC45Structure FReplyC45;
    TReplyEStructure FReplyE;
    TReplyOStructure FReplyO;
    TReplyDStructure FReplyD;
    TSettingsModeStructure FSettingsMode;
    int32_t FNewFirmware = 0;
    TUserInterfaceModeStructure FUserInterfaceMode;
    TReplyAStructure FReplyA;
    TSettingPotsStructure FSettingPots;
    int32_t FPotsIndex = 1;
    // Clock times at which FConcentration and FChannels last completed.
    static constexpr std::chrono::nanoseconds NeverCompleted = std::chrono::nanoseconds::min();
    std::chrono::nanoseconds FConcentrationTime = NeverCompleted;
    std::chrono::nanoseconds FChannelsTime = NeverCompleted;

    bool FDeviceLost = false;
    std::string FRxBuffer;      // reused by HandleRxFlag
    std::string FCommandBuffer; // reused by SendCommand
    int32_t FCommandWaitMs = SensorWaitLimitMs;
    int32_t FReplyKindWaitMs = SensorWaitLimitMs;
    int32_t FStalenessLimitMs = SensorStalenessLimitMs;
    const SensorClock* FClock;
};
