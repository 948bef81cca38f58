#pragma once
#include <array>
#include <cstdint>
#include <string>

// Records for every kind of line the sensor sends. Each parser overwrites its record field by field;
// fields named FieldN hold the N-th value of the line.

// Concentration reply ("N 8 values"): the Concentration-mode reading.
struct TConcentrationModeStructure {
    double SampleConc1 = 0;
    double SampleConc2 = 0;
    double SampleConc3 = 0;
    double OstrelConc1 = 0;
    double OstrelConc2 = 0;
    int32_t Temperature = 0;
    double Pressure = 0;
    int32_t Humidity = 0;
    bool operator==(const TConcentrationModeStructure&) const = default;
};

// Channel reply ("N<1..5> 6 values"): the Channels-mode reading.
struct TChannelsModeStructure {
    int32_t Channel = 1;   // 1..5; the next channel request asks for this channel
    int32_t Sample = 0;    // counts
    int32_t Reference = 0; // counts
    int32_t VoltagePWM = 0;
    bool ConcentrationFlag = false; // derived from the concentration text
    double Concentration = 0;       // fraction
    int32_t Temperature = 0;
    double Pressure = 0;
    bool operator==(const TChannelsModeStructure&) const = default;
};

// C reply, index 1..3.
struct TReplyC13Structure {
    int32_t Index = 1;
    double Field2 = 0, Field3 = 0, Field4 = 0, Field5 = 0, Field6 = 0, Field7 = 0;
    int32_t Field8 = 0, Field9 = 0, Field10 = 0, Field11 = 0;
    bool operator==(const TReplyC13Structure&) const = default;
};

// C reply, index 4 or 5.
struct TReplyC45Structure {
    int32_t Index = 4;
    double Field2 = 0, Field3 = 0, Field4 = 0;
    int32_t Field5 = 0, Field6 = 0;
    bool operator==(const TReplyC45Structure&) const = default;
};

// E reply, index 1..5.
struct TReplyEStructure {
    int32_t Index = 1;
    int32_t Field2 = 0, Field3 = 0;
    double Field4 = 0;
    int32_t Field5 = 0;
    double Field6 = 0, Field7 = 0, Field8 = 0, Field9 = 0;
    int32_t Field10 = 0, Field11 = 0;
    bool operator==(const TReplyEStructure&) const = default;
};

// O reply, index 1..5.
struct TReplyOStructure {
    int32_t Index = 1;
    double Field2 = 0, Field3 = 0;
    int32_t Field4 = 0;
    double Field5 = 0, Field6 = 0;
    int32_t Field7 = 0;
    bool operator==(const TReplyOStructure&) const = default;
};

// D reply.
struct TReplyDStructure {
    int32_t Field1 = 0, Field2 = 0, Field3 = 0, Field4 = 0, Field5 = 0, Field6 = 0, Field7 = 0, Field8 = 0;
    bool operator==(const TReplyDStructure&) const = default;
};

// A reply.
struct TReplyAStructure {
    int32_t Field1 = 0, Field2 = 0, Field3 = 0, Field4 = 0;
    double Field5 = 0;
    bool operator==(const TReplyAStructure&) const = default;
};

// X reply (settings mode): firmware version and a bit field.
struct TSettingsModeStructure {
    std::string Version; // "major.minor"
    int32_t Field2 = 0;
    std::array<int32_t, 16> Bits{}; // Bits[b] is 1 when bit b of the third value is set
    int32_t Field4 = 0, Field5 = 0, Field6 = 0;
    bool operator==(const TSettingsModeStructure&) const = default;
};

// U reply (user interface mode).
struct TUserInterfaceModeStructure {
    int32_t Field1 = 0;
    std::string Field2;
    std::string Field3;
    std::string Letter; // one lower-case letter once parsed; "a" when the line has none or an invalid one
    int32_t Field5 = 0;
    bool operator==(const TUserInterfaceModeStructure&) const = default;
};

// The R and S lines, whole text including the leading letter, slots 1..8 in order of arrival.
struct TSettingPotsStructure {
    static constexpr int32_t Count = 8;
    std::array<std::string, Count> Slots;
    // Slot 1..8.
    std::string& operator[](int32_t slot) { return Slots[static_cast<size_t>(slot - 1)]; }
    const std::string& operator[](int32_t slot) const { return Slots[static_cast<size_t>(slot - 1)]; }
    bool operator==(const TSettingPotsStructure&) const = default;
};
