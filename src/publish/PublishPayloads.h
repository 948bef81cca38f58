#pragma once
#include "publish/PublishEvent.h"
#include "sensor/Reading.h"

#include <array>
#include <chrono>
#include <string>
#include <string_view>

// Topics and payloads of what is published: `<prefix>/<quantity>` carries one value as a plain number,
// `<prefix>/reading` one JSON object per reading, `<prefix>/status` online/offline/timeout.
// The writers append to a caller's string, so a buffer kept between readings is not allocated again.

// One value of a reading, named like its log column in lower case ("sample_conc_1", "voltage_pwm").
struct TQuantity {
    const char* name;
    double value;
};
inline constexpr size_t MaxQuantities = 8;
struct TQuantities {
    std::array<TQuantity, MaxQuantities> items{};
    size_t count = 0;
    const TQuantity* begin() const { return items.data(); }
    const TQuantity* end() const { return items.data() + count; }
};
// The values of the log columns of the reading's mode, in their order.
TQuantities ReadingQuantities(const TReading& reading);
// The quantity names of a mode: 0 Channels, 1 Concentration (the reading's variant index).
TQuantities ModeQuantities(size_t modeIndex);
// "channels" or "concentration".
const char* ModeName(size_t modeIndex);

// The shortest text that reads back as the same value, in C-locale notation whatever the process
// locale ("0.0123", "51234", "-3.5"); "null" for a value that is not finite.
void AppendNumber(std::string& out, double value);
// UTC, ISO 8601 with milliseconds: "2026-12-09T21:40:00.123Z".
void AppendIsoTime(std::string& out, std::chrono::system_clock::time_point time);
// {"time":"...","mode":"channels","channel":3,"sample":51234,...}
void AppendReadingJson(std::string& out, const TReading& reading, std::chrono::system_clock::time_point takenAt);

// {"time":"...","event":"alarm on","quantity":"concentration","value":0.0125,"level":0.01}; quantity,
// value and level only where the event has them.
void AppendEventJson(std::string& out, const TPublishEvent& event);
// "<prefix>/alarm/<name>", name a quantity or "no_reading"; payloads "on" and "off".
std::string AlarmTopic(const std::string& topicPrefix, std::string_view name);
inline constexpr const char* AlarmOnPayload = "on";
inline constexpr const char* AlarmOffPayload = "off";

// Status payloads.
inline constexpr const char* StatusOnline = "online";
inline constexpr const char* StatusOffline = "offline";
inline constexpr const char* StatusTimeout = "timeout";

// Home Assistant MQTT discovery: the retained config of one quantity, under
// "homeassistant/sensor/<node>/<quantity>/config", where node is the client id with every character
// outside [A-Za-z0-9_-] replaced by "_".
std::string DiscoveryNode(const std::string& clientId);
std::string DiscoveryTopic(const std::string& clientId, const char* quantity);
std::string DiscoveryConfig(const std::string& clientId, const std::string& topicPrefix, const char* quantity);
// An alarm announced as a binary sensor, under "homeassistant/binary_sensor/<node>/alarm_<name>/config":
// device class "gas" for a concentration, "problem" for the rest (and for "no_reading").
std::string AlarmDiscoveryTopic(const std::string& clientId, std::string_view name);
std::string AlarmDiscoveryConfig(const std::string& clientId, const std::string& topicPrefix, std::string_view name);
