#pragma once
#include "sensor/SensorTypes.h"

#include <cstdint>

// Reply kind codes: the kind of a received line.
namespace ReplyKind {
enum : int32_t {
    Concentration = 0,     // "N 8 values"
    Channels = 1,          // "N<1..5> 6 values"
    C13 = 2,               // "C<1..3> 10 values"
    C45 = 3,               // "C<4|5> 5 values"
    E = 4,                 // "E<1..5> 10 values"
    O = 5,                 // "O<1..5> 6 values"
    D = 6,                 // "D 8 values"
    SettingsMode = 7,      // "X 6 values"
    UserInterfaceMode = 8, // "U 5 values" (4 with old firmware)
    A = 9,                 // "A 5 values"
    SettingPots = 10,      // any line starting with R or S
    Unknown = 11           // anything else; also before the first line
};
}

// Default records.
inline constexpr TConcentrationModeStructure DefaultConcentrationMode{};
inline constexpr TChannelsModeStructure DefaultChannelsMode{}; // Channel 1
inline constexpr TReplyC13Structure DefaultReplyC13{};         // Index 1
inline constexpr TReplyC45Structure DefaultReplyC45{};         // Index 4
inline constexpr TReplyEStructure DefaultReplyE{};             // Index 1
inline constexpr TReplyOStructure DefaultReplyO{};             // Index 1
inline constexpr TReplyDStructure DefaultReplyD{};
inline constexpr TReplyAStructure DefaultReplyA{};
inline const TSettingsModeStructure DefaultSettingsMode{};
inline const TUserInterfaceModeStructure DefaultUserInterfaceMode{};

// Protocol constants.
inline constexpr char SensorLineStart = '\n'; // LF starts a line
inline constexpr char SensorLineEnd = '\r';   // CR ends it (the port's event character)
inline constexpr const char* SensorCommandTerminator = "\r\n";
inline constexpr int32_t SensorWaitLimitMs = 10000;     // each of the two waits of a request
inline constexpr int32_t SensorDeadlineToleranceMs = 1; // a wait has timed out once 1 ms past its deadline
// A stored reading older than this is not handed out again: the next reading asks the sensor, so a
// sensor that stopped sending ends in the time-out instead of being shown as live. A streaming sensor
// sends its lines several times a second; 2 s spans many line intervals plus the scheduling delays of a
// loaded machine, so a sensor that keeps streaming never gets an extra request, and it is far below the
// 10 s waits, so a stopped stream is noticed well within one wait.
inline constexpr int32_t SensorStalenessLimitMs = 2000;
inline constexpr double ConcentrationFlagLimit = 0.00005;
inline constexpr const char* SensorTimeoutMessage = "ESensorError";
inline constexpr int32_t SensorTimeoutErrorCode = -1010;
