#include "publish/PublishSettings.h"

#include <cstdio>
#include <unistd.h>

namespace {

std::string hostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
}

// Where `text` stops being UTF-8 as MQTT takes it (no overlong forms, surrogates or code points past
// U+10FFFF), or npos; `controlAt` gets the first control character (U+0000-U+001F, U+007F-U+009F).
size_t invalidUtf8At(const std::string& text, size_t& controlAt, uint32_t& control)
{
    controlAt = std::string::npos;
    for (size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        uint32_t cp;
        size_t length;
        if (byte < 0x80) {
            cp = byte;
            length = 1;
        } else if (byte >= 0xC2 && byte <= 0xDF) {
            cp = byte & 0x1Fu;
            length = 2;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            cp = byte & 0x0Fu;
            length = 3;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            cp = byte & 0x07u;
            length = 4;
        } else {
            return i;
        }
        if (i + length > text.size())
            return i;
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return i;
            cp = (cp << 6) | (next & 0x3Fu);
        }
        if ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF))
            || (cp >= 0xD800 && cp <= 0xDFFF))
            return i;
        if (controlAt == std::string::npos && (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F))) {
            controlAt = i;
            control = cp;
        }
        i += length;
    }
    return std::string::npos;
}

std::string topicPrefixProblem(const std::string& prefix)
{
    if (prefix.size() > MaxTopicPrefixBytes)
        return "the topic prefix is " + std::to_string(prefix.size()) + " bytes long; at most "
               + std::to_string(MaxTopicPrefixBytes) + " leave room for the topics under it (MQTT allows 65535)";
    size_t controlAt = 0;
    uint32_t control = 0;
    if (const size_t at = invalidUtf8At(prefix, controlAt, control); at != std::string::npos)
        return "the topic prefix is not valid UTF-8 (at byte " + std::to_string(at + 1) + ")";
    if (controlAt != std::string::npos) {
        if (control == 0)
            return "the topic prefix contains a NUL character";
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(control));
        return std::string("the topic prefix contains a control character (") + code + " at byte "
               + std::to_string(controlAt + 1) + ")";
    }
    if (prefix.find_first_of("#+") != std::string::npos)
        return "the topic prefix '" + prefix + "' contains a wildcard (# or +)";
    if (!prefix.empty() && (prefix.front() == '$' || prefix.back() == '/'))
        return "the topic prefix '" + prefix + "' must not start with $ or end with /";
    return {};
}

} // namespace

int32_t EffectivePort(const TPublishSettings& s)
{
    return s.Port != 0 ? s.Port : (s.Tls ? MqttTlsPort : MqttPort);
}

std::string EffectiveClientId(const TPublishSettings& s, const std::string& portName)
{
    if (!s.ClientId.empty())
        return s.ClientId;
    const size_t slash = portName.rfind('/');
    const std::string base = slash == std::string::npos ? portName : portName.substr(slash + 1);
    return base.empty() ? hostName() : hostName() + "-" + base;
}

std::string EffectiveTopicPrefix(const TPublishSettings& s, const std::string& portName)
{
    return !s.TopicPrefix.empty() ? s.TopicPrefix : "velmora/" + EffectiveClientId(s, portName);
}

std::string PublishSettingsProblem(const TPublishSettings& s)
{
    if (s.Host.find_first_not_of(" \t\r\n") == std::string::npos)
        return "no broker host is given";
    if (s.Host.find_first_of(" \t/") != std::string::npos)
        return "the broker host '" + s.Host + "' is not a host name or address";
    if (s.Port < 0 || s.Port > 65535)
        return "the broker port " + std::to_string(s.Port) + " is not between 1 and 65535";
    if (s.IntervalSeconds < 1)
        return "the publish interval must be at least 1 s";
    if (s.IntervalSeconds > MaxPublishIntervalSeconds)
        return "the publish interval must be at most " + std::to_string(MaxPublishIntervalSeconds) + " s";
    if (s.QoS != 0 && s.QoS != 1)
        return "the QoS must be 0 or 1";
    if (std::string problem = topicPrefixProblem(s.TopicPrefix); !problem.empty())
        return problem;
    if (s.ClientId.find_first_of("#+/") != std::string::npos)
        return "the client id '" + s.ClientId + "' contains # + or /";
    if (s.CertFile.empty() != s.KeyFile.empty())
        return "a client certificate needs its key file, and a key its certificate";
    return {};
}
