#include "publish/PublishSettings.h"

#include <unistd.h>

namespace {

std::string hostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
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
    const std::string& prefix = s.TopicPrefix;
    if (prefix.find_first_of("#+") != std::string::npos)
        return "the topic prefix '" + prefix + "' contains a wildcard (# or +)";
    if (!prefix.empty() && (prefix.front() == '$' || prefix.back() == '/'))
        return "the topic prefix '" + prefix + "' must not start with $ or end with /";
    if (prefix.find('\0') != std::string::npos)
        return "the topic prefix contains a NUL character";
    if (s.ClientId.find_first_of("#+/") != std::string::npos)
        return "the client id '" + s.ClientId + "' contains # + or /";
    if (s.CertFile.empty() != s.KeyFile.empty())
        return "a client certificate needs its key file, and a key its certificate";
    return {};
}
