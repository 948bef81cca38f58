#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// What the program publishes to an MQTT broker: the window keeps it in its settings file (see
// settings/PublishSettingsXml.h), the service takes it from its options (ServiceOptions.h). Empty
// ClientId and TopicPrefix, and Port 0, stand for their defaults, which follow the machine and the
// serial port (see the Effective... functions).
struct TPublishSettings {
    bool Enabled = false;
    std::string Host;
    int32_t Port = 0; // 0: 1883, or 8883 with TLS
    std::string ClientId;
    std::string TopicPrefix;
    int32_t IntervalSeconds = 1; // 1 to MaxPublishIntervalSeconds
    int32_t QoS = 1;             // 0 or 1
    bool Tls = false;
    std::string CaFile;
    std::string CertFile; // client certificate, optional
    std::string KeyFile;  // its private key
    std::string UserName;
    std::string Password; // never printed; a stored password makes the settings file owner-only
    bool HomeAssistant = false;

    bool operator==(const TPublishSettings&) const = default;
};

inline constexpr int32_t MqttPort = 1883;
inline constexpr int32_t MqttTlsPort = 8883;

int32_t EffectivePort(const TPublishSettings& s);
// The host name and the serial port's base name: "labpc-ttyUSB0".
std::string EffectiveClientId(const TPublishSettings& s, const std::string& portName);
// "velmora/<client id>" unless set.
std::string EffectiveTopicPrefix(const TPublishSettings& s, const std::string& portName);

// The longest publish interval whose milliseconds fit a timer's 32-bit interval.
constexpr int32_t MaxPublishIntervalSeconds = 2147483;

// The longest topic prefix: MQTT topics are at most 65535 bytes, and the topics under the prefix
// ("/reading", "/status", "/<quantity>") need room.
constexpr size_t MaxTopicPrefixBytes = 65535 - 64;

// Why these settings cannot be used for publishing ("" when they can): no host, a port, interval or QoS
// out of range, a topic prefix that MQTT forbids (a wildcard, a control character, invalid UTF-8, too
// long) or that starts with $ or ends with /, a client certificate without its key.
std::string PublishSettingsProblem(const TPublishSettings& s);
