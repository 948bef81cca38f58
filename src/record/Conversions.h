#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>

// A text that does not convert to a number: "'<text>' is not a valid integer value".
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// 32-bit signed arithmetic that does not fit: "Integer overflow".
class EIntOverflow : public std::runtime_error {
public:
    EIntOverflow() : std::runtime_error("Integer overflow") {}
};

// A decimal integer with an optional sign that fits in 32 bits; anything else raises EConvertError.
int32_t StrToInt(const std::string& Text);

// a * b in 32-bit signed arithmetic; raises EIntOverflow when the product does not fit.
int32_t MultiplyChecked(int32_t a, int32_t b);
