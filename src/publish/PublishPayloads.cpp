#include "publish/PublishPayloads.h"

#include <charconv>
#include <cmath>
#include <ctime>

namespace {

constexpr const char* ChannelsNames[] = {"channel",       "sample",      "reference", "voltage_pwm",
                                         "concentration", "temperature", "pressure"};
constexpr const char* ConcentrationNames[] = {"sample_conc_1", "sample_conc_2", "sample_conc_3", "ostrel_conc_1",
                                              "ostrel_conc_2", "temperature",   "pressure",      "humidity"};

template <size_t N> TQuantities named(const char* const (&names)[N], std::array<double, N> values)
{
    TQuantities q;
    for (size_t i = 0; i < N; ++i)
        q.items[i] = {names[i], values[i]};
    q.count = N;
    return q;
}

TQuantities quantitiesOf(const TChannelsModeStructure& r)
{
    return named(ChannelsNames,
                 std::array<double, 7>{double(r.Channel), double(r.Sample), double(r.Reference), double(r.VoltagePWM),
                                       r.Concentration, double(r.Temperature), r.Pressure});
}

TQuantities quantitiesOf(const TConcentrationModeStructure& r)
{
    return named(ConcentrationNames,
                 std::array<double, 8>{r.SampleConc1, r.SampleConc2, r.SampleConc3, r.OstrelConc1, r.OstrelConc2,
                                       double(r.Temperature), r.Pressure, double(r.Humidity)});
}

void appendDigits(std::string& out, unsigned value, int width)
{
    char text[12];
    int n = 0;
    do {
        text[n++] = char('0' + value % 10);
        value /= 10;
    } while (value != 0 || n < width);
    while (n > 0)
        out += text[--n];
}

} // namespace

TQuantities ReadingQuantities(const TReading& reading)
{
    return std::visit([](const auto& r) { return quantitiesOf(r); }, reading);
}

TQuantities ModeQuantities(size_t modeIndex)
{
    return modeIndex == 0 ? quantitiesOf(TChannelsModeStructure{}) : quantitiesOf(TConcentrationModeStructure{});
}

const char* ModeName(size_t modeIndex)
{
    return modeIndex == 0 ? "channels" : "concentration";
}

void AppendNumber(std::string& out, double value)
{
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char text[512]; // the longest fixed-notation double is about 330 characters
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
    if (ec == std::errc())
        out.append(text, end);
    else
        out += "null";
}

void AppendIsoTime(std::string& out, std::chrono::system_clock::time_point time)
{
    using namespace std::chrono;
    const auto ms = floor<milliseconds>(time);
    const auto whole = floor<std::chrono::seconds>(ms);
    const time_t seconds = system_clock::to_time_t(whole);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    appendDigits(out, unsigned(utc.tm_year + 1900), 4);
    out += '-';
    appendDigits(out, unsigned(utc.tm_mon + 1), 2);
    out += '-';
    appendDigits(out, unsigned(utc.tm_mday), 2);
    out += 'T';
    appendDigits(out, unsigned(utc.tm_hour), 2);
    out += ':';
    appendDigits(out, unsigned(utc.tm_min), 2);
    out += ':';
    appendDigits(out, unsigned(utc.tm_sec), 2);
    out += '.';
    appendDigits(out, unsigned((ms - whole).count()), 3);
    out += 'Z';
}

void AppendReadingJson(std::string& out, const TReading& reading, std::chrono::system_clock::time_point takenAt)
{
    out += "{\"time\":\"";
    AppendIsoTime(out, takenAt);
    out += "\",\"mode\":\"";
    out += ModeName(reading.index());
    out += '"';
    for (const TQuantity& q : ReadingQuantities(reading)) {
        out += ",\"";
        out += q.name;
        out += "\":";
        AppendNumber(out, q.value);
    }
    out += '}';
}

std::string DiscoveryNode(const std::string& clientId)
{
    std::string node = clientId;
    for (char& c : node) {
        const bool plain =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!plain)
            c = '_';
    }
    return node;
}

std::string DiscoveryTopic(const std::string& clientId, const char* quantity)
{
    return "homeassistant/sensor/" + DiscoveryNode(clientId) + "/" + quantity + "/config";
}

namespace {

void appendJsonString(std::string& out, std::string_view text)
{
    out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[(c >> 4) & 0xf];
            out += hex[c & 0xf];
        } else {
            out += c;
        }
    }
    out += '"';
}

} // namespace

void AppendEventJson(std::string& out, const TPublishEvent& event)
{
    out += "{\"time\":\"";
    AppendIsoTime(out, event.time);
    out += "\",\"event\":";
    appendJsonString(out, event.event);
    if (event.quantity[0] != '\0') {
        out += ",\"quantity\":";
        appendJsonString(out, event.quantity);
    }
    if (!std::isnan(event.value)) {
        out += ",\"value\":";
        AppendNumber(out, event.value);
    }
    if (!std::isnan(event.level)) {
        out += ",\"level\":";
        AppendNumber(out, event.level);
    }
    out += '}';
}

std::string AlarmTopic(const std::string& topicPrefix, std::string_view name)
{
    std::string topic = topicPrefix + "/alarm/";
    topic += name;
    return topic;
}

std::string AlarmDiscoveryTopic(const std::string& clientId, std::string_view name)
{
    std::string topic = "homeassistant/binary_sensor/" + DiscoveryNode(clientId) + "/alarm_";
    topic += name;
    return topic + "/config";
}

namespace {

void appendDevice(std::string& out, const std::string& clientId, const std::string& topicPrefix)
{
    const std::string node = DiscoveryNode(clientId);
    out += ",\"availability_topic\":";
    appendJsonString(out, topicPrefix + "/status");
    out += ",\"payload_available\":\"online\",\"payload_not_available\":\"offline\",\"device\":{\"identifiers\":[";
    appendJsonString(out, node);
    out += "],\"name\":";
    appendJsonString(out, "Velmora " + clientId);
    out += ",\"model\":\"Velmora Data Logger\"}}";
}

} // namespace

std::string AlarmDiscoveryConfig(const std::string& clientId, const std::string& topicPrefix, std::string_view name)
{
    const std::string id = DiscoveryNode(clientId) + "_alarm_" + std::string(name);
    const bool concentration = name.find("conc") != std::string_view::npos;
    std::string out = "{\"name\":";
    appendJsonString(out, "alarm " + std::string(name));
    out += ",\"object_id\":";
    appendJsonString(out, id);
    out += ",\"unique_id\":";
    appendJsonString(out, id);
    out += ",\"state_topic\":";
    appendJsonString(out, AlarmTopic(topicPrefix, name));
    out += ",\"payload_on\":\"on\",\"payload_off\":\"off\",\"device_class\":";
    out += concentration ? "\"gas\"" : "\"problem\"";
    appendDevice(out, clientId, topicPrefix);
    return out;
}

std::string DiscoveryConfig(const std::string& clientId, const std::string& topicPrefix, const char* quantity)
{
    const std::string node = DiscoveryNode(clientId);
    std::string out = "{\"name\":";
    appendJsonString(out, quantity);
    out += ",\"object_id\":";
    appendJsonString(out, node + "_" + quantity);
    out += ",\"unique_id\":";
    appendJsonString(out, node + "_" + quantity);
    out += ",\"state_topic\":";
    appendJsonString(out, topicPrefix + "/" + quantity);
    out += ",\"state_class\":\"measurement\"";
    appendDevice(out, clientId, topicPrefix);
    return out;
}
