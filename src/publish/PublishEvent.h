#pragma once
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

// An alarm event as it is published: a small fixed-size value, so that it waits in the same queue as the
// readings without an allocation. Names longer than their field are cut (the quantities are at most 13
// characters, the event names 14).
struct TPublishEvent {
    enum class Alarm : uint8_t { Unchanged, On, Off }; // what it does to the retained alarm state
    static constexpr size_t NameSize = 24;

    std::chrono::system_clock::time_point time;
    double value = std::numeric_limits<double>::quiet_NaN(); // NaN: none
    double level = std::numeric_limits<double>::quiet_NaN();
    char event[NameSize] = {};    // "alarm on", "no reading", ...
    char quantity[NameSize] = {}; // empty for an event of no quantity
    Alarm alarm = Alarm::Unchanged;

    static void copyName(char (&field)[NameSize], std::string_view text)
    {
        const size_t n = std::min(text.size(), NameSize - 1);
        std::memcpy(field, text.data(), n);
        std::memset(field + n, 0, NameSize - n);
    }
    // The alarm topic's last level: the quantity, or "no_reading" for the event of no quantity.
    const char* stateName() const { return quantity[0] != '\0' ? quantity : "no_reading"; }
};
