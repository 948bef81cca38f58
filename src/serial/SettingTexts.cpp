#include "serial/SettingTexts.h"

#include <array>

namespace {
template <size_t N> std::string textAt(const std::array<const char*, N>& table, unsigned ordinal)
{
    return ordinal < N ? table[ordinal] : std::string();
}
} // namespace

std::string BaudRateToText(TBaudRate Value)
{
    static constexpr std::array<const char*, 16> texts{"Custom", "110",    "300",    "600",   "1200",  "2400",
                                                       "4800",   "9600",   "14400",  "19200", "38400", "56000",
                                                       "57600",  "115200", "128000", "256000"};
    return textAt(texts, Value);
}

std::string StopBitsToText(TStopBits Value)
{
    static constexpr std::array<const char*, 3> texts{"1", "1.5", "2"};
    return textAt(texts, Value);
}

std::string DataBitsToText(TDataBits Value)
{
    static constexpr std::array<const char*, 4> texts{"5", "6", "7", "8"};
    return textAt(texts, Value);
}

std::string ParityToText(TParityBits Value)
{
    static constexpr std::array<const char*, 5> texts{"None", "Odd", "Even", "Mark", "Space"};
    return textAt(texts, Value);
}

std::string FlowControlToText(TFlowControl Value)
{
    static constexpr std::array<const char*, 4> texts{"Hardware", "Software", "None", "Custom"};
    return textAt(texts, Value);
}
