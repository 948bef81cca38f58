#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>

// The sensor object's exception: a message and a numeric code (a reply time-out is "ESensorError", -1010).
class ESensorError : public std::runtime_error {
public:
    ESensorError(const std::string& message, int32_t code);

    int32_t ErrorCode;
};
