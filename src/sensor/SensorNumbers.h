#pragma once
#include <cstdint>
#include <string_view>

// Conversion of sensor values, independent of the process locale ("." is the decimal point).
namespace SensorNumbers {

// A whole decimal number with an optional "+" or "-" that fits in 32 bits; nothing else around it.
bool toInt32(std::string_view text, int32_t& value);
// An optional sign, digits with an optional "." and fraction, an optional exponent ("e" or "E",
// optional sign, digits); nothing else around it, and finite.
bool toDouble(std::string_view text, double& value);
// True unless text is exactly one character from "a" to "z".
bool invalidLowerCaseLetter(std::string_view text);

} // namespace SensorNumbers
