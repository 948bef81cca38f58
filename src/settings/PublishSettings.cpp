#include "settings/PublishSettings.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <unistd.h>

namespace {

std::string trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool readSwitch(const std::string& text)
{
    std::string word = trimmed(text);
    std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return std::tolower(c); });
    return word == "true" || word == "1";
}

bool readNumber(const std::string& text, int32_t& value)
{
    const std::string t = trimmed(text);
    if (t.empty()) {
        value = 0;
        return true;
    }
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
    return ec == std::errc() && end == t.data() + t.size();
}

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
    if (trimmed(s.Host).empty())
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

bool ReadPublishSettings(TXmlElement element, TPublishSettings& s, std::string& error)
{
    s = TPublishSettings{};
    for (TXmlElement child = element.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element)
            continue;
        const std::string name = LocalName(child);
        std::string text;
        try {
            text = ElementText(child);
        } catch (const EXmlDocumentError& e) {
            error = "Publishing\\" + name + ": " + e.what();
            return false;
        }
        bool numberOk = true;
        if (name == "Enabled")
            s.Enabled = readSwitch(text);
        else if (name == "Host")
            s.Host = trimmed(text);
        else if (name == "Port")
            numberOk = readNumber(text, s.Port);
        else if (name == "ClientId")
            s.ClientId = text;
        else if (name == "TopicPrefix")
            s.TopicPrefix = text;
        else if (name == "Interval")
            numberOk = readNumber(text, s.IntervalSeconds);
        else if (name == "QoS")
            numberOk = readNumber(text, s.QoS);
        else if (name == "Tls")
            s.Tls = readSwitch(text);
        else if (name == "CaFile")
            s.CaFile = text;
        else if (name == "CertFile")
            s.CertFile = text;
        else if (name == "KeyFile")
            s.KeyFile = text;
        else if (name == "UserName")
            s.UserName = text;
        else if (name == "Password")
            s.Password = text;
        else if (name == "HomeAssistant")
            s.HomeAssistant = readSwitch(text);
        if (!numberOk) {
            error = "Publishing\\" + name + ": '" + text + "' is not a whole number";
            return false;
        }
    }
    return true;
}

int32_t WritePublishSettings(TQvXmlDoc& doc, TXmlElement element, const TPublishSettings& s)
{
    const std::pair<const char*, std::string> values[] = {
        {"Enabled", s.Enabled ? "true" : "false"},
        {"Host", s.Host},
        {"Port", s.Port != 0 ? std::to_string(s.Port) : std::string()},
        {"ClientId", s.ClientId},
        {"TopicPrefix", s.TopicPrefix},
        {"Interval", std::to_string(s.IntervalSeconds)},
        {"QoS", std::to_string(s.QoS)},
        {"Tls", s.Tls ? "true" : "false"},
        {"CaFile", s.CaFile},
        {"CertFile", s.CertFile},
        {"KeyFile", s.KeyFile},
        {"UserName", s.UserName},
        {"Password", s.Password},
        {"HomeAssistant", s.HomeAssistant ? "true" : "false"},
    };
    for (const auto& [name, text] : values) {
        const int32_t r = doc.AddTextElement(element, name, text);
        if (r != XmlResult::Ok)
            return r;
    }
    return XmlResult::Ok;
}
