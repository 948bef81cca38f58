#include "settings/PublishSettingsXml.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>

namespace {

std::string trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
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

} // namespace

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
            s.Enabled = ReadSettingSwitch(text);
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
            s.Tls = ReadSettingSwitch(text);
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
            s.HomeAssistant = ReadSettingSwitch(text);
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

bool ReadSettingSwitch(const std::string& text)
{
    std::string word = trimmed(text);
    std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return std::tolower(c); });
    return word == "true" || word == "1";
}
